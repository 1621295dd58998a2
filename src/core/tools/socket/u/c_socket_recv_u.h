#pragma once

#include "tools/socket/c_abs_socket_recv.h"

#include <functional>

// The virtual media channel's receive thread: hands every device frame to the handler's
// HandleMsg on this thread and then reports the verdict to the send thread (answer_sink,
// see c_socket_send_u::on_answer): accepted unless HandleMsg returned 5 (resend).
// Frames longer than the 512 KiB body buffer are read and discarded whole.
class c_socket_recv_u : public c_abs_socket_recv {
    Q_OBJECT
public:
    // Called on this thread with each verdict; may be empty (nothing is reported).
    using answer_sink = std::function<void(bool accepted)>;

    c_socket_recv_u(std::shared_ptr<c_tcp_sock> sock, c_abs_net_handler *handler,
                    answer_sink onAnswer);

signals:
    // The device closed the connection (emitted on this thread, which then ends).
    void signal_socket_u_close();

protected:
    void handle_frame(const frame_header &header, std::uint8_t *body,
                      std::uint32_t length) override;
    void emit_closed() override { emit signal_socket_u_close(); }

private:
    answer_sink m_onAnswer;
};
