#pragma once

#include <string>

// The local keyboard's lock LEDs through the X server's keyboard extension. The Xlib
// headers stay inside keyboard_leds_x11.cpp: their macros (None, Bool, Status, ...) clash
// with other headers.

enum class led_status {
    ok,
    no_display, // the X server could not be reached
    failed,     // reached, but the server refused or lacks the indicator
};

// Sets LED `index` (1 Num Lock, 2 Caps Lock, 3 Scroll Lock) on `displayName` (null: the
// DISPLAY variable). Num and Caps Lock are set as locked modifiers, so the keyboard state
// and the light agree; Scroll Lock is set as the named indicator "Scroll Lock".
led_status set_keyboard_led(const char *displayName, int index, bool on, std::string &error);

// Reads the state of LED `index` as set_keyboard_led would leave it; for tests.
led_status read_keyboard_led(const char *displayName, int index, bool &on, std::string &error);
