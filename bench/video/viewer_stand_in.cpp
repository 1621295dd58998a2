#include "viewer_stand_in.h"

#include "protocol/login_message.h"
#include "tools/socket/SocketChannel.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "tools/socket/c_wait_object.h"
#include "video/c_video_picture_path.h"


#include <algorithm>
#include <ctime>

namespace {

constexpr int kConnectTimeoutMs = 2000;
constexpr std::uint8_t kVideoType = 6;

double thread_cpu_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

} // namespace

void display_label::paintEvent(QPaintEvent *event)
{
    const double before = thread_cpu_seconds();
    c_video_label::paintEvent(event);
    m_paintCpu += thread_cpu_seconds() - before;
    if (m_painted)
        m_painted();
}

viewer_stand_in::viewer_stand_in(QSize area)
    : m_label(std::make_unique<display_label>([this] { painted(); })),
      m_wait(std::make_shared<c_wait_object>())
{
    m_label->setObjectName(QStringLiteral("label"));
    m_label->setAutoFillBackground(true); // as in the window's form
    m_label->resize(area);
    m_label->show();
    m_marginColour = m_label->palette().color(m_label->backgroundRole());
    m_label->set_margin_colour(m_marginColour);
}

viewer_stand_in::~viewer_stand_in()
{
    stop();
}

bool viewer_stand_in::start(std::uint16_t port, const std::array<std::uint8_t, 8> &inboundKey)
{
    stop();
    auto socket = std::make_shared<c_tcp_sock>();
    socket->init();
    socket->set_remote_addr("127.0.0.1", port);
    if (socket->create_sock(nullptr, 0, kConnectTimeoutMs) != 1)
        return false;
    m_socket = std::move(socket);

    socket_channel_params params;
    params.socket = m_socket;
    params.queue = &m_queue;
    params.wait = m_wait;
    params.handler = std::shared_ptr<c_abs_net_handler>(static_cast<c_abs_net_handler *>(this),
                                                        [](c_abs_net_handler *) {});
    params.inboundKey = inboundKey;
    m_channel = std::make_unique<SocketChannel>(SocketThreadFactory::kVideo, params);

    connect(this, &viewer_stand_in::signal_decode_one_frame, this,
            &viewer_stand_in::on_slot_decode_one_frame, Qt::UniqueConnection);
    m_picturePath = std::make_unique<c_video_picture_path>(
        [this](video_picture picture) { emit_picture(picture); });
    m_picturePath->setup();

    m_queue.append(make_login_message(1));
    m_channel->start(QThread::InheritPriority, QThread::InheritPriority);
    return true;
}

void viewer_stand_in::stop()
{
    if (m_channel)
        m_channel->stop();
    m_channel.reset();
    m_queue.clear();
    m_picturePath.reset();
    m_socket.reset();
}

// The window's handling of a video channel message, with the arrival of a picture's last
// fragment noted first.
std::uint8_t viewer_stand_in::HandleMsg(c_socket_thread *, const std::uint8_t *body,
                                        std::uint32_t, std::uint32_t bodyLength)
{
    if (m_receiveCpuFirst < 0)
        m_receiveCpuFirst = thread_cpu_seconds();
    if (bodyLength >= 2 && body[0] == kVideoType && body[1] == 1)
        m_lastFragmentAt = clock::now();
    const std::uint8_t result = m_dispatcher.dispatch(body, bodyLength);
    if (result == kRefused && bodyLength > 0 && body[0] == kVideoType && m_picturePath)
        m_picturePath->discard_partial();
    m_receiveCpuLast.store(thread_cpu_seconds() - m_receiveCpuFirst);
    return result;
}

void viewer_stand_in::on_video_fragment(const std::uint8_t *body, std::uint32_t length)
{
    if (m_picturePath)
        m_picturePath->on_video_fragment(body, length);
}

// The window's picture sink, on the receive thread.
void viewer_stand_in::emit_picture(const video_picture &picture)
{
    {
        std::lock_guard<std::mutex> guard(m_stampLock);
        m_stamps.push_back(m_lastFragmentAt);
    }
    m_decoded.fetch_add(1);
    const int waiting = m_picturesInFlight.fetch_add(1) + 1;
    int most = m_maxWaiting.load();
    while (waiting > most && !m_maxWaiting.compare_exchange_weak(most, waiting)) {
    }
    emit signal_decode_one_frame(video_picture_image(picture));
}

// The window's slot, on the GUI thread.
void viewer_stand_in::on_slot_decode_one_frame(QImage picture)
{
    clock::time_point stamp;
    {
        std::lock_guard<std::mutex> guard(m_stampLock);
        stamp = m_stamps.front();
        m_stamps.pop_front();
    }
    ++m_taken;
    take_mark();
    if (m_picturesInFlight.fetch_sub(1) > 1) {
        ++m_result.dropped;
        return;
    }
    const double cpuBefore = thread_cpu_seconds();
    const auto geometry = compute_display_geometry(picture.width(), picture.height(),
                                                   m_label->width(), m_label->height());
    if (!geometry)
        return;
    m_geometry = *geometry;
    m_remoteSize = picture.size();
    if (m_paintPending)
        ++m_result.dropped; // the previous picture was replaced before it was painted
    m_label->show_picture(picture, *geometry);
    m_paintPending = true;
    m_pendingStamp = stamp;
    m_renderCpu += thread_cpu_seconds() - cpuBefore;
}

void viewer_stand_in::painted()
{
    if (!m_paintPending)
        return;
    m_paintPending = false;
    m_result.lastShown = clock::now();
    ++m_result.shown;
    m_result.latencyMs.push_back(
        std::chrono::duration<double, std::milli>(m_result.lastShown - m_pendingStamp).count());
}

void viewer_stand_in::set_mark(int pictures, std::function<void()> hook)
{
    m_markAt = pictures;
    m_markHook = std::move(hook);
}

// Before the slot handles picture m_markAt + 1 (so a paint still pending then belongs to the
// part before the mark).
void viewer_stand_in::take_mark()
{
    if (m_taken != m_markAt + 1)
        return;
    m_atMark = results();
    if (m_markHook)
        m_markHook();
}

bool viewer_stand_in::settled(int expectedPictures) const
{
    return m_decoded.load() >= expectedPictures && m_taken >= m_decoded.load() && !m_paintPending;
}

viewer_stand_in::result viewer_stand_in::results() const
{
    result r = m_result;
    r.decoded = m_decoded.load();
    r.maxWaiting = m_maxWaiting.load();
    r.receiveCpuSeconds = m_receiveCpuLast.load();
    r.renderCpuSeconds = m_renderCpu;
    r.paintCpuSeconds = m_label->paint_cpu_seconds();
    return r;
}
