#pragma once

#include <string>

// The command line of ledsync: two decimal numbers, the LED (1 Num Lock, 2 Caps Lock,
// 3 Scroll Lock, the bit order of the USB boot keyboard's LED report) and its state (0 off,
// 1 on).
struct led_request {
    int index = 0;
    bool on = false;
};

// Fills `request` from argv; false (with a reason in `error`) for anything else.
bool parse_led_args(int argc, const char *const *argv, led_request &request, std::string &error);

// What to do about the display, from DISPLAY and WAYLAND_DISPLAY as given (null = unset).
enum class display_kind { x11, wayland_only, none };
display_kind classify_display(const char *display, const char *waylandDisplay);
