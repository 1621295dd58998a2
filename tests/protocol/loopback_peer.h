#pragma once

#include "protocol/frame.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

// The device's end of a loopback TCP connection, in plain POSIX calls: listens on
// 127.0.0.1 with a port the system picks, accepts one connection and reads frames the way the
// device does (hunting for 0xA5, then the header, then wire-length body bytes). Every wait is
// bounded.
class loopback_peer {
public:
    loopback_peer()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr *>(&addr), len) != 0 ||
            ::listen(m_listen, 1) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
            return;
        m_port = ntohs(addr.sin_port);
    }
    ~loopback_peer()
    {
        if (m_conn >= 0)
            ::close(m_conn);
        if (m_listen >= 0)
            ::close(m_listen);
    }
    loopback_peer(const loopback_peer &) = delete;
    loopback_peer &operator=(const loopback_peer &) = delete;

    std::uint16_t port() const { return m_port; }

    bool accept_within(int timeoutMs)
    {
        if (!wait_readable(m_listen, timeoutMs))
            return false;
        m_conn = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        return m_conn >= 0;
    }

    // One frame, header included; empty on a timeout or a closed connection.
    std::vector<std::uint8_t> read_frame(int timeoutMs)
    {
        std::uint8_t byte = 0;
        do {
            if (!read_exact(&byte, 1, timeoutMs))
                return {};
        } while (byte != kFrameMagic);
        std::vector<std::uint8_t> frame(kFrameHeaderSize);
        frame[0] = byte;
        if (!read_exact(frame.data() + 1, kFrameHeaderSize - 1, timeoutMs))
            return {};
        const std::uint32_t wire = read_be32(frame.data() + 7);
        if (wire > 1u << 20)
            return {};
        frame.resize(kFrameHeaderSize + wire);
        if (!read_exact(frame.data() + kFrameHeaderSize, wire, timeoutMs))
            return {};
        return frame;
    }

private:
    static bool wait_readable(int fd, int timeoutMs)
    {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, timeoutMs) == 1;
    }

    bool read_exact(std::uint8_t *out, std::size_t n, int timeoutMs)
    {
        std::size_t got = 0;
        while (got < n) {
            if (!wait_readable(m_conn, timeoutMs))
                return false;
            const ssize_t r = ::recv(m_conn, out + got, n - got, 0);
            if (r <= 0)
                return false;
            got += static_cast<std::size_t>(r);
        }
        return true;
    }

    int m_listen = -1;
    int m_conn = -1;
    std::uint16_t m_port = 0;
};
