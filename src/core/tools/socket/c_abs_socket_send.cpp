#include "tools/socket/c_abs_socket_send.h"

#include <chrono>
#include <mutex>

c_abs_socket_send::c_abs_socket_send(std::shared_ptr<c_tcp_sock> sock,
                                     c_abs_net_handler *handler,
                                     mt_queue<CQUEUE_MESSAGE> *queue,
                                     std::shared_ptr<c_wait_object> wait)
    : c_socket_thread(std::move(sock), handler),
      m_queue(queue ? *queue : mt_queue<CQUEUE_MESSAGE>()),
      m_wait(wait ? std::move(wait) : std::make_shared<c_wait_object>())
{
    // The callback holds the wait object, not this thread, so it never dangles.
    m_queue.set_on_append([waitObject = m_wait] { waitObject->wake_all(); });
}

bool c_abs_socket_send::next_message(CQUEUE_MESSAGE &msg, int waitMs)
{
    // Checking the queue and the flag under the wait object's mutex means an append or a
    // stop between the check and the sleep still wakes the sleep.
    std::unique_lock lock(m_wait->mutex);
    if (m_queue.copyFirst(msg))
        return true;
    if (running() && !has_other_work())
        m_wait->cond.wait_for(lock, std::chrono::milliseconds(waitMs));
    return false;
}

void c_abs_socket_send::wake()
{
    m_wait->wake_all();
}
