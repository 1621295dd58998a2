#pragma once

#include <QString>

#include <string>

// Shared by the keyboard/mouse tests. A QApplication (offscreen unless the environment
// names another platform) exists for the whole test program; see km_test_support.cpp.

// The folder where the build puts the programs (ledsync): from the test environment, else
// beside the tests' folder.
QString test_program_dir();

// Reads the main logger's lines from the moment it is created: points the process's log
// manager at a temporary folder, writing lines of `level` and above.
class log_capture {
public:
    explicit log_capture(int level = 0);
    ~log_capture();
    // Every line written so far (all files joined).
    std::string text() const;
    bool contains(const std::string &piece) const { return text().find(piece) != std::string::npos; }

private:
    struct impl;
    impl *m_impl;
};

// An Xvfb server on a display number of its own choosing, for as long as the object lives.
class xvfb_server {
public:
    xvfb_server();
    ~xvfb_server();
    // ":N", or empty when Xvfb could not be started.
    const std::string &display() const { return m_display; }

private:
    int m_pid = -1;
    std::string m_display;
};
