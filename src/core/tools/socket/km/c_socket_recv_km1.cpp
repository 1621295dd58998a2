#include "tools/socket/km/c_socket_recv_km1.h"

#include "logging/log.h"
#include "protocol/c_abs_net_handler.h"

c_socket_recv_km1::c_socket_recv_km1(std::shared_ptr<c_tcp_sock> sock, const key_type &inboundKey)
    : c_abs_socket_recv(std::move(sock), nullptr), m_inboundKey(inboundKey)
{
    setObjectName(QStringLiteral("km_recv"));
}

bool c_socket_recv_km1::decipher_body(const key_type &key, const frame_header &header,
                                      std::uint8_t *body, std::uint32_t &length)
{
    return decipher_frame_body(key.data(), header, body, length);
}

// Runs on the receive thread.
void c_socket_recv_km1::handle_frame(const frame_header &header, std::uint8_t *body,
                                     std::uint32_t length)
{
    if (sum8(body, length) != header.checksum)
        return;
    if (header.ciphered() && !decipher_body(m_inboundKey, header, body, length)) {
        TLOG_ERROR << "km frame with plain length " << header.plainLength
                   << " and wire length " << header.wireLength << " cannot be deciphered, dropped";
        return;
    }
    if (length == 0)
        return;
    with_handler([&](c_abs_net_handler &handler) {
        handler.HandleMsg(this, body, header.rawPlainLength, length);
    });
}
