#include "protocol/frame.h"
#include "protocol/km_frame.h"
#include "protocol/login_message.h"
#include "protocol/video_head.h"

#include "../encrypt/hex_bytes.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

namespace {

const Bytes kKey = hex_bytes("133457799BBCDFF1");

Bytes queued(const CQUEUE_MESSAGE &m)
{
    return Bytes(m.buffer.get(), m.buffer.get() + m.length);
}

Bytes video_head(bool last, std::uint32_t dataLength)
{
    Bytes head(kVideoHeadSize);
    write_video_head(head.data(), last, dataLength);
    return head;
}

// Frames and heads as the device and the viewer both build and read them. Cipher blocks
// from an independent DES implementation.
struct golden {
    const char *name;
    std::function<Bytes()> made;
    const char *hex;
};
void PrintTo(const golden &g, std::ostream *os) { *os << g.name; }
struct Golden : ::testing::TestWithParam<golden> {};

} // namespace

TEST_P(Golden, BytesAreExact)
{
    EXPECT_EQ(GetParam().made(), hex_bytes(GetParam().hex));
}

INSTANTIATE_TEST_SUITE_P(Vectors, Golden, ::testing::Values(
    golden{"LoginOfUser7", [] { return queued(make_login_message(7)); },
           "A5 01 39 00000005 00000005 32 00000007"},
    golden{"LoginOfALargeUser", [] { return queued(make_login_message(0x01020304u)); },
           "A5 01 3C 00000005 00000005 32 01020304"},
    golden{"KmLoginOfUser7", [] { return build_km_login_frame(7); },
           "A5 01 39 00000005 00000005 32 00000007"},
    golden{"VideoHeadOfALastFragment", [] { return video_head(true, 2); },
           "06 01 000000000000 00000002"},
    golden{"VideoHeadOfAnInnerFragment", [] { return video_head(false, 0x01020304u); },
           "06 00 000000000000 01020304"},
    golden{"CipheredVideoHead", [] {
               Bytes out(kVideoCipheredHeadSize);
               encipher_video_head(kKey.data(), video_head(true, 2).data(), out.data());
               return out;
           }, "9BD596BD8C3FDE84 E689643E4E3E09E8"},
    golden{"DecipheredVideoHeadMovesUpToTheData", [] {
               Bytes body = hex_bytes("9BD596BD8C3FDE84 E689643E4E3E09E8 ABCD");
               EXPECT_TRUE(decipher_video_head(kKey.data(), body.data(), 18));
               return Bytes(body.begin() + 4, body.end());
           }, "06 01 000000000000 00000002 ABCD"}),
    [](const auto &param) { return std::string(param.param.name); });

// A wholly ciphered body is whole blocks with its plain length inside the last one.
TEST(FrameHeader, DecipheredLengthFallsInTheLastBlock)
{
    const struct { std::uint32_t plain, wire, expected; } cases[] = {
        {9, 16, 9}, {1, 8, 1}, {16, 16, 16}, {8, 16, 0}, {17, 16, 0},
        {0, 8, 0}, {5, 7, 0}, {0, 0, 0}};
    for (const auto &c : cases) {
        frame_header h;
        h.plainLength = c.plain;
        h.wireLength = c.wire;
        EXPECT_EQ(deciphered_length(h), c.expected) << c.plain << "/" << c.wire;
    }
}

TEST(FrameBuilder, ChecksumWrapsAndBothLengthsMatchTheBody)
{
    const std::uint8_t type = 30;
    std::vector<std::uint8_t> payload(300);
    unsigned sum = type;
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<std::uint8_t>(i * 7 + 200);
        sum += payload[i];
    }
    std::uint8_t out[512];
    std::uint32_t length = 0;
    ASSERT_TRUE(build_frame({{1, &type}, {0, nullptr}, {300, payload.data()}}, out, length));
    EXPECT_EQ(length, 11u + 301u);
    EXPECT_EQ(out[0], 0xA5);
    EXPECT_EQ(out[1], 0x01);
    EXPECT_EQ(out[2], static_cast<std::uint8_t>(sum));
    EXPECT_EQ(Bytes(out + 3, out + 11), hex_bytes("0000012D 0000012D"));
    const frame_header h = parse_frame_header(out);
    EXPECT_EQ(h.plainLength, 301u);
    EXPECT_EQ(h.wireLength, 301u);
    EXPECT_FALSE(h.ciphered());
    EXPECT_EQ(h.checksum, out[2]);
    EXPECT_EQ(sum8(out + 11, 301), out[2]);

    // A type-only body.
    ASSERT_TRUE(build_frame({{1, &type}}, out, length));
    EXPECT_EQ(Bytes(out, out + length), hex_bytes("A5 01 1E 00000001 00000001 1E"));
}

TEST(FrameBuilder, BoundedFormRefusesWhatDoesNotFit)
{
    const std::uint8_t type = 2;
    const std::uint8_t payload[10] = {};
    std::uint8_t out[32];
    std::fill(std::begin(out), std::end(out), 0xEE);
    std::uint32_t length = 99;
    EXPECT_TRUE(build_frame({{1, &type}, {10, payload}}, out, 22, length));
    EXPECT_EQ(length, 22u);
    EXPECT_FALSE(build_frame({{1, &type}, {10, payload}}, out, 21, length));
    EXPECT_EQ(length, 22u);
    std::fill(std::begin(out), std::end(out), 0xEE);
    EXPECT_FALSE(build_frame({{1, &type}, {0xFFFFFFFFu, payload}}, out, 32, length));
    EXPECT_EQ(out[0], 0xEE) << "a refused frame writes nothing";
}

TEST(FrameHeader, ParsesBigEndianFieldsAndKeepsTheRawPlainLength)
{
    const Bytes raw = hex_bytes("A5 01 7F 01020304 00000010");
    const frame_header h = parse_frame_header(raw.data());
    EXPECT_EQ(h.checksum, 0x7F);
    EXPECT_EQ(h.plainLength, 0x01020304u);
    EXPECT_EQ(h.wireLength, 16u);
    EXPECT_TRUE(h.ciphered());
    const std::uint8_t *p = reinterpret_cast<const std::uint8_t *>(&h.rawPlainLength);
    EXPECT_EQ(Bytes(p, p + 4), hex_bytes("01020304"));

    std::uint8_t buf[4];
    write_be32(buf, 0xA1B2C3D4u);
    EXPECT_EQ(Bytes(buf, buf + 4), hex_bytes("A1B2C3D4"));
    EXPECT_EQ(read_be32(buf), 0xA1B2C3D4u);
    write_be16(buf, 0xBEEF);
    EXPECT_EQ(Bytes(buf, buf + 2), hex_bytes("BEEF"));
    EXPECT_EQ(read_be16(buf), 0xBEEF);
    EXPECT_EQ(sum8(nullptr, 0), 0);
}

TEST(LoginMessage, IsQueuedTaggedNotU)
{
    const CQUEUE_MESSAGE m = make_login_message(7);
    EXPECT_EQ(m.tag, QStringLiteral("notU"));
    EXPECT_EQ(m.flag, 0);
}
