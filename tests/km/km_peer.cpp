#include "km_peer.h"

#include "protocol/frame.h"
#include "protocol/km_frame.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool readable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, km_peer::kWaitMs) == 1;
}

} // namespace

km_peer::km_peer(const key_type &inboundKey, const key_type &outboundKey)
    : m_inboundKey(inboundKey), m_outboundKey(outboundKey)
{
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (::bind(m_listen, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 && ::listen(m_listen, 4) == 0 &&
        ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&addr), &length) == 0)
        m_port = ntohs(addr.sin_port);
}

km_peer::~km_peer()
{
    close_client();
    ::close(m_listen);
}

bool km_peer::accept_client()
{
    m_client = readable(m_listen) ? ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    return m_client >= 0;
}

void km_peer::close_client()
{
    if (m_client >= 0)
        ::close(m_client);
    m_client = -1;
}

km_peer::bytes km_peer::frame_of(const bytes &body, bool cipher, bool badChecksum) const
{
    bytes frame(kFrameHeaderSize + body.size());
    std::uint32_t length = 0;
    if (cipher)
        build_km_frame(m_inboundKey.data(), body[0], body.data() + 1, static_cast<std::uint32_t>(body.size() - 1), frame);
    else
        build_frame({{static_cast<std::uint32_t>(body.size()), body.data()}}, frame.data(), length);
    frame[2] = static_cast<std::uint8_t>(frame[2] + (badChecksum ? 1 : 0));
    return frame;
}

bool km_peer::send_raw(const bytes &wire)
{
    for (std::size_t done = 0; done < wire.size();) {
        const ssize_t n = ::send(m_client, wire.data() + done, wire.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool km_peer::read_exact(std::uint8_t *out, std::size_t length)
{
    for (std::size_t done = 0; done < length;) {
        const ssize_t n = readable(m_client) ? ::recv(m_client, out + done, length - done, 0) : 0;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool km_peer::read_frame(bytes &body)
{
    std::uint8_t header[kFrameHeaderSize];
    do {
        if (!read_exact(header, 1))
            return false;
    } while (header[0] != kFrameMagic);
    if (!read_exact(header + 1, kFrameHeaderSize - 1))
        return false;
    const frame_header h = parse_frame_header(header);
    if (h.wireLength > 4096)
        return false;
    body.assign(h.wireLength, 0);
    std::uint32_t length = h.wireLength;
    if (!read_exact(body.data(), body.size()) || sum8(body.data(), body.size()) != h.checksum ||
        (h.ciphered() && !decipher_frame_body(m_outboundKey.data(), h, body.data(), length)))
        return false;
    body.resize(length);
    return true;
}
