#include "tools/key_mouse/keyboard_layout.h"

#include <algorithm>
#include <span>

namespace {

// A character on a dead key carries this bit in the tables: the key waits for the next one
// instead of typing. Unicode ends at 0x10FFFF, so the bit never clashes with a character.
constexpr char32_t kDeadBit = 0x80000000u;
constexpr char32_t dead(char32_t accent) { return accent | kDeadBit; }

constexpr std::uint8_t kModShiftBits = 0x02 | 0x20;
constexpr std::uint8_t kModControlBits = 0x01 | 0x10;
constexpr std::uint8_t kModLeftAlt = 0x04;
constexpr std::uint8_t kModGuiBits = 0x08 | 0x80;

constexpr std::uint8_t kUsageEnter = 40;
constexpr std::uint8_t kUsageTab = 43;
constexpr std::uint8_t kUsageSpace = 44;
constexpr std::uint8_t kUsageBackslash = 49;
constexpr std::uint8_t kUsageIsoHash = 50;

// What one key types at each level; 0 where it types nothing.
struct key_row {
    std::uint8_t usage;
    char32_t plain;
    char32_t shift;
    char32_t altGr = 0;
    char32_t shiftAltGr = 0;
};

// The keys every layout here shares unless it says otherwise: the letters in their US places
// and the space bar.
constexpr key_row kCommonRows[] = {
    {4, U'a', U'A'},  {5, U'b', U'B'},  {6, U'c', U'C'},  {7, U'd', U'D'},  {8, U'e', U'E'},
    {9, U'f', U'F'},  {10, U'g', U'G'}, {11, U'h', U'H'}, {12, U'i', U'I'}, {13, U'j', U'J'},
    {14, U'k', U'K'}, {15, U'l', U'L'}, {16, U'm', U'M'}, {17, U'n', U'N'}, {18, U'o', U'O'},
    {19, U'p', U'P'}, {20, U'q', U'Q'}, {21, U'r', U'R'}, {22, U's', U'S'}, {23, U't', U'T'},
    {24, U'u', U'U'}, {25, U'v', U'V'}, {26, U'w', U'W'}, {27, U'x', U'X'}, {28, U'y', U'Y'},
    {29, U'z', U'Z'}, {44, U' ', U' '},
};

// usage, plain, Shift, AltGr, Shift+AltGr. Usage 49 is the key above Enter (ANSI) or left of
// it (ISO); usage 100 the ISO key left of Z.
constexpr key_row kUsRows[] = {
    {30, U'1', U'!'},  {31, U'2', U'@'},  {32, U'3', U'#'},  {33, U'4', U'$'},
    {34, U'5', U'%'},  {35, U'6', U'^'},  {36, U'7', U'&'},  {37, U'8', U'*'},
    {38, U'9', U'('},  {39, U'0', U')'},  {45, U'-', U'_'},  {46, U'=', U'+'},
    {47, U'[', U'{'},  {48, U']', U'}'},  {49, U'\\', U'|'}, {51, U';', U':'},
    {52, U'\'', U'"'}, {53, U'`', U'~'},  {54, U',', U'<'},  {55, U'.', U'>'},
    {56, U'/', U'?'},  {100, U'\\', U'|'},
};

constexpr key_row kUkRows[] = {
    {4, U'a', U'A', U'á', U'Á'},   {8, U'e', U'E', U'é', U'É'},   {12, U'i', U'I', U'í', U'Í'},
    {18, U'o', U'O', U'ó', U'Ó'},  {24, U'u', U'U', U'ú', U'Ú'},
    {30, U'1', U'!'},  {31, U'2', U'"'},  {32, U'3', U'£'},  {33, U'4', U'$', U'€'},
    {34, U'5', U'%'},  {35, U'6', U'^'},  {36, U'7', U'&'},  {37, U'8', U'*'},
    {38, U'9', U'('},  {39, U'0', U')'},  {45, U'-', U'_'},  {46, U'=', U'+'},
    {47, U'[', U'{'},  {48, U']', U'}'},  {49, U'#', U'~'},  {51, U';', U':'},
    {52, U'\'', U'@'}, {53, U'`', U'¬', U'¦'},  {54, U',', U'<'},  {55, U'.', U'>'},
    {56, U'/', U'?'},  {100, U'\\', U'|'},
};

constexpr key_row kDeRows[] = {
    {8, U'e', U'E', U'€'},  {16, U'm', U'M', U'µ'}, {20, U'q', U'Q', U'@'},
    {28, U'z', U'Z'},       {29, U'y', U'Y'},
    {30, U'1', U'!'},       {31, U'2', U'"', U'²'}, {32, U'3', U'§', U'³'},
    {33, U'4', U'$'},       {34, U'5', U'%'},       {35, U'6', U'&'},
    {36, U'7', U'/', U'{'}, {37, U'8', U'(', U'['}, {38, U'9', U')', U']'},
    {39, U'0', U'=', U'}'}, {45, U'ß', U'?', U'\\'}, {46, dead(U'´'), dead(U'`')},
    {47, U'ü', U'Ü'},       {48, U'+', U'*', U'~'}, {49, U'#', U'\''},
    {51, U'ö', U'Ö'},       {52, U'ä', U'Ä'},       {53, dead(U'^'), U'°'},
    {54, U',', U';'},       {55, U'.', U':'},       {56, U'-', U'_'},
    {100, U'<', U'>', U'|'},
};

constexpr key_row kFrRows[] = {
    {4, U'q', U'Q'},  {8, U'e', U'E', U'€'},  {16, U',', U'?'},  {20, U'a', U'A'},
    {26, U'z', U'Z'}, {29, U'w', U'W'},       {51, U'm', U'M'},
    {30, U'&', U'1'},  {31, U'é', U'2', dead(U'~')}, {32, U'"', U'3', U'#'},
    {33, U'\'', U'4', U'{'}, {34, U'(', U'5', U'['}, {35, U'-', U'6', U'|'},
    {36, U'è', U'7', dead(U'`')}, {37, U'_', U'8', U'\\'}, {38, U'ç', U'9', U'^'},
    {39, U'à', U'0', U'@'},  {45, U')', U'°', U']'}, {46, U'=', U'+', U'}'},
    {47, dead(U'^'), dead(U'¨')}, {48, U'$', U'£', U'¤'}, {49, U'*', U'µ'},
    {52, U'ù', U'%'},  {53, U'²', 0},  {54, U';', U'.'},  {55, U':', U'/'},
    {56, U'!', U'§'},  {100, U'<', U'>'},
};

struct layout_info {
    keyboard_layout_id id;
    std::string_view name;
    std::string_view title;
    std::span<const key_row> rows;
    bool hasAltGr;
};

constexpr layout_info kLayouts[] = {
    {keyboard_layout_id::us, "us", "English (US)", kUsRows, false},
    {keyboard_layout_id::uk, "uk", "English (UK)", kUkRows, true},
    {keyboard_layout_id::de, "de", "German", kDeRows, true},
    {keyboard_layout_id::fr, "fr", "French", kFrRows, true},
};

const layout_info &info(keyboard_layout_id layout)
{
    for (const layout_info &l : kLayouts) {
        if (l.id == layout)
            return l;
    }
    return kLayouts[0];
}

const key_row *find_row(std::span<const key_row> rows, std::uint8_t usage)
{
    const auto it = std::find_if(rows.begin(), rows.end(),
                                 [usage](const key_row &r) { return r.usage == usage; });
    return it == rows.end() ? nullptr : &*it;
}

// The layout's own row of a key, else the shared one.
const key_row *row_for(const layout_info &layout, std::uint8_t usage)
{
    const key_row *own = find_row(layout.rows, usage);
    return own ? own : find_row(kCommonRows, usage);
}

// Upper case of the letters these layouts type, for Caps Lock; the character itself when
// it has no single upper-case form here.
char32_t upper_case(char32_t c)
{
    if (c >= U'a' && c <= U'z')
        return c - 0x20;
    if (c >= U'à' && c <= U'þ' && c != U'÷') // Latin-1 small letters
        return c - 0x20;
    return c;
}

// Caps Lock swaps the plain and Shift levels of letter keys only: those whose Shift level
// is the upper case of their plain one.
bool caps_applies(const key_row &row)
{
    return row.plain != 0 && (row.plain & kDeadBit) == 0 && upper_case(row.plain) != row.plain &&
           upper_case(row.plain) == row.shift;
}

enum class level { plain, shift, altGr, shiftAltGr };

char32_t at_level(const key_row &row, level l)
{
    switch (l) {
    case level::plain: return row.plain;
    case level::shift: return row.shift;
    case level::altGr: return row.altGr;
    case level::shiftAltGr: return row.shiftAltGr;
    }
    return 0;
}

std::uint8_t modifiers_of(level l)
{
    switch (l) {
    case level::plain: return 0;
    case level::shift: return kModLeftShift;
    case level::altGr: return kModRightAlt;
    case level::shiftAltGr: return kModLeftShift | kModRightAlt;
    }
    return 0;
}

// The simplest single press whose table entry is `wanted` (a character, or a dead accent):
// plain before Shift before AltGr, the lowest usage within a level.
std::optional<hid_keystroke> find_press(const layout_info &layout, char32_t wanted)
{
    for (level l : {level::plain, level::shift, level::altGr, level::shiftAltGr}) {
        int best = 256;
        const auto consider = [&](const key_row &row) {
            if (at_level(row, l) == wanted && row.usage < best && row_for(layout, row.usage) == &row)
                best = row.usage;
        };
        std::for_each(layout.rows.begin(), layout.rows.end(), consider);
        std::for_each(std::begin(kCommonRows), std::end(kCommonRows), consider);
        if (best < 256)
            return hid_keystroke{modifiers_of(l), static_cast<std::uint8_t>(best)};
    }
    return std::nullopt;
}

// Right Alt is AltGr; Windows also reads Control with Alt as AltGr.
bool is_alt_gr(std::uint8_t modifiers)
{
    return (modifiers & kModRightAlt) != 0 ||
           ((modifiers & kModControlBits) != 0 && (modifiers & kModLeftAlt) != 0);
}

} // namespace

