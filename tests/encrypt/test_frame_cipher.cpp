#include "encrypt/frame_cipher.h"

#include "des_kat_vectors.h"
#include "hex_bytes.h"

#include <gtest/gtest.h>

#include <array>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes encipher_block(const Bytes &key, const Bytes &plain)
{
    Bytes out(8);
    des_encrypt_block(key.data(), plain.data(), out.data());
    return out;
}

Bytes decipher_block(const Bytes &key, const Bytes &cipher)
{
    Bytes out(8);
    des_decrypt_block(key.data(), cipher.data(), out.data());
    return out;
}

template <std::size_t N>
void check_vectors(const Kat (&vectors)[N])
{
    for (const Kat &v : vectors) {
        SCOPED_TRACE(std::string("key ") + v.key + " plain " + v.plain);
        const Bytes key = hex_bytes(v.key);
        EXPECT_EQ(encipher_block(key, hex_bytes(v.plain)), hex_bytes(v.cipher));
        EXPECT_EQ(decipher_block(key, hex_bytes(v.cipher)), hex_bytes(v.plain));
    }
}

const std::uint8_t kKey[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};

} // namespace

TEST(DesBlock, FipsWorkedExample)
{
    const Bytes key = hex_bytes("133457799BBCDFF1");
    EXPECT_EQ(encipher_block(key, hex_bytes("0123456789ABCDEF")), hex_bytes("85E813540F0AB405"));
    EXPECT_EQ(decipher_block(key, hex_bytes("85E813540F0AB405")), hex_bytes("0123456789ABCDEF"));
}

TEST(DesBlock, VariablePlaintextKnownAnswers) { check_vectors(kVariablePlaintext); }
TEST(DesBlock, VariableKeyKnownAnswers) { check_vectors(kVariableKey); }
TEST(DesBlock, SubstitutionTableKnownAnswers) { check_vectors(kSubstitutionTable); }

TEST(DesBlock, ParityBitsAreIgnoredAndInPlaceWorks)
{
    Bytes key = hex_bytes("133457799BBCDFF1");
    for (auto &b : key)
        b ^= 0x01;
    Bytes block = hex_bytes("0123456789ABCDEF");
    des_encrypt_block(key.data(), block.data(), block.data());
    EXPECT_EQ(block, hex_bytes("85E813540F0AB405"));
    des_decrypt_block(key.data(), block.data(), block.data());
    EXPECT_EQ(block, hex_bytes("0123456789ABCDEF"));
}

TEST(FrameCipher, EnciphersEveryBlockOnItsOwn)
{
    // ECB: equal blocks give equal cipher blocks, nothing chains.
    const Bytes key(kKey, kKey + 8);
    Bytes data = hex_bytes("0123456789ABCDEF 0123456789ABCDEF 0000000000000000");
    std::uint32_t length = 24;
    ASSERT_TRUE(des_encrypt_padded_b(kKey, data.data(), data.data(), length));
    EXPECT_EQ(length, 24u);
    Bytes expected = hex_bytes("85E813540F0AB405 85E813540F0AB405");
    const Bytes zeros = encipher_block(key, Bytes(8, 0));
    expected.insert(expected.end(), zeros.begin(), zeros.end());
    EXPECT_EQ(data, expected);
}

TEST(FrameCipher, PadsWith0x80ThenZerosOnlyWhenNeeded)
{
    const Bytes key(kKey, kKey + 8);
    const Bytes plain = {0x03, 0x11, 0x22, 0x33, 0x44};
    Bytes out(8, 0xEE);
    std::uint32_t length = 5;
    ASSERT_TRUE(des_encrypt_padded_b(kKey, plain.data(), out.data(), length));
    EXPECT_EQ(length, 8u);
    EXPECT_EQ(out, encipher_block(key, {0x03, 0x11, 0x22, 0x33, 0x44, 0x80, 0x00, 0x00}));
    EXPECT_EQ(plain, (Bytes{0x03, 0x11, 0x22, 0x33, 0x44})) << "input must stay untouched";

    // Sixteen bytes are two whole blocks: nothing is added.
    Bytes sixteen(16);
    for (std::size_t i = 0; i < sixteen.size(); ++i)
        sixteen[i] = static_cast<std::uint8_t>(i + 1);
    Bytes cipher(24, 0xEE);
    length = 16;
    ASSERT_TRUE(des_encrypt_padded_b(kKey, sixteen.data(), cipher.data(), length));
    EXPECT_EQ(length, 16u);
    EXPECT_EQ(cipher[16], 0xEE) << "nothing may be written past the 16 bytes";

    // One byte short of a block gets exactly the 0x80.
    const Bytes seven = {1, 2, 3, 4, 5, 6, 7};
    Bytes seven_out(8);
    length = 7;
    ASSERT_TRUE(des_encrypt_padded_b(kKey, seven.data(), seven_out.data(), length));
    EXPECT_EQ(seven_out, encipher_block(key, {1, 2, 3, 4, 5, 6, 7, 0x80}));
}

