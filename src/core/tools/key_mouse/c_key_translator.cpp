#include "tools/key_mouse/c_key_translator.h"

#include "logging/log.h"
#include "tools/key_mouse/scan_codes.h"

#include <array>
#include <cstring>

namespace {

constexpr std::uint32_t kKeyControl = 0x01000021;
constexpr std::uint32_t kKeyShift = 0x01000020;
constexpr std::uint32_t kKeyAlt = 0x01000023;
constexpr std::uint32_t kKeyMeta = 0x01000022;

// Usage IDs for key values 0..223: US-layout keys for printable characters (shifted ones map
// to their unshifted key); a few low and high values follow Windows virtual-key codes.
constexpr std::array<std::uint8_t, 224> make_general_table()
{
    std::array<std::uint8_t, 224> t{};
    t[0x08] = 42; t[0x09] = 43; t[0x0D] = 40; t[0x1B] = 41;
    t[0x10] = 2; t[0x11] = 224; t[0x12] = 226; t[0x13] = 72; t[0x14] = 57;
    t[0x20] = 44;
    const std::uint8_t punct[] = {30, 52, 32, 33, 34, 36, 52, 38, 39, 85, 87, 54, 45, 55, 56};
    for (int i = 0; i < 15; ++i)
        t[0x21 + i] = punct[i];
    t[0x30] = 39;
    for (int i = 1; i <= 9; ++i)
        t[0x30 + i] = static_cast<std::uint8_t>(29 + i);
    const std::uint8_t symbols[] = {51, 51, 54, 46, 55, 56, 31};
    for (int i = 0; i < 7; ++i)
        t[0x3A + i] = symbols[i];
    for (int i = 0; i < 26; ++i)
        t[0x41 + i] = static_cast<std::uint8_t>(4 + i);
    const std::uint8_t brackets[] = {47, 231, 48, 35, 45, 53};
    for (int i = 0; i < 6; ++i)
        t[0x5B + i] = brackets[i];
    for (int i = 0; i < 9; ++i)
        t[0x61 + i] = static_cast<std::uint8_t>(89 + i);
    t[0x6A] = 85; t[0x6B] = 87; t[0x6D] = 86; t[0x6E] = 99; t[0x6F] = 84;
    for (int i = 0; i <= 10; ++i)
        t[0x70 + i] = static_cast<std::uint8_t>(58 + i);
    t[0x7B] = 47; t[0x7C] = 49; t[0x7D] = 48; t[0x7E] = 53; t[0x7F] = 76;
    t[0x90] = 83; t[0x91] = 71;
    const std::uint8_t oem[] = {51, 46, 54, 45, 55, 56, 53};
    for (int i = 0; i < 7; ++i)
        t[0xBA + i] = oem[i];
    t[0xDB] = 47; t[0xDC] = 49; t[0xDD] = 48; t[0xDE] = 52;
    return t;
}

constexpr std::array<std::uint8_t, 224> kGeneralTable = make_general_table();

} // namespace

c_key_translator::c_key_translator()
{
    for (std::uint32_t i = 0; i < 12; ++i)
        m_specialKeys[0x01000030 + i] = static_cast<std::uint8_t>(58 + i); // F1..F12
    m_specialKeys.insert({
        {0x01000024, 57},                                                   // CapsLock
        {kKeyControl, 1}, {kKeyShift, 2}, {kKeyAlt, 4}, {kKeyMeta, 8},      // modifier bits
        {0x01000006, 73}, {0x01000007, 76},                                 // Insert, Delete
        {0x01000010, 74}, {0x01000011, 77},                                 // Home, End
        {0x01000016, 75}, {0x01000017, 78},                                 // PageUp, PageDown
        {0x01000012, 80}, {0x01000014, 79}, {0x01000013, 82}, {0x01000015, 81}, // arrows
        {0x01000025, 83}, {0x01000026, 71},                                 // NumLock, ScrollLock
        {92, 49},                                                           // Backslash
        {0x01000000, 41}, {0x01000003, 42},                                 // Escape, Backspace
        {0x01000004, 88}, {0x01000005, 88},                                 // Return, Enter
        {0x01000055, 101}, {0x01000001, 43},                                // Menu, Tab
        {kPrintScreenKey, 70},
    });
}

