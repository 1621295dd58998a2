#pragma once

#include "c_sim_options.h"
#include "c_sim_runner.h"
#include "video_label.h"

#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

class H264Video;

// One frame the device received, from its JSON lines (bodies deciphered).
struct device_record {
    std::string channel; // "km", "video" or "media"
    int viewer = 0;
    int type = 0;        // -1: dropped (see error)
    std::string payload; // body after the type byte, lower-case hex
    std::string error;
};
std::ostream &operator<<(std::ostream &out, const device_record &record);

// Every record in the JSON lines file so far (a line still being written is left out).
std::vector<device_record> read_device_records(const QString &path);

// Processes events every 10 ms until `condition` holds or timeoutMs has passed.
bool wait_for(const std::function<bool()> &condition, int timeoutMs = 5000);

// Test bounds: only reached when something hangs (sanitizer builds are slow to start).
inline constexpr int kWaitMs = 8000;

// The simulated device on free ports of 127.0.0.1 with a small 16:9 screen, its received
// frames logged as JSON lines, and the settings folder the window reads "config.xml" and
// "key.xml" from. The window itself is opened by open_window(), after a test has prepared
// the settings folder; it is destroyed before the device.
class WindowOnSim : public ::testing::Test {
protected:
    static constexpr int kRemoteWidth = 640;
    static constexpr int kRemoteHeight = 360;

    WindowOnSim();
    ~WindowOnSim() override;
    void SetUp() override;
    void TearDown() override;

    // Sets the launch parameters from the device's launch text, builds the window as the
    // program does, shows it and waits until it holds the write privilege and shows a
    // picture. Fatal failures end the test.
    void open_window();
    // The first half of open_window(): builds the window and shows it, without waiting for
    // the device (which may be failing on purpose).
    void show_window();

    c_video_label *screen() const;
    // Chooses the entry with this text from the toolbar's system key menu; false when the
    // menu has no such entry.
    bool choose_syskey(const QString &text);

    // Presses and releases a key on the window as the window system delivers it: to
    // whichever widget has the keyboard focus.
    void type_key(Qt::Key key);

    // The payloads of the keyboard/mouse frames of `type` the device received, in order.
    std::vector<std::string> km_payloads(int type) const;
    // How many relative mouse reports of (-127, -127) the device received: 20 per alignment.
    int align_reports() const;
    // Waits until the label has been given `count` new pictures (after this call).
    bool wait_new_pictures(int count);

    std::string sim_reply(const std::string &command) { return m_sim->command(command); }
    std::string console() { return sim_reply("console"); }

    QTemporaryDir m_dir;
    QString m_settingsDir;
    QString m_jsonPath;
    std::unique_ptr<c_sim_runner> m_sim;
    std::unique_ptr<H264Video> m_window;
};
