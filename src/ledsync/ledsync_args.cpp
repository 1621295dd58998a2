#include "ledsync_args.h"

#include <cstring>

namespace {

// One decimal number in [low, high], the whole text and nothing else.
bool parse_small_number(const char *text, int low, int high, int &value)
{
    if (text == nullptr || *text == '\0' || std::strlen(text) > 3)
        return false;
    int number = 0;
    for (const char *p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        number = number * 10 + (*p - '0');
    }
    if (number < low || number > high)
        return false;
    value = number;
    return true;
}

} // namespace

bool parse_led_args(int argc, const char *const *argv, led_request &request, std::string &error)
{
    if (argc != 3) {
        error = "expected two arguments: LED index (1-3) and state (0 or 1)";
        return false;
    }
    int index = 0;
    int state = 0;
    if (!parse_small_number(argv[1], 1, 3, index)) {
        error = std::string("LED index must be 1, 2 or 3, not \"") + argv[1] + "\"";
        return false;
    }
    if (!parse_small_number(argv[2], 0, 1, state)) {
        error = std::string("LED state must be 0 or 1, not \"") + argv[2] + "\"";
        return false;
    }
    request.index = index;
    request.on = state == 1;
    return true;
}

display_kind classify_display(const char *display, const char *waylandDisplay)
{
    const bool hasX = display != nullptr && *display != '\0';
    const bool hasWayland = waylandDisplay != nullptr && *waylandDisplay != '\0';
    if (hasX)
        return display_kind::x11;
    return hasWayland ? display_kind::wayland_only : display_kind::none;
}
