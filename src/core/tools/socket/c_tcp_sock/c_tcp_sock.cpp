#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

#include "logging/log.h"
#include "utils.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>

namespace {

constexpr int kSocketBufferSize = 0x80000;

// The system's description of errno for `function`, taken before any log line is written
// (writing a log line may change errno).
std::string error_text(const char *function)
{
    std::string text;
    get_error_info(function, true, text);
    return text;
}

// poll() on one descriptor, restarted after signals with the time that is left.
int poll_one(int fd, short events, int timeoutMs, short &revents)
{
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - clock::now());
        pollfd pfd{fd, events, 0};
        const int rc = ::poll(&pfd, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (rc < 0 && errno == EINTR)
            continue;
        revents = pfd.revents;
        return rc;
    }
}

} // namespace

// Keeps the descriptor from being released (and its number reused) while a system call of
// this object runs on it in some thread.
class c_tcp_sock::use {
public:
    explicit use(const c_tcp_sock &sock) : m_sock(sock), m_fd(sock.acquire()) {}
    ~use()
    {
        if (m_fd >= 0)
            m_sock.release();
    }
    use(const use &) = delete;
    use &operator=(const use &) = delete;
    int fd() const { return m_fd; }

private:
    const c_tcp_sock &m_sock;
    int m_fd;
};

c_tcp_sock::~c_tcp_sock()
{
    close();
    uninit();
}

int c_tcp_sock::init()
{
    return 1;
}

int c_tcp_sock::uninit()
{
    return 1;
}

void c_tcp_sock::set_remote_addr(const char *ip, std::uint16_t port)
{
    in_addr parsed{};
    // inet_addr cannot tell "255.255.255.255" from text it could not read.
    m_remoteValid = ip != nullptr && ::inet_pton(AF_INET, ip, &parsed) == 1;
    m_remoteAddr = m_remoteValid ? parsed.s_addr : INADDR_NONE;
    m_remotePort = htons(port);
}

int c_tcp_sock::create_sock(const char *localIp, std::uint16_t localPort)
{
    if (m_socket.load() >= 0) {
        TLOG_ERROR << "create_sock -1";
        return -1;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        const int code = errno;
        TLOG_ERROR << "socket failed." << code;
        return -1;
    }
    m_localAddr = localIp ? ::inet_addr(localIp) : htonl(INADDR_ANY);
    m_localPort = htons(localPort);
    if (localPort != 0) {
        TLOG_INFO << "bind m_localPort:" << m_localPort;
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = m_localAddr;
        local.sin_port = m_localPort;
        if (::bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
            const std::string text = error_text("bind");
            ::close(fd);
            TLOG_ERROR << "c_tcp_sock::create_sock bind failed " << text;
            return -1;
        }
    }
    const int size = kSocketBufferSize;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);

    int none = -1;
    if (!m_socket.compare_exchange_strong(none, fd)) {
        ::close(fd); // another thread created one meanwhile
        TLOG_ERROR << "create_sock -1";
        return -1;
    }
    return 1;
}

int c_tcp_sock::create_sock(const char *localIp, std::uint16_t localPort, int timeoutMs)
{
    if (create_sock(localIp, localPort) != 1) {
        TLOG_ERROR << "c_tcp_sock::create_sock";
        return -1;
    }
    int rc;
    {
        use u(*this);
        rc = u.fd() >= 0 ? connect_within(u.fd(), timeoutMs) : -1;
    }
    if (rc != 1)
        close();
    else
        m_connectError.store(0);
    return rc;
}

