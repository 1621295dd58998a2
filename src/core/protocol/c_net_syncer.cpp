#include "protocol/c_net_syncer.h"

#include "encrypt/frame_cipher.h"
#include "logging/log.h"
#include "protocol/frame.h"
#include "protocol/km_frame.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

namespace {

// A frame without a body (type -1) has nothing the device could answer.
bool expects_answer(int type)
{
    return type >= 0 && type != kKmKeepAlive && type != kKmPrivilegeAnswerAsk &&
           type != kKmPrivilegeAnswerGrab;
}

} // namespace

void c_net_syncer::set_km_socket(std::shared_ptr<c_tcp_sock> socket)
{
    QMutexLocker lock(&m_configMutex);
    m_socket = std::move(socket);
}

void c_net_syncer::set_outbound_key(const std::uint8_t key[8])
{
    QMutexLocker lock(&m_configMutex);
    std::copy(key, key + 8, m_outboundKey.begin());
}

bool c_net_syncer::send_km_data(std::uint8_t type, const std::uint8_t *payload,
                                std::uint32_t length)
{
    std::array<std::uint8_t, 8> key;
    {
        QMutexLocker lock(&m_configMutex);
        key = m_outboundKey;
    }
    std::vector<std::uint8_t> frame;
    if (!build_km_frame(key.data(), type, payload, length, frame))
        return false;
    queue_km_frame(std::move(frame));
    return true;
}

void c_net_syncer::queue_km_frame(std::vector<std::uint8_t> frame)
{
    {
        QMutexLocker lock(&m_listMutex);
        m_list.push_back(std::move(frame));
    }
    notify_queued();
}

void c_net_syncer::queue_km_frame_first(std::vector<std::uint8_t> frame)
{
    {
        QMutexLocker lock(&m_listMutex);
        m_list.push_front(std::move(frame));
    }
    notify_queued();
}

void c_net_syncer::set_on_queue(std::function<void()> callback)
{
    QMutexLocker lock(&m_notifyMutex);
    m_onQueue = std::move(callback);
}

void c_net_syncer::notify_queued()
{
    std::function<void()> callback;
    {
        QMutexLocker lock(&m_notifyMutex);
        callback = m_onQueue;
    }
    if (callback)
        callback();
}

void c_net_syncer::clear_km_queue()
{
    QMutexLocker lock(&m_listMutex);
    m_list.clear();
}

int c_net_syncer::km_queue_size() const
{
    QMutexLocker lock(&m_listMutex);
    return static_cast<int>(m_list.size());
}

bool c_net_syncer::take_oldest(std::vector<std::uint8_t> &frame)
{
    QMutexLocker lock(&m_listMutex);
    if (m_list.empty())
        return false;
    frame = std::move(m_list.front());
    m_list.pop_front();
    return true;
}

int c_net_syncer::frame_type(const std::vector<std::uint8_t> &frame,
                             const std::array<std::uint8_t, 8> &key)
{
    if (frame.size() <= kFrameHeaderSize)
        return -1;
    const frame_header header = parse_frame_header(frame.data());
    const std::uint8_t *body = frame.data() + kFrameHeaderSize;
    if (!header.ciphered() || frame.size() < kFrameHeaderSize + 8)
        return body[0];
    // ECB: the first block alone gives the type byte.
    std::uint8_t head[8];
    std::uint32_t length = 8;
    des_decrypt_unpadded_b(key.data(), body, head, length);
    return head[0];
}

bool c_net_syncer::send_next()
{
    std::vector<std::uint8_t> frame;
    if (!take_oldest(frame))
        return false;

    std::shared_ptr<c_tcp_sock> socket;
    std::array<std::uint8_t, 8> key;
    {
        QMutexLocker lock(&m_configMutex);
        socket = m_socket;
        key = m_outboundKey;
    }
    const int type = frame_type(frame, key);
    const bool wait = expects_answer(type);
    if (wait) {
        // Armed before the frame leaves: a device that answers at once must not find the
        // flag still down and have its answer lost.
        m_awaitedType = static_cast<std::uint8_t>(type);
        m_answerEvent.reset();
        m_waiting = 1;
    }
    if (!socket || socket->tcp_send(frame.data(), static_cast<int>(frame.size())) != 1) {
        m_waiting = 0;
        TLOG_ERROR << "***********************m_pTcpSocket->write failed.";
        return false;
    }
    if (wait) {
        wait_for_answer(kAnswerWaitMs);
        m_waiting = 0;
    }
    return true;
}

void c_net_syncer::on_km_message_received()
{
    if (m_waiting.load() != 0)
        m_answerEvent.set();
}
