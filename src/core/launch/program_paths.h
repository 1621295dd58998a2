#pragma once

#include <string>

// Where the program's files go. The program folder holds the executable and its sibling
// programs; where it is not writable (a system install), log files and the crash report go
// to the per-user state folder instead.

// Folder of the running executable, without a trailing '/'; empty if it cannot be read.
std::string program_dir();

// "$XDG_STATE_HOME/tessaract", or "$HOME/.local/state/tessaract" when that variable is
// unset or not an absolute path; empty when neither variable helps.
std::string user_state_dir();
// "$XDG_CONFIG_HOME/tessaract", or "$HOME/.config/tessaract" likewise.
std::string user_config_dir();

// Creates the folder and its parents (user-only permissions) if needed; true when it then
// exists and this process may create files in it.
bool make_writable_dir(const std::string &path);

// Points the main logger at "./log/" (relative to the current folder, which the caller has
// made the program folder) or, when that cannot be written, at the log folder below
// user_state_dir(); then starts the log manager and routes Qt and FFmpeg messages into it.
// Call once, on the main thread, before any thread of the program exists. Returns the
// folder chosen.
std::string start_program_log();

// Returns a copy of the first argument after the program name (empty when there is none)
// and overwrites it in place with zero bytes, so that the process's command line as others
// see it (/proc/PID/cmdline, ps) no longer shows it. Call first thing in main(), before
// anything else can read or reveal it.
std::string take_first_argument(int argc, char *argv[]);