TEST(FrameCipher, DecipherStripsTrailingZeroAnd0x80Bytes)
{
    // A device message [3, 0] padded to a block comes out as the single byte 3: the
    // plaintext's own trailing zero goes with the padding.
    Bytes buf = {3, 0};
    buf.resize(8);
    std::uint32_t length = 2;
    ASSERT_TRUE(des_encrypt_padded_b(kKey, buf.data(), buf.data(), length));
    ASSERT_EQ(length, 8u);
    ASSERT_TRUE(des_decrypt_unpadded(kKey, buf.data(), buf.data(), length));
    EXPECT_EQ(length, 1u);
    EXPECT_EQ(buf[0], 3);

    // At most eight bytes are stripped, even when more trailing bytes qualify.
    Bytes plain = {7, 1, 2, 3, 4, 5, 6, 0x80, 0, 0, 0, 0x80, 0, 0, 0, 0};
    Bytes cipher(16);
    length = 16;
    ASSERT_TRUE(des_encrypt_padded_b(kKey, plain.data(), cipher.data(), length));
    Bytes back(16);
    ASSERT_TRUE(des_decrypt_unpadded_b(kKey, cipher.data(), back.data(), length));
    EXPECT_EQ(length, 8u);
    EXPECT_EQ(back, plain);

    // A whole block of 0x00/0x80 is stripped to nothing but no further.
    Bytes padding_only(8, 0x00);
    length = 8;
    ASSERT_TRUE(des_encrypt_padded_b(kKey, padding_only.data(), padding_only.data(), length));
    ASSERT_TRUE(des_decrypt_unpadded(kKey, padding_only.data(), padding_only.data(), length));
    EXPECT_EQ(length, 0u);
}

TEST(FrameCipher, RefusesLengthsThatAreNotWholeBlocks)
{
    Bytes buf(16, 0x5A);
    const Bytes before = buf;
    std::uint32_t length = 12;
    EXPECT_FALSE(des_decrypt_unpadded(kKey, buf.data(), buf.data(), length));
    EXPECT_EQ(length, 12u);
    EXPECT_FALSE(des_decrypt_unpadded_b(kKey, buf.data(), buf.data(), length));
    EXPECT_EQ(length, 12u);
    EXPECT_EQ(buf, before);

    length = 0;
    EXPECT_TRUE(des_decrypt_unpadded(kKey, buf.data(), buf.data(), length));
    EXPECT_EQ(length, 0u);
}

TEST(FrameCipher, BothRoutineSetsDecipherAlike)
{
    Bytes plain(40);
    for (std::size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<std::uint8_t>(i * 37 + 1);
    Bytes cipher(40);
    std::uint32_t length = 37;
    ASSERT_TRUE(des_encrypt_padded_b(kKey, plain.data(), cipher.data(), length));
    ASSERT_EQ(length, 40u);
    Bytes a(40), b(40);
    std::uint32_t la = length, lb = length;
    ASSERT_TRUE(des_decrypt_unpadded(kKey, cipher.data(), a.data(), la));
    ASSERT_TRUE(des_decrypt_unpadded_b(kKey, cipher.data(), b.data(), lb));
    EXPECT_EQ(la, 37u);
    EXPECT_EQ(a, b);
    EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + 37, a.begin()));
}

// Each call keeps its own key schedule: threads using different keys at once must not
// disturb one another.
TEST(FrameCipher, ConcurrentCallsWithDifferentKeysStayCorrect)
{
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    std::array<Bytes, kThreads> keys;
    std::array<Bytes, kThreads> expected;
    const Bytes plain = {3, 1, 2, 4, 5, 6, 7, 8, 9};
    for (int t = 0; t < kThreads; ++t) {
        keys[t] = Bytes(8, static_cast<std::uint8_t>(0x11 * (t + 1)));
        expected[t] = plain;
        expected[t].resize(16);
        std::uint32_t length = 9;
        des_encrypt_padded_b(keys[t].data(), plain.data(), expected[t].data(), length);
    }
    std::array<int, kThreads> mismatches{};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                Bytes out(16);
                std::uint32_t length = 9;
                des_encrypt_padded_b(keys[t].data(), plain.data(), out.data(), length);
                const bool sameCipher = out == expected[t];
                std::uint32_t back = length;
                des_decrypt_unpadded(keys[t].data(), out.data(), out.data(), back);
                if (!sameCipher || length != 16 || back != 9 || out[8] != 9)
                    ++mismatches[t];
            }
        });
    }
    for (auto &th : threads)
        th.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}