bool c_key_translator::is_modifier(std::uint32_t qtKey)
{
    return qtKey == kKeyControl || qtKey == kKeyShift || qtKey == kKeyAlt || qtKey == kKeyMeta;
}

std::uint8_t c_key_translator::usage_of(std::uint32_t qtKey) const
{
    const auto special = m_specialKeys.find(qtKey);
    if (special != m_specialKeys.end())
        return special->second;
    if (qtKey < kGeneralTable.size())
        return kGeneralTable[qtKey];
    TLOG_ERROR << "pSpecialKey==specialKeys.end() " << qtKey;
    return 0;
}

bool c_key_translator::translate_key(std::uint32_t qtKey, bool pressed, std::uint8_t *out,
                                     int &outLength)
{
    const std::uint8_t usage = usage_of(qtKey);
    if (usage == 0)
        return false;
    apply(usage, is_modifier(qtKey), pressed, out, outLength);
    return true;
}

bool c_key_translator::translate_usage(std::uint8_t usage, bool pressed, std::uint8_t *out,
                                       int &outLength)
{
    if (usage == 0)
        return false;
    if (is_modifier_usage(usage))
        apply(modifier_bit(usage), true, pressed, out, outLength);
    else
        apply(usage, false, pressed, out, outLength);
    return true;
}

// `value` is a modifier bit when `modifier` is set, a usage otherwise.
void c_key_translator::apply(std::uint8_t value, bool modifier, bool pressed, std::uint8_t *out,
                             int &outLength)
{
    if (modifier) {
        if (pressed)
            m_report[0] |= value;
        else
            m_report[0] &= static_cast<std::uint8_t>(~value);
    } else if (pressed) {
        // First free slot, unless the key is already held (auto-repeat); a seventh key is
        // dropped and the unchanged report still goes out.
        for (int i = 2; i < kReportSize; ++i) {
            if (m_report[i] == value)
                break;
            if (m_report[i] == 0) {
                m_report[i] = value;
                break;
            }
        }
    } else {
        // Close the gap so the remaining keys keep their order of pressing.
        for (int i = 2; i < kReportSize && m_report[i] != 0; ++i) {
            if (m_report[i] != value)
                continue;
            std::memmove(m_report + i, m_report + i + 1, static_cast<std::size_t>(kReportSize - 1 - i));
            m_report[kReportSize - 1] = 0;
            break;
        }
    }
    std::memcpy(out, m_report, kReportSize);
    outLength = kReportSize;
}

bool c_key_translator::drop_modifiers(std::uint8_t mask)
{
    const bool held = (m_report[0] & mask) != 0;
    m_report[0] &= static_cast<std::uint8_t>(~mask);
    return held;
}

void c_key_translator::build_combo_report(const std::vector<std::uint32_t> &keys,
                                          std::uint8_t out[8]) const
{
    std::memset(out, 0, kReportSize);
    for (const std::uint32_t key : keys) {
        const std::uint8_t usage = usage_of(key);
        if (is_modifier(key))
            out[0] |= usage;
        else
            out[2] = usage;
    }
}

void c_key_translator::build_mouse_report(int button, int kind, int dx, int dy, int wheel,
                                          std::uint8_t *out, int &outLength)
{
    const auto bit = static_cast<std::uint8_t>(button & 0x07);
    if (kind == kPress)
        m_mouseButtons |= bit;
    else if (kind == kRelease)
        m_mouseButtons &= static_cast<std::uint8_t>(~bit);
    m_mouseButtons &= 0x07;
    out[0] = m_mouseButtons;
    out[1] = static_cast<std::uint8_t>(static_cast<std::int8_t>(dx));
    out[2] = static_cast<std::uint8_t>(static_cast<std::int8_t>(dy));
    out[3] = static_cast<std::uint8_t>(static_cast<std::int8_t>(wheel));
    outLength = kMouseReportSize;
}

void c_key_translator::release_all()
{
    std::memset(m_report, 0, sizeof m_report);
}
