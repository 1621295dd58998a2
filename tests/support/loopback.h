#pragma once

#include "log_capture.h"
#include "protocol/c_abs_net_handler.h"
#include "tools/disk/rw_disk/unique_fd.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

class c_tcp_sock;

namespace socket_test {

using bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

using ::unique_fd;

// A TCP listener on 127.0.0.1 with a port the system picks.
class loopback_listener {
public:
    explicit loopback_listener(int backlog = 8);
    std::uint16_t port() const { return m_port; }
    // The next connection, or an invalid descriptor after timeoutMs.
    unique_fd accept_one(int timeoutMs = 2000);
    void close() { m_fd.reset(); }

private:
    unique_fd m_fd;
    std::uint16_t m_port = 0;
};

// A c_tcp_sock connected to a loopback listener, and the accepted peer (playing the device).
struct loopback_connection {
    loopback_connection();
    loopback_listener listener;
    std::shared_ptr<c_tcp_sock> sock;
    unique_fd peer;
};

// A port on 127.0.0.1 where nothing listens (just released).
std::uint16_t free_port();
// Number of open descriptors of this process.
int open_fd_count();

// Reads exactly n bytes from fd (a socket, a pipe, a terminal) within timeoutMs; false on
// timeout, error or close.
bool read_fd(int fd, std::uint8_t *out, std::size_t n, int timeoutMs = 3000);
// Writes all bytes (blocking).
bool write_fd(int fd, const bytes &data);
// True when fd has something to read (or is closed) within timeoutMs.
bool fd_readable(int fd, int timeoutMs);

// 0xA5 0x01 checksum plainLength wireLength body, written out by hand.
bytes frame_bytes(const bytes &body, std::uint32_t plainLength);
inline bytes frame_bytes(const bytes &body) { return frame_bytes(body, static_cast<std::uint32_t>(body.size())); }
// A type-6 body: type, last, 6 reserved bytes, data length (BE), data.
bytes video_body(std::uint8_t last, const std::uint8_t *data, std::size_t size);
inline bytes video_body(std::uint8_t last, const bytes &data) { return video_body(last, data.data(), data.size()); }

// Polls pred every few milliseconds until it holds or timeout passes.
bool eventually(const std::function<bool()> &pred, std::chrono::milliseconds timeout = 3000ms);

using ::log_lines_with;

} // namespace socket_test
