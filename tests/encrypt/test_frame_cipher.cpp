#include "encrypt/frame_cipher.h"

#include "des_kat_vectors.h"
#include "hex_bytes.h"

#include <openssl/des.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using Bytes = std::vector<std::uint8_t>;

// Every published answer both ways; each also with the parity bits of the key flipped and
// enciphered in place.
TEST(DesBlock, KnownAnswers)
{
    struct answer { Bytes key, plain, cipher; };
    std::vector<answer> answers{{hex_bytes("133457799BBCDFF1"), hex_bytes("0123456789ABCDEF"),
                                 hex_bytes("85E813540F0AB405")}}; // the FIPS worked example
    const Bytes plainCiphers = hex_bytes(kVariablePlaintext), keyCiphers = hex_bytes(kVariableKey),
                sBoxes = hex_bytes(kSubstitutionTable);
    const auto block = [](const Bytes &all, std::size_t i) {
        return Bytes(all.data() + 8 * i, all.data() + 8 * i + 8);
    };
    for (std::size_t bit = 0, keyBit = 0; bit < 64; ++bit) {
        Bytes single(8, 1), plain(8);
        plain[bit / 8] = single[bit / 8] = static_cast<std::uint8_t>(0x80 >> (bit % 8));
        answers.push_back({Bytes(8, 1), plain, block(plainCiphers, bit)});
        if (bit % 8 != 7)
            answers.push_back({single, Bytes(8), block(keyCiphers, keyBit++)});
    }
    for (std::size_t i = 0; i < sBoxes.size() / 8; i += 3)
        answers.push_back({block(sBoxes, i), block(sBoxes, i + 1), block(sBoxes, i + 2)});
    ASSERT_EQ(answers.size(), 1u + 64 + 56 + 19);
    for (const auto &[key, plain, cipher] : answers) {
        SCOPED_TRACE(::testing::PrintToString(key) + " " + ::testing::PrintToString(plain));
        Bytes out(8), parity = key, inPlace = plain;
        des_encrypt_block(key.data(), plain.data(), out.data());
        EXPECT_EQ(out, cipher);
        des_decrypt_block(key.data(), cipher.data(), out.data());
        EXPECT_EQ(out, plain);
        for (auto &b : parity)
            b ^= 0x01;
        des_encrypt_block(parity.data(), inPlace.data(), inPlace.data());
        EXPECT_EQ(inPlace, cipher);
    }
}

// Against OpenSSL's DES over random keys and messages of random length, rich in 0x00 and
// 0x80 bytes: enciphering pads with 0x80 then zeros only when the length is not whole blocks,
// enciphers each block on its own and writes nothing past the padded length nor into the
// input; deciphering (both routine sets, in place) strips every trailing 0x00/0x80 of the
// last eight bytes, the plaintext's own included.
TEST(FrameCipher, AgreesWithOpenSslAndStripsTheTrailingPadding)
{
    std::mt19937 rng(20261206);
    const auto random = [&rng](std::size_t n) {
        Bytes b(n);
        for (auto &x : b)
            x = std::uint8_t(rng() % 3 == 0 ? rng() : rng() % 2 * 0x80);
        return b;
    };
    for (int i = 0; i < 4000; ++i) {
        SCOPED_TRACE(i);
        const Bytes key = random(8), plain = random(rng() % 70);
        Bytes padded = plain, theirs(plain.size() / 8 * 8 + 8), mine(theirs.size() + 8, 0xEE);
        if (padded.size() % 8 != 0)
            padded.push_back(0x80);
        padded.resize((padded.size() + 7) / 8 * 8);
        DES_cblock k;
        std::memcpy(k, key.data(), 8);
        DES_key_schedule schedule;
        DES_set_key_unchecked(&k, &schedule);
        for (std::size_t at = 0; at < padded.size(); at += 8)
            DES_ecb_encrypt(reinterpret_cast<DES_cblock *>(&padded[at]), reinterpret_cast<DES_cblock *>(&theirs[at]),
                            &schedule, DES_ENCRYPT);
        std::uint32_t length = std::uint32_t(plain.size());
        const Bytes input = plain;
        ASSERT_TRUE(des_encrypt_padded_b(key.data(), input.data(), mine.data(), length));
        ASSERT_EQ(length, padded.size());
        EXPECT_EQ(input, plain);
        EXPECT_EQ(mine[length], 0xEE);
        mine.resize(length);
        theirs.resize(length);
        ASSERT_EQ(mine, theirs);
        std::uint32_t stripped = length;
        while (length - stripped < 8 && stripped > 0 && (padded[stripped - 1] & 0x7F) == 0)
            --stripped;
        for (auto *decipher : {des_decrypt_unpadded, des_decrypt_unpadded_b}) {
            Bytes back = mine;
            std::uint32_t backLength = length;
            ASSERT_TRUE(decipher(key.data(), back.data(), back.data(), backLength));
            EXPECT_EQ(backLength, stripped);
            EXPECT_EQ(back, padded);
        }
    }
}

TEST(FrameCipher, RefusesLengthsItCannotHandleAndChangesNothing)
{
    const std::uint8_t key[8] = {};
    Bytes buf(16, 0x5A);
    for (auto *decipher : {des_decrypt_unpadded, des_decrypt_unpadded_b}) {
        std::uint32_t length = 12;
        EXPECT_FALSE(decipher(key, buf.data(), buf.data(), length));
        EXPECT_EQ(length, 12u);
    }
    std::uint32_t length = 0xFFFFFFF9u; // padded, it would not fit in 32 bits
    EXPECT_FALSE(des_encrypt_padded_b(key, buf.data(), buf.data(), length));
    EXPECT_EQ(buf, Bytes(16, 0x5A));
}
