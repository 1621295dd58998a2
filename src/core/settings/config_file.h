#pragma once

#include "tools/key_mouse/keyboard_layout.h"
#include "video/display_geometry.h"

#include <QString>
#include <QStringList>

// The settings file "config.xml" beside the program: any root element holding a
// `mouseRate` element whose text is the mouse sample rate in decimal, and optionally a
// `reconnect` element, 1 (the default) to connect a channel the device dropped again, 0 to
// leave it down, and a `keyMapping` element, "physical" (the default: the key pressed, as
// the remote computer's layout reads it) or "qt" (the character typed locally, through a
// table made for the US layout). The program never creates the file; it must be installed with the root and
// `mouseRate`.

// The rates the settings dialog offers; the file may hold no other.
inline constexpr int kConfigRateMin = 1;
inline constexpr int kConfigRateMax = 100;

// The file's path: `programDir` + "/config.xml".
QString config_file_path(const QString &programDir);

// Logs "get config info:" and the path, then reads the rate. True with `rate` set when the
// file holds a `mouseRate` from 1 to 100. Otherwise (file unreadable, no `mouseRate`, a
// text that is not such a number) `rate` is untouched, a warning logged and false returned.
bool load_config_rate(const QString &path, int &rate);

// Logs "save config info:" and the path, then sets the text of the file's `mouseRate` to
// `rate` and writes the file back indented, everything else unchanged. Writes nothing, logs
// a warning and returns false when the file cannot be read, has no `mouseRate` or cannot be
// written.
bool save_config_rate(const QString &path, int rate);

// Reads `reconnect`. True with `on` set when the file holds it as 0 or 1. Otherwise `on` is
// untouched and false returned: quietly when the element is missing (files installed
// before the item existed), with a warning when its text is neither or the file unreadable.
bool load_config_reconnect(const QString &path, bool &on);

// Reads the text of the root's element `name` as one of `words` (lower case; the file's text
// is compared ignoring case and surrounding space). True with `index` set to its position;
// otherwise `index` is untouched and false returned: quietly when the element is missing,
// with a warning naming `words` when its text is none of them or the file unreadable.
bool load_config_word(const QString &path, const char *name, const QStringList &words,
                      int &index);

// How typed keys become keyboard reports.
enum class key_mapping { physical, qt_key };
// Reads `keyMapping` ("physical" or "qt") as load_config_word does.
bool load_config_key_mapping(const QString &path, key_mapping &mapping);

// Paste as keystrokes: `pasteLayout` names the remote computer's keyboard layout (us, uk, de
// or fr; default us) and `pasteRate` the typing rate in characters per second (default
// kPasteRateDefault; the typist bounds it). A missing file or element gives the default
// quietly; a value that is not one of these gives the default and a warning.
inline constexpr int kPasteRateDefault = 100;
keyboard_layout_id load_config_paste_layout(const QString &path);
int load_config_paste_rate(const QString &path);
// Sets `pasteLayout` to the layout's name, adding the element under the root when it is
// missing, and writes the file back with everything else unchanged. Logs a warning and
// returns false when the file cannot be read or written.
bool save_config_paste_layout(const QString &path, keyboard_layout_id layout);

// The view: `viewMode` ("fit", the default, or "actual") and `smoothScaling` ("0", the
// default, or "1"), each read as load_config_word does (true with the value set; false with
// it untouched).
bool load_config_view_mode(const QString &path, view_mode &mode);
bool load_config_smooth_scaling(const QString &path, bool &smooth);
// Set the element's text, adding the element under the root when it is missing, and write
// the file back with everything else unchanged. Log a warning and return false when the
// file cannot be read or written.
bool save_config_view_mode(const QString &path, view_mode mode);
bool save_config_smooth_scaling(const QString &path, bool smooth);
