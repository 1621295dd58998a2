#pragma once

#include "tools/socket/SocketThreadFactory.h"

#include <QThread>

#include <memory>

// The send/receive thread pair of one device channel (kinds of SocketThreadFactory).
// Owned and driven by one thread (the main window's or a dialog's).
class SocketChannel {
public:
    // How long stop() waits for each thread before closing the socket under it.
    static constexpr int kStopWaitMs = 1000;
    // Further grace after closing the socket; a thread still running then is left to end
    // by itself and is deleted once it has.
    static constexpr int kCloseGraceMs = 100;
    // How long stop() then waits for a handler call in progress on a thread it gave up on.
    static constexpr int kHandlerWaitMs = 1000;

    // Creates both threads through the factory; none is started. Check valid().
    SocketChannel(int kind, const socket_channel_params &params);
    SocketChannel(int kind, std::shared_ptr<c_tcp_sock> sock, mt_queue<CQUEUE_MESSAGE> *queue,
                  std::shared_ptr<c_wait_object> wait, c_abs_net_handler *handler);
    // stop(), then releases every frame still queued (none is sent) and both threads.
    ~SocketChannel();
    SocketChannel(const SocketChannel &) = delete;
    SocketChannel &operator=(const SocketChannel &) = delete;

    bool valid() const { return m_threads.send && m_threads.recv; }

    // Starts the send thread, then the receive thread. Only once; a stopped pair is
    // never restarted (build a new one).
    void start(QThread::Priority sendPriority, QThread::Priority recvPriority);
    // Stops the send thread, then the receive thread: each is asked to stop and given
    // kStopWaitMs to end; one that has not ended by then gets its socket closed (which
    // ends a blocked receive or send) and kCloseGraceMs more. Then each thread's handler is
    // detached: when stop() returns, no handler call starts any more, even on a thread that
    // runs on, and a call in progress has ended unless it outlasted kHandlerWaitMs too (then
    // stop() returns false with an error line, and the handler must be kept). A repeated
    // call waits no more and returns the first call's result.
    bool stop();

    const std::shared_ptr<c_socket_thread> &send_thread() const { return m_threads.send; }
    const std::shared_ptr<c_socket_thread> &recv_thread() const { return m_threads.recv; }

private:
    static bool stop_thread(c_socket_thread &thread);

    int m_kind;
    socket_thread_pair m_threads;
    std::shared_ptr<mt_queue<CQUEUE_MESSAGE>> m_queue; // shares the owner's queue
    bool m_started = false;
    bool m_stopped = false;
    bool m_handlersFree = true;
};
