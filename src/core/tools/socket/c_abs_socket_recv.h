#pragma once

#include "protocol/frame.h"
#include "tools/socket/c_socket_thread.h"

#include <cstdint>

// Base of the receive threads: run() allocates the receive buffer, cuts the socket's byte
// stream into frames (frame_reader) and hands each to handle_frame(). When the peer closes
// the connection it clears running(), closes the socket, calls emit_closed() and ends;
// after stop() it just ends.
class c_abs_socket_recv : public c_socket_thread {
    Q_OBJECT
public:
    static constexpr std::uint32_t kDefaultBufferSize = 0x80000; // 512 KiB

    using c_socket_thread::c_socket_thread;

protected:
    void run() final;

    // Size of the receive buffer; larger frames are discarded whole.
    virtual std::uint32_t buffer_size() const { return kDefaultBufferSize; }
    // On this thread, for every frame: `body` holds header.wireLength (= length, >= 1)
    // bytes and may be changed in place; it is valid until the call returns.
    virtual void handle_frame(const frame_header &header, std::uint8_t *body,
                              std::uint32_t length) = 0;
    // On this thread, once, after the peer closed the connection: emit the close signal.
    virtual void emit_closed() = 0;
};
