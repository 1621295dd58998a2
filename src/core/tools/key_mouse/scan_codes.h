#pragma once

#include <cstdint>

// Physical keys: the native key codes a Linux desktop gives for a key event (X11 and Wayland
// both number keys as the kernel's evdev code plus 8) to the USB HID usage (page 0x07) of the
// same key. The layout of the local desktop plays no part: the key the user pressed is the
// key the remote computer sees, and its own layout decides the character.

// The usage of a native key code, 0 for codes without one. Modifier keys give their usages
// 224..231 (left Control, Shift, Alt, GUI, then the right ones).
std::uint8_t hid_usage_of_native_key(std::uint32_t nativeKeyCode);

// Usages 224..231 are the modifier keys; their report bit is 1 << (usage - 224).
inline constexpr bool is_modifier_usage(std::uint8_t usage) { return usage >= 224 && usage <= 231; }
inline constexpr std::uint8_t modifier_bit(std::uint8_t usage)
{
    return static_cast<std::uint8_t>(1u << (usage - 224));
}