// Non-blocking connect bounded by a poll for writability, then back to blocking.
int c_tcp_sock::connect_within(int fd, int timeoutMs)
{
    if (!m_remoteValid) {
        m_connectError.store(EINVAL);
        TLOG_ERROR << "c_tcp_sock::create_sock: the device address is not a dotted IPv4 address";
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);

    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr.s_addr = m_remoteAddr;
    remote.sin_port = m_remotePort;
    const int rc = ::connect(fd, reinterpret_cast<const sockaddr *>(&remote), sizeof remote);
    if (rc != 0 && errno != EINPROGRESS && errno != EINTR) {
        m_connectError.store(errno);
        const std::string text = error_text("connect");
        TLOG_ERROR << "connect error:" << rc;
        TLOG_ERROR << "c_tcp_sock::create_sock 3" << text;
        return -1;
    }
    if (rc != 0) {
        short revents = 0;
        const int ready = poll_one(fd, POLLOUT, timeoutMs, revents);
        if (ready < 0) {
            m_connectError.store(errno);
            const std::string text = error_text("connect");
            TLOG_ERROR << "connect error:" << -1;
            TLOG_ERROR << "connect error:" << text;
            return -1;
        }
        if (ready == 0) {
            m_connectError.store(ETIMEDOUT);
            TLOG_ERROR << "c_tcp_sock::create_sock 2";
            return -1;
        }
        int soError = 0;
        socklen_t len = sizeof soError;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0)
            soError = errno;
        if (soError != 0) {
            m_connectError.store(soError);
            errno = soError;
            const std::string text = error_text("connect");
            TLOG_ERROR << "connect error:" << -1;
            TLOG_ERROR << "c_tcp_sock::create_sock 3" << text;
            return -1;
        }
    }
    ::fcntl(fd, F_SETFL, flags);
    return 1;
}

int c_tcp_sock::tcp_send(const void *buffer, int length)
{
    if (!buffer || length <= 0)
        return -1;
    use u(*this);
    if (u.fd() < 0) {
        errno = EBADF;
        const std::string text = error_text("send");
        TLOG_ERROR << "c_tcp_sock::tcp_send socket error." << text;
        return -1;
    }
    // A blocking send returns early only when a signal interrupts it; the rest is sent
    // too, because half a frame on the wire would put the device's reader out of step.
    const char *next = static_cast<const char *>(buffer);
    std::size_t left = static_cast<std::size_t>(length);
    while (left > 0) {
        const ssize_t sent = ::send(u.fd(), next, left, MSG_NOSIGNAL);
        if (sent > 0) {
            next += sent;
            left -= static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        const std::string text = error_text("send");
        TLOG_ERROR << "c_tcp_sock::tcp_send socket error." << text;
        return -1;
    }
    return 1;
}

int c_tcp_sock::tcp_recv(void *buffer, int length, int flags)
{
    if (!buffer || length <= 0) {
        errno = EINVAL; // a zero-byte receive would read as an orderly close
        return -1;
    }
    use u(*this);
    if (u.fd() < 0) {
        errno = EBADF;
        return -1;
    }
    return static_cast<int>(::recv(u.fd(), buffer, static_cast<std::size_t>(length), flags));
}

int c_tcp_sock::wait_readable(int timeoutMs)
{
    use u(*this);
    if (u.fd() < 0) {
        errno = EBADF;
        return -1;
    }
    short revents = 0;
    const int rc = poll_one(u.fd(), POLLIN, timeoutMs, revents);
    if (rc > 0 && (revents & POLLNVAL)) {
        errno = EBADF;
        return -1;
    }
    return rc > 0 ? 1 : rc;
}

void c_tcp_sock::close()
{
    std::lock_guard lock(m_useLock);
    const int fd = m_socket.exchange(-1);
    if (fd < 0)
        return;
    // shutdown wakes a receive, send or poll blocked on the descriptor in another thread;
    // the descriptor itself is released by the last call still using it.
    ::shutdown(fd, SHUT_RDWR);
    if (m_users == 0)
        ::close(fd);
    else
        m_pendingClose.push_back(fd);
}

std::uint16_t c_tcp_sock::local_port() const
{
    use u(*this);
    if (u.fd() < 0)
        return 0;
    sockaddr_in local{};
    socklen_t len = sizeof local;
    if (::getsockname(u.fd(), reinterpret_cast<sockaddr *>(&local), &len) != 0)
        return 0;
    return ntohs(local.sin_port);
}

int c_tcp_sock::acquire() const
{
    std::lock_guard lock(m_useLock);
    const int fd = m_socket.load();
    if (fd >= 0)
        ++m_users;
    return fd;
}

void c_tcp_sock::release() const
{
    std::lock_guard lock(m_useLock);
    if (--m_users > 0)
        return;
    for (const int fd : m_pendingClose)
        ::close(fd);
    m_pendingClose.clear();
}
