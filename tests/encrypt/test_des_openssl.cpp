// Cross-checks our DES against OpenSSL's over random keys, blocks and message lengths.

#include "encrypt/frame_cipher.h"

#include <openssl/des.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct OpenSslDes {
    explicit OpenSslDes(const std::uint8_t key[8])
    {
        DES_cblock k;
        std::memcpy(k, key, 8);
        DES_set_key_unchecked(&k, &schedule);
    }
    void block(const std::uint8_t *in, std::uint8_t *out, bool encipher)
    {
        DES_cblock i, o;
        std::memcpy(i, in, 8);
        DES_ecb_encrypt(&i, &o, &schedule, encipher ? DES_ENCRYPT : DES_DECRYPT);
        std::memcpy(out, o, 8);
    }
    DES_key_schedule schedule;
};

Bytes random_bytes(std::mt19937 &rng, std::size_t n)
{
    Bytes b(n);
    for (auto &x : b)
        x = static_cast<std::uint8_t>(rng());
    return b;
}

} // namespace

TEST(DesAgainstOpenSsl, SingleBlocksAgreeBothWays)
{
    std::mt19937 rng(20261206);
    for (int i = 0; i < 4000; ++i) {
        const Bytes key = random_bytes(rng, 8);
        const Bytes plain = random_bytes(rng, 8);
        OpenSslDes ref(key.data());
        Bytes mine(8), theirs(8);
        des_encrypt_block(key.data(), plain.data(), mine.data());
        ref.block(plain.data(), theirs.data(), true);
        ASSERT_EQ(mine, theirs) << "encipher, case " << i;
        des_decrypt_block(key.data(), plain.data(), mine.data());
        ref.block(plain.data(), theirs.data(), false);
        ASSERT_EQ(mine, theirs) << "decipher, case " << i;
    }
}

TEST(DesAgainstOpenSsl, FramesOfRandomLengthAgree)
{
    std::mt19937 rng(77);
    for (int i = 0; i < 3000; ++i) {
        const Bytes key = random_bytes(rng, 8);
        const std::uint32_t n = rng() % 70;
        const Bytes plain = random_bytes(rng, n);
        OpenSslDes ref(key.data());

        Bytes padded = plain;
        if (n % 8 != 0) {
            padded.push_back(0x80);
            padded.resize((n / 8 + 1) * 8, 0x00);
        }
        Bytes theirs(padded.size());
        for (std::size_t off = 0; off < padded.size(); off += 8)
            ref.block(padded.data() + off, theirs.data() + off, true);

        Bytes mine(n + 8);
        std::uint32_t length = n;
        ASSERT_TRUE(des_encrypt_padded_b(key.data(), plain.data(), mine.data(), length));
        ASSERT_EQ(length, padded.size()) << "case " << i;
        mine.resize(length);
        ASSERT_EQ(mine, theirs) << "case " << i << ", length " << n;

        // Deciphering strips the padding and any trailing 0x00/0x80 of the plaintext, up
        // to eight bytes in all.
        std::uint32_t expectedLength = length;
        while (length - expectedLength < 8 && expectedLength > 0 &&
               (padded[expectedLength - 1] == 0x00 || padded[expectedLength - 1] == 0x80))
            --expectedLength;
        Bytes back(length);
        ASSERT_TRUE(des_decrypt_unpadded(key.data(), mine.data(), back.data(), length));
        ASSERT_EQ(length, expectedLength) << "case " << i;
        ASSERT_TRUE(std::equal(back.begin(), back.begin() + length, padded.begin()));
    }
}
