#include "tools/socket/u/c_socket_recv_u.h"

#include "protocol/c_abs_net_handler.h"

c_socket_recv_u::c_socket_recv_u(std::shared_ptr<c_tcp_sock> sock,
                                 c_abs_net_handler *handler, answer_sink onAnswer)
    : c_abs_socket_recv(std::move(sock), handler), m_onAnswer(std::move(onAnswer))
{
    setObjectName(QStringLiteral("u_recv"));
}

// Runs on the receive thread.
void c_socket_recv_u::handle_frame(const frame_header &header, std::uint8_t *body,
                                   std::uint32_t length)
{
    // HandleMsg runs first: it still finds the answered frame at the head of the queue.
    std::uint8_t result = c_abs_net_handler::kHandled;
    // A detached handler (the channel is stopping) answers nothing.
    if (!with_handler([&](c_abs_net_handler &handler) {
            result = handler.HandleMsg(this, body, header.rawPlainLength, length);
        }))
        return;
    if (m_onAnswer)
        m_onAnswer(result != c_abs_net_handler::kResend);
}
