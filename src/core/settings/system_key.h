#pragma once

#include <QMap>
#include <QString>

#include <cstdint>
#include <iosfwd>
#include <vector>

// One key of a named key combination that the user sends to the remote computer.
struct SYSTEMKEYINFO {
    QString str;   // display name, as the key capture builds it ("Control", "Alt", "F5")
    int value = 0; // Qt key code (0x01000021 for Control)

    friend bool operator==(const SYSTEMKEYINFO &, const SYSTEMKEYINFO &) = default;
};

// Prints {"Control", 0x1000021}.
std::ostream &operator<<(std::ostream &out, const SYSTEMKEYINFO &key);

// The user's combinations: group name -> keys in the order they were pressed, ordered by
// group name. The main window holds the live table; its editing window holds a copy.
using system_key_table = QMap<QString, std::vector<SYSTEMKEYINFO>>;

// The display name of a pressed key: a fixed name for the special keys (Shift, Control,
// Alt, Meta as "Win", Escape as "Esc", Home, End, Insert, Backspace, Space, ScrollLock,
// CapsLock, PageUp, PageDown, Tab, keypad Enter); else the key event's text when it is
// printable; else "F1".."F12", "ESC", "PAUSE" or "Delete"; else the key's own character when
// the code is a printable ASCII one (the text of a key held with Control is a control
// character); else empty.
QString system_key_name(int qtKey, const QString &eventText);

// The names of `keys` joined by " + " ("Control + Alt + Delete"); empty for no keys.
QString join_system_keys(const std::vector<SYSTEMKEYINFO> &keys);

// The key codes of `keys`, in order, as the key translator takes them.
std::vector<std::uint32_t> system_key_codes(const std::vector<SYSTEMKEYINFO> &keys);
