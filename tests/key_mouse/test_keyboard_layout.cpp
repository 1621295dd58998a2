#include "tools/key_mouse/keyboard_layout.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>

namespace {

using keys = std::vector<hid_keystroke>;
using id = keyboard_layout_id;

constexpr std::uint8_t kShift = kModLeftShift;
constexpr std::uint8_t kAltGr = kModRightAlt;
constexpr hid_keystroke kSpace{0, 44};

// Highest code point the round trip walks: past the Latin-1 letters and the euro sign.
constexpr char32_t kLastChecked = 0x2FFF;

struct typing_fact {
    id layout;
    char32_t c;
    keys strokes;
};

std::ostream &operator<<(std::ostream &out, const typing_fact &f)
{
    return out << keyboard_layout_name(f.layout) << " U+" << std::hex << unsigned(f.c);
}

} // namespace

void PrintTo(const hid_keystroke &k, std::ostream *out)
{
    *out << "{mods " << unsigned(k.modifiers) << ", usage " << unsigned(k.usage) << "}";
}

class keystrokes_golden : public testing::TestWithParam<typing_fact> {};

TEST_P(keystrokes_golden, types_the_character_with_these_presses)
{
    EXPECT_EQ(keystrokes_for(GetParam().layout, GetParam().c), GetParam().strokes);
}

INSTANTIATE_TEST_SUITE_P(
    layouts, keystrokes_golden,
    testing::Values(
        typing_fact{id::us, U'a', {{0, 4}}}, typing_fact{id::us, U'@', {{kShift, 31}}},
        typing_fact{id::us, U'\\', {{0, 49}}}, typing_fact{id::us, U'~', {{kShift, 53}}},
        typing_fact{id::us, U'\n', {{0, 40}}}, typing_fact{id::us, U'\t', {{0, 43}}},
        typing_fact{id::uk, U'@', {{kShift, 52}}}, typing_fact{id::uk, U'"', {{kShift, 31}}},
        typing_fact{id::uk, U'£', {{kShift, 32}}}, typing_fact{id::uk, U'€', {{kAltGr, 33}}},
        typing_fact{id::uk, U'#', {{0, 49}}}, typing_fact{id::uk, U'\\', {{0, 100}}},
        typing_fact{id::uk, U'¬', {{kShift, 53}}}, typing_fact{id::uk, U'É', {{kShift | kAltGr, 8}}},
        typing_fact{id::de, U'z', {{0, 28}}}, typing_fact{id::de, U'y', {{0, 29}}},
        typing_fact{id::de, U'@', {{kAltGr, 20}}}, typing_fact{id::de, U'€', {{kAltGr, 8}}},
        typing_fact{id::de, U'ä', {{0, 52}}}, typing_fact{id::de, U'Ü', {{kShift, 47}}},
        typing_fact{id::de, U'ß', {{0, 45}}}, typing_fact{id::de, U'\\', {{kAltGr, 45}}},
        typing_fact{id::de, U'^', {{0, 53}, kSpace}}, typing_fact{id::de, U'`', {{kShift, 46}, kSpace}},
        typing_fact{id::de, U'<', {{0, 100}}}, typing_fact{id::de, U'|', {{kAltGr, 100}}},
        typing_fact{id::de, U'~', {{kAltGr, 48}}}, typing_fact{id::de, U'\n', {{0, 40}}},
        typing_fact{id::fr, U'a', {{0, 20}}}, typing_fact{id::fr, U'q', {{0, 4}}},
        typing_fact{id::fr, U'm', {{0, 51}}}, typing_fact{id::fr, U'1', {{kShift, 30}}},
        typing_fact{id::fr, U'é', {{0, 31}}}, typing_fact{id::fr, U'@', {{kAltGr, 39}}},
        typing_fact{id::fr, U'^', {{kAltGr, 38}}}, // one press beats the dead key
        typing_fact{id::fr, U'¨', {{kShift, 47}, kSpace}},
        typing_fact{id::fr, U'~', {{kAltGr, 31}, kSpace}},
        // What a layout cannot type.
        typing_fact{id::us, U'ä', {}}, typing_fact{id::us, U'€', {}},
        typing_fact{id::uk, U'\x01', {}}, typing_fact{id::de, U'\x01', {}},
        typing_fact{id::fr, U'ñ', {}}, typing_fact{id::fr, char32_t{0}, {}}));

struct reading_fact {
    id layout;
    hid_keystroke key;
    bool capsLock;
    char32_t typed;
    bool dead;
};

std::ostream &operator<<(std::ostream &out, const reading_fact &f)
{
    return out << keyboard_layout_name(f.layout) << " mods " << unsigned(f.key.modifiers)
               << " usage " << unsigned(f.key.usage) << (f.capsLock ? " caps" : "");
}

class character_golden : public testing::TestWithParam<reading_fact> {};

TEST_P(character_golden, reads_the_press_as_the_remote_computer_does)
{
    bool dead = !GetParam().dead;
    EXPECT_EQ(character_for(GetParam().layout, GetParam().key, GetParam().capsLock, dead),
              GetParam().typed);
    EXPECT_EQ(dead, GetParam().dead);
}

INSTANTIATE_TEST_SUITE_P(
    layouts, character_golden,
    testing::Values(
        reading_fact{id::us, {0, 4}, true, U'A', false},
        reading_fact{id::us, {0x20, 4}, true, U'a', false},      // right Shift undoes Caps Lock
        reading_fact{id::us, {0, 30}, true, U'1', false},        // Caps Lock spares digits
        reading_fact{id::us, {0, 50}, false, U'\\', false},      // read as the key 0x31
        reading_fact{id::us, {kAltGr, 31}, false, 0, false},     // right Alt is plain Alt here
        reading_fact{id::us, {0x01, 4}, false, 0, false},        // Control+A is a shortcut
        reading_fact{id::de, {0, 52}, true, U'Ä', false},
        reading_fact{id::de, {0x05, 20}, false, U'@', false},    // Control+Alt reads as AltGr
        reading_fact{id::de, {kAltGr | 0x08, 20}, false, 0, false},
        reading_fact{id::de, {0, 46}, false, U'´', true},
        reading_fact{id::de, {0, 40}, false, 0, false},          // Enter is the caller's
        reading_fact{id::fr, {0, 31}, true, U'é', false},        // no upper case on that key
        reading_fact{id::fr, {kAltGr, 36}, false, U'`', true},
        reading_fact{id::fr, {0, 53}, false, U'²', false}));

TEST(keyboard_layout, every_character_a_layout_types_reads_back_from_its_keys)
{
    for (id layout : all_keyboard_layouts()) {
        int typable = 0;
        for (char32_t c = 1; c <= kLastChecked; ++c) {
            const keys strokes = keystrokes_for(layout, c);
            if (strokes.empty()) {
                EXPECT_FALSE(c >= 0x20 && c <= 0x7E) << keyboard_layout_name(layout) << " lacks "
                                                      << static_cast<char>(c);
                continue;
            }
            ++typable;
            if (c == U'\n' || c == U'\t')
                continue;
            bool dead = false;
            EXPECT_EQ(character_for(layout, strokes[0], false, dead), c)
                << keyboard_layout_name(layout) << " U+" << std::hex << unsigned(c);
            EXPECT_EQ(dead, strokes.size() == 2) << keyboard_layout_name(layout) << " U+" << std::hex << unsigned(c);
            if (strokes.size() == 2) {
                EXPECT_EQ(strokes[1], kSpace);
            }
        }
        std::printf("%s types %d characters\n", std::string(keyboard_layout_name(layout)).c_str(),
                    typable);
    }
}
