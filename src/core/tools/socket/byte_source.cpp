#include "tools/socket/byte_source.h"

#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

#include <cerrno>

int tcp_byte_source::wait_readable(int timeoutMs)
{
    const int rc = m_sock.wait_readable(timeoutMs);
    return rc >= 0 ? rc : classify_failure();
}

int tcp_byte_source::read_some(std::uint8_t *buffer, int length)
{
    const int rc = m_sock.tcp_recv(buffer, length, 0);
    return rc >= 0 ? rc : classify_failure();
}

// Interruptions and momentary shortages are retried at the same position; anything else
// (the socket closed here, a reset connection, a bad descriptor) would fail forever.
int tcp_byte_source::classify_failure() const
{
    if (!m_sock.has_socket())
        return kGone;
    switch (errno) {
    case EINTR:
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case ENOMEM:
    case ENOBUFS:
        return kRetry;
    default:
        return kGone;
    }
}
