#include "c_hid_keyboard.h"

#include "c_console_text.h"

#include <cstring>
#include <string_view>
#include <utility>

namespace {

constexpr std::uint8_t kShiftBits = 0x02 | 0x20; // left and right shift
constexpr std::uint8_t kFirstRealUsage = 4;      // 1..3 are the report's error codes

bool is_keypad(std::uint8_t usage)
{
    return (usage >= 84 && usage <= 87) || (usage >= 89 && usage <= 99);
}

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

// Letters a dead key composes with: each base letter and, at the same place, the result.
struct composition {
    char32_t accent;
    std::u32string_view bases;
    std::u32string_view results;
};

constexpr composition kCompositions[] = {
    {U'^', U"aeiouAEIOU", U"âêîôûÂÊÎÔÛ"},
    {U'¨', U"aeiouyAEIOU", U"äëïöüÿÄËÏÖÜ"},
    {U'`', U"aeiouAEIOU", U"àèìòùÀÈÌÒÙ"},
    {U'´', U"aeiouyAEIOUY", U"áéíóúýÁÉÍÓÚÝ"},
    {U'~', U"anoANO", U"ãñõÃÑÕ"},
};

char32_t composed(char32_t accent, char32_t base)
{
    for (const composition &c : kCompositions) {
        const std::size_t at = c.accent == accent ? c.bases.find(base) : std::u32string_view::npos;
        if (at != std::u32string_view::npos)
            return c.results[at];
    }
    return 0;
}

} // namespace

std::vector<std::uint8_t> c_hid_keyboard::apply_report(const std::uint8_t report[kReportSize],
                                                       keyboard_layout_id layout,
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
        press(usage, report[0], layout, leds, console);
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

void c_hid_keyboard::press(std::uint8_t usage, std::uint8_t modifiers, keyboard_layout_id layout,
                           std::uint8_t &leds, c_console_text &console)
{
    switch (usage) {
    case kCapsLockKey: leds ^= kCapsLock; return;
    case kNumLockKey: leds ^= kNumLock; return;
    case kScrollLockKey: leds ^= kScrollLock; return;
    case kEnter:
    case kKeypadEnter:
        flush_accent(console);
        console.newline();
        return;
    case kBackspace:
        // Backspace first takes back an accent that has not been typed yet.
        if (std::exchange(m_accent, 0) == 0)
            console.backspace();
        return;
    case kTab:
        flush_accent(console);
        for (int i = 0; i < 4; ++i)
            console.type(U' ');
        return;
    default: break;
    }
    // Control and Alt combinations on the keypad are shortcuts, not text.
    if (is_keypad(usage)) {
        const char c = (modifiers & ~kShiftBits) == 0
                           ? keypad_character(usage, (leds & kNumLock) != 0) : 0;
        if (c != 0)
            type_after_accent(static_cast<char32_t>(c), console);
        return;
    }
    bool dead = false;
    const char32_t c = character_for(layout, {modifiers, usage}, (leds & kCapsLock) != 0, dead);
    if (c == 0)
        return; // keys that type nothing leave a waiting accent waiting
    if (dead && m_accent == 0)
        m_accent = c;
    else
        type_after_accent(c, console); // a second dead key types both accents
}

void c_hid_keyboard::type_after_accent(char32_t c, c_console_text &console)
{
    const char32_t accent = std::exchange(m_accent, 0);
    if (accent == 0) {
        console.type(c);
        return;
    }
    if (c == U' ') {
        console.type(accent);
        return;
    }
    if (const char32_t both = composed(accent, c)) {
        console.type(both);
        return;
    }
    console.type(accent);
    console.type(c);
}

void c_hid_keyboard::flush_accent(c_console_text &console)
{
    if (const char32_t accent = std::exchange(m_accent, 0))
        console.type(accent);
}
