#pragma once

#include "tools/socket/c_abs_thread.h"
#include "tools/socket/handler_guard.h"

#include <memory>

class c_abs_net_handler;
class c_tcp_sock;

// A worker of one device channel: shares the channel's socket with its partner thread and
// delivers received frames to (or serves) the channel's handler.
//
// The thread does not own its handler. It calls it only through a guard that the owner
// closes with detach_handler() before the handler goes: from then on no call starts, even
// when the thread itself runs on (a stop that gave up on it).
class c_socket_thread : public c_abs_thread {
    Q_OBJECT
public:
    // `handler` may be null (frames are then dropped) and may be set later by attach_handler.
    c_socket_thread(std::shared_ptr<c_tcp_sock> sock, c_abs_net_handler *handler)
        : m_pTcpSocket(std::move(sock)), m_handler(handler) {}

    // True exactly when running() is false.
    bool stop_requested() const { return !running(); }

    const std::shared_ptr<c_tcp_sock> &socket() const { return m_pTcpSocket; }

    // Sets the handler when none was set (and it was never detached). Any thread.
    bool attach_handler(c_abs_net_handler *handler) { return m_handler.attach(handler); }
    bool has_handler() const { return m_handler.attached(); }
    // Ends this thread's use of its handler: no call starts after it returns; a call in
    // progress is waited for up to timeoutMs. True when none is in progress on return (the
    // handler may then be destroyed). Any thread; repeated calls are harmless.
    bool detach_handler(int timeoutMs) { return m_handler.detach(timeoutMs); }

protected:
    // On this thread: runs fn(handler) unless the handler is detached or unset.
    template <typename F>
    bool with_handler(F &&fn)
    {
        return m_handler.call(std::forward<F>(fn));
    }

    std::shared_ptr<c_tcp_sock> m_pTcpSocket;

private:
    handler_guard m_handler;
};
