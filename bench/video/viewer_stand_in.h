#pragma once

#include "protocol/c_abs_net_handler.h"
#include "protocol/c_video_msg_dispatcher.h"
#include "tools/socket/mt_queue.h"
#include "video/display_geometry.h"
#include "video_label.h"
#include "video_picture_image.h"

#include <QImage>
#include <QObject>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class SocketChannel;
class c_tcp_sock;
class c_video_picture_path;
struct c_wait_object;

// The video label of the stand-in: the window's, reporting each finished paint.
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

// The main window's video path without the rest of the window (which connects to a whole
// device when built): the real video channel (SocketChannel of the video kind: receive
// thread, frame reader, head decipher), the window's message handling (the dispatcher, a
// refused fragment discarding the picture in progress), the real picture path, and on the
// GUI thread the window's hand-over and display, step for step: a queued
// signal_decode_one_frame(QImage) over the pooled picture, a slot that skips all but the
// newest waiting picture, computes its display geometry for the label's size and hands both
// to the label (c_video_label), which then paints it.
//
// Measured on the side, without changing what the path does: the moment the receive thread
// delivers a picture's last fragment, the moment the label has painted it, the pictures
// skipped or replaced before being painted, and how many pictures waited at once.
class viewer_stand_in : public QObject, public c_abs_net_handler, private c_video_msg_listener {
    Q_OBJECT
public:
    using clock = std::chrono::steady_clock;

    struct result {
        int decoded = 0;      // pictures handed to the display
        int shown = 0;        // painted
        int dropped = 0;      // skipped by the hand-over or replaced before being painted
        int maxWaiting = 0;   // most pictures emitted and not yet taken by the slot
        std::vector<double> latencyMs; // last fragment received -> painted
        clock::time_point lastShown;
        double receiveCpuSeconds = 0; // receive thread, first frame to last
        double renderCpuSeconds = 0;  // GUI thread: the slot's geometry and hand-over
        double paintCpuSeconds = 0;   // GUI thread: the label's paintEvent
    };

    // The label is shown at `area` (offscreen platform).
    explicit viewer_stand_in(QSize area);
    ~viewer_stand_in() override;

    // Connects to 127.0.0.1:port and starts the channel; false when the connect fails.
    bool start(std::uint16_t port, const std::array<std::uint8_t, 8> &inboundKey);
    // Stops the channel (bounded) and releases the picture path.
    void stop();

    // GUI thread: every decoded picture has been taken by the slot and the last one drawn
    // has been painted.
    bool settled(int expectedPictures) const;
    // GUI thread, after stop().
    result results() const;

    // Once the slot has taken `pictures` pictures: snapshots the results (marked()) and calls
    // `hook` on the GUI thread, so a run can leave its start-up out. Before start().
    void set_mark(int pictures, std::function<void()> hook);
    const result &marked() const { return m_atMark; }

    // Receive thread.
    std::uint8_t HandleMsg(c_socket_thread *sender, const std::uint8_t *body,
                           std::uint32_t lengthField, std::uint32_t bodyLength) override;

signals:
    void signal_decode_one_frame(QImage picture);

public slots:
    void on_slot_decode_one_frame(QImage picture);

private:
    void on_led_report(std::uint8_t) override {}
    void on_video_fragment(const std::uint8_t *body, std::uint32_t length) override;
    void emit_picture(const video_picture &picture); // receive thread
    void painted();                                   // GUI thread
    void take_mark();                                 // GUI thread

    std::unique_ptr<display_label> m_label;
    QColor m_marginColour;

    std::shared_ptr<c_tcp_sock> m_socket;
    mt_queue<CQUEUE_MESSAGE> m_queue;
    std::shared_ptr<c_wait_object> m_wait;
    std::unique_ptr<SocketChannel> m_channel;
    std::unique_ptr<c_video_picture_path> m_picturePath;
    c_video_msg_dispatcher m_dispatcher{this};
    std::atomic<int> m_picturesInFlight{0};

    // Receive thread (measurement).
    clock::time_point m_lastFragmentAt;
    double m_receiveCpuFirst = -1;
    std::atomic<double> m_receiveCpuLast{0};
    std::atomic<int> m_decoded{0};
    std::atomic<int> m_maxWaiting{0};
    std::mutex m_stampLock;
    std::deque<clock::time_point> m_stamps; // one per emitted picture, in emit order

    // GUI thread.
    display_geometry m_geometry;
    QSize m_remoteSize;
    int m_taken = 0;
    bool m_paintPending = false;
    clock::time_point m_pendingStamp;
    double m_renderCpu = 0;
    result m_result;
    int m_markAt = -1;
    std::function<void()> m_markHook;
    result m_atMark;
};
