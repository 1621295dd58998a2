#include "encrypt/frame_cipher.h"
#include "protocol/c_video_msg_dispatcher.h"
#include "protocol/frame.h"
#include "protocol/km_frame.h"
#include "protocol/login_message.h"
#include "protocol/video_head.h"

#include "hex_bytes.h"
#include "loopback.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <tuple>

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

Bytes login(std::uint32_t user)
{
    const CQUEUE_MESSAGE m = make_login_message(user);
    EXPECT_EQ(m.tag, QStringLiteral("notU"));
    return Bytes(m.buffer.get(), m.buffer.get() + m.length);
}

} // namespace

// Frames and heads as the device and the viewer both build and read them. Cipher blocks
// from an independent DES implementation.
TEST(Golden, BytesAreExact)
{
    const std::uint8_t type = 30;
    Bytes out(16);
    std::uint32_t length = 0;
    const std::pair<std::function<Bytes()>, const char *> vectors[] = {
        {[] { return login(7); }, "A5 01 39 00000005 00000005 32 00000007"},
        {[] { return login(0x01020304u); }, "A5 01 3C 00000005 00000005 32 01020304"},
        {[] { return build_km_login_frame(7); }, "A5 01 39 00000005 00000005 32 00000007"},
        {[] { return video_head(true, 2); }, "06 01 000000000000 00000002"},
        {[] { return video_head(false, 0x01020304u); }, "06 00 000000000000 01020304"},
        {[&] { // a ciphered video head
             encipher_video_head(kKey.data(), video_head(true, 2).data(), out.data());
             return out;
         }, "9BD596BD8C3FDE84 E689643E4E3E09E8"},
        {[] { // deciphered, the head moves up to the data
             Bytes body = hex_bytes("9BD596BD8C3FDE84 E689643E4E3E09E8 ABCD");
             EXPECT_TRUE(decipher_video_head(kKey.data(), body.data(), 18));
             return Bytes(body.begin() + 4, body.end());
         }, "06 01 000000000000 00000002 ABCD"},
        {[] { return km(3, "00 00 04 00 00 00 00 00"); },
         "A5 01 C2 00000009 00000010 C99AB4E74A4D9282 E11C657CA7004B49"},
        {[] { return build_km_byte_frame(kKey.data(), 11); }, "A5 01 30 00000002 00000008 8A3194D92DCE16F7"},
        {[] { return km(20, "01 02 03 04 05 06 07"); }, // a whole block stays plain
         "A5 01 30 00000008 00000008 14 01020304050607 0000000000000000"},
        {[&] {
             EXPECT_TRUE(build_frame({{1, &type}}, out.data(), length));
             return Bytes(out.begin(), out.begin() + length);
         }, "A5 01 1E 00000001 00000001 1E"},
    };
    for (const auto &[made, hex] : vectors)
        EXPECT_EQ(made(), hex_bytes(hex)) << hex;
}

// The header's fields are big-endian, the raw plain-length field is kept as it arrived; a
// wholly ciphered body is whole blocks with its plain length inside the last one.
TEST(FrameHeader, ParsesBigEndianFieldsAndFindsTheDecipheredLength)
{
    const Bytes raw = hex_bytes("A5 01 7F 01020304 00000010");
    const frame_header h = parse_frame_header(raw.data());
    EXPECT_EQ(std::tuple(h.checksum, h.plainLength, h.wireLength, h.ciphered()),
              std::tuple(0x7F, 0x01020304u, 16u, true));
    EXPECT_EQ(std::memcmp(&h.rawPlainLength, raw.data() + 3, 4), 0);
    const std::uint32_t cases[][3] = {{9, 16, 9},  {1, 8, 1}, {16, 16, 16}, {8, 16, 0},
                                      {17, 16, 0}, {0, 8, 0}, {5, 7, 0},    {0, 0, 0}};
    for (const auto &[plain, wire, expected] : cases)
        EXPECT_EQ(deciphered_length(frame_header{0, plain, wire, 0}), expected) << plain << "/" << wire;
}

// A refused frame writes nothing and leaves the length alone.
TEST(FrameBuilder, TheBoundedFormRefusesWhatDoesNotFit)
{
    const std::uint8_t type = 2, payload[10] = {};
    Bytes out(32, 0xEE);
    std::uint32_t length = 99;
    EXPECT_FALSE(build_frame({{1, &type}, {10, payload}}, out.data(), 21, length));
    EXPECT_FALSE(build_frame({{1, &type}, {0xFFFFFFFFu, payload}}, out.data(), 32, length));
    EXPECT_EQ(std::pair(out[0], length), std::pair(std::uint8_t(0xEE), 99u));
    EXPECT_TRUE(build_frame({{1, &type}, {10, payload}}, out.data(), 22, length));
    EXPECT_EQ(length, 22u);
}

TEST(KmFrame, RefusesWhatCannotBeBuilt)
{
    Bytes frame = {1, 2, 3}, huge(kKmMaxPayload + 1);
    EXPECT_FALSE(build_km_frame(nullptr, 3, huge.data(), 1, frame)) << "no key";
    EXPECT_TRUE(frame.empty());
    EXPECT_FALSE(build_km_frame(kKey.data(), 3, huge.data(), kKmMaxPayload + 1, frame));
    EXPECT_TRUE(frame.empty());
}

