#include "c_console_text.h"
#include "c_hid_keyboard.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

constexpr std::uint8_t kRightAlt = 0x40;
constexpr std::uint8_t kShift = 0x02;
constexpr std::uint8_t kControlAlt = 0x01 | 0x04;

// The remote computer's keyboard and console, fed one key stroke (press, then release) at a
// time.
struct remote_computer {
    c_hid_keyboard keyboard;
    c_console_text console;
    std::uint8_t leds = 0;
    keyboard_layout_id layout;

    void stroke(std::uint8_t modifiers, std::uint8_t usage)
    {
        const std::uint8_t down[8] = {modifiers, 0, usage};
        const std::uint8_t up[8] = {};
        keyboard.apply_report(down, layout, leds, console);
        keyboard.apply_report(up, layout, leds, console);
    }
};

} // namespace

TEST(sim_keyboard, a_german_computer_types_umlauts_accents_and_altgr_characters)
{
    remote_computer pc{.layout = keyboard_layout_id::de};
    pc.stroke(kShift, 10);        // G
    pc.stroke(0, 21);             // r
    pc.stroke(0, 47);             // ü
    pc.stroke(0, 45);             // ß
    pc.stroke(0, 42);             // Backspace takes the whole ß
    pc.stroke(0, 8);              // e
    pc.stroke(0, 53);             // dead ^ ...
    pc.stroke(0, 4);              // ... with a: â
    pc.stroke(0, 46);             // dead ´ ...
    pc.stroke(0, 44);             // ... with Space: the accent alone
    pc.stroke(0, 53);             // dead ^ ...
    pc.stroke(0, 27);             // ... with x, which it does not compose with: ^x
    pc.stroke(kRightAlt, 20);     // @
    pc.stroke(kControlAlt, 8);    // €
    pc.stroke(0, 28);             // z
    pc.stroke(0, 100);            // <
    pc.stroke(0, 57);             // Caps Lock ...
    pc.stroke(0, 51);             // ... Ö
    EXPECT_EQ(pc.console.text(), "Grüeâ´^x@€z<Ö");
    EXPECT_EQ(pc.console.escaped(), "Grüeâ´^x@€z<Ö");
    EXPECT_EQ(pc.leds, c_hid_keyboard::kCapsLock);
}

