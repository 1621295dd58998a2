#pragma once

#include "tools/socket/c_abs_socket_send.h"

// The video channel's send thread: sends the login and the video setting commands queued
// by the main window, oldest first, each once (a failed send drops the frame).
class c_socket_send_video : public c_abs_socket_send {
    Q_OBJECT
public:
    // Longest sleep with an empty queue; an append or a stop wakes it earlier.
    static constexpr int kIdleWaitMs = 100;

    c_socket_send_video(std::shared_ptr<c_tcp_sock> sock, c_abs_net_handler *handler,
                        mt_queue<CQUEUE_MESSAGE> *queue, std::shared_ptr<c_wait_object> wait);

protected:
    void run() override;
};
