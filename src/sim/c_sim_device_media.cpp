// The virtual media channel of c_sim_device: each connection's c_media_session answers;
// the device shows the disk the remote computer found.
#include "c_sim_device.h"

#include "logging/log.h"
#include "protocol/frame.h"

void c_sim_device::handle_media(c_sim_connection *connection, const std::uint8_t *body,
                                std::size_t length)
{
    if (body[0] == c_media_session::kUserId && login_refused(kind::media)) {
        TLOG_INFO << "sim: media viewer " << connection->id() << ": login refused as asked";
        connection->send_body({c_media_session::kUserId, 1});
        return;
    }
    std::vector<c_media_session::body> answers;
    connection->media.handle(body, length, c_media_session::clock::now(), answers);
    for (const auto &answer : answers)
        connection->send_body(answer.data(), answer.size());
    if (body[0] == c_media_session::kUserId && length >= 5) {
        connection->loggedIn = true;
        connection->userID = read_be32(body + 1);
    }
    update_disk_status();
}

c_sim_connection *c_sim_device::media_target() const
{
    c_sim_connection *latest = nullptr;
    c_sim_connection *mapped = nullptr;
    for (c_sim_connection *media : connections(kind::media)) {
        latest = media;
        if (media->media.mapped())
            mapped = media;
    }
    return mapped ? mapped : latest;
}

void c_sim_device::update_disk_status()
{
    const c_sim_connection *target = media_target();
    const std::string shown = target ? target->media.disk_summary() : std::string("no disk");
    if (shown == m_diskShown)
        return;
    m_diskShown = shown;
    m_screen.set_disk(shown);
    TLOG_INFO << "sim: disk: " << shown;
}
