#include "video/c_video_session.h"

#include "logging/log.h"
#include "protocol/frame.h"
#include "protocol/message_types.h"
#include "protocol/login_message.h"
#include "tools/socket/SocketChannel.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "tools/socket/c_socket_recv_video.h"
#include "tools/socket/c_wait_object.h"
#include "video/c_video_picture_path.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr std::size_t kMaxFrame = 512;

std::int64_t monotonic_us()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

c_video_session::c_video_session(QObject *parent)
    : QObject(parent), m_wait(std::make_shared<c_wait_object>())
{
    setObjectName(QStringLiteral("video session"));
}

c_video_session::~c_video_session()
{
    stop();
}

bool c_video_session::open(const options &config)
{
    auto socket = std::make_shared<c_tcp_sock>();
    socket->init();
    socket->set_remote_addr(config.ip.c_str(), config.port);
    if (socket->create_sock(nullptr, 0, kConnectTimeoutMs) != 1) {
        m_connectError = socket->last_connect_error();
        return false;
    }
    m_connectError = 0;
    start(std::move(socket), config);
    return true;
}

// Receive thread.
void c_video_session::on_login_answer(bool accepted)
{
    QMetaObject::invokeMethod(this,
                              accepted ? &c_video_session::login_accepted
                                       : &c_video_session::login_refused,
                              Qt::QueuedConnection);
}

void c_video_session::start(std::shared_ptr<c_tcp_sock> socket, const options &config)
{
    stop();
    m_socket = std::move(socket);
    {
        // The new picture path counts from zero; what the old one counted stays in the sums.
        const std::lock_guard lock(m_figuresMutex);
        m_earlierFigures.picturesDecoded += m_pathFigures.picturesDecoded;
        m_earlierFigures.picturesDropped += m_pathFigures.picturesDropped;
        m_earlierFigures.decodeUs += m_pathFigures.decodeUs;
        m_pathFigures = {};
    }

    socket_channel_params params;
    params.socket = m_socket;
    params.queue = &m_queue;
    params.wait = m_wait;
    params.handler = this;
    if (config.inboundKey)
        params.inboundKey = *config.inboundKey;
    m_channel = std::make_unique<SocketChannel>(SocketThreadFactory::kVideo, params);

    m_picturePath = std::make_unique<c_video_picture_path>(
        [this](video_picture picture) { post_picture(picture); });
    m_picturePath->setup();

    // The close of this channel, not of one started later, stops the session.
    if (auto *recv = dynamic_cast<c_socket_recv_video *>(m_channel->recv_thread().get())) {
        connect(recv, &c_socket_recv_video::signal_socket_video_close, this,
                [this, generation = ++m_generation] {
                    if (generation != m_generation || !m_channel)
                        return;
                    TLOG_WARN << "video socket closed by the device";
                    stop();
                    emit closed();
                },
                Qt::QueuedConnection);
    }

    m_queue.append(make_login_message(config.userID));
    TLOG_INFO << "video userID send";
    m_channel->start(QThread::InheritPriority, QThread::InheritPriority);
}

void c_video_session::stop()
{
    if (m_channel && !m_channel->stop()) {
        // The receive thread is still inside the picture path: it keeps it, and this session
        // must outlive that call (the window's lifetime does).
        TLOG_ERROR << "video picture path left to the receive thread still using it";
        (void)m_picturePath.release();
    }
    m_channel.reset();
    m_queue.clear();
    m_picturePath.reset();
    m_socket.reset();
}

bool c_video_session::started() const
{
    return m_channel != nullptr;
}

void c_video_session::queue_body(const std::vector<std::uint8_t> &body)
{
    std::shared_ptr<std::uint8_t[]> frame(new std::uint8_t[kMaxFrame]);
    std::uint32_t length = 0;
    if (body.empty() || body.size() > kMaxFrame - kFrameHeaderSize ||
        !build_frame({{static_cast<std::uint32_t>(body.size()), body.data()}}, frame.get(), length))
        return;
    m_queue.append(CQUEUE_MESSAGE(length, std::move(frame), 0, 0, QStringLiteral("notU")));
}

