#pragma once

#include <string>
#include <vector>

class QApplication;
class QString;

// Steps of the program entry that need the widget toolkit. GUI thread only.

// Exit status of a start refused for its launch text.
inline constexpr int kStartRefusedStatus = 1;

// Serial-bridge mode: starts "serbridge" from the program folder in a session of its own,
// without arguments, the decoded launch text on its standard input (a pipe that ends after
// the text), so that the keys never show on its command line. When that fails, logs the
// program path (never the text) and shows the modal "critical" box. Returns the exit
// status of the process, always 0.
int run_serial_bridge_mode(const std::string &decodedText);

// Logs each problem and shows them in a critical "Error" box under the line "Launch
// parameter error."; returns kStartRefusedStatus once the box is closed or a termination
// signal arrives. `problems` name launch items, never their values. Call instead of
// creating the window.
int refuse_start(QApplication &app, const std::vector<std::string> &problems);

// Logs nothing, shows `text` in a critical "Error" box and returns `status` once the box is
// closed or a termination signal arrives. Call instead of running the window.
int report_start_failure(QApplication &app, const QString &text, int status);

// Applies the style sheet resource ":/qss/H264Video" to the application (an empty sheet
// when the resource is missing).
void apply_style_sheet(QApplication &app);

// Makes SIGTERM, SIGINT and SIGHUP (logout, shutdown, a terminal's Ctrl+C) end the event loop
// as closing the window does, so the window is destroyed and every channel is taken down
// in order: the virtual disk gets its final unmap instead of vanishing mid-write. Call once,
// right before the event loop runs.
void quit_on_termination_signals(QApplication &app);
