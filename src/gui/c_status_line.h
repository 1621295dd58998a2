#pragma once

#include <QStatusBar>
#include <QTimer>

#include <cstdint>

class QLabel;

// The line along the bottom of the main window: whether the device's channels are up, who
// holds the write privilege, which of the remote keyboard's lock keys are on and which disk is
// mapped, with room on the left for the outcome
// of a command (a screenshot saved). Long texts are cut, never widen the window: the remote
// picture keeps its size. A view only: the window tells it what changed. The text
// functions are free of widgets, so that each state's wording can be checked on its own.
// GUI thread.
class c_status_line : public QStatusBar {
    Q_OBJECT
public:
    // Who may type and move the mouse on the remote computer, as far as this viewer knows.
    enum class holder {
        nobody,             // the device has not said (or this viewer's channel is down)
        this_viewer,
        other_viewer,
        other_viewer_asked, // this viewer asked for it and waits for the holder's answer
    };
    // The mapped disk; an empty name when nothing is mapped.
    struct disk_info {
        QString name;
        std::uint64_t sizeBytes = 0;
        bool readOnly = false;
    };
    // How long the outcome of a command stays.
    static constexpr int kResultMs = 10000;

    // `channelUp`: the keyboard/mouse channel is connected; `answered`: the device has told
    // this viewer where it stands since then.
    static holder holder_of(bool channelUp, bool answered, bool writing, bool requestAllowed);
    // `down`: what the connection banner says (empty while every channel is up).
    static QString connection_text(const QString &down);
    static QString holder_text(holder who);
    static QString disk_text(const disk_info &disk);
    // The remote keyboard's lock LEDs (bit 0 Num, 1 Caps, 2 Scroll): those on, as a keyboard
    // labels them; empty when none is on or the device has not said (negative).
    static QString locks_text(int ledBits);

    explicit c_status_line(QWidget *parent);

    void show_connection(const QString &down);
    void show_holder(holder who);
    void show_disk(const disk_info &disk);
    void show_locks(int ledBits);
    // The outcome of a command, for kResultMs.
    void show_result(const QString &text);

    // The outcome shown now; empty once kResultMs has passed.
    QString result() const;

private:
    void show_result_text(const QString &text);

    QLabel *m_result;
    QLabel *m_connection;
    QLabel *m_holder;
    QLabel *m_locks;
    QLabel *m_disk;
    QTimer m_resultTimer;
};
