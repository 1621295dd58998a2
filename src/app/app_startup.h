#pragma once

#include <string>

class QApplication;

// Steps of the program entry that need the widget toolkit. GUI thread only.

// Serial-bridge mode: starts "serbridge" from the program folder, detached, with the
// decoded launch text as its one argument. When that fails, logs the program path (never
// the argument, which holds the keys) and shows the modal "critical" box. Returns the
// exit status of the process, always 0.
int run_serial_bridge_mode(const std::string &decodedText);

// Applies the style sheet resource ":/qss/H264Video" to the application (an empty sheet
// when the resource is missing).
void apply_style_sheet(QApplication &app);

// Makes SIGTERM, SIGINT and SIGHUP (logout, shutdown, a terminal's Ctrl+C) end the event loop
// as closing the window does, so the window is destroyed and every channel is taken down
// in order: the virtual disk gets its final unmap instead of vanishing mid-write. Call once,
// right before the event loop runs.
void quit_on_termination_signals(QApplication &app);
