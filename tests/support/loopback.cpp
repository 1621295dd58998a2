#include "loopback.h"

#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <filesystem>
#include <thread>

namespace socket_test {

loopback_listener::loopback_listener(int backlog) : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(m_fd.get(), reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(m_fd.get(), backlog) != 0 ||
        ::getsockname(m_fd.get(), reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        ADD_FAILURE() << "listener set-up failed";
    m_port = ntohs(addr.sin_port);
}

unique_fd loopback_listener::accept_one(int timeoutMs)
{
    return unique_fd(fd_readable(m_fd.get(), timeoutMs) ? ::accept4(m_fd.get(), nullptr, nullptr, SOCK_CLOEXEC) : -1);
}

loopback_connection::loopback_connection() : sock(std::make_shared<c_tcp_sock>())
{
    sock->set_remote_addr("127.0.0.1", listener.port());
    EXPECT_EQ(sock->create_sock(nullptr, 0, 2000), 1);
    peer = listener.accept_one();
    EXPECT_GE(peer.get(), 0);
}

std::uint16_t free_port()
{
    return loopback_listener().port();
}

int open_fd_count()
{
    using std::filesystem::directory_iterator;
    return static_cast<int>(std::distance(directory_iterator("/proc/self/fd"), directory_iterator()));
}

bool fd_readable(int fd, int timeoutMs)
{
    pollfd pfd{fd, POLLIN, 0};
    return ::poll(&pfd, 1, timeoutMs) == 1;
}

bool read_fd(int fd, std::uint8_t *out, std::size_t n, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (std::size_t got = 0; got < n;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const ssize_t r =
            left.count() > 0 && fd_readable(fd, int(left.count())) ? ::read(fd, out + got, n - got) : 0;
        if (r <= 0)
            return false;
        got += static_cast<std::size_t>(r);
    }
    return true;
}

bool write_fd(int fd, const bytes &data)
{
    for (std::size_t sent = 0; sent < data.size();) {
        const ssize_t r = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (r <= 0)
            return false;
        sent += static_cast<std::size_t>(r);
    }
    return true;
}

static void put_be32(bytes &out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

bytes frame_bytes(const bytes &body, std::uint32_t plainLength)
{
    std::uint8_t sum = 0;
    for (const std::uint8_t b : body)
        sum = static_cast<std::uint8_t>(sum + b);
    bytes out{0xA5, 0x01, sum};
    put_be32(out, plainLength);
    put_be32(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

bytes video_body(std::uint8_t last, const std::uint8_t *data, std::size_t size)
{
    bytes body{6, last, 0, 0, 0, 0, 0, 0};
    put_be32(body, static_cast<std::uint32_t>(size));
    body.insert(body.end(), data, data + size);
    return body;
}

bool eventually(const std::function<bool()> &pred, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

} // namespace socket_test
