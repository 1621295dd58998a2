#include "loopback_sender.h"

#include <arpa/inet.h>
#include <cerrno>
#include <ctime>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace {

constexpr int kAcceptMs = 5000;
constexpr int kWriteTimeoutSeconds = 5;

double thread_cpu_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

bool write_all(int fd, const std::uint8_t *data, std::size_t n)
{
    while (n > 0) {
        const ssize_t sent = ::send(fd, data, n, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false; // closed, or nothing taken within the write time-out
        data += sent;
        n -= std::size_t(sent);
    }
    return true;
}

} // namespace

loopback_sender::loopback_sender()
{
    unique_fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (!fd || ::bind(fd.get(), reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0
        || ::listen(fd.get(), 1) != 0
        || ::getsockname(fd.get(), reinterpret_cast<sockaddr *>(&addr), &length) != 0)
        return;
    m_port = ntohs(addr.sin_port);
    m_listener = std::move(fd);
}

loopback_sender::~loopback_sender()
{
    join(); // bounded: every write gives up after kWriteTimeoutSeconds
    close();
}

void loopback_sender::start(const std::vector<std::vector<std::uint8_t>> &wire, int count,
                            int fps)
{
    m_thread = std::thread([this, &wire, count, fps] { run(wire, count, fps); });
}

void loopback_sender::join()
{
    if (m_thread.joinable())
        m_thread.join();
}

void loopback_sender::close()
{
    if (m_connection)
        ::shutdown(m_connection.get(), SHUT_RDWR);
}

void loopback_sender::run(const std::vector<std::vector<std::uint8_t>> &wire, int count, int fps)
{
    const double cpuStart = thread_cpu_seconds();
    pollfd pfd{m_listener.get(), POLLIN, 0};
    if (!wire.empty() && ::poll(&pfd, 1, kAcceptMs) == 1)
        m_connection = unique_fd(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    bool ok = bool(m_connection);
    if (ok) {
        const timeval timeout{kWriteTimeoutSeconds, 0};
        ::setsockopt(m_connection.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    }
    m_started = clock::now();
    for (int i = 0; ok && i < count; ++i) {
        if (fps > 0)
            std::this_thread::sleep_until(m_started + std::chrono::nanoseconds(
                                                          std::int64_t(i) * 1000000000 / fps));
        const auto &frames = wire[std::size_t(i) % wire.size()];
        ok = write_all(m_connection.get(), frames.data(), frames.size());
    }
    m_ok = ok;
    m_cpuSeconds = thread_cpu_seconds() - cpuStart;
    m_done.store(true);
}
