#include "tools/key_mouse/c_key_translator.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <utility>

namespace {

using Report = std::array<std::uint8_t, 8>;

constexpr std::uint32_t kShift = 0x01000020;

Report press(c_key_translator &t, std::uint32_t key, bool down = true)
{
    Report out{};
    int length = 0;
    EXPECT_TRUE(t.translate_key(key, down, out.data(), length)) << "key " << key;
    EXPECT_EQ(length, 8);
    return out;
}

} // namespace

// Keys pressed (upper case) and released (lower case; '+' Shift down, '-' up) in order, and
// the report after the last: modifiers as bits, keys in press order, a repeat or a seventh
// key changes nothing.
TEST(KeyTranslator, TheBootReportAfterEachSequence)
{
    const std::pair<const char *, Report> rows[] = {
        {"+", {0x02, 0, 0, 0, 0, 0, 0, 0}},
        {"+A", {0x02, 0, 0x04, 0, 0, 0, 0, 0}},
        {"+A-", {0x00, 0, 0x04, 0, 0, 0, 0, 0}},
        {"ABCa", {0, 0, 0x05, 0x06, 0, 0, 0, 0}},
        {"QQ", {0, 0, 20, 0, 0, 0, 0, 0}},
        {"ABCDEFG", {0, 0, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09}},
    };
    for (const auto &[keys, expected] : rows) {
        c_key_translator t;
        Report last{};
        for (const char *k = keys; *k != '\0'; ++k) {
            const bool down = *k == '+' || (*k >= 'A' && *k <= 'Z');
            last = press(t, (*k == '+' || *k == '-') ? kShift : std::toupper(*k), down);
        }
        EXPECT_EQ(last, expected) << keys;
    }
}

TEST(KeyTranslator, UsageTable)
{
    const std::pair<std::uint32_t, int> rows[] = {
        {'!', 30}, {'1', 30}, {'0', 39}, {'Z', 29}, {' ', 44}, {'@', 31}, {'~', 53},
        // Return and keypad Enter, F12, the print screen key; Print and a code without a key.
        {0x01000004, 88}, {0x01000005, 88}, {0x0100003B, 69}, {c_key_translator::kPrintScreenKey, 70},
        {0x01000009, 0}, {0x80, 0},
    };
    c_key_translator t;
    for (const auto &[key, usage] : rows)
        EXPECT_EQ(t.usage_of(key), usage) << key;
}

TEST(KeyTranslator, KeysWithoutUsageAndCombosLeaveTheHeldKeysAlone)
{
    c_key_translator t;
    press(t, 'A');
    Report out{};
    out.fill(0xEE);
    int length = -1;
    EXPECT_FALSE(t.translate_key(0x01000009, true, out.data(), length)); // Print
    EXPECT_EQ(out[0], 0xEE);
    EXPECT_EQ(length, -1);

    // Control+Alt+Delete, then a list whose last key wins; the held A stays held.
    t.build_combo_report({0x01000021, 0x01000023, 0x01000007}, out.data());
    EXPECT_EQ(out, (Report{0x05, 0, 0x4C, 0, 0, 0, 0, 0}));
    t.build_combo_report({'A', 'B'}, out.data());
    EXPECT_EQ(out, (Report{0, 0, 0x05, 0, 0, 0, 0, 0}));
    EXPECT_EQ(t.report()[2], 0x04);
}

TEST(KeyTranslator, MouseButtonsPersistAcrossMoves)
{
    c_key_translator t;
    std::array<std::uint8_t, 4> out{};
    int length = 0;
    t.build_mouse_report(2, c_key_translator::kPress, 0, 0, 0, out.data(), length);
    EXPECT_EQ(out, (std::array<std::uint8_t, 4>{0x02, 0, 0, 0}));
    EXPECT_EQ(length, 4);
    t.build_mouse_report(0, c_key_translator::kMove, 5, -3, 0, out.data(), length);
    EXPECT_EQ(out, (std::array<std::uint8_t, 4>{0x02, 5, 0xFD, 0}));
    t.build_mouse_report(2, c_key_translator::kRelease, 0, 0, -1, out.data(), length);
    EXPECT_EQ(out, (std::array<std::uint8_t, 4>{0x00, 0, 0, 0xFF}));
}
