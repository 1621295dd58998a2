// ledsync INDEX STATE: sets one local keyboard LED. The viewer starts one process per LED
// and never waits for it, so every outcome that is not a usage error ends with status 0.
#include "keyboard_leds.h"
#include "launch/program_options.h"
#include "ledsync_args.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const program_about kAbout{
    "ledsync", TESSARACT_VERSION,
    "usage: ledsync INDEX STATE\n"
    "Sets one keyboard LED of this computer (X11 only): INDEX 1 Num Lock, 2 Caps Lock,\n"
    "3 Scroll Lock; STATE 0 off, 1 on.\n"};

} // namespace

int main(int argc, char **argv)
{
    // Both arguments are digits, so any argument starting with '-' is an option.
    for (int i = 1; i < argc; ++i) {
        if (const int status = answer_program_option(kAbout, argv[i], false); status >= 0)
            return status;
    }
    led_request request;
    std::string error;
    if (!parse_led_args(argc, argv, request, error)) {
        std::fprintf(stderr, "ledsync: %s\n", error.c_str());
        print_program_usage(kAbout, stderr);
        return 2;
    }

    switch (classify_display(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"))) {
    case display_kind::wayland_only:
        std::fprintf(stderr, "ledsync: Wayland offers no way to set keyboard LEDs; nothing changed\n");
        return 0;
    case display_kind::none:
        std::fprintf(stderr, "ledsync: no display; nothing changed\n");
        return 0;
    case display_kind::x11:
        break;
    }

    if (set_keyboard_led(nullptr, request.index, request.on, error) != led_status::ok)
        std::printf("ledsync: LED %d not changed: %s\n", request.index, error.c_str());
    return 0;
}
