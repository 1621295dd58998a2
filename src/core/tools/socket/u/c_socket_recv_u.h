#pragma once

#include "tools/socket/c_abs_socket_recv.h"
#include "tools/socket/mt_queue.h"

// The virtual media channel's receive thread: hands every device frame to the handler's
// HandleMsg on this thread and then, when frames are queued, reports the verdict to the
// send thread through the queue's answer: accepted unless HandleMsg returned 5 (resend).
// Frames longer than the 512 KiB body buffer are read and discarded whole.
class c_socket_recv_u : public c_abs_socket_recv {
    Q_OBJECT
public:
    // `queue` must not be null; the thread keeps a copy that shares its messages.
    c_socket_recv_u(std::shared_ptr<c_tcp_sock> sock, c_abs_net_handler *handler,
                    mt_queue<CQUEUE_MESSAGE> *queue);

signals:
    // The device closed the connection (emitted on this thread, which then ends).
    void signal_socket_u_close();

protected:
    void handle_frame(const frame_header &header, std::uint8_t *body,
                      std::uint32_t length) override;
    void emit_closed() override { emit signal_socket_u_close(); }

private:
    mt_queue<CQUEUE_MESSAGE> m_queue;
};
