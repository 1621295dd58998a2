#include "tools/socket/c_socket_recv_video.h"

#include "encrypt/frame_cipher.h"
#include "logging/log.h"
#include "protocol/c_abs_net_handler.h"

#include <cstring>

namespace {

constexpr std::uint32_t kCipheredHead = 16; // ciphered bytes at the start of the body
constexpr std::uint32_t kPlainHead = 12;    // plain head inside them; the rest is padding
constexpr std::uint32_t kHeadOffset = kCipheredHead - kPlainHead;
constexpr std::uint8_t kVideoType = 6;

} // namespace

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
        if (length < kCipheredHead) {
            TLOG_ERROR << "video frame marked ciphered with a body of only " << length
                       << " bytes, dropped";
            return;
        }
        std::uint8_t head[kCipheredHead];
        std::uint32_t headLength = kCipheredHead;
        des_decrypt_unpadded(m_inboundKey.data(), body, head, headLength);
        if (head[0] != kVideoType) {
            TLOG_ERROR << "video data header not 0x06";
            return;
        }
        std::memcpy(body + kHeadOffset, head, kPlainHead);
        body += kHeadOffset;
        length -= kHeadOffset;
    }
    with_handler([&](c_abs_net_handler &handler) {
        handler.HandleMsg(this, body, header.rawPlainLength, length);
    });
}
