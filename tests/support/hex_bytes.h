#pragma once

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

// "0123ABCD" -> {0x01, 0x23, 0xAB, 0xCD}; anything but hex digits is skipped.
inline std::vector<std::uint8_t> hex_bytes(const std::string &text)
{
    std::vector<std::uint8_t> out;
    std::string pair;
    for (const char ch : text)
        if (std::isxdigit(static_cast<unsigned char>(ch)) && (pair += ch).size() == 2)
            out.push_back(static_cast<std::uint8_t>(std::stoi(pair, nullptr, 16))), pair.clear();
    return out;
}
