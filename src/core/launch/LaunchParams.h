#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A raw DES key as the launcher hands it over. `length` is 8 when the key is present and 0
// when it is absent (missing or unusable item); only the first 8 bytes of `key` are used.
struct DesKey {
    std::uint8_t length = 0;
    std::uint8_t key[16] = {};

    bool present() const { return length == 8; }
};

// The connection settings of this run, decoded from the one launch argument.
struct LaunchParams {
    std::uint32_t dogID = 0;     // target interface module; shown one-based in the title
    std::uint32_t portKM = 0;    // keyboard/mouse channel port
    std::uint32_t portMedia = 0; // virtual media channel port (5918 when its item yields 0)
    std::uint32_t portV = 0;     // video channel port
    std::uint32_t priv = 0;      // privilege level, stored only
    std::uint32_t mouseMode = 0; // 0 or 1
    DesKey desEncodeKey;         // the device ciphers what it sends with this key
    DesKey desDecodeKey;         // the device deciphers what it receives with this key
    std::string ip;              // device address, dotted IPv4 text
    std::string userNM;          // login user name
    std::uint32_t userID = 0;    // user identifier sent in every login
};

// The settings of the process: written once by the program entry before any thread,
// window or socket exists; read-only (and so readable from any thread) afterwards.
extern LaunchParams para;

// Room for the launch text including its terminating zero; longer texts are cut.
inline constexpr std::size_t kLaunchTextBuffer = 1024;

// Turns the raw launch argument into the text that is parsed: cut to 1023 bytes (with a
// warning line), percent-decoded ("%" + two hex digits becomes that byte) and stripped of
// every double quote. A decoded zero byte ends the text. Pure apart from the log line; the
// raw text and the result are never logged.
std::string decode_launch_text(std::string_view argument);

// True when the decoded text asks for the serial-port bridge ("portCOM" anywhere in it).
bool is_serial_bridge_text(std::string_view decoded);

// The items of a decoded text: what lies strictly between the first '{' and the last '}',
// split at every ',', empty pieces dropped. No braces: no items. Views into `decoded`.
std::vector<std::string_view> launch_items(std::string_view decoded);

// The value of an item: everything after its first ':', or the whole item without one.
std::string_view launch_item_value(std::string_view item);

// Decimal text (blanks around it allowed) to an unsigned 32-bit number; 0 for anything
// that is not such a number, including numbers above 4294967295.
std::uint32_t launch_number(std::string_view value);

// A port item's value: as launch_number, except that a decimal number above 4294967295
// gives 4294967295, so that it stays out of range instead of reading as "no number".
std::uint32_t launch_port(std::string_view value);

// A key value: blanks, tabs, CR, LF and ';' are removed, and what remains must be exactly
// 16 hexadecimal digits (either letter case), read as 8 bytes. Anything else leaves the key
// absent (length 0, all zero): a key is never made up from part of a value.
DesKey launch_key(std::string_view value);

// Fills a record from a decoded text, matching each item's start against the keys in a
// fixed order (the last occurrence of a key wins). mouseMode starts at 0. Never fails:
// unknown items are ignored, bad numbers give 0, and an unusable key item leaves that key
// absent. Logs nothing: launch_params_problems says what keeps the record from use.
LaunchParams parse_launch_params(std::string_view decoded);

// Why a viewer session cannot run with `params`, one line per item at fault in plain words
// naming the item, never its value: a DES key that is absent, a keyboard/mouse or video
// port outside 1 to 65535, a media port above 65535 (0, no portMedia item, is left to the
// media channel, which reports its own failure). Empty when the record can be used. Pure.
std::vector<std::string> launch_params_problems(const LaunchParams &params);

// The title of the main window for these settings.
QString launch_window_title(const LaunchParams &params);
