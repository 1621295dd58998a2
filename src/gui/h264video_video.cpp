// The video channel of the main window: connection, wiring of the video session, display.

#include "h264video.h"
#include "ui_H264Video.h"

#include "km/c_km_session.h"
#include "launch/LaunchParams.h"
#include "video/c_video_session.h"
#include "video_picture_image.h"

#include <QMessageBox>

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
    if (!m_video->open(video_options())) {
        QMessageBox::information(this, QStringLiteral("Error"),
                                 QStringLiteral("Video connect error."), QMessageBox::Ok);
        return false;
    }
    return true;
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
    const auto geometry =
        compute_display_geometry(picture.width(), picture.height(), area.width(), area.height());
    if (!geometry)
        return;
    m_geometry = *geometry;
    m_remoteSize = picture.size();
    update_mouse_geometry();
    ui->label->show_picture(picture, *geometry);
}
