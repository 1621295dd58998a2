#include "c_sim_connection.h"

#include "protocol/frame.h"

#include <vector>

c_sim_connection::c_sim_connection(kind channel, int id, QTcpSocket *socket,
                                   std::uint32_t maxWireLength, const std::uint8_t receiveKey[8])
    : splitter(maxWireLength, receiveKey), m_kind(channel), m_id(id), m_socket(socket)
{
    // Small frames (acknowledgements, key reports) go out at once.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

c_sim_connection::~c_sim_connection()
{
    if (m_socket) {
        m_socket->disconnect();
        m_socket->abort();
        m_socket->deleteLater();
    }
}

const char *c_sim_connection::channel_name() const
{
    switch (m_kind) {
    case kind::km: return "km";
    case kind::video: return "video";
    case kind::media: return "media";
    }
    return "?";
}

void c_sim_connection::send_body(const std::uint8_t *body, std::size_t length)
{
    std::vector<std::uint8_t> frame(kFrameHeaderSize + length);
    std::uint32_t frameLength = 0;
    build_frame({{static_cast<std::uint32_t>(length), body}}, frame.data(), frameLength);
    send_raw(frame.data(), frameLength);
}

void c_sim_connection::send_body(std::initializer_list<std::uint8_t> body)
{
    send_body(body.begin(), body.size());
}

void c_sim_connection::send_raw(const std::uint8_t *bytes, std::size_t length)
{
    if (!open() || length == 0)
        return;
    m_socket->write(reinterpret_cast<const char *>(bytes), static_cast<qint64>(length));
    // Out now, as far as the kernel takes it, rather than on the next pass of the event
    // loop: a viewer waiting for an answer must not wait on our other work.
    m_socket->flush();
}

void c_sim_connection::abort()
{
    if (m_socket)
        m_socket->abort();
}

void c_sim_connection::set_reading(bool reading)
{
    m_reading = reading;
    // A full read buffer makes the socket stop taking bytes from the system; 0 lifts the
    // limit and lets it read again.
    if (m_socket)
        m_socket->setReadBufferSize(reading ? 0 : 1);
}
