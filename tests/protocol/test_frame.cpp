#include "encrypt/frame_cipher.h"
#include "protocol/frame.h"
#include "protocol/km_frame.h"
#include "protocol/login_message.h"
#include "protocol/video_head.h"

#include "../encrypt/hex_bytes.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>

using Bytes = std::vector<std::uint8_t>;

namespace {

const Bytes kKey = hex_bytes("133457799BBCDFF1");

Bytes km(std::uint8_t type, const char *payload)
{
    const Bytes p = hex_bytes(payload);
    Bytes frame;
    EXPECT_TRUE(build_km_frame(kKey.data(), type, p.data(), std::uint32_t(p.size()), frame));
    return frame;
}

Bytes video_head(bool last, std::uint32_t dataLength)
{
    Bytes head(kVideoHeadSize);
    write_video_head(head.data(), last, dataLength);
    return head;
}

} // namespace

// Frames and heads as the device and the viewer both build and read them. Cipher blocks
// from an independent DES implementation.
TEST(Golden, BytesAreExact)
{
    const auto login = [](std::uint32_t user) {
        const CQUEUE_MESSAGE m = make_login_message(user);
        EXPECT_EQ(m.tag, QStringLiteral("notU"));
        return Bytes(m.buffer.get(), m.buffer.get() + m.length);
    };
    const struct { const char *name; std::function<Bytes()> made; const char *hex; } vectors[] = {
        {"login of user 7", [&] { return login(7); }, "A5 01 39 00000005 00000005 32 00000007"},
        {"login of a large user", [&] { return login(0x01020304u); }, "A5 01 3C 00000005 00000005 32 01020304"},
        {"km login of user 7", [] { return build_km_login_frame(7); }, "A5 01 39 00000005 00000005 32 00000007"},
        {"video head of a last fragment", [] { return video_head(true, 2); }, "06 01 000000000000 00000002"},
        {"video head of an inner fragment", [] { return video_head(false, 0x01020304u); },
         "06 00 000000000000 01020304"},
        {"ciphered video head", [] {
             Bytes out(kVideoCipheredHeadSize);
             encipher_video_head(kKey.data(), video_head(true, 2).data(), out.data());
             return out;
         }, "9BD596BD8C3FDE84 E689643E4E3E09E8"},
        {"deciphered video head moves up to the data", [] {
             Bytes body = hex_bytes("9BD596BD8C3FDE84 E689643E4E3E09E8 ABCD");
             EXPECT_TRUE(decipher_video_head(kKey.data(), body.data(), 18));
             return Bytes(body.begin() + 4, body.end());
         }, "06 01 000000000000 00000002 ABCD"},
        {"keyboard report", [] { return km(3, "00 00 04 00 00 00 00 00"); },
         "A5 01 C2 00000009 00000010 C99AB4E74A4D9282 E11C657CA7004B49"},
        {"keep-alive", [] { return build_km_byte_frame(kKey.data(), 11); },
         "A5 01 30 00000002 00000008 8A3194D92DCE16F7"},
        {"a whole block stays plain", [] { return km(20, "01 02 03 04 05 06 07"); },
         "A5 01 30 00000008 00000008 14 01020304050607 0000000000000000"},
        {"type-only frame", [] {
             const std::uint8_t type = 30;
             Bytes out(16);
             std::uint32_t length = 0;
             EXPECT_TRUE(build_frame({{1, &type}}, out.data(), length));
             return Bytes(out.begin(), out.begin() + length);
         }, "A5 01 1E 00000001 00000001 1E"},
    };
    for (const auto &v : vectors)
        EXPECT_EQ(v.made(), hex_bytes(v.hex)) << v.name;
}

// A wholly ciphered body is whole blocks with its plain length inside the last one.
TEST(FrameHeader, ParsesBigEndianFieldsAndFindsTheDecipheredLength)
{
    const Bytes raw = hex_bytes("A5 01 7F 01020304 00000010");
    const frame_header h = parse_frame_header(raw.data());
    EXPECT_EQ(h.checksum, 0x7F);
    EXPECT_EQ(h.plainLength, 0x01020304u);
    EXPECT_EQ(h.wireLength, 16u);
    EXPECT_TRUE(h.ciphered());
    EXPECT_EQ(std::memcmp(&h.rawPlainLength, raw.data() + 3, 4), 0);
    std::uint8_t buf[2];
    write_be16(buf, 0xBEEF);
    EXPECT_EQ(buf[0], 0xBE);
    EXPECT_EQ(read_be16(buf), 0xBEEF);

    const struct { std::uint32_t plain, wire, expected; } cases[] = {
        {9, 16, 9}, {1, 8, 1}, {16, 16, 16}, {8, 16, 0}, {17, 16, 0}, {0, 8, 0}, {5, 7, 0}, {0, 0, 0}};
    for (const auto &c : cases) {
        frame_header f;
        f.plainLength = c.plain;
        f.wireLength = c.wire;
        EXPECT_EQ(deciphered_length(f), c.expected) << c.plain << "/" << c.wire;
    }
}

