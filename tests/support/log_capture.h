#pragma once

#include "logging/ILogManager.h"

#include <string>

// The process's main logger, pointed at a private folder for the whole test program on first
// use (trace level, nothing on standard output), read back as text.

// Everything written so far.
std::string logged_text();
// Lines written so far that contain `piece` ("" counts every line).
int log_lines_with(const std::string &piece);

// While it lives the main logger writes lines of `level` and above; count() sees only what
// was written after it was made.
class log_capture {
public:
    explicit log_capture(int level = LOG_LEVEL_TRACE);
    ~log_capture();
    log_capture(const log_capture &) = delete;
    log_capture &operator=(const log_capture &) = delete;
    // How often `piece` occurs in what was written since construction.
    int count(const std::string &piece) const;

private:
    std::size_t m_mark;
    int m_previousLevel;
};
