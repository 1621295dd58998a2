#pragma once

#include "tools/socket/c_abs_socket_recv.h"

#include <array>
#include <cstdint>

// The video channel's receive thread. A frame whose plain and wire lengths differ carries
// a DES-ciphered 16-byte head: it is deciphered under the inbound key, checked for type 6
// and delivered from body byte 4 with the plain head in place. Every frame goes to the
// handler's HandleMsg on this thread.
class c_socket_recv_video : public c_abs_socket_recv {
    Q_OBJECT
public:
    using key_type = std::array<std::uint8_t, 8>;

    c_socket_recv_video(std::shared_ptr<c_tcp_sock> sock, c_abs_net_handler *handler,
                        const key_type &inboundKey = {});

    // Before start() only.
    void set_inbound_key(const key_type &key) { m_inboundKey = key; }

signals:
    // The device closed the connection (emitted on this thread, which then ends).
    void signal_socket_video_close();

protected:
    void handle_frame(const frame_header &header, std::uint8_t *body,
                      std::uint32_t length) override;
    void emit_closed() override { emit signal_socket_video_close(); }

private:
    key_type m_inboundKey;
};