const std::vector<keyboard_layout_id> &all_keyboard_layouts()
{
    static const std::vector<keyboard_layout_id> layouts = {
        keyboard_layout_id::us, keyboard_layout_id::uk, keyboard_layout_id::de,
        keyboard_layout_id::fr};
    return layouts;
}

std::string_view keyboard_layout_name(keyboard_layout_id layout)
{
    return info(layout).name;
}

std::string_view keyboard_layout_title(keyboard_layout_id layout)
{
    return info(layout).title;
}

std::optional<keyboard_layout_id> keyboard_layout_named(std::string_view name)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    for (const layout_info &l : kLayouts) {
        if (std::equal(name.begin(), name.end(), l.name.begin(), l.name.end(),
                       [&](char a, char b) { return lower(a) == b; }))
            return l.id;
    }
    return std::nullopt;
}

std::vector<hid_keystroke> keystrokes_for(keyboard_layout_id layout, char32_t c)
{
    if (c == U'\n')
        return {{0, kUsageEnter}};
    if (c == U'\t')
        return {{0, kUsageTab}};
    if (c == 0 || (c & kDeadBit) != 0)
        return {};
    const layout_info &l = info(layout);
    if (const auto press = find_press(l, c))
        return {*press};
    if (const auto accent = find_press(l, dead(c)))
        return {*accent, {0, kUsageSpace}};
    return {};
}

char32_t character_for(keyboard_layout_id layout, hid_keystroke key, bool capsLock, bool &dead)
{
    dead = false;
    const layout_info &l = info(layout);
    const std::uint8_t mods = key.modifiers;
    const bool altGr = l.hasAltGr && is_alt_gr(mods);
    // Control, Alt and Windows-key combinations are shortcuts, not text.
    if ((mods & kModGuiBits) != 0 ||
        (!altGr && (mods & (kModControlBits | kModLeftAlt | kModRightAlt)) != 0))
        return 0;
    // Hosts read the ISO key left of Enter (0x32) as the one of 0x31.
    const std::uint8_t usage = key.usage == kUsageIsoHash ? kUsageBackslash : key.usage;
    const key_row *row = row_for(l, usage);
    if (!row)
        return 0;
    bool shift = (mods & kModShiftBits) != 0;
    char32_t c = 0;
    if (altGr) {
        c = shift ? row->shiftAltGr : row->altGr;
    } else {
        if (capsLock && caps_applies(*row))
            shift = !shift;
        c = shift ? row->shift : row->plain;
    }
    dead = (c & kDeadBit) != 0;
    return c & ~kDeadBit;
}
