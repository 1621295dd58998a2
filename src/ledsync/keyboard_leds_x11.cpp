#include "keyboard_leds.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <memory>

namespace {

struct display_closer {
    void operator()(Display *display) const { XCloseDisplay(display); }
};
using display_ptr = std::unique_ptr<Display, display_closer>;

// Opens the display and checks that it speaks the keyboard extension.
display_ptr open_display(const char *displayName, std::string &error, led_status &status)
{
    int event = 0;
    int xkbError = 0;
    int major = XkbMajorVersion;
    int minor = XkbMinorVersion;
    int reason = 0;
    display_ptr display(
        XkbOpenDisplay(displayName, &event, &xkbError, &major, &minor, &reason));
    if (display) {
        status = led_status::ok;
        return display;
    }
    if (reason == XkbOD_ConnectionRefused) {
        status = led_status::no_display;
        error = "cannot open the X display";
    } else {
        status = led_status::failed;
        error = "the X server lacks a usable keyboard extension";
    }
    return nullptr;
}

// The modifier bit that Num Lock locks on this server (Mod2 on most keymaps).
unsigned int num_lock_mask(Display *display)
{
    return XkbKeysymToModifiers(display, XK_Num_Lock);
}

unsigned int modifier_mask(Display *display, int index)
{
    return index == 1 ? num_lock_mask(display) : LockMask;
}

Atom scroll_lock_atom(Display *display)
{
    return XInternAtom(display, "Scroll Lock", False);
}

} // namespace

led_status set_keyboard_led(const char *displayName, int index, bool on, std::string &error)
{
    led_status status = led_status::failed;
    display_ptr display = open_display(displayName, error, status);
    if (!display)
        return status;

    bool done = false;
    if (index == 1 || index == 2) {
        const unsigned int mask = modifier_mask(display.get(), index);
        if (mask == 0) {
            error = "the keymap has no Num Lock modifier";
            return led_status::failed;
        }
        done = XkbLockModifiers(display.get(), XkbUseCoreKbd, mask, on ? mask : 0) == True;
    } else if (index == 3) {
        done = XkbSetNamedIndicator(display.get(), scroll_lock_atom(display.get()), True,
                                    on ? True : False, False, nullptr) == True;
    } else {
        error = "no such LED";
        return led_status::failed;
    }
    // The requests only count once the server has seen them.
    XSync(display.get(), False);
    if (!done) {
        error = "the X server refused the LED change";
        return led_status::failed;
    }
    return led_status::ok;
}

led_status read_keyboard_led(const char *displayName, int index, bool &on, std::string &error)
{
    led_status status = led_status::failed;
    display_ptr display = open_display(displayName, error, status);
    if (!display)
        return status;

    if (index == 1 || index == 2) {
        XkbStateRec state{};
        if (XkbGetState(display.get(), XkbUseCoreKbd, &state) != Success) {
            error = "cannot read the keyboard state";
            return led_status::failed;
        }
        on = (state.locked_mods & modifier_mask(display.get(), index)) != 0;
        return led_status::ok;
    }
    if (index == 3) {
        Bool state = False;
        if (XkbGetNamedIndicator(display.get(), scroll_lock_atom(display.get()), nullptr, &state,
                                 nullptr, nullptr) != True) {
            error = "the keymap has no \"Scroll Lock\" indicator";
            return led_status::failed;
        }
        on = state == True;
        return led_status::ok;
    }
    error = "no such LED";
    return led_status::failed;
}
