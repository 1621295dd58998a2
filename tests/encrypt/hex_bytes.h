#pragma once

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

// "0123ABCD" -> {0x01, 0x23, 0xAB, 0xCD}; anything but hex digits is skipped.
inline std::vector<std::uint8_t> hex_bytes(const std::string &text)
{
    std::string digits;
    for (const char ch : text)
        if (std::isxdigit(static_cast<unsigned char>(ch)))
            digits += ch;
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}
