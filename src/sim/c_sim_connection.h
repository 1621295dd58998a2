#pragma once

#include "c_hid_keyboard.h"
#include "c_media_session.h"
#include "c_sim_frame_splitter.h"
#include "c_video_framer.h"

#include <QPointer>
#include <QTcpSocket>

#include <cstdint>
#include <memory>

// One viewer's connection on one of the device's channels, with that channel's state.
// Numbered per channel from 1 in order of arrival. Owned by the device; event-loop thread.
class c_sim_connection {
public:
    enum class kind { km, video, media };

    // Takes the accepted socket (the connection deletes it later).
    c_sim_connection(kind channel, int id, QTcpSocket *socket, std::uint32_t maxWireLength,
                     const std::uint8_t receiveKey[8]);
    ~c_sim_connection();
    c_sim_connection(const c_sim_connection &) = delete;
    c_sim_connection &operator=(const c_sim_connection &) = delete;

    kind channel() const { return m_kind; }
    const char *channel_name() const;
    int id() const { return m_id; }
    QTcpSocket *socket() const { return m_socket; }
    bool open() const { return m_socket && m_socket->state() == QAbstractSocket::ConnectedState; }

    // Frames a plain body (plain length == wire length) and queues it for sending.
    void send_body(const std::uint8_t *body, std::size_t length);
    void send_body(std::initializer_list<std::uint8_t> body);
    // Queues bytes exactly as given.
    void send_raw(const std::uint8_t *bytes, std::size_t length);
    // Bytes queued but not yet handed to the system.
    qint64 pending_bytes() const { return m_socket ? m_socket->bytesToWrite() : 0; }
    // Drops the connection at once (nothing more is read or sent).
    void abort();
    // A connection that is not reading leaves what the viewer sends in the system's
    // buffers, so a viewer that keeps sending finds its sends blocking (a slow reader).
    void set_reading(bool reading);
    bool reading() const { return m_reading; }

    c_sim_frame_splitter splitter;
    bool loggedIn = false;
    std::uint32_t userID = 0;

    // Video channel: pictures are held back until the first key frame.
    std::unique_ptr<c_video_framer> framer;
    bool waitingForKey = true;

    // Keyboard/mouse channel: the keys this viewer's reports hold.
    c_hid_keyboard keyboard;

    // Media channel.
    c_media_session media;

private:
    kind m_kind;
    int m_id;
    QPointer<QTcpSocket> m_socket;
    bool m_reading = true;
};
