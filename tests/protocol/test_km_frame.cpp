#include "protocol/km_frame.h"

#include "encrypt/frame_cipher.h"
#include "protocol/frame.h"

#include "../encrypt/hex_bytes.h"

#include <gtest/gtest.h>

#include <numeric>

using Bytes = std::vector<std::uint8_t>;

namespace {

const Bytes kKey = hex_bytes("133457799BBCDFF1");

struct KmCase {
    std::uint8_t type;
    std::uint32_t payloadLength;
    std::uint32_t plain;
    std::uint32_t wire;
    std::size_t buffer;
};

std::uint8_t sum_from_body(const Bytes &frame)
{
    return sum8(frame.data() + 11, frame.size() - 11);
}

} // namespace

TEST(KmFrame, LengthsAndBufferSizesPerType)
{
    const KmCase cases[] = {
        {3, 8, 9, 16, 27},  // keyboard report
        {5, 4, 5, 8, 19},   // relative mouse
        {44, 6, 7, 8, 19},  // absolute mouse
        {11, 1, 2, 8, 19},  // keep-alive
        {20, 7, 8, 8, 27},  // a whole block: 8 trailing zero bytes
        {20, 0, 1, 8, 19},
        {20, 15, 16, 16, 35},
        {20, 16, 17, 24, 35},
    };
    for (const KmCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << int(c.type) << ", payload "
                                        << c.payloadLength);
        Bytes payload(c.payloadLength);
        std::iota(payload.begin(), payload.end(), std::uint8_t{1});
        Bytes frame;
        ASSERT_TRUE(build_km_frame(kKey.data(), c.type, payload.data(), c.payloadLength, frame));
        ASSERT_EQ(frame.size(), c.buffer);
        EXPECT_EQ(km_frame_size(c.type, c.payloadLength), c.buffer);
        EXPECT_EQ(frame[0], 0xA5);
        EXPECT_EQ(frame[1], 0x01);
        const frame_header h = parse_frame_header(frame.data());
        EXPECT_EQ(h.plainLength, c.plain);
        EXPECT_EQ(h.wireLength, c.wire);
        EXPECT_EQ(frame[2], sum_from_body(frame));

        // The body is [type][payload], enciphered under the outbound key exactly when the
        // two lengths differ (a whole block stays plain: receivers could not tell).
        Bytes body(frame.begin() + 11, frame.begin() + 11 + c.wire);
        EXPECT_EQ(h.ciphered(), c.plain % 8 != 0);
        std::uint32_t length = c.wire;
        if (h.ciphered()) {
            ASSERT_TRUE(des_decrypt_unpadded_b(kKey.data(), body.data(), body.data(), length));
        }
        EXPECT_EQ(body[0], c.type);
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), body.begin() + 1));
        for (std::size_t i = 11 + c.wire; i < frame.size(); ++i)
            EXPECT_EQ(frame[i], 0) << "trailing byte " << i;
    }
}

TEST(KmFrame, CipheredFramesAreByteExact)
{
    // Cipher blocks from an independent DES implementation.
    const Bytes report = hex_bytes("00 00 04 00 00 00 00 00");
    Bytes frame;
    ASSERT_TRUE(build_km_frame(kKey.data(), 3, report.data(), 8, frame));
    EXPECT_EQ(frame, hex_bytes("A5 01 C2 00000009 00000010"
                               "C99AB4E74A4D9282 E11C657CA7004B49"));

    EXPECT_EQ(build_km_byte_frame(kKey.data(), 11),
              hex_bytes("A5 01 30 00000002 00000008 8A3194D92DCE16F7"));

    const Bytes seven = {1, 2, 3, 4, 5, 6, 7};
    ASSERT_TRUE(build_km_frame(kKey.data(), 20, seven.data(), 7, frame));
    EXPECT_EQ(frame, hex_bytes("A5 01 30 00000008 00000008 14 01020304050607"
                               "0000000000000000"));
}

TEST(KmFrame, RefusesWhatCannotBeBuilt)
{
    Bytes frame = {1, 2, 3};
    const std::uint8_t zero = 0;
    EXPECT_FALSE(build_km_frame(nullptr, 3, &zero, 1, frame)) << "no key";
    EXPECT_TRUE(frame.empty());
    Bytes huge(kKmMaxPayload + 1);
    EXPECT_FALSE(build_km_frame(kKey.data(), 3, huge.data(), kKmMaxPayload + 1, frame));
    EXPECT_TRUE(frame.empty());
}
