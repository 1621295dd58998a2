#include "loopback.h"

#include "protocol/frame.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <ctime>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>

namespace bench_loopback {

namespace {

constexpr int kReceiveTimeoutSeconds = 5;

sockaddr_in loopback(std::uint16_t port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return addr;
}

void bound_receives(int fd)
{
    const timeval timeout{kReceiveTimeoutSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

} // namespace

unique_fd listen_any(std::uint16_t &port)
{
    unique_fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr = loopback(0);
    socklen_t length = sizeof addr;
    if (!fd || ::bind(fd.get(), reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(fd.get(), 4) != 0 ||
        ::getsockname(fd.get(), reinterpret_cast<sockaddr *>(&addr), &length) != 0)
        return {};
    port = ntohs(addr.sin_port);
    return fd;
}

unique_fd accept_within(int listener, int timeoutMs)
{
    pollfd pfd{listener, POLLIN, 0};
    if (::poll(&pfd, 1, timeoutMs) != 1)
        return {};
    unique_fd fd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    if (fd)
        bound_receives(fd.get());
    return fd;
}

unique_fd connect_to(std::uint16_t port)
{
    unique_fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in addr = loopback(port);
    if (!fd || ::connect(fd.get(), reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0)
        return {};
    bound_receives(fd.get());
    return fd;
}

bool read_all(int fd, std::uint8_t *out, std::size_t n)
{
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = ::recv(fd, out + got, n - got, 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        got += static_cast<std::size_t>(r);
    }
    return true;
}

bool write_all(int fd, const std::uint8_t *data, std::size_t n)
{
    std::size_t sent = 0;
    while (sent < n) {
        const ssize_t r = ::send(fd, data + sent, n - sent, MSG_NOSIGNAL);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        sent += static_cast<std::size_t>(r);
    }
    return true;
}

bool read_frame(int fd, std::vector<std::uint8_t> &frame)
{
    frame.resize(kFrameHeaderSize);
    if (!read_all(fd, frame.data(), kFrameHeaderSize) || frame[0] != kFrameMagic)
        return false;
    const std::uint32_t length = read_be32(frame.data() + 7);
    if (length == 0 || length > 4096)
        return false;
    frame.resize(kFrameHeaderSize + length);
    return read_all(fd, frame.data() + kFrameHeaderSize, length);
}

std::vector<std::uint8_t> frame_of(const std::vector<std::uint8_t> &body)
{
    std::vector<std::uint8_t> frame(kFrameHeaderSize + body.size());
    std::uint32_t length = 0;
    build_frame({{static_cast<std::uint32_t>(body.size()), body.data()}}, frame.data(), length);
    frame.resize(length);
    return frame;
}

void tighten_timer_slack()
{
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

void wait_to_answer(std::chrono::steady_clock::time_point arrival, std::chrono::microseconds delay)
{
    if (delay.count() <= 0)
        return;
    // An absolute deadline: the time spent reading and handling the frame is part of the
    // delay, not added to it. steady_clock is CLOCK_MONOTONIC on Linux.
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        (arrival + delay).time_since_epoch())
                        .count();
    const timespec deadline{static_cast<time_t>(ns / 1000000000),
                            static_cast<long>(ns % 1000000000)};
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

} // namespace bench_loopback
