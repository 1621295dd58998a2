#include "test_support.h"
#include "tools/socket/c_abs_socket_recv.h"
#include "video/H264Decoder.h"
#include "video/c_video_picture_path.h"
#include "video_picture_image.h"
#include "video_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using socket_test::video_body;

namespace {

// A picture path whose sink keeps every picture it was handed.
struct PicturePath : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(path.setup()); }

    void feed(const std::vector<std::uint8_t> &body)
    {
        path.on_video_fragment(body.data(), std::uint32_t(body.size()));
    }

    // The BGRA bytes a decoder of its own gives for these pictures' last one.
    static std::vector<std::uint8_t> decoded(const std::vector<std::vector<std::uint8_t>> &pics)
    {
        H264Decoder decoder;
        decoder.open();
        std::vector<std::uint8_t> out(c_video_picture_path::kOutputLimit
                                      + picture_layout::kTailPadding);
        int w = 0, h = 0;
        for (const auto &picture : pics)
            decoder.decode(picture.data(), int(picture.size()), out.data(), out.size(), w, h);
        out.resize(std::size_t(w) * h * 4);
        return out;
    }

    static bool same_pixels(const video_picture &picture, const std::vector<std::uint8_t> &bytes)
    {
        return std::size_t(picture.stride) * picture.height == bytes.size()
            && std::equal(bytes.begin(), bytes.end(), picture.data());
    }

    std::vector<video_picture> shown;
    c_video_picture_path path{[this](video_picture p) { shown.push_back(std::move(p)); }};
};

} // namespace

TEST_F(PicturePath, ThreeFragmentsGiveOnePictureAfterTheLast)
{
    const auto stream = encode_pictures(1, 320, 240);
    const auto &picture = stream[0];
    const std::size_t third = picture.size() / 3;
    feed(video_body(0, picture.data(), third));
    feed(video_body(0, picture.data() + third, third));
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(path.assembler()->fill(), 2 * third);
    // Any value but 1 means "more follows".
    feed(video_body(1, picture.data() + 2 * third, picture.size() - 2 * third));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].width, 320);
    EXPECT_EQ(shown[0].height, 240);
    EXPECT_TRUE(same_pixels(shown[0], decoded(stream)));
    EXPECT_EQ(path.assembler()->fill(), 0u);
    EXPECT_EQ(path.statistics().assembledPictures, 1u);
    EXPECT_EQ(path.statistics().directPictures, 0u);
}

TEST_F(PicturePath, WholePictureInOneFragmentIsDecodedWithoutCopy)
{
    const auto stream = encode_pictures(3, 320, 240);
    for (const auto &picture : stream) {
        feed(video_body(1, picture));
        EXPECT_EQ(path.assembler()->fill(), 0u);
    }
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(path.statistics().directPictures, 3u);
    EXPECT_EQ(path.statistics().assembledPictures, 0u);
    EXPECT_TRUE(same_pixels(shown[2], decoded(stream)));
    // A value other than 1 holds the fragment even when it is a whole picture.
    feed(video_body(2, stream[0]));
    EXPECT_EQ(shown.size(), 3u);
    EXPECT_EQ(path.assembler()->fill(), stream[0].size());
}

TEST_F(PicturePath, OversizePictureIsDroppedWithItsRemainingFragments)
{
    constexpr std::uint32_t kLimit = c_video_picture_path::kAssemblerCapacity;
    const auto stream = encode_pictures(2, 320, 240);
    const int before = socket_test::log_lines_with("picture dropped");
    const std::vector<std::uint8_t> half(kLimit / 2 + 1, 0x11);
    feed(video_body(0, half));
    feed(video_body(0, half)); // two bytes over the limit
    EXPECT_EQ(path.assembler()->fill(), 0u);
    EXPECT_EQ(socket_test::log_lines_with("picture dropped") - before, 1);
    feed(video_body(0, half));
    feed(video_body(1, stream[0])); // the oversize picture's last fragment: skipped too
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(path.statistics().dropped, 1u);
    feed(video_body(1, stream[0]));
    ASSERT_EQ(shown.size(), 1u);

    // Exactly the limit still fits.
    feed(video_body(0, std::vector<std::uint8_t>(kLimit - 100, 0)));
    feed(video_body(0, std::vector<std::uint8_t>(100, 0)));
    EXPECT_EQ(path.assembler()->fill(), kLimit);
    feed(video_body(1, std::vector<std::uint8_t>(1, 0)));
    EXPECT_EQ(path.assembler()->fill(), 0u);
    EXPECT_EQ(path.statistics().dropped, 2u);
}

