#pragma once

#include "c_sim_options.h"
#include "c_sim_runner.h"
#include "video_label.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

class H264Video;
class QToolButton;

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

// A colour as "(r,g,b)" for failure messages.
std::string rgb_text(QRgb colour);
// Each channel of `actual` within `tolerance` of `expected`.
bool near_colour(QRgb actual, QRgb expected, int tolerance);

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

    // Writes "key.xml" into the settings folder.
    void write_key_file(const QString &xml);

    // Sets the launch parameters from the device's launch text, builds the window as the
    // program does, shows it and waits until it holds the write privilege and shows a
    // picture. Fatal failures end the test.
    void open_window();
    // The first half of open_window(): builds the window and shows it, without waiting for
    // the device (which may be failing on purpose).
    void show_window();

    c_video_label *screen() const;
    // The system key menu's button on the toolbar.
    QToolButton *syskey_button() const;
    QStringList syskey_menu_texts() const;
    // Opens the system key menu with a click on its button, as the user does, and clicks
    // the entry with this text. False when the menu or the entry did not show.
    bool choose_syskey(const QString &text);

    // Presses and releases a key on the window as the window system delivers it: to
    // whichever widget has the keyboard focus.
    void type_key(Qt::Key key);

    // The payloads of the keyboard/mouse frames of `type` the device received from this
    // window, in order.
    std::vector<std::string> km_payloads(int type) const;
    // How many relative mouse reports of (-127, -127) the device received: 20 per alignment.
    int align_reports() const;
    // Waits until the device has received `count` keyboard reports.
    bool wait_keyboard_reports(std::size_t count);
    // Waits until the device has received `count` reports of this payload.
    bool wait_keyboard_report(const std::string &payload, int count);

    // The keyboard reports the window should have sent so far, in order. Kept up to date
    // as things happen: a system key menu entry adds its report from m_comboReports (by the
    // entry's data) and the all-keys-up report; every deactivation of the window adds the
    // all-keys-up report it sends (the offscreen platform deactivates the window now and
    // then as a popup menu closes); tests add what they type.
    std::vector<std::string> m_expectedKeys;
    std::map<QString, std::string> m_comboReports{{QStringLiteral("_printscreen"), "0000460000000000"}};
    // Waits until the label has been given `count` new pictures (after this call).
    bool wait_new_pictures(int count);

    std::string sim_reply(const std::string &command) { return m_sim->command(command); }
    std::string console() { return sim_reply("console"); }

    QTemporaryDir m_dir;
    QString m_settingsDir;
    QString m_jsonPath;
    std::unique_ptr<c_sim_runner> m_sim;
    std::unique_ptr<H264Video> m_window;

private:
    class deactivation_recorder;
    std::unique_ptr<deactivation_recorder> m_deactivations;
};
