#include "tools/socket/c_socket_recv_video.h"

#include "encrypt/frame_cipher.h"
#include "logging/log.h"
#include "protocol/c_abs_net_handler.h"
#include "protocol/video_head.h"

c_socket_recv_video::c_socket_recv_video(std::shared_ptr<c_tcp_sock> sock,
                                         c_abs_net_handler *handler,
                                         const key_type &inboundKey)
    : c_abs_socket_recv(std::move(sock), handler), m_inboundKey(inboundKey)
{
    setObjectName(QStringLiteral("video_recv"));
}

// Runs on the receive thread.
void c_socket_recv_video::handle_frame(const frame_header &header, std::uint8_t *body,
                                       std::uint32_t length)
{
    if (header.ciphered()) {
        if (length < kVideoCipheredHeadSize) {
            TLOG_ERROR << "video frame marked ciphered with a body of only " << length
                       << " bytes, dropped";
            return;
        }
        if (!decipher_video_head(m_inboundKey.data(), body, length)) {
            TLOG_ERROR << "video data header not 0x06";
            return;
        }
        constexpr std::uint32_t kShift = kVideoCipheredHeadSize - kVideoHeadSize;
        body += kShift;
        length -= kShift;
    }
    with_handler([&](c_abs_net_handler &handler) {
        handler.HandleMsg(this, body, header.rawPlainLength, length);
    });
}