// Detailed 2160p key frames run past a megabyte; the device sends them in fragments that
// each fit the receive buffer.
TEST_F(PicturePath, LargePicturesInReceiveBufferSizedFragmentsAreShown)
{
    const auto stream = encode_pictures(2, 3840, 2160, 0, 12);
    ASSERT_EQ(stream.size(), 2u);
    const std::size_t step = c_abs_socket_recv::kDefaultBufferSize - 12;
    for (const auto &picture : stream) {
        for (std::size_t at = 0; at < picture.size(); at += step) {
            const std::size_t piece = std::min(step, picture.size() - at);
            feed(video_body(at + piece == picture.size(), picture.data() + at, piece));
        }
    }
    EXPECT_GT(stream[0].size(), 1000000u);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_TRUE(same_pixels(shown[1], decoded(stream)));
    EXPECT_EQ(path.statistics().dropped, 0u);
}

TEST_F(PicturePath, DecodedPictureOverTheOutputLimitIsDropped)
{
    // 4096 x 2112 x 4 = 34,603,008 bytes > 33,554,432.
    const auto large = encode_pictures(1, 4096, 2112);
    const auto small = encode_pictures(1, 320, 240);
    ASSERT_EQ(large.size(), 1u);
    const int before = socket_test::log_lines_with("picture dropped");
    feed(video_body(1, large[0]));
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(socket_test::log_lines_with("picture dropped") - before, 1);
    feed(video_body(1, small[0]));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].width, 320);
}

TEST_F(PicturePath, MalformedBodiesAndLostFragmentsAreHandled)
{
    const auto stream = encode_pictures(1, 320, 240);
    auto body = video_body(1, stream[0]);
    path.on_video_fragment(body.data(), 11);                         // shorter than its head
    path.on_video_fragment(body.data(), std::uint32_t(body.size() - 1)); // data cut short
    path.on_video_fragment(nullptr, 0);
    EXPECT_EQ(path.statistics().dropped, 3u);
    EXPECT_TRUE(shown.empty());

    // A partial picture is discarded when the receive side lost a fragment of it.
    feed(video_body(0, stream[0].data(), 100));
    path.discard_partial();
    EXPECT_EQ(path.assembler()->fill(), 0u);
    feed(body);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(path.statistics().directPictures, 1u);
}

TEST_F(PicturePath, BuffersAreReusedOnlyWhenNobodyHoldsThem)
{
    const auto stream = encode_pictures(12, 320, 240);
    // Pictures dropped by the consumer right away: their buffers come back for reuse.
    for (int i = 0; i < 6; ++i) {
        feed(video_body(1, stream[std::size_t(i)]));
        shown.clear();
    }
    EXPECT_EQ(path.buffers_allocated(), 1u);

    // An image the GUI still holds is never written over.
    feed(video_body(1, stream[6]));
    const QImage held = video_picture_image(shown.back());
    shown.clear();
    const QImage snapshot = held.copy();
    for (std::size_t i = 7; i < stream.size(); ++i) {
        feed(video_body(1, stream[i]));
        shown.clear();
    }
    EXPECT_EQ(held, snapshot);
    EXPECT_EQ(path.buffers_allocated(), 2u);
}

TEST_F(PicturePath, SetupAgainStartsAFreshSession)
{
    const auto stream = encode_pictures(2, 320, 240);
    feed(video_body(0, stream[0].data(), 50));
    ASSERT_TRUE(path.setup());
    EXPECT_EQ(path.assembler()->fill(), 0u);
    // The new decoder needs a key frame again (as one joining a stream after it would).
    feed(video_body(1, stream[1]));
    EXPECT_TRUE(shown.empty());
    feed(video_body(1, stream[0]));
    EXPECT_EQ(shown.size(), 1u);
}
