#pragma once

#include "tools/socket/c_abs_socket_send.h"

#include <QMutex>

#include <atomic>

class c_net_syncer;

// The virtual media channel's send thread: a stop-and-wait transport. It sends the frame at
// the head of the media queue, waits up to kAnswerWaitMs for the receive thread's verdict
// on the device's answer, and removes the frame only when it was accepted; a refused frame
// is sent again at once, an unanswered one after the wait (logged "wait ack failed," and
// the frame's label), without limit. Before each of its own turns it lets the attached
// keyboard/mouse syncer send one pending frame, so keyboard and mouse input goes first.
//
// The head is removed only while it is still the frame that was sent: an owner that empties
// the queue under the wait object's mutex (see c_u_media_session) never loses a frame it
// queued after the clear.
class c_socket_send_u : public c_abs_socket_send {
    Q_OBJECT
public:
    static constexpr int kIdleWaitMs = 5;
    static constexpr int kAnswerWaitMs = 2000;

    c_socket_send_u(std::shared_ptr<c_tcp_sock> sock, c_abs_net_handler *handler,
                    mt_queue<CQUEUE_MESSAGE> *queue, std::shared_ptr<c_wait_object> wait);

    // Attaches the keyboard/mouse syncer (null detaches it). Any thread. When it returns,
    // this thread no longer uses the previous syncer, which the caller may then destroy.
    void set_syncer(c_net_syncer *syncer);
    // Wakes the thread from its empty-queue poll. Any thread. An attached syncer wakes it
    // by itself whenever a frame is appended to its list.
    void wake_sender() { m_wait->wake_all(); }

    // Diagnostic label of a media frame: "pak_ask", "pak_readData" or "pak_Type=<type>".
    static QString frame_label(const CQUEUE_MESSAGE &msg);

protected:
    void run() override;
    // stop(): besides the idle sleep, ends a wait for an answer at once.
    void wake() override;
    // A keyboard/mouse frame waiting in the attached syncer.
    bool has_other_work() override;

private:
    bool offer_syncer();
    void send_head(const CQUEUE_MESSAGE &msg);
    // Waits `ms`, or until stop(), sending keyboard/mouse frames as they are queued.
    void rest_serving_syncer(int ms);
    void drop_if_head(const CQUEUE_MESSAGE &sent);

    QMutex m_syncerLock; // held while the syncer is in use on this thread
    c_net_syncer *m_syncer = nullptr;
};
