#include "tools/key_mouse/c_key_translator.h"
#include "tools/key_mouse/scan_codes.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <string>
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

// X11 key codes (the kernel's code + 8) of the keys the sequences below use.
std::uint32_t native_code(char k)
{
    const std::string letters = "ABCDEFGQ";
    const std::uint32_t codes[] = {38, 56, 54, 40, 26, 41, 42, 24};
    if (k == '+' || k == '-')
        return 50; // left Shift
    if (k == '!')
        return 10; // the 1 key
    return codes[letters.find(static_cast<char>(std::toupper(k)))];
}

// Keys pressed (upper case, '!') and released (lower case; '+' Shift down, '-' up) in order,
// and the report after the last: modifiers as bits, keys in press order, a repeat or a
// seventh key changes nothing. Typed as Qt keys (the US table) and as physical keys, the
// reports are the same.
TEST(KeyTranslator, TheBootReportAfterEachSequenceIsTheSameForQtAndPhysicalKeys)
{
    const std::pair<const char *, Report> rows[] = {
        {"+", {0x02, 0, 0, 0, 0, 0, 0, 0}},
        {"+A", {0x02, 0, 0x04, 0, 0, 0, 0, 0}},
        {"+A-", {0x00, 0, 0x04, 0, 0, 0, 0, 0}},
        {"+!", {0x02, 0, 30, 0, 0, 0, 0, 0}},
        {"ABCa", {0, 0, 0x05, 0x06, 0, 0, 0, 0}},
        {"QQ", {0, 0, 20, 0, 0, 0, 0, 0}},
        {"ABCDEFG", {0, 0, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09}},
    };
    for (const auto &[keys, expected] : rows) {
        c_key_translator qt;
        c_key_translator physical;
        Report viaQt{};
        Report viaPhysical{};
        int length = 0;
        for (const char *k = keys; *k != '\0'; ++k) {
            const bool down = *k == '+' || *k == '!' || (*k >= 'A' && *k <= 'Z');
            viaQt = press(qt, (*k == '+' || *k == '-') ? kShift : std::toupper(*k), down);
            EXPECT_TRUE(physical.translate_usage(hid_usage_of_native_key(native_code(*k)), down,
                                                 viaPhysical.data(), length));
        }
        EXPECT_EQ(viaQt, expected) << keys;
        EXPECT_EQ(viaPhysical, expected) << keys;
    }
}

// Where the physical key says more than the Qt key: the main Enter key is not the keypad's,
// Print and AltGr are keys, and a left or right modifier keeps its side.
TEST(KeyTranslator, PhysicalKeysWhereTheQtTableDiffers)
{
    struct row {
        std::uint32_t qtKey, nativeCode;
        std::uint8_t qtUsage, physicalUsage;
    };
    const row rows[] = {
        {0x01000004, 36, 88, 40},         // Return
        {0x01000005, 104, 88, 88},        // keypad Enter
        {0x01000009, 107, 0, 70},         // Print
        {0x01001103, 108, 0, 230},        // AltGr: the right Alt key
        {0x01000021, 105, 1, 228},        // right Control
        {0x01000022, 133, 8, 227},        // the Super key
        {0x01000020, 0, 2, 0},            // no native code: no physical key
        {0x01000020, 300, 2, 0},          // a code beyond the table
    };
    c_key_translator t;
    for (const row &r : rows) {
        EXPECT_EQ(t.usage_of(r.qtKey), r.qtUsage) << std::hex << r.qtKey;
        EXPECT_EQ(hid_usage_of_native_key(r.nativeCode), r.physicalUsage) << r.nativeCode;
    }
    Report out{};
    int length = 0;
    ASSERT_TRUE(t.translate_usage(230, true, out.data(), length));
    ASSERT_TRUE(t.translate_usage(20, true, out.data(), length)); // AltGr+Q
    EXPECT_EQ(out, (Report{0x40, 0, 20, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(t.drop_modifiers(0x40));
    EXPECT_FALSE(t.drop_modifiers(0x40));
    EXPECT_EQ(t.report()[0], 0);
}

TEST(KeyTranslator, UsageTable)
{
    const std::pair<std::uint32_t, int> rows[] = {
        {'!', 30}, {'1', 30}, {'0', 39}, {'Z', 29}, {' ', 44}, {'@', 31}, {'~', 53},
        // F12, the print screen key, a code without a key.
        {0x0100003B, 69}, {c_key_translator::kPrintScreenKey, 70}, {0x80, 0},
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
