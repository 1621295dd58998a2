#pragma once

#include "c_media_session.h"
#include "tools/key_mouse/keyboard_layout.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One line of the simulator's control interface (grammar in README.md), parsed and
// checked. Pure; any thread.
struct control_command {
    enum class verb {
        none, // empty line or comment: no reply
        help, status, viewers, send, priv, led, ack, close, garbage, oversize, malformed,
        keyframe, console, clear, pointer, read, write, nothing, refuse_next, ffff, silent,
        media, sector, dump, stats, screenshot, quit, stall, resume, next, flood, login, listen, unlisten,
        layout,
    };
    enum class channel { km, video, media };
    enum class defect { checksum, short_body, cipher, header };
    // What happens to the next connection a channel accepts.
    enum class arrival { normal, close, mute };

    verb what = verb::none;
    channel where = channel::km;
    int viewer = 0;                  // connection number; 0 = every one (ack) or unused
    std::vector<std::uint8_t> bytes; // send: the body; flood: the raw bytes
    std::uint32_t first = 0;         // priv: type; led: bits; ack: type; garbage: count;
                                     // read/write/sector: start; silent: ms; dump: count;
                                     // flood: times
    std::uint32_t second = 0;        // priv: value; ack: target; read/write: count
    std::uint32_t third = 0;         // ack: result
    c_media_session::pattern fill;   // write
    defect flaw = defect::checksum;  // malformed
    std::string path;                // screenshot: the picture file
    arrival fate = arrival::normal;  // next
    bool refuse = false;             // login: refuse (true) or accept the logins on `where`
    keyboard_layout_id layout = keyboard_layout_id::us; // layout: the remote computer's layout
};

// False with a reason in `error` when the line is not a valid command.
bool parse_control_line(std::string_view line, control_command &out, std::string &error);

// The text of the help command: one line per command.
const char *control_help_text();

const char *channel_name(control_command::channel where);
