#pragma once

#include "protocol/message_types.h"
#include <QDialog>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace Ui {
class video_setting_dlg;
}

// The video settings dialog: moves the remote picture (the device's capture position) up,
// down, left or right, restores it, and sets the process-wide mouse sample rate
// (km/mouse_rate.h) with a slider from 1 to 100. GUI thread only; run modally by its
// owner, which saves the rate once the dialog has closed.
class c_ui_video_setting_dlg : public QDialog {
    Q_OBJECT

public:
    // Receives one video channel message body (unciphered, type byte first). The owner
    // frames it and queues it for the video channel under the tag "notU"; it is called on
    // the GUI thread while the dialog runs.
    using body_sink = std::function<void(const std::vector<std::uint8_t> &body)>;

    // Message bodies and directions of the device's capture position commands.
    static constexpr std::uint8_t kSetPosition = kMsgVideoSetPosition;
    static constexpr std::uint8_t kResetPosition = kMsgVideoResetPosition;
    enum Direction : std::uint8_t { kUp = 1, kDown = 2, kLeft = 3, kRight = 4 };

    // `target` is the low byte of the launch parameter dogID (the target's interface
    // module). The dialog has no parent widget unless one is given.
    c_ui_video_setting_dlg(body_sink sink, std::uint8_t target, QWidget *parent = nullptr);
    ~c_ui_video_setting_dlg() override;

    // Shows `rate` before the dialog runs: its text goes into the line edit, then the slider
    // moves to it. A rate outside 1..100 is clamped by the slider, and the clamped value is
    // shown and becomes the process-wide rate (200 becomes 100).
    void setMouseSampleRate(int rate);

public slots:
    void onUp();
    void onDown();
    void onLeft();
    void onRight();
    // Asks the device to restore its capture position.
    void reset();
    // Shows `value` and makes it the process-wide mouse sample rate at once.
    void setLineEditSliderValue(int value);

private:
    void sendPosition(Direction direction);

    std::unique_ptr<Ui::video_setting_dlg> ui;
    body_sink m_sink;
    std::uint8_t m_target;
};