// Receive thread.
std::uint8_t c_video_session::HandleMsg(c_socket_thread *, const std::uint8_t *body,
                                        std::uint32_t, std::uint32_t bodyLength)
{
    const std::uint8_t result = m_dispatcher.dispatch(body, bodyLength);
    // A fragment that could not be taken leaves a hole in the picture it belongs to.
    if (result == kRefused && bodyLength > 0 && body[0] == kMsgVideo && m_picturePath)
        m_picturePath->discard_partial();
    return result;
}

void c_video_session::on_led_report(std::uint8_t bits)
{
    if (m_ledSink)
        m_ledSink(bits);
}

void c_video_session::on_video_fragment(const std::uint8_t *body, std::uint32_t length)
{
    if (!m_picturePath)
        return;
    const std::int64_t start = monotonic_us();
    m_picturePath->on_video_fragment(body, length);
    {
        const c_video_picture_path::counters counted = m_picturePath->statistics();
        const std::lock_guard lock(m_figuresMutex);
        m_pathFigures.picturesDecoded = counted.picturesShown;
        m_pathFigures.picturesDropped = counted.dropped + counted.decodeErrors;
        m_pathFigures.decodeUs = counted.decodeUs;
        m_bytesReceived += length;
    }
    const std::int64_t now = monotonic_us();
    m_slowestFragmentUs = std::max(m_slowestFragmentUs, now - start);
    if (m_statisticsDueMs == 0)
        m_statisticsDueMs = now / 1000 + kStatisticsPeriodMs;
    if (now / 1000 >= m_statisticsDueMs) {
        m_statisticsDueMs = now / 1000 + kStatisticsPeriodMs;
        log_statistics();
    }
}

void c_video_session::post_picture(const video_picture &picture)
{
    m_picturesInFlight.fetch_add(1);
    emit picture_decoded(picture);
    QMetaObject::invokeMethod(
        this, [this, picture] { take_picture(picture); }, Qt::QueuedConnection);
}

void c_video_session::take_picture(const video_picture &picture)
{
    // Only the newest of the pictures waiting here is worth showing.
    if (m_picturesInFlight.fetch_sub(1) > 1) {
        m_picturesSkipped.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    m_picturesShown.fetch_add(1, std::memory_order_relaxed);
    // The display takes the picture in the connected slot, so this is its time.
    const std::int64_t start = monotonic_us();
    emit picture_ready(picture);
    m_displayUs.fetch_add(monotonic_us() - start, std::memory_order_relaxed);
}

video_statistics c_video_session::statistics() const
{
    const std::lock_guard lock(m_figuresMutex);
    video_statistics figures = m_earlierFigures;
    figures.picturesDecoded += m_pathFigures.picturesDecoded;
    figures.picturesDropped += m_pathFigures.picturesDropped;
    figures.decodeUs += m_pathFigures.decodeUs;
    figures.bytesReceived = m_bytesReceived;
    figures.picturesShown = m_picturesShown.load();
    figures.picturesSkipped = m_picturesSkipped.load();
    figures.displayUs = m_displayUs.load();
    return figures;
}

void c_video_session::log_statistics()
{
    const c_video_picture_path::counters figures = m_picturePath->statistics();
    TLOG_INFO << "video statistics: fragments " << figures.fragments << ", pictures decoded "
              << figures.picturesShown << ", shown " << m_picturesShown.load()
              << ", skipped by the display " << m_picturesSkipped.load() << ", dropped "
              << figures.dropped << ", decode errors " << figures.decodeErrors
              << ", slowest fragment " << m_slowestFragmentUs << " us, slowest display "
              << (m_displayProbe ? m_displayProbe() : 0) << " us";
}
