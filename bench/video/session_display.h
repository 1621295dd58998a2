#pragma once

#include "video/c_video_session.h"
#include "video/display_geometry.h"
#include "video_label.h"

#include <QObject>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

// The video label of the display: the window's, reporting each finished paint.
class display_label : public c_video_label {
    Q_OBJECT
public:
    explicit display_label(std::function<void()> painted) : m_painted(std::move(painted)) {}

    double paint_cpu_seconds() const { return m_paintCpu; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::function<void()> m_painted;
    double m_paintCpu = 0;
};

// The viewer's own video session (c_video_session: channel, receive thread, picture path and
// newest-only hand-over), measured where it calls out: the receive thread's messages, every
// decoded picture, and on the GUI thread the pictures it hands on, shown as the window shows
// them (display geometry for the label's size, c_video_label), which then paints them.
//
// Measured on the side, without changing what the session does: the moment the receive
// thread delivers a picture's last fragment, the moment the label has painted it, the
// pictures skipped or replaced before being painted, and how many pictures waited at once.
class session_display : public QObject {
    Q_OBJECT
public:
    using clock = std::chrono::steady_clock;

    struct result {
        int decoded = 0;      // pictures handed to the display
        int shown = 0;        // painted
        int dropped = 0;      // skipped by the hand-over or replaced before being painted
        int maxWaiting = 0;   // most pictures emitted and not yet taken at once
        std::vector<double> latencyMs; // last fragment received -> painted
        clock::time_point lastShown;
        double receiveCpuSeconds = 0; // receive thread, first frame to last
        double renderCpuSeconds = 0;  // GUI thread: geometry and hand-over to the label
        double paintCpuSeconds = 0;   // GUI thread: the label's paintEvent
    };

    // The label is shown at `area` (offscreen platform).
    explicit session_display(QSize area);
    ~session_display() override;

    // Connects to 127.0.0.1:port and starts the session; false when the connect fails.
    bool start(std::uint16_t port, const std::array<std::uint8_t, 8> &inboundKey);
    void stop();

    // GUI thread: every decoded picture has been taken and the last one shown is painted.
    bool settled(int expectedPictures) const;
    // GUI thread, after stop().
    result results() const;

    // Once `pictures` pictures have been taken: snapshots the results (marked()) and calls
    // `hook` on the GUI thread, so a run can leave its start-up out. Before start().
    void set_mark(int pictures, std::function<void()> hook);
    const result &marked() const { return m_atMark; }

private:
    // The session with its receive thread's messages timed.
    class measured_session : public c_video_session {
    public:
        explicit measured_session(session_display &display) : m_display(display) {}
        std::uint8_t HandleMsg(c_socket_thread *sender, const std::uint8_t *body,
                               std::uint32_t lengthField, std::uint32_t bodyLength) override;

    private:
        session_display &m_display;
    };

    void decoded(const video_picture &picture); // receive thread
    void show(const video_picture &picture);    // GUI thread
    void painted();                             // GUI thread
    int taken() const;

    std::unique_ptr<display_label> m_label;
    std::unique_ptr<measured_session> m_session;

    // Receive thread (measurement).
    clock::time_point m_lastFragmentAt;
    double m_receiveCpuFirst = -1;
    std::atomic<double> m_receiveCpuLast{0};
    std::atomic<int> m_decoded{0};
    std::atomic<int> m_maxWaiting{0};
    std::mutex m_stampLock;
    std::unordered_map<const std::uint8_t *, clock::time_point> m_stamps; // by pixel buffer

    // GUI thread.
    int m_replaced = 0;
    bool m_paintPending = false;
    clock::time_point m_pendingStamp;
    double m_renderCpu = 0;
    result m_result;
    int m_markAt = -1;
    bool m_marked = false;
    std::function<void()> m_markHook;
    result m_atMark;
};
