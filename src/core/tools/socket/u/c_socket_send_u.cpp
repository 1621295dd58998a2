#include "tools/socket/u/c_socket_send_u.h"

#include "logging/log.h"
#include "media/u_packets.h"
#include "protocol/c_net_syncer.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

#include <chrono>
#include <mutex>

c_socket_send_u::c_socket_send_u(std::shared_ptr<c_tcp_sock> sock,
                                 c_abs_net_handler *handler,
                                 mt_queue<CQUEUE_MESSAGE> *queue,
                                 std::shared_ptr<c_wait_object> wait)
    : c_abs_socket_send(std::move(sock), handler, queue, std::move(wait))
{
    setObjectName(QStringLiteral("u_send"));
}

void c_socket_send_u::set_syncer(c_net_syncer *syncer)
{
    {
        QMutexLocker lock(&m_syncerLock);
        if (m_syncer != nullptr)
            m_syncer->set_on_queue({});
        m_syncer = syncer;
        // The callback holds the wait object, not this thread, so it never dangles.
        if (m_syncer != nullptr)
            m_syncer->set_on_queue([wait = m_wait] { wait->wake_all(); });
    }
    wake_sender();
}

QString c_socket_send_u::frame_label(const CQUEUE_MESSAGE &msg)
{
    const std::uint8_t type = u_frame_type(msg);
    if (type == kUTypeAsk)
        return QStringLiteral("pak_ask");
    if (type == kUTypeReadData)
        return QStringLiteral("pak_readData");
    return QStringLiteral("pak_Type=%1").arg(type);
}

void c_socket_send_u::wake()
{
    c_abs_socket_send::wake();
    // A refusal-like wake: run() sees the stop before it would resend.
    m_queue.post_answer(false);
}

// Runs on the send thread.
void c_socket_send_u::run()
{
    while (running()) {
        // One keyboard/mouse frame before each media frame: input waits for one media frame
        // at most, and a user who never stops typing or moving the mouse cannot starve the
        // virtual disk (its frames would otherwise never get a turn).
        const bool sentInput = offer_syncer();
        CQUEUE_MESSAGE msg;
        if (!next_message(msg, sentInput ? 0 : kIdleWaitMs))
            continue;
        if (stop_requested())
            break;
        send_head(msg);
    }
}

bool c_socket_send_u::has_other_work()
{
    QMutexLocker lock(&m_syncerLock);
    return m_syncer != nullptr && m_syncer->km_queue_size() > 0;
}

bool c_socket_send_u::offer_syncer()
{
    QMutexLocker lock(&m_syncerLock);
    return m_syncer != nullptr && m_syncer->send_next();
}

void c_socket_send_u::send_head(const CQUEUE_MESSAGE &msg)
{
    // An answer still signalled here is stale (a late reply to an earlier try, or a stop):
    // it must not count for this send.
    m_queue.wait_answer(0);
    if (m_pTcpSocket->tcp_send(msg.buffer.get(), static_cast<int>(msg.length)) != 1) {
        // Nothing can answer a frame that never left (the media device may be unreachable
        // from the start): rest until the resend, still carrying keyboard/mouse frames.
        rest_serving_syncer(kAnswerWaitMs);
        return;
    }
    const bool accepted = m_queue.wait_answer(kAnswerWaitMs);
    if (stop_requested())
        return; // the queue, with this frame, is its owner's to release
    if (!accepted) {
        TLOG_ERROR << "wait ack failed," << frame_label(msg);
        return;
    }
    drop_if_head(msg);
}

void c_socket_send_u::rest_serving_syncer(int ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (running()) {
        if (offer_syncer())
            continue;
        // Checked under the wait object's mutex: an append or a stop from here on wakes us.
        std::unique_lock lock(m_wait->mutex);
        if (!running() || has_other_work())
            continue;
        if (m_wait->cond.wait_until(lock, deadline) == std::cv_status::timeout)
            return;
    }
}

void c_socket_send_u::drop_if_head(const CQUEUE_MESSAGE &sent)
{
    // The owner may have emptied the queue (and queued anew) while the answer was awaited;
    // only the frame that was sent may go.
    std::lock_guard lock(m_wait->mutex);
    CQUEUE_MESSAGE head;
    if (m_queue.copyFirst(head) && head.buffer == sent.buffer)
        m_queue.takeFirst();
}
