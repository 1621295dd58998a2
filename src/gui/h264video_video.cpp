// The video channel of the main window: connection, picture hand-over and display.

#include "h264video.h"
#include "ui_H264Video.h"

#include "launch/LaunchParams.h"
#include "logging/log.h"
#include "protocol/frame.h"
#include "protocol/login_message.h"
#include "tools/socket/SocketChannel.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "video/c_video_picture_path.h"
#include "video_picture_image.h"

#include <QMessageBox>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

constexpr int kConnectTimeoutMs = 2000;
// A long session's figures reach the log once a minute, not once a picture.
constexpr std::int64_t kStatisticsPeriodMs = 60000;

std::int64_t monotonic_us()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::shared_ptr<c_tcp_sock> connect_channel(std::uint32_t port)
{
    auto socket = std::make_shared<c_tcp_sock>();
    socket->init();
    socket->set_remote_addr(para.ip.c_str(), static_cast<std::uint16_t>(port));
    if (socket->create_sock(nullptr, 0, kConnectTimeoutMs) != 1)
        return nullptr;
    return socket;
}

} // namespace

bool H264Video::open_video()
{
    auto socket = connect_channel(para.portV);
    if (!socket) {
        QMessageBox::information(this, QStringLiteral("Error"),
                                 QStringLiteral("Video connect error."), QMessageBox::Ok);
        return false;
    }
    start_video_session(std::move(socket));
    return true;
}

void H264Video::start_video_session(std::shared_ptr<c_tcp_sock> socket)
{
    stop_video();
    m_videoSocket = std::move(socket);

    socket_channel_params params;
    params.socket = m_videoSocket;
    params.queue = &m_videoQueue;
    params.wait = m_videoWait;
    // The window outlives its channels (stop_video runs first in the destructor), so the
    // threads get a non-owning handle.
    params.handler = std::shared_ptr<c_abs_net_handler>(static_cast<c_abs_net_handler *>(this),
                                                        [](c_abs_net_handler *) {});
    if (para.desEncodeKey.present())
        std::memcpy(params.inboundKey.data(), para.desEncodeKey.key, params.inboundKey.size());
    m_videoChannel = std::make_unique<SocketChannel>(SocketThreadFactory::kVideo, params);

    connect(this, &H264Video::signal_decode_one_frame, this,
            &H264Video::on_slot_decode_one_frame, Qt::UniqueConnection);
    m_picturePath = std::make_unique<c_video_picture_path>([this](video_picture picture) {
        m_picturesInFlight.fetch_add(1);
        emit signal_decode_one_frame(video_picture_image(picture));
    });
    m_picturePath->setup();

    m_videoQueue.append(make_login_message(para.userID));
    TLOG_INFO << "video userID send";
    m_videoChannel->start(QThread::InheritPriority, QThread::InheritPriority);
}

void H264Video::stop_video()
{
    if (m_videoChannel)
        m_videoChannel->stop();
    m_videoChannel.reset();
    m_videoQueue.clear();
    m_picturePath.reset();
}

void H264Video::queue_video_body(const std::vector<std::uint8_t> &body)
{
    std::shared_ptr<std::uint8_t[]> frame(new std::uint8_t[512]);
    std::uint32_t length = 0;
    if (body.empty() || body.size() > 512 - kFrameHeaderSize ||
        !build_frame({{static_cast<std::uint32_t>(body.size()), body.data()}}, frame.get(), length))
        return;
    m_videoQueue.append(CQUEUE_MESSAGE(length, std::move(frame), 0, 0, QStringLiteral("notU")));
}

void H264Video::on_video_fragment(const std::uint8_t *body, std::uint32_t length)
{
    if (!m_picturePath)
        return;
    const std::int64_t start = monotonic_us();
    m_picturePath->on_video_fragment(body, length);
    const std::int64_t now = monotonic_us();
    m_slowestFragmentUs = std::max(m_slowestFragmentUs, now - start);
    if (m_statisticsDueMs == 0)
        m_statisticsDueMs = now / 1000 + kStatisticsPeriodMs;
    if (now / 1000 >= m_statisticsDueMs) {
        m_statisticsDueMs = now / 1000 + kStatisticsPeriodMs;
        log_video_statistics();
    }
}

void H264Video::log_video_statistics()
{
    const c_video_picture_path::counters figures = m_picturePath->statistics();
    TLOG_INFO << "video statistics: fragments " << figures.fragments << ", pictures decoded "
              << figures.picturesShown << ", shown " << m_picturesDisplayed.load()
              << ", skipped by the display " << m_picturesSkipped.load() << ", dropped "
              << figures.dropped << ", decode errors " << figures.decodeErrors
              << ", slowest fragment " << m_slowestFragmentUs << " us, slowest display "
              << ui->label->slowest_paint_us() << " us";
}

void H264Video::on_slot_decode_one_frame(QImage picture)
{
    // Only the newest of the pictures waiting here is worth drawing.
    if (m_picturesInFlight.fetch_sub(1) > 1) {
        m_picturesSkipped.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    show_picture(picture);
    m_picturesDisplayed.fetch_add(1, std::memory_order_relaxed);
    if (para.mouseMode == 0 && m_realignPending) {
        on_slot_mouse_align();
        m_realignPending = false;
    }
}

void H264Video::show_picture(const QImage &picture)
{
    const QSize area = video_area();
    const auto geometry =
        compute_display_geometry(picture.width(), picture.height(), area.width(), area.height());
    if (!geometry)
        return;
    m_geometry = *geometry;
    m_remoteSize = picture.size();
    update_mouse_geometry();
    ui->label->show_picture(picture, *geometry);
}
