// The frame cipher: deciphering what the device sends (any length, any key), and
// enciphering then deciphering our own frames.
#include "fuzz_support.h"

#include "encrypt/frame_cipher.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

bool is_pad(std::uint8_t b)
{
    return b == 0x00 || b == 0x80;
}

// Deciphering a device payload: both routine sets agree, a length that is not a whole
// number of blocks changes nothing, and at most 8 trailing bytes are stripped, all of them
// padding bytes of the plaintext.
void check_decipher(const std::uint8_t key[8], const std::uint8_t *in, std::uint32_t size)
{
    // Exact-size heap copies, so a read or write past the length is seen.
    const auto input = std::make_unique<std::uint8_t[]>(size + 1);
    std::memcpy(input.get(), in, size);
    const auto outA = std::make_unique<std::uint8_t[]>(size + 1);
    const auto outB = std::make_unique<std::uint8_t[]>(size + 1);
    std::uint32_t lengthA = size;
    std::uint32_t lengthB = size;
    const bool okA = des_decrypt_unpadded(key, input.get(), outA.get(), lengthA);
    const bool okB = des_decrypt_unpadded_b(key, input.get(), outB.get(), lengthB);
    FUZZ_CHECK(okA == okB);
    FUZZ_CHECK(okA == (size % 8 == 0));
    if (!okA) {
        FUZZ_CHECK(lengthA == size && lengthB == size);
        return;
    }
    FUZZ_CHECK(lengthA == lengthB);
    FUZZ_CHECK(std::memcmp(outA.get(), outB.get(), size) == 0);
    FUZZ_CHECK(lengthA <= size && size - lengthA <= 8);
    for (std::uint32_t i = lengthA; i < size; ++i)
        FUZZ_CHECK(is_pad(outA[i]));
    if (lengthA > 0 && size - lengthA < 8)
        FUZZ_CHECK(!is_pad(outA[lengthA - 1]));
    for (std::uint32_t block = 0; block + 8 <= size; block += 8) {
        std::uint8_t plain[8];
        des_decrypt_block(key, input.get() + block, plain);
        FUZZ_CHECK(std::memcmp(plain, outA.get() + block, 8) == 0);
    }

    // In place, as the keyboard/mouse receiver does it.
    std::uint32_t inPlace = size;
    FUZZ_CHECK(des_decrypt_unpadded(key, input.get(), input.get(), inPlace));
    FUZZ_CHECK(inPlace == lengthA && std::memcmp(input.get(), outA.get(), size) == 0);
}

// Our own frames: enciphering pads to whole blocks, and deciphering gives the plaintext
// back, less at most 8 trailing padding-like bytes.
void check_round_trip(const std::uint8_t key[8], const std::uint8_t *in, std::uint32_t size)
{
    if (size == 0)
        return;
    const std::uint32_t padded = (size + 7) / 8 * 8;
    std::vector<std::uint8_t> buffer(padded);
    std::memcpy(buffer.data(), in, size);
    std::uint32_t length = size;
    FUZZ_CHECK(des_encrypt_padded_b(key, buffer.data(), buffer.data(), length));
    FUZZ_CHECK(length == padded);
    std::uint32_t back = length;
    FUZZ_CHECK(des_decrypt_unpadded_b(key, buffer.data(), buffer.data(), back));
    FUZZ_CHECK(back <= size);
    FUZZ_CHECK(std::memcmp(buffer.data(), in, back) == 0);
    for (std::uint32_t i = back; i < size; ++i)
        FUZZ_CHECK(is_pad(in[i]));
}

} // namespace

// Input: 8 key bytes, then the payload.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 8 || size > 1 << 16)
        return 0;
    std::uint8_t key[8];
    std::memcpy(key, data, 8);
    const std::uint32_t length = static_cast<std::uint32_t>(size - 8);
    check_decipher(key, data + 8, length);
    check_round_trip(key, data + 8, length);
    return 0;
}
