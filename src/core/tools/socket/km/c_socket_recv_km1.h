#pragma once

#include "tools/socket/c_abs_socket_recv.h"

#include <array>
#include <cstdint>

// The keyboard/mouse channel's receive thread. Every frame whose checksum holds is
// deciphered under the inbound key when its plain and wire lengths differ, and delivered to
// the attached handler's HandleMsg on this thread. A frame with a wrong checksum is dropped
// silently.
class c_socket_recv_km1 : public c_abs_socket_recv {
    Q_OBJECT
public:
    using key_type = std::array<std::uint8_t, 8>;

    // Frames are dropped until a handler is attached (attach_handler), which its owner ends
    // with detach_handler() before it goes.
    c_socket_recv_km1(std::shared_ptr<c_tcp_sock> sock, const key_type &inboundKey);

    // The deciphered body and its plain length from the header (decipher_frame_body). False,
    // with nothing changed, when the lengths cannot describe a ciphered body; the frame is
    // then dropped with a log line. Pure; any thread.
    static bool decipher_body(const key_type &key, const frame_header &header,
                              std::uint8_t *body, std::uint32_t &length);

signals:
    // The device closed the connection (emitted on this thread, which then ends).
    void socket_close();

protected:
    void handle_frame(const frame_header &header, std::uint8_t *body,
                      std::uint32_t length) override;
    void emit_closed() override { emit socket_close(); }

private:
    key_type m_inboundKey;
};
