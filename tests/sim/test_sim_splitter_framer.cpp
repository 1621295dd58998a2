// The device's receive splitter and its video framer, against the byte layouts viewers use.
#include "c_sim_frame_splitter.h"
#include "c_video_framer.h"
#include "protocol/km_frame.h"
#include "protocol/video_head.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace {

using bytes = std::vector<std::uint8_t>;
using status = c_sim_frame_splitter::status;

// The login frame for user 7, byte for byte as viewers send it.
const bytes kLogin7 = {0xA5, 0x01, 0x39, 0, 0, 0, 5, 0, 0, 0, 5, 0x32, 0, 0, 0, 7};

bytes bodies_of(c_sim_frame_splitter &splitter, std::vector<status> *others = nullptr)
{
    bytes all;
    for (status s = splitter.next(); s != status::need_more && s != status::too_long; s = splitter.next()) {
        if (s == status::frame)
            all.insert(all.end(), splitter.body().begin(), splitter.body().end());
        else if (others)
            others->push_back(s);
    }
    return all;
}

TEST(SimSplitter, GoldenLoginFrameByteByByteAfterGarbage)
{
    c_sim_frame_splitter splitter(4096, kReceiveKey);
    bytes stream = {0x00, 0x13, 0xA5, 0x02, 0x77}; // garbage, with a stray magic
    stream.insert(stream.end(), kLogin7.begin(), kLogin7.end());
    for (std::size_t i = 0; i + 1 < stream.size(); ++i) {
        splitter.feed(&stream[i], 1);
        EXPECT_EQ(splitter.next(), status::need_more);
    }
    splitter.feed(&stream.back(), 1);
    ASSERT_EQ(splitter.next(), status::frame);
    EXPECT_EQ(splitter.body(), (bytes{0x32, 0, 0, 0, 7}));
    EXPECT_FALSE(splitter.was_ciphered());
    EXPECT_EQ(splitter.take_skipped(), 5u);
    EXPECT_EQ(splitter.next(), status::need_more);
}

TEST(SimSplitter, CipheredKeyboardFramesKeepTrailingZeros)
{
    // Shift+A: the report ends in five zero bytes, which the decipher strip alone would eat.
    const bytes report = {0x02, 0, 0x04, 0, 0, 0, 0, 0};
    bytes frame;
    ASSERT_TRUE(build_km_frame(kReceiveKey, 3, report.data(), 8, frame));
    bytes seven;
    const bytes payload7 = {1, 2, 3, 4, 5, 6, 0}; // whole block: plain, then 8 zero fill bytes
    ASSERT_TRUE(build_km_frame(kReceiveKey, 9, payload7.data(), 7, seven));
    ASSERT_EQ(seven.size(), 27u);
    c_sim_frame_splitter splitter(4096, kReceiveKey);
    splitter.feed(frame.data(), frame.size());
    splitter.feed(seven.data(), seven.size());
    splitter.feed(kLogin7.data(), kLogin7.size());
    ASSERT_EQ(splitter.next(), status::frame);
    EXPECT_TRUE(splitter.was_ciphered());
    EXPECT_EQ(splitter.body(), (bytes{3, 0x02, 0, 0x04, 0, 0, 0, 0, 0}));
    ASSERT_EQ(splitter.next(), status::frame);
    EXPECT_EQ(splitter.body(), (bytes{9, 1, 2, 3, 4, 5, 6, 0}));
    ASSERT_EQ(splitter.next(), status::frame) << "the zero fill is skipped";
    EXPECT_EQ(splitter.body()[0], 0x32);
}

