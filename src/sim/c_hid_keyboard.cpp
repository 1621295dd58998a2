#include "c_hid_keyboard.h"

#include "c_console_text.h"

#include <cstring>

namespace {

constexpr std::uint8_t kShiftBits = 0x02 | 0x20; // left and right shift
constexpr std::uint8_t kFirstRealUsage = 4;      // 1..3 are the report's error codes

// Usages 30..56 of the US layout: unshifted and shifted characters.
constexpr char kRowPlain[] = "1234567890\n\x1b\b\t -=[]\\#;'`,./";
constexpr char kRowShifted[] = "!@#$%^&*()\n\x1b\b\t _+{}|~:\"~<>?";

char keypad_character(std::uint8_t usage, bool numLock)
{
    switch (usage) {
    case 84: return '/';
    case 85: return '*';
    case 86: return '-';
    case 87: return '+';
    default: break;
    }
    if (!numLock)
        return 0; // without Num Lock the digits are navigation keys
    if (usage >= 89 && usage <= 97)
        return static_cast<char>('1' + (usage - 89));
    if (usage == 98)
        return '0';
    if (usage == 99)
        return '.';
    return 0;
}

} // namespace

char c_hid_keyboard::character(std::uint8_t usage, bool shift, bool capsLock, bool numLock)
{
    if (usage >= 4 && usage <= 29) {
        const bool upper = shift != capsLock;
        return static_cast<char>((upper ? 'A' : 'a') + (usage - 4));
    }
    if (usage >= 30 && usage <= 56) {
        const char c = (shift ? kRowShifted : kRowPlain)[usage - 30];
        return (c >= 0x20 && c <= 0x7E) ? c : 0;
    }
    if (usage == 100) // the non-US backslash key
        return shift ? '|' : '\\';
    return keypad_character(usage, numLock);
}

std::vector<std::uint8_t> c_hid_keyboard::apply_report(const std::uint8_t report[kReportSize],
                                                       std::uint8_t &leds,
                                                       c_console_text &console)
{
    std::vector<std::uint8_t> pressed;
    for (int i = 2; i < kReportSize; ++i) {
        const std::uint8_t usage = report[i];
        if (usage < kFirstRealUsage || was_held(usage))
            continue;
        bool repeated = false;
        for (std::uint8_t earlier : pressed)
            repeated = repeated || earlier == usage;
        if (repeated)
            continue;
        pressed.push_back(usage);
        press(usage, report[0], leds, console);
    }
    std::memcpy(m_previous.data(), report, kReportSize);
    return pressed;
}

void c_hid_keyboard::release_all()
{
    m_previous.fill(0);
}

bool c_hid_keyboard::was_held(std::uint8_t usage) const
{
    for (int i = 2; i < kReportSize; ++i) {
        if (m_previous[i] == usage)
            return true;
    }
    return false;
}

void c_hid_keyboard::press(std::uint8_t usage, std::uint8_t modifiers, std::uint8_t &leds,
                           c_console_text &console)
{
    switch (usage) {
    case kCapsLockKey: leds ^= kCapsLock; return;
    case kNumLockKey: leds ^= kNumLock; return;
    case kScrollLockKey: leds ^= kScrollLock; return;
    case kEnter:
    case kKeypadEnter: console.newline(); return;
    case kBackspace: console.backspace(); return;
    case kTab:
        for (int i = 0; i < 4; ++i)
            console.type(' ');
        return;
    default: break;
    }
    // Control and Alt combinations are shortcuts on the remote computer, not text.
    if ((modifiers & ~kShiftBits) != 0)
        return;
    const char c = character(usage, (modifiers & kShiftBits) != 0, (leds & kCapsLock) != 0,
                             (leds & kNumLock) != 0);
    if (c != 0)
        console.type(c);
}
