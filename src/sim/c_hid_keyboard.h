#pragma once

#include "tools/key_mouse/keyboard_layout.h"

#include <array>
#include <cstdint>
#include <vector>

class c_console_text;

// The remote computer's side of the emulated USB boot keyboard (HID usage page 0x07), read
// through the computer's keyboard layout. It compares each 8-byte report with the previous
// one of the same viewer: keys that appear are presses; a press types into the console or
// toggles a lock LED. Holding a key types it once (no auto-repeat). A dead key waits for
// the next press, as the computer's layout does. Runs on the device's event-loop thread.
class c_hid_keyboard {
public:
    static constexpr int kReportSize = 8;

    // Lock LED bits as the keyboard's output report carries them.
    enum led : std::uint8_t { kNumLock = 0x01, kCapsLock = 0x02, kScrollLock = 0x04 };

    // Usage IDs with a meaning beyond typing a character.
    enum usage : std::uint8_t {
        kEnter = 40, kEscape = 41, kBackspace = 42, kTab = 43, kCapsLockKey = 57,
        kScrollLockKey = 71, kNumLockKey = 83, kKeypadEnter = 88,
    };

    // Applies one report as a computer set to `layout` reads it: every usage that was not
    // held before is pressed, in report order. Typing goes to `console`; lock keys toggle
    // bits of `leds`. Returns the new presses (usages 1..3, the keyboard's error codes, are
    // not keys and are skipped).
    std::vector<std::uint8_t> apply_report(const std::uint8_t report[kReportSize],
                                           keyboard_layout_id layout, std::uint8_t &leds,
                                           c_console_text &console);

    // Forgets the held keys (a viewer lost the privilege or went away). An accent waiting
    // on a dead key stays: it lives in the computer, not in the keyboard.
    void release_all();

    std::uint8_t modifiers() const { return m_previous[0]; }

private:
    bool was_held(std::uint8_t usage) const;
    void press(std::uint8_t usage, std::uint8_t modifiers, keyboard_layout_id layout,
               std::uint8_t &leds, c_console_text &console);
    // Types `c` after a waiting accent: composed with it, or the accent alone for a space,
    // or the accent and then `c`.
    void type_after_accent(char32_t c, c_console_text &console);
    void flush_accent(c_console_text &console);

    std::array<std::uint8_t, kReportSize> m_previous{};
    char32_t m_accent = 0; // the accent of a dead key pressed last, 0 when none waits
};
