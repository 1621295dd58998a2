#include "serial_bridge.h"
#include "launch/LaunchParams.h"
#include "logging/log.h"
#include "utils.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>

namespace {

void log_system_error(const char *function)
{
    std::string text;
    get_error_info(function, true, text);
    TLOG_ERROR << text;
}

// One direction of the copy: bytes read from one side that the other has not yet taken.
struct Pending {
    char data[16384];
    std::size_t begin = 0;
    std::size_t end = 0;

    bool empty() const { return begin == end; }
};

enum class Io { Ok, Closed, Failed };

// Reads what is there into an empty buffer. EIO on a terminal master means that the last
// program holding the terminal closed it.
Io fill(int fd, Pending &buffer)
{
    const ssize_t n = ::read(fd, buffer.data, sizeof buffer.data);
    if (n > 0) {
        buffer.begin = 0;
        buffer.end = static_cast<std::size_t>(n);
        return Io::Ok;
    }
    if (n == 0 || errno == EIO || errno == ECONNRESET)
        return Io::Closed;
    return errno == EAGAIN || errno == EINTR ? Io::Ok : Io::Failed;
}

// Writes as much as the other side takes now; the rest waits for POLLOUT.
Io drain(int fd, Pending &buffer, bool socket)
{
    while (!buffer.empty()) {
        const std::size_t size = buffer.end - buffer.begin;
        const ssize_t n = socket ? ::send(fd, buffer.data + buffer.begin, size, MSG_NOSIGNAL)
                                 : ::write(fd, buffer.data + buffer.begin, size);
        if (n > 0) {
            buffer.begin += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return Io::Ok;
        return errno == EPIPE || errno == ECONNRESET || errno == EIO ? Io::Closed : Io::Failed;
    }
    buffer.begin = buffer.end = 0;
    return Io::Ok;
}

short wanted(const Pending &incoming, const Pending &outgoing)
{
    short events = 0;
    if (incoming.empty())
        events |= POLLIN;
    if (!outgoing.empty())
        events |= POLLOUT;
    return events;
}

} // namespace

bool read_launch_input(int fd, int timeoutMs, std::string &text)
{
    if (::isatty(fd)) {
        TLOG_ERROR << "serial bridge: the launch text is expected on standard input, not a terminal";
        return false;
    }
    text.clear();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char chunk[kLaunchTextBuffer];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0) {
            TLOG_ERROR << "serial bridge: the launch text did not end within " << timeoutMs << " ms";
            return false;
        }
        const ssize_t n = ready > 0 ? ::read(fd, chunk, sizeof chunk) : -1;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            log_system_error(ready > 0 ? "read" : "poll");
            return false;
        }
        if (n == 0)
            return true;
        text.append(chunk, static_cast<std::size_t>(n));
        // The viewer cuts its text to this size: more is not a launch text.
        if (text.size() >= kLaunchTextBuffer) {
            TLOG_ERROR << "serial bridge: the launch text is longer than " << kLaunchTextBuffer - 1
                       << " bytes";
            return false;
        }
    }
}

bool bridge_target_from_text(std::string_view decoded, BridgeTarget &target)
{
    target.ip = parse_launch_params(decoded).ip;
    std::uint32_t port = 0;
    for (const std::string_view item : launch_items(decoded)) {
        if (item.substr(0, 7) == "portCOM")
            port = launch_number(launch_item_value(item));
    }
    if (target.ip.empty() || port == 0 || port > 65535) {
        TLOG_ERROR << "serial bridge: the launch text lacks a usable ip or portCOM item";
        return false;
    }
    target.port = static_cast<std::uint16_t>(port);
    return true;
}

UniqueFd connect_device(const BridgeTarget &target, int timeoutMs)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(target.port);
    if (::inet_pton(AF_INET, target.ip.c_str(), &address.sin_addr) != 1) {
        TLOG_ERROR << "serial bridge: bad device address " << target.ip;
        return {};
    }
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        log_system_error("socket");
        return {};
    }
    if (::connect(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS) {
            log_system_error("connect");
            return {};
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        pollfd p{fd.get(), POLLOUT, 0};
        int ready = 0;
        do {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            ready = ::poll(&p, 1, static_cast<int>(std::max<long long>(0, left.count())));
        } while (ready < 0 && errno == EINTR);
        int error = 0;
        socklen_t length = sizeof error;
        if (ready <= 0 || ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 ||
            error != 0) {
            errno = ready == 0 ? ETIMEDOUT : error;
            log_system_error("connect");
            return {};
        }
    }
    // Serial traffic is small and interactive: send each piece at once.
    const int on = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

UniqueFd open_bridge_terminal(std::string &slavePath)
{
    UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    char name[128];
    if (!master.valid() || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0 ||
        ::ptsname_r(master.get(), name, sizeof name) != 0) {
        log_system_error("posix_openpt");
        return {};
    }
    // Terminal settings made through the master apply to the slave side.
    termios settings{};
    if (::tcgetattr(master.get(), &settings) != 0) {
        log_system_error("tcgetattr");
        return {};
    }
    ::cfmakeraw(&settings);
    if (::tcsetattr(master.get(), TCSANOW, &settings) != 0) {
        log_system_error("tcsetattr");
        return {};
    }
    slavePath = name;
    return master;
}

BridgeEnd relay_bridge(int deviceFd, int terminalFd, const std::atomic<bool> &stop)
{
    auto toTerminal = std::make_unique<Pending>();
    auto toDevice = std::make_unique<Pending>();
    while (!stop.load()) {
        pollfd fds[2] = {{deviceFd, wanted(*toTerminal, *toDevice), 0},
                         {terminalFd, wanted(*toDevice, *toTerminal), 0}};
        const int ready = ::poll(fds, 2, 100);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            log_system_error("poll");
            return BridgeEnd::Failed;
        }
        // A terminal nobody holds any more reports POLLHUP; before the first program opens
        // it, it reports nothing.
        if ((fds[1].revents & (POLLHUP | POLLERR)) && !(fds[1].revents & POLLIN))
            return BridgeEnd::TerminalClosed;
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            // A broken connection while the terminal still holds back earlier bytes: waiting
            // for the terminal would only spin on the error.
            if (!toTerminal->empty())
                return BridgeEnd::DeviceClosed;
            const Io io = fill(deviceFd, *toTerminal);
            if (io != Io::Ok)
                return io == Io::Closed ? BridgeEnd::DeviceClosed : BridgeEnd::Failed;
        }
        if (fds[1].revents & POLLIN) {
            const Io io = fill(terminalFd, *toDevice);
            if (io != Io::Ok)
                return io == Io::Closed ? BridgeEnd::TerminalClosed : BridgeEnd::Failed;
        }
        const Io out1 = drain(terminalFd, *toTerminal, false);
        if (out1 != Io::Ok)
            return out1 == Io::Closed ? BridgeEnd::TerminalClosed : BridgeEnd::Failed;
        const Io out2 = drain(deviceFd, *toDevice, true);
        if (out2 != Io::Ok)
            return out2 == Io::Closed ? BridgeEnd::DeviceClosed : BridgeEnd::Failed;
    }
    return BridgeEnd::Stopped;
}

const char *bridge_end_text(BridgeEnd end)
{
    switch (end) {
    case BridgeEnd::DeviceClosed: return "the device closed the connection";
    case BridgeEnd::TerminalClosed: return "the terminal was closed";
    case BridgeEnd::Stopped: return "stopped";
    case BridgeEnd::Failed: return "an error";
    }
    return "?";
}
