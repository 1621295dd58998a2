#pragma once

#include <cstdint>
#include <string>
#include <vector>

// "0123ABCD" -> {0x01, 0x23, 0xAB, 0xCD}; blanks are skipped.
inline std::vector<std::uint8_t> hex_bytes(const std::string &text)
{
    std::vector<std::uint8_t> out;
    int high = -1;
    for (char ch : text) {
        int v;
        if (ch >= '0' && ch <= '9')
            v = ch - '0';
        else if (ch >= 'a' && ch <= 'f')
            v = ch - 'a' + 10;
        else if (ch >= 'A' && ch <= 'F')
            v = ch - 'A' + 10;
        else
            continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    return out;
}
