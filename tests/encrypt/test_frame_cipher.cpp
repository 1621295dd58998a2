#include "encrypt/frame_cipher.h"

#include "des_kat_vectors.h"
#include "hex_bytes.h"

#include <openssl/des.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::uint8_t kKey[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};

Bytes block_of(const std::string &ciphers, std::size_t i)
{
    const Bytes all = hex_bytes(ciphers);
    return Bytes(all.begin() + std::ptrdiff_t(8 * i), all.begin() + std::ptrdiff_t(8 * i + 8));
}

} // namespace

// Every published answer both ways; each also with the parity bits of the key flipped and
// enciphered in place.
TEST(DesBlock, KnownAnswers)
{
    struct answer { Bytes key, plain, cipher; };
    std::vector<answer> answers{{Bytes(kKey, kKey + 8), hex_bytes("0123456789ABCDEF"),
                                 hex_bytes("85E813540F0AB405")}}; // the FIPS worked example
    for (std::size_t bit = 0, keyBit = 0; bit < 64; ++bit) {
        Bytes single(8, 1);
        single[bit / 8] = static_cast<std::uint8_t>(0x80 >> (bit % 8));
        Bytes plain(8);
        plain[bit / 8] = single[bit / 8];
        answers.push_back({Bytes(8, 1), plain, block_of(kVariablePlaintext, bit)});
        if (bit % 8 != 7)
            answers.push_back({single, Bytes(8), block_of(kVariableKey, keyBit++)});
    }
    for (const Kat &k : kSubstitutionTable)
        answers.push_back({hex_bytes(k.key), hex_bytes(k.plain), hex_bytes(k.cipher)});
    ASSERT_EQ(answers.size(), 1u + 64 + 56 + 19);
    for (const answer &a : answers) {
        SCOPED_TRACE(::testing::PrintToString(a.key) + " " + ::testing::PrintToString(a.plain));
        Bytes out(8);
        des_encrypt_block(a.key.data(), a.plain.data(), out.data());
        EXPECT_EQ(out, a.cipher);
        des_decrypt_block(a.key.data(), a.cipher.data(), out.data());
        EXPECT_EQ(out, a.plain);
        Bytes parity = a.key, block = a.plain;
        for (auto &b : parity)
            b ^= 0x01;
        des_encrypt_block(parity.data(), block.data(), block.data());
        EXPECT_EQ(block, a.cipher);
    }
}

// Enciphering pads with 0x80 then zeros only when the length is not whole blocks and
// enciphers each block on its own; deciphering (both routine sets) strips every trailing
// 0x00/0x80 of the last eight bytes, the plaintext's own included.
TEST(FrameCipher, PadsEnciphersBlockByBlockAndStripsOnDeciphering)
{
    const struct { const char *plain; std::uint32_t padded, stripped; } cases[] = {
        {"03 11 22 33 44", 8, 5},
        {"01 02 03 04 05 06 07", 8, 7},
        {"0102030405060708 090A0B0C0D0E0F10", 16, 16},
        {"0123456789ABCDEF 0123456789ABCDEF 0000000000000000", 24, 16},
        {"03 00", 8, 1},
        {"0701020304050680 0000008000000000", 16, 8},
        {"0000000000000000", 8, 0},
        {"", 0, 0},
        {"0102030405060708 090A0B0C0D0E0F10 1112131415161718 1920212223242526 2728292A2B", 40, 37},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.plain);
        const Bytes plain = hex_bytes(c.plain);
        Bytes padded = plain;
        if (padded.size() % 8 != 0)
            padded.push_back(0x80);
        padded.resize((padded.size() + 7) / 8 * 8);
        Bytes expected(padded.size());
        for (std::size_t at = 0; at < padded.size(); at += 8)
            des_encrypt_block(kKey, padded.data() + at, expected.data() + at);

        const Bytes input = plain;
        Bytes out(padded.size() + 8, 0xEE);
        std::uint32_t length = std::uint32_t(plain.size());
        ASSERT_TRUE(des_encrypt_padded_b(kKey, input.data(), out.data(), length));
        ASSERT_EQ(length, c.padded);
        EXPECT_EQ(input, plain) << "the input stays untouched";
        EXPECT_EQ(out[length], 0xEE) << "nothing written past the padded length";
        out.resize(length);
        EXPECT_EQ(out, expected);
        for (auto *decipher : {des_decrypt_unpadded, des_decrypt_unpadded_b}) {
            Bytes back = out;
            std::uint32_t backLength = length;
            ASSERT_TRUE(decipher(kKey, back.data(), back.data(), backLength));
            EXPECT_EQ(backLength, c.stripped);
            EXPECT_EQ(back, padded);
        }
    }
}

TEST(FrameCipher, RefusesLengthsItCannotHandleAndChangesNothing)
{
    Bytes buf(16, 0x5A);
    for (auto *decipher : {des_decrypt_unpadded, des_decrypt_unpadded_b}) {
        std::uint32_t length = 12;
        EXPECT_FALSE(decipher(kKey, buf.data(), buf.data(), length));
        EXPECT_EQ(length, 12u);
    }
    std::uint32_t length = 0xFFFFFFF9u; // padded, it would not fit in 32 bits
    EXPECT_FALSE(des_encrypt_padded_b(kKey, buf.data(), buf.data(), length));
    EXPECT_EQ(buf, Bytes(16, 0x5A));
}

// Our DES against OpenSSL's over random keys, blocks and message lengths.
TEST(DesAgainstOpenSsl, RandomKeysBlocksAndLengthsAgree)
{
    std::mt19937 rng(20261206);
    const auto random = [&rng](std::size_t n) {
        Bytes b(n);
        for (auto &x : b)
            x = static_cast<std::uint8_t>(rng());
        return b;
    };
    const auto openssl = [](const Bytes &key, const std::uint8_t *in, std::uint8_t *out, int how) {
        DES_cblock k, i, o;
        std::memcpy(k, key.data(), 8);
        std::memcpy(i, in, 8);
        DES_key_schedule schedule;
        DES_set_key_unchecked(&k, &schedule);
        DES_ecb_encrypt(&i, &o, &schedule, how);
        std::memcpy(out, o, 8);
    };
    for (int i = 0; i < 4000; ++i) {
        SCOPED_TRACE(i);
        const Bytes key = random(8), block = random(8), plain = random(rng() % 70);
        Bytes mine(8), theirs(8);
        des_decrypt_block(key.data(), block.data(), mine.data());
        openssl(key, block.data(), theirs.data(), DES_DECRYPT);
        ASSERT_EQ(mine, theirs);

        Bytes padded = plain;
        if (padded.size() % 8 != 0)
            padded.push_back(0x80);
        padded.resize((padded.size() + 7) / 8 * 8);
        theirs.resize(padded.size());
        for (std::size_t at = 0; at < padded.size(); at += 8)
            openssl(key, padded.data() + at, theirs.data() + at, DES_ENCRYPT);
        mine.resize(padded.size() + 8);
        std::uint32_t length = std::uint32_t(plain.size());
        ASSERT_TRUE(des_encrypt_padded_b(key.data(), plain.data(), mine.data(), length));
        mine.resize(length);
        ASSERT_EQ(mine, theirs) << "length " << plain.size();
    }
}
