#include "tools/socket/c_socket_send_video.h"

#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

c_socket_send_video::c_socket_send_video(std::shared_ptr<c_tcp_sock> sock,
                                         c_abs_net_handler *handler,
                                         mt_queue<CQUEUE_MESSAGE> *queue,
                                         std::shared_ptr<c_wait_object> wait)
    : c_abs_socket_send(std::move(sock), handler, queue, std::move(wait))
{
    setObjectName(QStringLiteral("video_send"));
}

// Runs on the send thread.
void c_socket_send_video::run()
{
    while (running()) {
        CQUEUE_MESSAGE msg;
        if (!next_message(msg, kIdleWaitMs))
            continue;
        if (stop_requested())
            break;
        m_pTcpSocket->tcp_send(msg.buffer.get(), static_cast<int>(msg.length));
        // Once stopping, the queue (with this message) is its owner's to release.
        if (stop_requested())
            break;
        drop_sent();
    }
}
