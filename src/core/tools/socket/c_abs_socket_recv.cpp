#include "tools/socket/c_abs_socket_recv.h"

#include "logging/log.h"
#include "tools/socket/byte_source.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "tools/socket/frame_reader.h"

#include <memory>

// Runs on the receive thread.
void c_abs_socket_recv::run()
{
    if (!m_pTcpSocket)
        return;
    const std::uint32_t capacity = buffer_size();
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
    tcp_byte_source source(*m_pTcpSocket);
    frame_reader reader(source, [this] { return stop_requested(); }, buffer.get(), capacity);

    frame_header header;
    std::uint32_t length = 0;
    for (;;) {
        switch (reader.next(header, length)) {
        case frame_reader::status::frame:
            handle_frame(header, buffer.get(), length);
            break;
        case frame_reader::status::stopped:
            return;
        case frame_reader::status::closed:
            TLOG_INFO << objectName() << " connection closed";
            clear_running();
            m_pTcpSocket->close();
            emit_closed();
            return;
        }
    }
}
