#pragma once

#include "tools/socket/c_abs_thread.h"

#include <memory>

class c_abs_net_handler;
class c_tcp_sock;

// A worker of one device channel: shares the channel's socket with its partner thread and
// delivers received frames to (or serves) the channel's handler.
class c_socket_thread : public c_abs_thread {
    Q_OBJECT
public:
    c_socket_thread(std::shared_ptr<c_tcp_sock> sock, std::shared_ptr<c_abs_net_handler> handler)
        : m_pTcpSocket(std::move(sock)), m_pHandler(std::move(handler)) {}

    // True exactly when running() is false.
    bool stop_requested() const { return !running(); }

    const std::shared_ptr<c_tcp_sock> &socket() const { return m_pTcpSocket; }
    const std::shared_ptr<c_abs_net_handler> &handler() const { return m_pHandler; }

protected:
    std::shared_ptr<c_tcp_sock> m_pTcpSocket;
    std::shared_ptr<c_abs_net_handler> m_pHandler;
};
