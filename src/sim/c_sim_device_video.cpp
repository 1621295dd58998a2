// The video channel of c_sim_device: logins, position commands and the picture fan-out.
#include "c_sim_device.h"

#include "c_screen_renderer.h"
#include "logging/log.h"
#include "protocol/frame.h"
#include "protocol/message_types.h"

#include <algorithm>

namespace {

constexpr qint64 kMaxVideoBacklog = 8 * 1024 * 1024;
// Pixels one position command moves the picture.
constexpr int kPositionStep = 8;

} // namespace

void c_sim_device::handle_video(c_sim_connection *connection, const std::uint8_t *body,
                                std::size_t length)
{
    switch (body[0]) {
    case kMsgLogin:
        if (length < 5) {
            TLOG_WARN << "sim: video viewer " << connection->id() << ": login of " << length
                      << " bytes ignored";
            return;
        }
        if (login_refused(kind::video)) {
            TLOG_INFO << "sim: video viewer " << connection->id() << ": login refused as asked";
            connection->send_body({kMsgLogin, 1});
            return;
        }
        connection->loggedIn = true;
        connection->userID = read_be32(body + 1);
        connection->waitingForKey = true;
        connection->send_body({kMsgLogin, 0});
        TLOG_INFO << "sim: video viewer " << connection->id() << " logged in as user "
                  << connection->userID;
        // The newcomer's decoder needs a key frame; it also learns the LED state at once.
        request_key_frame();
        connection->send_body({4, m_leds});
        update_stream_viewers();
        return;
    case kMsgVideoSetPosition:
    case kMsgVideoResetPosition: handle_position(connection, body, length); return;
    default:
        TLOG_WARN << "sim: video viewer " << connection->id() << ": type " << unsigned{body[0]}
                  << " (" << length << " bytes) ignored";
        return;
    }
}

void c_sim_device::handle_position(c_sim_connection *connection, const std::uint8_t *body,
                                   std::size_t length)
{
    const bool set = body[0] == kMsgVideoSetPosition;
    if (length < (set ? 4u : 2u)) {
        TLOG_WARN << "sim: video viewer " << connection->id() << ": position command of "
                  << length << " bytes ignored";
        return;
    }
    const std::uint8_t target = body[1];
    // Only the target module this device serves can move its picture.
    bool ok = target == static_cast<std::uint8_t>(m_options.dogID & 0xFF);
    if (set) {
        const std::uint8_t direction = body[2];
        ok = ok && direction >= 1 && direction <= 4;
        if (ok) {
            const int sign = (direction == 1 || direction == 3) ? 1 : -1;
            int &axis = direction <= 2 ? m_offsetY : m_offsetX;
            axis = std::clamp(axis + sign * kPositionStep, -c_screen_renderer::kMargin,
                              c_screen_renderer::kMargin);
        }
    } else if (ok) {
        m_offsetX = 0;
        m_offsetY = 0;
    }
    m_screen.set_offset(m_offsetX, m_offsetY);
    const std::uint8_t result = ok ? 0 : 1;
    connection->send_body({body[0], target, result});
    TLOG_INFO << "sim: videoSetting ack " << (set ? "setPos" : "endSet") << " to video viewer "
              << connection->id() << ", target " << unsigned{target} << ", "
              << (ok ? "success" : "fail") << ", offset " << m_offsetX << "," << m_offsetY;
}

void c_sim_device::on_picture_ready()
{
    while (m_stream && m_stream->take_picture(m_picture))
        send_picture(m_picture);
}

void c_sim_device::send_picture(const encoded_picture &picture)
{
    for (c_sim_connection *video : connections(kind::video)) {
        if (!video->loggedIn || !video->open())
            continue;
        if (video->waitingForKey && !picture.keyFrame)
            continue;
        if (video->pending_bytes() > kMaxVideoBacklog) {
            // A viewer that does not read: leave pictures out and restart it at a key frame.
            if (!video->waitingForKey)
                TLOG_WARN << "sim: video viewer " << video->id() << " is behind by "
                          << video->pending_bytes() << " bytes; pictures left out";
            video->waitingForKey = true;
            request_key_frame();
            continue;
        }
        m_videoScratch.clear();
        video->framer->append_picture(picture.bytes.data(), picture.bytes.size(), m_videoScratch);
        video->send_raw(m_videoScratch.data(), m_videoScratch.size());
        video->waitingForKey = false;
    }
}

void c_sim_device::update_stream_viewers()
{
    int viewers = 0;
    for (c_sim_connection *video : connections(kind::video))
        viewers += video->loggedIn && video->open() ? 1 : 0;
    if (m_stream)
        m_stream->set_viewers(viewers);
}
