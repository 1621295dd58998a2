#pragma once

#include "tools/socket/c_abs_socket_send.h"

#include <QMutex>

#include <atomic>
#include <chrono>
#include <mutex>

class c_net_syncer;

// The virtual media channel's send thread: a stop-and-wait transport. The frame at the head
// of the media queue goes out and stays queued until the device's answer to it is accepted;
// a refused frame is sent again at once, an unanswered one after kAnswerWaitMs (both logged
// "wait ack failed," and the frame's label), without limit.
//
// The receive thread reports each verdict through on_answer(), and an accepted answer sends
// the next frame from there: handing the turn to this thread instead would put a thread
// wake-up on every sector's round trip, which costs as much as the exchange itself on a
// fast link. This thread starts the exchange when frames are queued while nothing awaits an
// answer, resends after the wait, and sends the attached keyboard/mouse syncer's frames as
// they are queued, one per turn of its loop, so input never waits for the disk.
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

    // The device's answer to the frame in flight was accepted (true) or refused (false):
    // the next frame, or the same one again, goes out from the calling thread (the receive
    // thread). Ignored when nothing is in flight or the thread is stopping.
    void on_answer(bool accepted);

    // Diagnostic label of a media frame: "pak_ask", "pak_readData" or "pak_Type=<type>".
    static QString frame_label(const CQUEUE_MESSAGE &msg);

protected:
    void run() override;
    // A keyboard/mouse frame waiting in the attached syncer.
    bool has_other_work() override;

private:
    using steady = std::chrono::steady_clock;

    bool offer_syncer();
    // With m_turnLock held: the frame in flight is no longer awaited; the queue's head, if
    // any, is sent and becomes the frame in flight.
    void send_head_locked();
    // Sleeps until `until`, a stop, a keyboard/mouse frame, or a frame queued while nothing
    // is in flight.
    void rest_until(steady::time_point until);
    void drop_if_head(const CQUEUE_MESSAGE &sent);

    QMutex m_syncerLock; // held while the syncer is in use on this thread
    c_net_syncer *m_syncer = nullptr;

    // The turn, taken by this thread and by the receive thread in on_answer().
    std::mutex m_turnLock;
    CQUEUE_MESSAGE m_inFlight; // no buffer: nothing awaits an answer
    steady::time_point m_sentAt;
    bool m_sendFailed = false;         // the frame in flight never left
    std::atomic<bool> m_awaiting{false}; // m_inFlight holds a frame (read without the lock)
};