TEST(SimSplitter, BadFramesAreDroppedAndTheStreamGoesOn)
{
    bytes badSum = kLogin7;
    badSum[2] ^= 0xFF;
    bytes badCipher = {0xA5, 0x01, 0, 0, 0, 0, 5, 0, 0, 0, 7, 1, 2, 3, 4, 5, 6, 7};
    badCipher[2] = 28; // a right checksum: only the lengths are wrong
    bytes emptyBody = {0xA5, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    c_sim_frame_splitter splitter(4096, kReceiveKey);
    for (const bytes *part : std::initializer_list<const bytes *>{&badSum, &badCipher, &emptyBody, &kLogin7})
        splitter.feed(part->data(), part->size());
    std::vector<status> drops;
    EXPECT_EQ(bodies_of(splitter, &drops), (bytes{0x32, 0, 0, 0, 7}));
    EXPECT_EQ(drops, (std::vector<status>{status::bad_checksum, status::bad_cipher}));
}

TEST(SimSplitter, OversizedWireLengthStopsTheConnection)
{
    const bytes huge = {0xA5, 0x01, 0, 0x7F, 0xFF, 0xFF, 0xF0, 0x7F, 0xFF, 0xFF, 0xF0, 1, 2, 3};
    c_sim_frame_splitter splitter(4096, kReceiveKey);
    splitter.feed(huge.data(), huge.size());
    EXPECT_EQ(splitter.next(), status::too_long);
    splitter.feed(kLogin7.data(), kLogin7.size());
    EXPECT_EQ(splitter.next(), status::too_long) << "nothing after it can be trusted";
    EXPECT_EQ(splitter.header().wireLength, 0x7FFFFFF0u);
}

TEST(SimSplitter, WrongKeyGivesAnotherTypeNotACrash)
{
    const std::uint8_t wrongKey[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    bytes frame;
    const bytes report(8, 0);
    ASSERT_TRUE(build_km_frame(wrongKey, 3, report.data(), 8, frame));
    c_sim_frame_splitter splitter(4096, kReceiveKey);
    splitter.feed(frame.data(), frame.size());
    ASSERT_EQ(splitter.next(), status::frame);
    EXPECT_EQ(splitter.body().size(), 9u);
    EXPECT_NE(splitter.body()[0], 3) << "(a 1 in 256 chance with any fixed key pair)";
}

// Reads the frames of `wire` as a viewer's video loop does and joins the pictures' data.
struct video_read {
    std::vector<bytes> pictures;
    int frames = 0;
    int ciphered = 0;
};

video_read read_video(const bytes &wire, const std::uint8_t key[8])
{
    video_read out;
    bytes picture;
    std::size_t at = 0;
    while (at + kFrameHeaderSize <= wire.size()) {
        EXPECT_EQ(wire[at], 0xA5);
        const frame_header h = parse_frame_header(wire.data() + at);
        bytes body(wire.begin() + static_cast<std::ptrdiff_t>(at + kFrameHeaderSize),
                   wire.begin() + static_cast<std::ptrdiff_t>(at + kFrameHeaderSize + h.wireLength));
        at += kFrameHeaderSize + h.wireLength;
        EXPECT_EQ(sum8(body.data(), body.size()), h.checksum);
        ++out.frames;
        if (h.ciphered()) {
            ++out.ciphered;
            EXPECT_TRUE(decipher_video_head(key, body.data(), h.wireLength));
            body.erase(body.begin(), body.begin() + 4);
        }
        EXPECT_EQ(body.size(), h.plainLength);
        EXPECT_EQ(body[0], 6);
        EXPECT_TRUE(video_body_consistent(body.data(), h.plainLength));
        picture.insert(picture.end(), body.begin() + kVideoHeadSize, body.end());
        if (video_fragment_is_last(body.data())) {
            out.pictures.push_back(picture);
            picture.clear();
        }
    }
    EXPECT_EQ(at, wire.size());
    EXPECT_TRUE(picture.empty());
    return out;
}

TEST(SimVideoFramer, SplitsLongPicturesAndCiphersEveryNthHead)
{
    bytes a(10000);
    for (std::size_t i = 0; i < a.size(); ++i)
        a[i] = static_cast<std::uint8_t>(i * 7);
    const bytes b = {0, 0, 0, 1, 0x65, 0x88, 0x00, 0x00}; // ends in zeros, like a length field may
    c_video_framer framer(4096, 2, kSendKey);
    bytes wire;
    framer.append_picture(a.data(), a.size(), wire); // 4096 + 4096 + 1808: frames 1..3
    framer.append_picture(b.data(), b.size(), wire); // frame 4
    const video_read read = read_video(wire, kSendKey);
    ASSERT_EQ(read.pictures.size(), 2u);
    EXPECT_EQ(read.pictures[0], a);
    EXPECT_EQ(read.pictures[1], b);
    EXPECT_EQ(read.frames, 4);
    EXPECT_EQ(read.ciphered, 2); // frames 2 and 4
    EXPECT_EQ(framer.frames_sent(), 4u);
}

} // namespace
