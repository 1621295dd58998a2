#pragma once

#include "../gui_window/window_test_support.h"

#include <QElapsedTimer>
#include <QTimer>

#include <cstddef>
#include <string>

class c_ui_u_setting_dlg;

// Measures the longest time the GUI thread's event loop went without running a 5 ms timer.
// Lives on the GUI thread; it measures only while the test lets events run.
class gui_stall_meter {
public:
    gui_stall_meter();
    void restart();
    qint64 longest_ms() const { return m_longest; }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    qint64 m_longest = 0;
};

// The longest pause of the GUI thread the window may take on purpose (creating the media
// channel), plus room for a shared, noisy machine.
inline constexpr qint64 kLongestPauseMs = 1000;
inline constexpr qint64 kStallBoundMs = kLongestPauseMs + 500;
// The window and all its channels must be gone within this after the user closes it.
inline constexpr qint64 kCloseBoundMs = 3000;

// The window on the simulated device, with the viewer's (and the device's) log lines going
// to a private folder where the test reads them.
class FailingDevice : public WindowOnSim {
protected:
    void SetUp() override;
    void TearDown() override;

    // The log written since SetUp.
    std::string log_text() const;
    // Waits (running events) until the log holds `piece` `count` times since SetUp.
    bool wait_log(const std::string &piece, int count = 1, int timeoutMs = kWaitMs);
    std::size_t log_count(const std::string &piece) const;

    // Closes the window as the user does and destroys it; the milliseconds that took.
    qint64 close_window();
    // Checks the two bounds every fault test ends with: the longest stall of the GUI thread
    // since the meter restarted, and the close of the window.
    void expect_stall_and_close_bounds();

    // The window's virtual media dialog.
    c_ui_u_setting_dlg *media_dialog() const;

    // Writes a FAT32 disk image of 4096 sectors and offers it to the media dialog through
    // TESSARACT_IMAGES. Before open_window().
    void prepare_image();
    QByteArray image_contents() const;
    // Maps the image through the window's media dialog, as the user does.
    void map_image(bool readOnly);
    // Mapped, and the remote computer done probing the disk.
    bool wait_mapped();
    std::string media() { return sim_reply("media"); }

    QString m_image;
    QByteArray m_original;

    gui_stall_meter m_meter;
    std::size_t m_logMark = 0;
};