namespace {

struct RecordingListener : c_video_msg_listener {
    void on_led_report(std::uint8_t bits) override { leds.push_back(bits); }
    void on_video_fragment(const std::uint8_t *body, std::uint32_t length) override
    {
        fragments.emplace_back(body, body + length);
    }
    Bytes leds;
    std::vector<Bytes> fragments;
};

// Type, then type 2's sub-type and status or else `fill`, then `fill` up to `length` bytes.
Bytes body(int type, std::size_t length, std::uint8_t fill = 0, int sub = 0, int status = 0)
{
    Bytes b(length, fill);
    for (std::size_t i = 0; i < length && i < 3; ++i)
        b[i] = std::uint8_t(i == 0 ? type : type != 2 ? fill : i == 1 ? sub : status);
    return b;
}

// A video body whose head gives `lengthField` bytes of data.
Bytes video(std::uint32_t lengthField, std::size_t bodyLength)
{
    Bytes b = body(6, bodyLength, 0x11);
    write_be32(b.data() + 8, lengthField);
    return b;
}

// Bodies are vectors of exactly their length, so a read past the end shows up under
// AddressSanitizer.
struct Dispatch : ::testing::Test {
    std::uint8_t run(const Bytes &b) { return dispatcher.dispatch(b.data(), static_cast<std::uint32_t>(b.size())); }
    RecordingListener listener;
    c_video_msg_dispatcher dispatcher{&listener};
};

} // namespace

TEST_F(Dispatch, EachTypeIsHandledOnlyAtItsLengths)
{
    const std::pair<int, std::size_t> fixed[] = {{1, 2},  {3, 2},    {4, 2},  {5, 2},  {7, 3}, {8, 8},
                                                 {10, 8}, {11, 520}, {14, 6}, {15, 2}, {16, 33}};
    for (const auto &[type, length] : fixed) {
        EXPECT_EQ(run(body(type, length)), 0) << type;
        EXPECT_EQ(run(body(type, length - 1)), 3) << type;
        EXPECT_EQ(run(body(type, length + 1)), 3) << type;
    }
    for (const int type : {0, 9, 13, 17, 20, 29, 33, 49, 51, 255})
        EXPECT_EQ(run(body(type, 2)), 3) << "type " << type;
    EXPECT_EQ(run({}), 3);
    EXPECT_EQ(dispatcher.dispatch(nullptr, 0), 3);
    for (const std::size_t length : {1u, 2u, 3u, 700u})
        for (const int type : {12, 30, 31, 32, 50})
            EXPECT_EQ(run(body(type, length)), 0) << type << "/" << length;

    // Type 2: the length depends on the sub-type unless the status is set (no data then).
    const struct { int sub; std::size_t length; int result; } replies[] = {
        {1, 11, 0}, {1, 10, 3}, {1, 12, 3}, {3, 131, 0}, {3, 130, 3}, {3, 132, 3}, {5, 3, 0}, {5, 4, 3},
        {1, 2, 3},  {1, 1, 3}};
    for (const auto &r : replies)
        EXPECT_EQ(run(body(2, r.length, 0, r.sub)), r.result) << r.sub << "/" << r.length;
    for (const std::size_t length : {3u, 4u, 11u, 131u, 200u}) {
        for (const int sub : {0, 2, 4, 6})
            EXPECT_EQ(run(body(2, length, 0, sub, 0)), 3) << sub << "/" << length;
        for (const int sub : {1, 2, 3, 4, 5})
            EXPECT_EQ(run(body(2, length, 0, sub, 1)), 0) << sub << "/" << length;
    }
}

// A video body needs twelve bytes plus its length field, which must not wrap around.
TEST_F(Dispatch, VideoFragmentsAndLedReportsGoToTheListener)
{
    for (const auto &[b, result] : {std::pair{video(100, 112), 0}, {video(99, 112), 3}, {video(101, 112), 3},
                                    {video(0, 12), 0}, {body(6, 11), 3}, {body(6, 1), 3},
                                    {video(0xFFFFFFF4u, 12), 3}, {video(0xFFFFFFFFu, 12), 3}})
        EXPECT_EQ(run(b), result) << b.size();
    EXPECT_EQ(listener.fragments, (std::vector<Bytes>{video(100, 112), video(0, 12)}));
    EXPECT_EQ(run({4, 0x05}), 0);
    EXPECT_EQ(listener.leds, Bytes{0x05});
    const std::uint8_t led[2] = {4, 1};
    EXPECT_EQ(c_video_msg_dispatcher().dispatch(led, 2), 0) << "without a listener";
}

// An acknowledgement's success or failure shows in its log line.
TEST_F(Dispatch, AcknowledgementsAreLogged)
{
    const std::pair<Bytes, const char *> cases[] = {
        {{30, 0, 0}, "beginSet,ack,success"}, {{31, 0, 1}, "endSet,ack,fail"},    {{32, 1, 0, 9}, "setPos,ack,success"},
        {{30, 0}, "beginSet,ack,fail"},       {{32}, "setPos,ack,fail"},          {{50, 0}, "video.userID.ack,success"},
        {{50, 2}, "video.userID.ack,fail"},   {{50}, "video.userID.ack,fail"}};
    for (const auto &[b, text] : cases) {
        const int before = socket_test::log_lines_with(text);
        EXPECT_EQ(run(b), 0);
        EXPECT_EQ(socket_test::log_lines_with(text), before + 1) << text;
    }
}
