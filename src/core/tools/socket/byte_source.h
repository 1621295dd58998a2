#pragma once

#include <cstdint>

class c_tcp_sock;

// Where a frame_reader takes its bytes from: a channel's socket, or a buffer in tests.
// Both calls come from the reading thread only.
class byte_source {
public:
    // Results of wait_readable and read_some besides a byte count.
    static constexpr int kTimeout = 0;
    static constexpr int kClosed = 0;
    static constexpr int kRetry = -1; // failed this time (errno tells); worth another try
    static constexpr int kGone = -2;  // can never deliver again (closed here, bad descriptor)

    virtual ~byte_source() = default;

    // Waits up to timeoutMs until a read would not block: 1, kTimeout, kRetry or kGone.
    virtual int wait_readable(int timeoutMs) = 0;
    // Reads up to length (> 0) bytes: the count, kClosed at the end of the stream, kRetry
    // or kGone.
    virtual int read_some(std::uint8_t *buffer, int length) = 0;
};

// The byte source of a channel socket. The socket must outlive the source.
class tcp_byte_source : public byte_source {
public:
    explicit tcp_byte_source(c_tcp_sock &sock) : m_sock(sock) {}

    int wait_readable(int timeoutMs) override;
    int read_some(std::uint8_t *buffer, int length) override;

private:
    int classify_failure() const;

    c_tcp_sock &m_sock;
};
