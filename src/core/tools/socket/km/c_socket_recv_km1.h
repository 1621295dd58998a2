#pragma once

#include "tools/socket/c_abs_socket_recv.h"

#include <QMutex>

#include <array>
#include <cstdint>
#include <vector>

// The keyboard/mouse channel's receive thread. Every frame whose checksum holds is
// deciphered under the inbound key when its plain and wire lengths differ, and delivered to
// the first registered handler's HandleMsg on this thread. A frame with a wrong checksum is
// dropped silently.
class c_socket_recv_km1 : public c_abs_socket_recv {
    Q_OBJECT
public:
    using key_type = std::array<std::uint8_t, 8>;

    // The handler list starts empty (frames are dropped until one is added); the thread's
    // base handler pointer is not used.
    c_socket_recv_km1(std::shared_ptr<c_tcp_sock> sock, const key_type &inboundKey);

    // Appends a handler. Any thread. A handler must stay alive until this thread has
    // finished (it may be inside HandleMsg at any moment until then).
    void add_handler(c_abs_net_handler *handler);
    bool has_handler() const;

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
    c_abs_net_handler *first_handler() const;

    key_type m_inboundKey;
    mutable QMutex m_handlersMutex;
    std::vector<c_abs_net_handler *> m_handlers;
};
