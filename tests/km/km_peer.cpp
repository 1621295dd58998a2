#include "km_peer.h"

#include "encrypt/frame_cipher.h"
#include "protocol/frame.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

km_peer::km_peer(const key_type &inboundKey, const key_type &outboundKey)
    : m_inboundKey(inboundKey), m_outboundKey(outboundKey)
{
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(m_listen, 4) != 0 ||
        ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&addr), &length) != 0)
        return;
    m_port = ntohs(addr.sin_port);
}

km_peer::~km_peer()
{
    close_client();
    if (m_listen >= 0)
        ::close(m_listen);
}

bool km_peer::accept_client()
{
    pollfd p{m_listen, POLLIN, 0};
    if (::poll(&p, 1, kWaitMs) != 1)
        return false;
    m_client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    return m_client >= 0;
}

void km_peer::close_client()
{
    if (m_client >= 0)
        ::close(m_client);
    m_client = -1;
}

std::vector<std::uint8_t> km_peer::frame_of(const std::vector<std::uint8_t> &body, bool cipher,
                                            bool badChecksum) const
{
    std::vector<std::uint8_t> wire(body.size() + 8);
    std::uint32_t wireLength = static_cast<std::uint32_t>(body.size());
    std::copy(body.begin(), body.end(), wire.begin());
    if (cipher)
        des_encrypt_padded_b(m_inboundKey.data(), wire.data(), wire.data(), wireLength);
    wire.resize(wireLength);

    std::vector<std::uint8_t> frame(kFrameHeaderSize);
    frame[0] = kFrameMagic;
    frame[1] = kFrameVersion;
    frame[2] = static_cast<std::uint8_t>(sum8(wire.data(), wire.size()) + (badChecksum ? 1 : 0));
    write_be32(&frame[3], static_cast<std::uint32_t>(body.size()));
    write_be32(&frame[7], wireLength);
    frame.insert(frame.end(), wire.begin(), wire.end());
    return frame;
}

bool km_peer::send_raw(const std::vector<std::uint8_t> &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(m_client, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool km_peer::read_exact(std::uint8_t *out, std::size_t length)
{
    std::size_t done = 0;
    while (done < length) {
        pollfd p{m_client, POLLIN, 0};
        if (::poll(&p, 1, kWaitMs) != 1)
            return false;
        const ssize_t n = ::recv(m_client, out + done, length - done, 0);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool km_peer::read_frame(std::vector<std::uint8_t> &body, std::size_t *wireSize)
{
    std::uint8_t header[kFrameHeaderSize];
    std::size_t skipped = 0;
    do {
        if (!read_exact(header, 1))
            return false;
        ++skipped;
    } while (header[0] != kFrameMagic);
    if (!read_exact(header + 1, kFrameHeaderSize - 1))
        return false;
    const frame_header h = parse_frame_header(header);
    std::vector<std::uint8_t> wire(h.wireLength);
    if (h.wireLength > 4096 || !read_exact(wire.data(), wire.size()))
        return false;
    if (sum8(wire.data(), wire.size()) != h.checksum)
        return false;
    if (h.ciphered()) {
        std::uint32_t length = h.wireLength;
        if (!des_decrypt_unpadded_b(m_outboundKey.data(), wire.data(), wire.data(), length))
            return false;
        wire.resize(h.plainLength <= h.wireLength ? h.plainLength : length);
    }
    body = std::move(wire);
    if (wireSize != nullptr)
        *wireSize = kFrameHeaderSize + h.wireLength + (skipped - 1);
    return true;
}

bool test_syncer::wait_for_answer(int)
{
    const bool answered = c_net_syncer::wait_for_answer(answerWaitMs.load());
    if (answered)
        answersSeen.fetch_add(1);
    return answered;
}

std::vector<std::vector<std::uint8_t>> drain(test_syncer &syncer, km_peer &peer)
{
    std::vector<std::vector<std::uint8_t>> bodies;
    while (syncer.send_next()) {
        std::vector<std::uint8_t> body;
        if (!peer.read_frame(body))
            break;
        bodies.push_back(std::move(body));
    }
    return bodies;
}

std::string hex(const std::vector<std::uint8_t> &bytes)
{
    std::string out;
    char piece[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(piece, sizeof piece, out.empty() ? "%02X" : " %02X", b);
        out += piece;
    }
    return out;
}