TEST(FrameBuilder, ChecksumWrapsAndTheBoundedFormRefusesWhatDoesNotFit)
{
    const std::uint8_t type = 30;
    Bytes payload(300);
    std::iota(payload.begin(), payload.end(), std::uint8_t{200});
    const unsigned sum = std::accumulate(payload.begin(), payload.end(), unsigned{type});
    Bytes out(512, 0xEE);
    std::uint32_t length = 0;
    ASSERT_TRUE(build_frame({{1, &type}, {0, nullptr}, {300, payload.data()}}, out.data(), length));
    EXPECT_EQ(length, 11u + 301u);
    EXPECT_EQ(Bytes(out.begin() + 3, out.begin() + 12), hex_bytes("0000012D 0000012D 1E"));
    EXPECT_EQ(out[2], static_cast<std::uint8_t>(sum));
    EXPECT_EQ(sum8(out.data() + 11, 301), out[2]);

    std::fill(out.begin(), out.end(), 0xEE);
    EXPECT_FALSE(build_frame({{1, &type}, {10, payload.data()}}, out.data(), 21, length));
    EXPECT_FALSE(build_frame({{1, &type}, {0xFFFFFFFFu, payload.data()}}, out.data(), 32, length));
    EXPECT_EQ(out[0], 0xEE) << "a refused frame writes nothing";
    EXPECT_EQ(length, 312u);
    EXPECT_TRUE(build_frame({{1, &type}, {10, payload.data()}}, out.data(), 22, length));
    EXPECT_EQ(length, 22u);
}

// The body is [type][payload], enciphered under the outbound key exactly when the two lengths
// differ (a whole block stays plain: receivers could not tell); the buffer is zero-filled
// beyond it.
TEST(KmFrame, LengthsAndBufferSizesPerType)
{
    const struct { std::uint8_t type; std::uint32_t payload, plain, wire, buffer; } cases[] = {
        {3, 8, 9, 16, 27},  // keyboard report
        {5, 4, 5, 8, 19},   // relative mouse
        {44, 6, 7, 8, 19},  // absolute mouse
        {11, 1, 2, 8, 19},  // keep-alive
        {20, 7, 8, 8, 27}, {20, 0, 1, 8, 19}, {20, 15, 16, 16, 35}, {20, 16, 17, 24, 35},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << int(c.type) << ", payload " << c.payload);
        Bytes payload(c.payload), frame;
        std::iota(payload.begin(), payload.end(), std::uint8_t{1});
        ASSERT_TRUE(build_km_frame(kKey.data(), c.type, payload.data(), c.payload, frame));
        ASSERT_EQ(frame.size(), c.buffer);
        EXPECT_EQ(km_frame_size(c.type, c.payload), c.buffer);
        const frame_header h = parse_frame_header(frame.data());
        EXPECT_EQ(h.plainLength, c.plain);
        EXPECT_EQ(h.wireLength, c.wire);
        EXPECT_EQ(frame[2], sum8(frame.data() + 11, frame.size() - 11));
        Bytes body(frame.begin() + 11, frame.begin() + 11 + c.wire);
        std::uint32_t length = c.wire;
        if (h.ciphered()) {
            ASSERT_TRUE(des_decrypt_unpadded_b(kKey.data(), body.data(), body.data(), length));
        }
        EXPECT_EQ(body[0], c.type);
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), body.begin() + 1));
        EXPECT_TRUE(std::all_of(frame.begin() + 11 + c.wire, frame.end(), [](auto b) { return b == 0; }));
    }
    Bytes frame = {1, 2, 3}, huge(kKmMaxPayload + 1);
    EXPECT_FALSE(build_km_frame(nullptr, 3, huge.data(), 1, frame)) << "no key";
    EXPECT_TRUE(frame.empty());
    EXPECT_FALSE(build_km_frame(kKey.data(), 3, huge.data(), kKmMaxPayload + 1, frame));
    EXPECT_TRUE(frame.empty());
}
