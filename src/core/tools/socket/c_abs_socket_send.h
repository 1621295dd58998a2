#pragma once

#include "tools/socket/c_socket_thread.h"
#include "tools/socket/c_wait_object.h"
#include "tools/socket/mt_queue.h"

#include <memory>

// Base of the send threads: drains a channel's outgoing queue onto its socket. The thread
// keeps a copy of the queue (copies share the messages), so it stays valid even when the
// thread outlives the queue's owner. Construction registers a wake-up on append.
class c_abs_socket_send : public c_socket_thread {
    Q_OBJECT
public:
    // `queue` must not be null; a null `wait` gives the thread a wait object of its own.
    c_abs_socket_send(std::shared_ptr<c_tcp_sock> sock, c_abs_net_handler *handler,
                      mt_queue<CQUEUE_MESSAGE> *queue, std::shared_ptr<c_wait_object> wait);

protected:
    // On this thread: copies the oldest message into `msg` (it stays queued) and returns
    // true; with nothing queued, sleeps up to waitMs, until an append or stop(), and
    // returns false.
    bool next_message(CQUEUE_MESSAGE &msg, int waitMs);
    // Removes the oldest message, the one just sent; its buffer goes with the last copy.
    void drop_sent() { m_queue.takeFirst(); }
    // Work this thread has besides its queue, checked under the wait object's mutex before
    // next_message() sleeps, so that work arriving just before the sleep is not left waiting
    // out the whole of it. Its producers must wake the wait object after adding it.
    virtual bool has_other_work() { return false; }

    void wake() override;

    mt_queue<CQUEUE_MESSAGE> m_queue;
    std::shared_ptr<c_wait_object> m_wait;
};
