#pragma once

#include <cstdint>

// Frame cipher: single DES (FIPS 46) in ECB mode over 8-byte blocks under an 8-byte key
// (parity bits ignored). Each call builds its own key schedule, so any thread may call any
// routine at any time.
//
// Two routine sets exist for the two sides of the viewer; they run the same algorithm.
//   Set A (receive side): deciphering only.
//   Set B (keyboard/mouse sending side): enciphering, and deciphering a copy of a sent frame.

// Deciphers `length` bytes from `in` into `out` (may be the same buffer). False, with
// nothing changed, when length is not a multiple of 8. Afterwards `length` drops by the
// trailing 0x00/0x80 bytes counted from the end (at most 8): the padding, and any such bytes
// the plaintext itself ended with.
bool des_decrypt_unpadded(const std::uint8_t key[8], const std::uint8_t *in, std::uint8_t *out,
                          std::uint32_t &length);
bool des_decrypt_unpadded_b(const std::uint8_t key[8], const std::uint8_t *in,
                            std::uint8_t *out, std::uint32_t &length);

// Pads `in` to a multiple of 8 (0x80 then zeros; nothing when already a multiple), enciphers
// it into `out` (may be `in`; needs room for length rounded up to 8) and sets `length` to
// the padded length. False, with nothing written, only when the padded length would not fit
// in 32 bits.
bool des_encrypt_padded_b(const std::uint8_t key[8], const std::uint8_t *in, std::uint8_t *out,
                          std::uint32_t &length);

// One block, for tests against published vectors.
void des_encrypt_block(const std::uint8_t key[8], const std::uint8_t in[8], std::uint8_t out[8]);
void des_decrypt_block(const std::uint8_t key[8], const std::uint8_t in[8], std::uint8_t out[8]);
