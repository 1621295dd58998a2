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

void c_socket_send_u::on_answer(bool accepted)
{
    std::lock_guard turn(m_turnLock);
    if (!m_inFlight.buffer || stop_requested())
        return;
    if (accepted)
        drop_if_head(m_inFlight);
    else
        TLOG_ERROR << "wait ack failed," << frame_label(m_inFlight);
    send_head_locked();
}

// Runs on the send thread.
void c_socket_send_u::run()
{
    constexpr auto kAnswerWait = std::chrono::milliseconds(kAnswerWaitMs);
    while (running()) {
        // Keyboard/mouse frames go as they come, one per turn of this loop, whatever the disk
        // is doing: typing never waits for a sector, nor can it starve the disk, whose frames
        // the receive thread sends.
        const bool sentInput = offer_syncer();
        steady::time_point wakeAt;
        {
            std::lock_guard turn(m_turnLock);
            if (stop_requested())
                break; // the queue, with any frame in flight, is its owner's to release
            // Nothing answered in time (or the frame never left: nothing could answer it).
            const bool unanswered = m_inFlight.buffer && steady::now() >= m_sentAt + kAnswerWait;
            if (unanswered && !m_sendFailed)
                TLOG_ERROR << "wait ack failed," << frame_label(m_inFlight);
            if (unanswered || !m_inFlight.buffer)
                send_head_locked();
            wakeAt = m_inFlight.buffer ? m_sentAt + kAnswerWait
                                       : steady::now() + std::chrono::milliseconds(sentInput ? 0 : kIdleWaitMs);
        }
        rest_until(wakeAt);
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

void c_socket_send_u::send_head_locked()
{
    m_inFlight = {};
    m_awaiting = false;
    CQUEUE_MESSAGE head;
    if (!m_queue.copyFirst(head))
        return;
    m_inFlight = head;
    m_awaiting = true;
    m_sentAt = steady::now();
    m_sendFailed = m_pTcpSocket->tcp_send(head.buffer.get(), static_cast<int>(head.length)) != 1;
}

void c_socket_send_u::rest_until(steady::time_point until)
{
    // Checked under the wait object's mutex: an append, a keyboard/mouse frame or a stop from
    // here on wakes the sleep.
    std::unique_lock lock(m_wait->mutex);
    if (!running() || has_other_work() || (!m_awaiting && !m_queue.isEmpty()))
        return;
    m_wait->cond.wait_until(lock, until);
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
