#pragma once

#include <cstdint>
#include <map>
#include <vector>

// Turns keys into USB HID boot keyboard reports and Qt mouse buttons into boot mouse reports,
// keeping the session's held keys and buttons. Keys come either as physical keys (HID usages
// of the keys pressed, from scan_codes.h) or as Qt key codes, which a table made for the US
// layout turns into usages (the system key menu and "key.xml" store Qt key codes). Main
// thread only.
//
// Keyboard report: [modifier bits, 0, up to six usage IDs packed from byte 2].
// Mouse report:    [button bits (1 left, 2 right, 4 middle), dx, dy, wheel].
class c_key_translator {
public:
    static constexpr int kReportSize = 8;
    static constexpr int kMouseReportSize = 4;
    // Qt's ScreenSaver code stands for the print screen key throughout the viewer.
    static constexpr std::uint32_t kPrintScreenKey = 0x010000BA;

    // Qt mouse event kinds used by build_mouse_report.
    enum MouseEventKind { kPress = 2, kRelease = 3, kMove = 5 };

    c_key_translator();

    // Updates the held keys for a press or release and copies the whole report to out
    // (8 bytes, outLength = 8). False, with the report and out untouched, when the key has
    // no usage.
    bool translate_key(std::uint32_t qtKey, bool pressed, std::uint8_t *out, int &outLength);

    // The same for a physical key's usage (224..231: a modifier key sets or clears its bit).
    // False, with nothing changed, for usage 0.
    bool translate_usage(std::uint8_t usage, bool pressed, std::uint8_t *out, int &outLength);

    // Clears the held modifier bits of `mask`: keys let go of while the window could not see
    // it. True when one of them was held (the report then needs sending).
    bool drop_modifiers(std::uint8_t mask);

    // A one-shot report for a combination, leaving the held keys alone: modifiers OR their
    // bits, the last other key of the list lands in byte 2.
    void build_combo_report(const std::vector<std::uint32_t> &keys, std::uint8_t out[8]) const;

    // Updates the button bits (press sets, release clears) and writes
    // [buttons, dx, dy, wheel] to out (outLength = 4).
    void build_mouse_report(int button, int kind, int dx, int dy, int wheel, std::uint8_t *out,
                            int &outLength);

    // Forgets every held key: the report becomes eight zero bytes.
    void release_all();
    // Forgets the held mouse buttons.
    void release_buttons() { m_mouseButtons = 0; }

    const std::uint8_t *report() const { return m_report; }
    std::uint8_t mouse_buttons() const { return m_mouseButtons; }

    // The usage ID (or modifier bit for Control/Shift/Alt/Meta) of a Qt key, 0 for none.
    std::uint8_t usage_of(std::uint32_t qtKey) const;
    static bool is_modifier(std::uint32_t qtKey);

private:
    void apply(std::uint8_t usage, bool modifier, bool pressed, std::uint8_t *out, int &outLength);

    std::uint8_t m_report[kReportSize] = {};
    std::map<std::uint32_t, std::uint8_t> m_specialKeys;
    std::uint8_t m_mouseButtons = 0;
};
