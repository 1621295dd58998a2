#include "encrypt/des_block.h"

#include "encrypt/des_tables.h"

#include <array>
#include <cstddef>

namespace {

// A bit permutation done as one table look-up per input byte: entry [c][v] holds the output
// bits that byte c of the input contributes when it has the value v. Widths are in bits and
// values are right-aligned in a 64-bit word, bit 1 of the standard being the most significant.
template <std::size_t InBits, std::size_t OutBits>
struct perm_table {
    std::array<std::array<std::uint64_t, 256>, InBits / 8> bits{};
};

template <std::size_t InBits, std::size_t OutBits, std::size_t N>
constexpr perm_table<InBits, OutBits> make_perm_table(const std::array<std::uint8_t, N> &map)
{
    static_assert(N == OutBits && InBits % 8 == 0);
    perm_table<InBits, OutBits> table{};
    for (std::size_t j = 0; j < OutBits; ++j) {
        const std::size_t from = map[j] - 1u;
        const std::size_t chunk = from / 8;
        const unsigned bitInByte = 7u - static_cast<unsigned>(from % 8);
        for (unsigned v = 0; v < 256; ++v) {
            if ((v >> bitInByte) & 1u)
                table.bits[chunk][v] |= std::uint64_t{1} << (OutBits - 1 - j);
        }
    }
    return table;
}

template <std::size_t InBits, std::size_t OutBits>
constexpr std::uint64_t permute(const perm_table<InBits, OutBits> &table, std::uint64_t x)
{
    std::uint64_t out = 0;
    for (std::size_t c = 0; c < InBits / 8; ++c)
        out |= table.bits[c][(x >> (InBits - 8 - 8 * c)) & 0xffu];
    return out;
}

constexpr std::array<std::uint8_t, 64> inverse_of(const std::array<std::uint8_t, 64> &map)
{
    std::array<std::uint8_t, 64> inverse{};
    for (std::size_t j = 0; j < 64; ++j)
        inverse[map[j] - 1u] = static_cast<std::uint8_t>(j + 1);
    return inverse;
}

constexpr auto kIpTable = make_perm_table<64, 64>(des_tables::kInitialPermutation);
constexpr auto kFpTable = make_perm_table<64, 64>(inverse_of(des_tables::kInitialPermutation));
constexpr auto kPc1Table = make_perm_table<64, 56>(des_tables::kPermutedChoice1);
constexpr auto kPc2Table = make_perm_table<56, 48>(des_tables::kPermutedChoice2);

// S-box i followed by the round permutation P, for every 6-bit input: the round function is
// then eight look-ups and XORs.
using sp_table = std::array<std::array<std::uint32_t, 64>, 8>;

constexpr sp_table make_sp_table()
{
    const auto p = make_perm_table<32, 32>(des_tables::kRoundPermutation);
    sp_table table{};
    for (unsigned box = 0; box < 8; ++box) {
        for (unsigned v = 0; v < 64; ++v) {
            const unsigned row = ((v >> 4) & 2u) | (v & 1u);
            const unsigned col = (v >> 1) & 0xfu;
            const std::uint64_t s = des_tables::kSBoxes[box][row * 16 + col];
            table[box][v] = static_cast<std::uint32_t>(permute(p, s << (28 - 4 * box)));
        }
    }
    return table;
}

constexpr sp_table kSpTable = make_sp_table();

constexpr std::uint32_t rotl32(std::uint32_t x, unsigned n)
{
    return n == 0 ? x : (x << n) | (x >> (32 - n));
}

// The round function: expansion E picks, for S-box i, the six bits 4i..4i+5 of R (standard
// numbering, wrapping around), which is a rotation of R.
inline std::uint32_t feistel(std::uint32_t r, std::uint64_t subkey)
{
    std::uint32_t out = 0;
    for (unsigned box = 0; box < 8; ++box) {
        const unsigned chunk = (rotl32(r, (4 * box + 31) % 32) >> 26) & 0x3fu;
        const unsigned key = static_cast<unsigned>(subkey >> (42 - 6 * box)) & 0x3fu;
        out ^= kSpTable[box][chunk ^ key];
    }
    return out;
}

std::uint64_t load_be64(const std::uint8_t *p)
{
    std::uint64_t x = 0;
    for (int i = 0; i < 8; ++i)
        x = (x << 8) | p[i];
    return x;
}

void store_be64(std::uint8_t *p, std::uint64_t x)
{
    for (int i = 7; i >= 0; --i) {
        p[i] = static_cast<std::uint8_t>(x);
        x >>= 8;
    }
}

} // namespace

des_schedule des_make_schedule(const std::uint8_t key[8])
{
    constexpr std::uint32_t kMask28 = 0x0fffffffu;
    const std::uint64_t cd = permute(kPc1Table, load_be64(key));
    std::uint32_t c = static_cast<std::uint32_t>(cd >> 28) & kMask28;
    std::uint32_t d = static_cast<std::uint32_t>(cd) & kMask28;
    des_schedule schedule{};
    for (std::size_t round = 0; round < 16; ++round) {
        const unsigned n = des_tables::kKeyRotations[round];
        c = ((c << n) | (c >> (28 - n))) & kMask28;
        d = ((d << n) | (d >> (28 - n))) & kMask28;
        schedule.subkey[round] = permute(kPc2Table, (std::uint64_t{c} << 28) | d);
    }
    return schedule;
}

void des_crypt_block(const des_schedule &schedule, const std::uint8_t in[8], std::uint8_t out[8],
                     bool decipher)
{
    const std::uint64_t x = permute(kIpTable, load_be64(in));
    std::uint32_t l = static_cast<std::uint32_t>(x >> 32);
    std::uint32_t r = static_cast<std::uint32_t>(x);
    for (int round = 0; round < 16; ++round) {
        const std::uint64_t k = schedule.subkey[decipher ? 15 - round : round];
        const std::uint32_t next = l ^ feistel(r, k);
        l = r;
        r = next;
    }
    // The halves are not swapped after the last round: R16 L16 goes into the final permutation.
    store_be64(out, permute(kFpTable, (std::uint64_t{r} << 32) | l));
}
