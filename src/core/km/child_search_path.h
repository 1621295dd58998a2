#pragma once

#include <string>

// Puts `folder` (default: the running program's folder) first on this process's PATH, so
// that sibling programs started by bare name ("ledsync") are found beside the viewer before
// anything installed elsewhere. An entry already first is not repeated; an empty folder
// changes nothing. Call on the main thread at start-up, before any other thread exists:
// it changes the environment. Returns the PATH now in effect.
std::string put_program_dir_first_on_path(const std::string &folder = {});
