#pragma once

#include <cstdint>

// Single DES (FIPS 46) on one 64-bit block. The frame cipher routines are built on this; it is
// exposed for them and for tests.

// The sixteen 48-bit round keys of one key, held in the low bits of each word. A schedule is a
// value: build one per message (or per thread) and it is never shared mutable state.
struct des_schedule {
    std::uint64_t subkey[16];
};

// Builds the schedule of an 8-byte key (PC-1, the left rotations, PC-2). Parity bits are ignored.
des_schedule des_make_schedule(const std::uint8_t key[8]);

// Enciphers or deciphers one block; byte 0 is the most significant byte of the left half.
// `in` and `out` may be the same bytes.
void des_crypt_block(const des_schedule &schedule, const std::uint8_t in[8], std::uint8_t out[8],
                     bool decipher);
