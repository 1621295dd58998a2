// The video channel of the main window: connection, wiring of the video session, display.

#include "h264video.h"
#include "ui_H264Video.h"

#include "km/c_km_session.h"
#include "launch/LaunchParams.h"
#include "tools/socket/c_channel_keeper.h"
#include "tools/socket/connect_failure.h"
#include "video/c_video_session.h"
#include "video_picture_image.h"


#include <algorithm>

namespace {

c_video_session::options video_options()
{
    c_video_session::options config;
    config.ip = para.ip;
    config.port = static_cast<std::uint16_t>(para.portV);
    config.userID = para.userID;
    if (para.desEncodeKey.present()) {
        c_video_session::key_type key{};
        std::copy(para.desEncodeKey.key, para.desEncodeKey.key + key.size(), key.begin());
        config.inboundKey = key;
    }
    return config;
}

} // namespace

// Once, at start-up.
bool H264Video::open_video()
{
    // The session calls these on the video receive thread; the window outlives it
    // (stop_video runs first in the destructor).
    m_video->set_led_sink([this](std::uint8_t bits) {
        if (m_km)
            m_km->led().apply_led_bits(bits);
    });
    m_video->set_display_probe([label = ui->label] { return label->slowest_paint_us(); });
    connect(m_video.get(), &c_video_session::picture_ready, this,
            [this](const video_picture &picture) {
                on_slot_decode_one_frame(video_picture_image(picture));
            });
    const auto port = static_cast<std::uint16_t>(para.portV);
    connect(m_video.get(), &c_video_session::login_refused, this, [this, port] {
        if (!m_videoLoggedIn) {
            on_login_refused("Video connect error.", "video", port);
        } else if (m_videoKeeper) {
            m_video->stop();
            m_videoKeeper->login_refused();
        }
    });
    connect(m_video.get(), &c_video_session::login_accepted, this, [this] {
        m_videoLoggedIn = true;
        if (m_videoKeeper)
            m_videoKeeper->login_accepted();
    });
    if (!m_video->open(video_options())) {
        set_start_failure("Video connect error.", "video", port,
                          connect_failure_cause(m_video->connect_error()));
        return false;
    }
    return true;
}

// The device starts a new connection with a key frame; the mouse is aligned again once it
// shows.
void H264Video::restart_video(std::shared_ptr<c_tcp_sock> socket)
{
    m_realignPending = true;
    m_video->start(std::move(socket), video_options());
}

void H264Video::stop_video()
{
    m_video->stop();
}

void H264Video::queue_video_body(const std::vector<std::uint8_t> &body)
{
    m_video->queue_body(body);
}

void H264Video::on_slot_decode_one_frame(QImage picture)
{
    show_picture(picture);
    if (para.mouseMode == 0 && m_realignPending) {
        on_slot_mouse_align();
        m_realignPending = false;
    }
}

void H264Video::show_picture(const QImage &picture)
{
    const QSize area = video_area();
    const auto geometry = compute_view_geometry(m_viewMode, picture.width(), picture.height(),
                                                area.width(), area.height(), m_scrollX, m_scrollY);
    if (!geometry)
        return;
    m_geometry = *geometry;
    m_remoteSize = picture.size();
    update_mouse_geometry();
    ui->label->show_picture(picture, *geometry);
}
