#include "tools/key_mouse/scan_codes.h"

#include <array>
#include <utility>

namespace {

constexpr std::uint32_t kNativeOffset = 8; // native code = evdev code + 8

// Linux input event codes to keyboard page usages, written from the HID usage tables: the
// main block, the keypad, the navigation and function keys, and the ISO and Japanese extras.
constexpr std::pair<std::uint16_t, std::uint8_t> kEvdevToUsage[] = {
    {1, 41},    // Escape
    {2, 30}, {3, 31}, {4, 32}, {5, 33}, {6, 34}, {7, 35}, {8, 36}, {9, 37}, {10, 38}, // 1..9
    {11, 39},   // 0
    {12, 45}, {13, 46}, {14, 42}, {15, 43}, // minus, equal, Backspace, Tab
    {16, 20}, {17, 26}, {18, 8}, {19, 21}, {20, 23}, {21, 28}, {22, 24}, {23, 12}, {24, 18},
    {25, 19},   // Q W E R T Y U I O P
    {26, 47}, {27, 48}, {28, 40}, {29, 224}, // [ ] Enter, left Control
    {30, 4}, {31, 22}, {32, 7}, {33, 9}, {34, 10}, {35, 11}, {36, 13}, {37, 14}, {38, 15},
    // A S D F G H J K L
    {39, 51}, {40, 52}, {41, 53}, {42, 225}, {43, 49}, // ; ' ` left Shift, backslash
    {44, 29}, {45, 27}, {46, 6}, {47, 25}, {48, 5}, {49, 17}, {50, 16}, // Z X C V B N M
    {51, 54}, {52, 55}, {53, 56}, {54, 229}, // , . / right Shift
    {55, 85}, {56, 226}, {57, 44}, {58, 57}, // keypad *, left Alt, Space, Caps Lock
    {59, 58}, {60, 59}, {61, 60}, {62, 61}, {63, 62}, {64, 63}, {65, 64}, {66, 65}, {67, 66},
    {68, 67},   // F1..F10
    {69, 83}, {70, 71}, // Num Lock, Scroll Lock
    {71, 95}, {72, 96}, {73, 97}, {74, 86}, {75, 92}, {76, 93}, {77, 94}, {78, 87},
    {79, 89}, {80, 90}, {81, 91}, {82, 98}, {83, 99}, // keypad 7 8 9 - 4 5 6 + 1 2 3 0 .
    {85, 148},  // Zenkaku/Hankaku (LANG5)
    {86, 100},  // the ISO key beside left Shift
    {87, 68}, {88, 69}, // F11, F12
    {89, 135}, {90, 146}, {91, 147}, {92, 138}, {93, 136}, {94, 139}, {95, 140}, // Japanese
    {96, 88}, {97, 228}, {98, 84}, {99, 70}, {100, 230}, // keypad Enter, right Control,
                                                          // keypad /, Print Screen, right Alt
    {102, 74}, {103, 82}, {104, 75}, {105, 80}, {106, 79}, {107, 77}, {108, 81}, {109, 78},
    {110, 73}, {111, 76}, // Home Up PageUp Left Right End Down PageDown Insert Delete
    {113, 127}, {114, 129}, {115, 128}, {116, 102}, {117, 103}, // Mute, Volume -, +, Power,
                                                                // keypad =
    {119, 72},  // Pause
    {121, 133}, {122, 144}, {123, 145}, {124, 137}, // keypad comma, Hangul, Hanja, Yen
    {125, 227}, {126, 231}, {127, 101}, // left GUI, right GUI, Menu (Application)
    {183, 104}, {184, 105}, {185, 106}, {186, 107}, {187, 108}, {188, 109}, {189, 110},
    {190, 111}, {191, 112}, {192, 113}, {193, 114}, {194, 115}, // F13..F24
};

constexpr std::size_t kTableSize = 256;

constexpr std::array<std::uint8_t, kTableSize> make_table()
{
    std::array<std::uint8_t, kTableSize> table{};
    for (const auto &[evdev, usage] : kEvdevToUsage)
        table[evdev] = usage;
    return table;
}

constexpr std::array<std::uint8_t, kTableSize> kUsageOfEvdev = make_table();

} // namespace

std::uint8_t hid_usage_of_native_key(std::uint32_t nativeKeyCode)
{
    if (nativeKeyCode < kNativeOffset || nativeKeyCode - kNativeOffset >= kTableSize)
        return 0;
    return kUsageOfEvdev[nativeKeyCode - kNativeOffset];
}
