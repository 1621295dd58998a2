#include "protocol/c_net_syncer.h"

#include "encrypt/frame_cipher.h"
#include "logging/log.h"
#include "protocol/frame.h"
#include "protocol/km_frame.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr int kMaxStep = 127;
// Summed relative motion stays far inside int; no screen is wider.
constexpr int kMaxSummedMotion = 1 << 20;
constexpr std::size_t kAbsolutePayload = 6;
constexpr std::size_t kRelativePayload = 4;

// A frame without a body (type -1) has nothing the device could answer.
bool expects_answer(int type)
{
    return type >= 0 && type != kKmKeepAlive && type != kKmPrivilegeAnswerAsk &&
           type != kKmPrivilegeAnswerGrab;
}

bool is_input(int type)
{
    return type == kKmKeyboard || type == kKmMouseRelative || type == kKmMouseAbsolute;
}

int sum_clamped(int a, int b)
{
    return std::clamp(a + b, -kMaxSummedMotion, kMaxSummedMotion);
}

} // namespace

std::int64_t c_net_syncer::now_ms() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

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

std::array<std::uint8_t, 8> c_net_syncer::outbound_key() const
{
    QMutexLocker lock(&m_configMutex);
    return m_outboundKey;
}

bool c_net_syncer::send_km_data(std::uint8_t type, const std::uint8_t *payload,
                                std::uint32_t length)
{
    const std::array<std::uint8_t, 8> key = outbound_key();
    entry e;
    if (!build_km_frame(key.data(), type, payload, length, e.frame))
        return false;
    e.type = type;
    // An absolute report's position is kept for the buttons-up report after a silence.
    if (type == kKmMouseAbsolute && length == kAbsolutePayload)
        std::copy(payload, payload + length, e.payload.begin());
    append(std::move(e));
    return true;
}

void c_net_syncer::queue_km_frame(std::vector<std::uint8_t> frame)
{
    entry e;
    e.type = frame_type(frame, outbound_key());
    e.frame = std::move(frame);
    append(std::move(e));
}

void c_net_syncer::queue_km_frame_first(std::vector<std::uint8_t> frame)
{
    entry e;
    e.type = frame_type(frame, outbound_key());
    e.frame = std::move(frame);
    e.queuedMs = now_ms();
    {
        QMutexLocker lock(&m_listMutex);
        m_list.push_front(std::move(e));
    }
    notify_queued();
}

void c_net_syncer::queue_relative_motion(std::uint8_t buttons, int dx, int dy, bool mergeable)
{
    if (dx == 0 && dy == 0)
        return;
    entry e;
    e.kind = entry_kind::relative_motion;
    e.type = kKmMouseRelative;
    e.payload[0] = buttons;
    e.dx = std::clamp(dx, -kMaxSummedMotion, kMaxSummedMotion);
    e.dy = std::clamp(dy, -kMaxSummedMotion, kMaxSummedMotion);
    e.mergeable = mergeable;
    append(std::move(e));
}

void c_net_syncer::queue_absolute_motion(const std::uint8_t payload[6])
{
    entry e;
    e.kind = entry_kind::absolute_motion;
    e.type = kKmMouseAbsolute;
    std::copy(payload, payload + kAbsolutePayload, e.payload.begin());
    e.payload[5] = 0; // a sample carries no wheel
    append(std::move(e));
}

void c_net_syncer::append(entry e)
{
    e.queuedMs = now_ms();
    {
        QMutexLocker lock(&m_listMutex);
        if (!merge_motion(e))
            insert_input(std::move(e));
    }
    notify_queued();
}

// Under the list's lock. Motion joins motion of its kind and buttons waiting at the tail;
// anything between (a button change, a key) keeps the two apart.
bool c_net_syncer::merge_motion(const entry &e)
{
    if (e.kind == entry_kind::frame || m_list.empty())
        return false;
    entry &tail = m_list.back();
    if (tail.kind != e.kind || tail.payload[0] != e.payload[0] || !tail.mergeable ||
        !e.mergeable)
        return false;
    if (e.kind == entry_kind::absolute_motion) {
        tail.payload = e.payload;
    } else {
        tail.dx = sum_clamped(tail.dx, e.dx);
        tail.dy = sum_clamped(tail.dy, e.dy);
    }
    tail.queuedMs = e.queuedMs;
    return true;
}

