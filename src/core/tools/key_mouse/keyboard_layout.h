#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// The keyboard layouts a remote computer may use, as the USB keyboard sees them: which
// physical key (HID usage, page 0x07) with which modifiers types a character. The viewer
// uses them to type text (paste as keystrokes); the simulator to turn reports into text as a
// computer set to that layout would. Tables are constant; any thread.
enum class keyboard_layout_id { us, uk, de, fr };

// Modifier bits of a boot keyboard report's byte 0.
inline constexpr std::uint8_t kModLeftShift = 0x02;
inline constexpr std::uint8_t kModRightAlt = 0x40; // AltGr on layouts that have it

// One key press: the modifier bits held with it and its usage.
struct hid_keystroke {
    std::uint8_t modifiers = 0;
    std::uint8_t usage = 0;
    bool operator==(const hid_keystroke &) const = default;
};

// Every layout, in the order a chooser lists them.
const std::vector<keyboard_layout_id> &all_keyboard_layouts();

// "us", "uk", "de", "fr": the name stored in settings and given on command lines.
std::string_view keyboard_layout_name(keyboard_layout_id layout);
// "English (US)", "English (UK)", "German", "French": for people.
std::string_view keyboard_layout_title(keyboard_layout_id layout);
// The layout of a stored name (case-insensitive); nothing for an unknown one.
std::optional<keyboard_layout_id> keyboard_layout_named(std::string_view name);

// The key presses that type `c` on a computer set to `layout`, each to be followed by a
// report with no key held: one press, or two where the character lies on a dead key (the
// dead key, then Space). '\n' is Enter and '\t' Tab. Empty when the layout cannot type `c`.
std::vector<hid_keystroke> keystrokes_for(keyboard_layout_id layout, char32_t c);

// What pressing `usage` with `modifiers` held types on a computer set to `layout`, Caps Lock
// as given: the character, or 0 when the key types nothing (control keys, Control or Alt
// combinations, keys without a character). Right Alt, or Control with Alt, is AltGr on the
// layouts that have it. `dead` is set when the key is a dead key
// (the returned character is then the accent itself, typed alone by a following Space).
// Keypad keys, Enter, Tab and Backspace are the caller's: they type nothing here.
char32_t character_for(keyboard_layout_id layout, hid_keystroke key, bool capsLock,
                       bool &dead);
