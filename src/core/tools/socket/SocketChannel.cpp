#include "tools/socket/SocketChannel.h"

#include "logging/log.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

SocketChannel::SocketChannel(int kind, const socket_channel_params &params)
    : m_kind(kind), m_threads(SocketThreadFactory::instance().create(kind, params))
{
    if (params.queue)
        m_queue = std::make_shared<mt_queue<CQUEUE_MESSAGE>>(*params.queue);
}

SocketChannel::SocketChannel(int kind, std::shared_ptr<c_tcp_sock> sock,
                             mt_queue<CQUEUE_MESSAGE> *queue, std::shared_ptr<c_wait_object> wait,
                             c_abs_net_handler *handler)
    : SocketChannel(kind, socket_channel_params{std::move(sock), queue, std::move(wait), handler,
                                                {}})
{
}

SocketChannel::~SocketChannel()
{
    stop();
    if (m_queue)
        m_queue->clear();
}

void SocketChannel::start(QThread::Priority sendPriority, QThread::Priority recvPriority)
{
    if (!valid() || m_started) {
        TLOG_ERROR << "SocketChannel " << m_kind << ": cannot start "
                   << (m_started ? "twice" : "without threads");
        return;
    }
    m_started = true;
    m_threads.send->start(sendPriority);
    m_threads.recv->start(recvPriority);
}

bool SocketChannel::stop()
{
    // Once is enough: the destructor after an explicit stop must not wait all over again
    // for a thread already given up on.
    if (m_stopped)
        return m_handlersFree;
    m_stopped = true;
    if (m_threads.send)
        m_handlersFree = stop_thread(*m_threads.send) && m_handlersFree;
    if (m_threads.recv)
        m_handlersFree = stop_thread(*m_threads.recv) && m_handlersFree;
    return m_handlersFree;
}

bool SocketChannel::stop_thread(c_socket_thread &thread)
{
    thread.stop();
    if (!thread.wait_ended(kStopWaitMs)) {
        TLOG_WARN << "thread " << thread.objectName() << " did not stop within " << kStopWaitMs
                  << " ms, closing its socket";
        if (thread.socket())
            thread.socket()->close();
        if (!thread.wait_ended(kCloseGraceMs)) {
            thread.quit();
            TLOG_ERROR << "thread " << thread.objectName()
                       << " still running, left to end by itself";
        }
    }
    // A thread left running may be inside its handler, or about to enter it with the frame
    // it was reading: the owner destroys the handler once we return.
    if (thread.detach_handler(kHandlerWaitMs))
        return true;
    TLOG_ERROR << "thread " << thread.objectName() << " still inside its handler after "
               << kHandlerWaitMs << " ms more";
    return false;
}
