#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

// The one TCP connection of a device channel: a thin blocking wrapper over a POSIX socket.
// It does no framing: within a channel one thread sends and one receives, and any thread
// may close. Every operation returns 1 on success and -1 on failure (tcp_recv: the byte
// count). Failures are logged; nothing throws.
class c_tcp_sock {
public:
    c_tcp_sock() = default;
    ~c_tcp_sock(); // close(), then uninit()
    c_tcp_sock(const c_tcp_sock &) = delete;
    c_tcp_sock &operator=(const c_tcp_sock &) = delete;

    // Nothing to start on Linux; kept so channels read as they always did. Return 1.
    int init();
    int uninit();

    // Stores the device address (dotted IPv4 text, no name lookup) and port (host order).
    // An unparsable text gives the "none" address; the later connect fails with EINVAL.
    void set_remote_addr(const char *ip, std::uint16_t port);

    // Creates the socket with 512 KiB buffers both ways, bound when localPort is not 0.
    // -1 with "create_sock -1" when this object already has a socket (which stays open).
    int create_sock(const char *localIp, std::uint16_t localPort);
    // Creates the socket and connects it to the stored address within timeoutMs; the
    // socket is blocking afterwards. A failed connect leaves no socket behind, so the call
    // may be repeated on the same object.
    int create_sock(const char *localIp, std::uint16_t localPort, int timeoutMs);
    // Why the last connect of create_sock(..., timeoutMs) failed, as an errno value:
    // ECONNREFUSED, EHOSTUNREACH, ETIMEDOUT (nothing answered within timeoutMs), EINVAL (no
    // usable address), ...; 0 after a connect that succeeded or before any.
    int last_connect_error() const { return m_connectError.load(); }

    // Sends the whole buffer: 1 when all length bytes went out, else -1 (null buffer or
    // length <= 0 give -1 without a call). A closed peer never raises SIGPIPE.
    int tcp_send(const void *buffer, int length);
    // One receive call: bytes received, 0 on an orderly close by the peer, -1 on error
    // (errno tells; EBADF when there is no socket). Null buffer or length <= 0 give -1.
    int tcp_recv(void *buffer, int length, int flags = 0);
    // Waits up to timeoutMs for data (or a close) to read: 1 readable, 0 timeout, -1 error
    // (EBADF when there is no socket).
    int wait_readable(int timeoutMs);

    // Closes the socket if there is one. Harmless when repeated. Any thread may call it:
    // a receive, send or wait blocked in another thread returns at once, and the
    // descriptor is released only after that call has left it.
    void close();

    bool has_socket() const { return m_socket.load() >= 0; }
    // Port the socket is bound to locally (host order), 0 without a socket.
    std::uint16_t local_port() const;

private:
    // Holds the current descriptor open for the duration of one system call.
    class use;

    int acquire() const;
    void release() const;
    int connect_within(int fd, int timeoutMs);

    std::uint32_t m_localAddr = 0;   // network order
    std::uint16_t m_localPort = 0;   // network order
    std::uint32_t m_remoteAddr = 0;  // network order
    std::uint16_t m_remotePort = 0;  // network order
    bool m_remoteValid = false;
    std::atomic<int> m_socket{-1};
    std::atomic<int> m_connectError{0};

    // Calls in flight and descriptors whose close waits for them.
    mutable std::mutex m_useLock;
    mutable int m_users = 0;
    mutable std::vector<int> m_pendingClose;
};
