#include "encrypt/frame_cipher.h"

#include "encrypt/des_block.h"

#include <cstring>
#include <limits>

namespace {

constexpr std::uint32_t kBlock = 8;

bool decipher_and_strip(const std::uint8_t key[8], const std::uint8_t *in, std::uint8_t *out,
                        std::uint32_t &length)
{
    if (length % kBlock != 0)
        return false;
    const des_schedule schedule = des_make_schedule(key);
    for (std::uint32_t off = 0; off < length; off += kBlock)
        des_crypt_block(schedule, in + off, out + off, true);
    // The padding carries no length: every trailing 0x00 or 0x80 within the last eight bytes
    // counts as padding, including such bytes the sender's plaintext ended with.
    std::uint32_t strip = 0;
    while (strip < kBlock && strip < length) {
        const std::uint8_t b = out[length - 1 - strip];
        if (b != 0x00 && b != 0x80)
            break;
        ++strip;
    }
    length -= strip;
    return true;
}

} // namespace

bool des_decrypt_unpadded(const std::uint8_t key[8], const std::uint8_t *in, std::uint8_t *out,
                          std::uint32_t &length)
{
    return decipher_and_strip(key, in, out, length);
}

bool des_decrypt_unpadded_b(const std::uint8_t key[8], const std::uint8_t *in,
                            std::uint8_t *out, std::uint32_t &length)
{
    return decipher_and_strip(key, in, out, length);
}

bool des_encrypt_padded_b(const std::uint8_t key[8], const std::uint8_t *in, std::uint8_t *out,
                          std::uint32_t &length)
{
    if (length > std::numeric_limits<std::uint32_t>::max() - (kBlock - 1))
        return false;
    const des_schedule schedule = des_make_schedule(key);
    const std::uint32_t whole = length - length % kBlock;
    for (std::uint32_t off = 0; off < whole; off += kBlock)
        des_crypt_block(schedule, in + off, out + off, false);
    const std::uint32_t rest = length - whole;
    if (rest != 0) {
        // The last block is padded in a scratch block so that `in` is never written.
        std::uint8_t last[kBlock] = {};
        std::memcpy(last, in + whole, rest);
        last[rest] = 0x80;
        des_crypt_block(schedule, last, out + whole, false);
        length = whole + kBlock;
    }
    return true;
}

void des_encrypt_block(const std::uint8_t key[8], const std::uint8_t in[8], std::uint8_t out[8])
{
    des_crypt_block(des_make_schedule(key), in, out, false);
}

void des_decrypt_block(const std::uint8_t key[8], const std::uint8_t in[8], std::uint8_t out[8])
{
    des_crypt_block(des_make_schedule(key), in, out, true);
}
