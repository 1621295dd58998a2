#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include <unistd.h>

// The serial-port bridge: one TCP connection to the device's serial port, exposed on this
// computer as a pseudo-terminal, bytes copied unchanged both ways.

// Owns one file descriptor.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

struct BridgeTarget {
    std::string ip;         // dotted IPv4
    std::uint16_t port = 0; // the number of the launch text's portCOM item
};

// Reads the launch text the viewer writes into `fd` (the bridge's standard input, a pipe)
// up to its end, for at most timeoutMs. False, with a log line, when `fd` is a terminal
// (nobody is going to write a text there), the text is longer than 1023 bytes, the writer
// neither ends it nor closes its end in time, or reading fails.
bool read_launch_input(int fd, int timeoutMs, std::string &text);

// Reads the device address (ip item) and the TCP port (portCOM item) from a decoded launch
// text. False, with a log line, when either is missing or unusable.
bool bridge_target_from_text(std::string_view decoded, BridgeTarget &target);

// Connects to the device within timeoutMs. Returns a non-blocking socket, or an invalid
// descriptor (with a log line) when the address is bad, the connect fails or times out.
UniqueFd connect_device(const BridgeTarget &target, int timeoutMs);

// Opens a pseudo-terminal in raw mode (no echo, no line editing, no CR/LF translation, so
// bytes pass unchanged). Returns its non-blocking master side and sets slavePath to the
// terminal a serial program opens; invalid (with a log line) on failure.
UniqueFd open_bridge_terminal(std::string &slavePath);

enum class BridgeEnd { DeviceClosed, TerminalClosed, Stopped, Failed };

// Copies bytes both ways between the device socket and the terminal's master side until the
// device closes, a program that had opened the terminal closes it, `stop` becomes true
// (checked at least every 100 ms) or an error occurs. Both descriptors must be
// non-blocking. Runs on the calling thread.
BridgeEnd relay_bridge(int deviceFd, int terminalFd, const std::atomic<bool> &stop);

const char *bridge_end_text(BridgeEnd end);