// Under the list's lock. A keyboard report passes the motion waiting at the tail: a key must
// not wait for pointer movement, and motion has no order to keep with keys.
void c_net_syncer::insert_input(entry e)
{
    auto at = m_list.end();
    if (e.kind == entry_kind::frame && e.type == kKmKeyboard) {
        while (at != m_list.begin() && std::prev(at)->kind != entry_kind::frame)
            --at;
    }
    m_list.insert(at, std::move(e));
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

// Under the list's lock. Relative motion leaves one step of at most 127 per axis; the rest
// stays at the head for the next call.
bool c_net_syncer::build_motion_frame(entry &head, std::vector<std::uint8_t> &frame)
{
    const std::array<std::uint8_t, 8> key = outbound_key();
    if (head.kind == entry_kind::absolute_motion)
        return build_km_frame(key.data(), kKmMouseAbsolute, head.payload.data(), kAbsolutePayload,
                              frame);
    const int stepX = std::clamp(head.dx, -kMaxStep, kMaxStep);
    const int stepY = std::clamp(head.dy, -kMaxStep, kMaxStep);
    head.dx -= stepX;
    head.dy -= stepY;
    const std::uint8_t report[kRelativePayload] = {
        head.payload[0], static_cast<std::uint8_t>(stepX), static_cast<std::uint8_t>(stepY), 0};
    return build_km_frame(key.data(), kKmMouseRelative, report, kRelativePayload, frame);
}

bool c_net_syncer::take_oldest(std::vector<std::uint8_t> &frame, int &type,
                               std::array<std::uint8_t, 6> &payload)
{
    QMutexLocker lock(&m_listMutex);
    while (!m_list.empty()) {
        entry &head = m_list.front();
        type = head.type;
        payload = head.payload;
        if (head.kind == entry_kind::frame) {
            frame = std::move(head.frame);
            m_list.pop_front();
            return true;
        }
        const bool built = build_motion_frame(head, frame);
        if (head.kind == entry_kind::absolute_motion || (head.dx == 0 && head.dy == 0))
            m_list.pop_front();
        if (built)
            return true;
    }
    return false;
}

void c_net_syncer::queue_first_built(std::uint8_t type, const std::uint8_t *payload,
                                     std::uint32_t length)
{
    const std::array<std::uint8_t, 8> key = outbound_key();
    entry e;
    if (!build_km_frame(key.data(), type, payload, length, e.frame))
        return;
    e.type = type;
    e.queuedMs = now_ms();
    QMutexLocker lock(&m_listMutex);
    m_list.push_front(std::move(e));
}

// Sending thread. The device spoke: the silence is over, and what it may have missed of
// the keys and buttons is undone by releasing them all, ahead of anything waiting.
void c_net_syncer::after_device_heard()
{
    if (m_heard.exchange(0) == 0)
        return;
    const std::int64_t silentMs = m_silentMs;
    m_silentMs = 0;
    if (!m_releaseOwed)
        return;
    m_releaseOwed = false;
    // The mouse is released in the form last sent: an absolute report keeps its position.
    std::array<std::uint8_t, 6> mouseUp{};
    if (m_lastMouseType == kKmMouseAbsolute)
        mouseUp = {0, m_lastAbsolute[1], m_lastAbsolute[2], m_lastAbsolute[3], m_lastAbsolute[4],
                   0};
    const std::uint32_t mouseLength =
        m_lastMouseType == kKmMouseAbsolute ? kAbsolutePayload : kRelativePayload;
    const std::uint8_t allUp[8] = {};
    queue_first_built(static_cast<std::uint8_t>(m_lastMouseType), mouseUp.data(), mouseLength);
    queue_first_built(kKmKeyboard, allUp, sizeof allUp);
    TLOG_WARN << "keyboard/mouse device answers again after " << silentMs << " ms of silence: "
              << m_droppedInSilence
              << " waiting input reports dropped, all keys and buttons released";
    m_droppedInSilence = 0;
}

// Sending thread. Input that waited through a silent device is stale: sent later it would
// type and click at the wrong moment.
void c_net_syncer::drop_stale_input()
{
    if (m_silentMs < kSilenceLimitMs)
        return;
    const std::int64_t oldest = now_ms() - kSilenceLimitMs;
    std::size_t dropped = 0;
    {
        QMutexLocker lock(&m_listMutex);
        const auto stale = [oldest](const entry &e) {
            return is_input(e.type) && e.queuedMs <= oldest;
        };
        const auto from = std::remove_if(m_list.begin(), m_list.end(), stale);
        dropped = static_cast<std::size_t>(std::distance(from, m_list.end()));
        m_list.erase(from, m_list.end());
    }
    // Counted, not logged one by one: the line comes when the device is back.
    m_droppedInSilence += dropped;
}

void c_net_syncer::note_sent_mouse(int type, const std::array<std::uint8_t, 6> &payload)
{
    if (type == kKmMouseRelative || type == kKmMouseAbsolute)
        m_lastMouseType = type;
    if (type == kKmMouseAbsolute)
        m_lastAbsolute = payload;
}

// Sending thread, after the frame went out.
bool c_net_syncer::await_answer(int type)
{
    const std::int64_t start = now_ms();
    const bool answered = wait_for_answer(kAnswerWaitMs);
    m_waiting = 0;
    if (answered)
        return true;
    const bool wasSilent = m_silentMs >= kSilenceLimitMs;
    m_silentMs += std::max<std::int64_t>(0, now_ms() - start);
    if (!wasSilent && m_silentMs >= kSilenceLimitMs) {
        m_releaseOwed = true;
        TLOG_WARN << "keyboard/mouse device silent for " << m_silentMs << " ms (last frame type "
                  << type << "): waiting input will be dropped";
    }
    return false;
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
    after_device_heard();
    drop_stale_input();
    std::vector<std::uint8_t> frame;
    int type = -1;
    std::array<std::uint8_t, 6> payload{};
    if (!take_oldest(frame, type, payload))
        return false;

    std::shared_ptr<c_tcp_sock> socket;
    {
        QMutexLocker lock(&m_configMutex);
        socket = m_socket;
    }
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
    note_sent_mouse(type, payload);
    if (wait)
        await_answer(type);
    return true;
}

void c_net_syncer::on_km_message_received()
{
    m_heard.store(1);
    if (m_waiting.load() != 0)
        m_answerEvent.set();
}
