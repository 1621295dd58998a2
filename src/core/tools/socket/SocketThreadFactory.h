#pragma once

#include "tools/socket/c_socket_thread.h"
#include "tools/socket/c_wait_object.h"
#include "tools/socket/mt_queue.h"

#include <array>
#include <cstdint>
#include <memory>

// What the two threads of a channel are built from.
struct socket_channel_params {
    std::shared_ptr<c_tcp_sock> socket;          // shared by both threads
    mt_queue<CQUEUE_MESSAGE> *queue = nullptr;   // outgoing frames (the send thread keeps a copy)
    std::shared_ptr<c_wait_object> wait;         // the send thread sleeps on it; may be null
    c_abs_net_handler *handler = nullptr;        // receives the frames; not owned (see SocketChannel::stop)
    std::array<std::uint8_t, 8> inboundKey{};    // video: deciphers frame heads
};

// The send thread (first) and the receive thread (second) of a channel; both null when
// the kind is unknown or a required part is missing. Owned through thread_deleter.
struct socket_thread_pair {
    std::shared_ptr<c_socket_thread> send;
    std::shared_ptr<c_socket_thread> recv;
};

// Creates the thread pair of a channel kind. Stateless; any thread.
class SocketThreadFactory {
public:
    enum Kind : int { kVideo = 2, kMedia = 3 };

    static SocketThreadFactory &instance();

    // Threads are created, not started. An unknown kind (or a null socket, queue or
    // handler) gives an empty pair and an error line.
    socket_thread_pair create(int kind, const socket_channel_params &params) const;
};
