#include "tools/socket/frame_reader.h"

#include "logging/log.h"
#include "tools/socket/byte_source.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

frame_reader::frame_reader(byte_source &source, std::function<bool()> stopRequested,
                           std::uint8_t *buffer, std::uint32_t capacity)
    : m_source(source), m_stopRequested(std::move(stopRequested)), m_buffer(buffer),
      m_capacity(capacity), m_ahead(std::make_unique_for_overwrite<std::uint8_t[]>(kReadAhead))
{
}

frame_reader::status frame_reader::next(frame_header &header, std::uint32_t &bodyLength)
{
    for (;;) {
        std::uint8_t head[kFrameHeaderSize];
        status st = hunt_magic();
        if (st != status::frame)
            return st;
        head[0] = kFrameMagic;
        if ((st = read_exact(head + 1, kFrameHeaderSize - 1)) != status::frame)
            return st;
        header = parse_frame_header(head);

        if (header.wireLength == 0) {
            TLOG_WARN << "frame without body skipped";
            continue;
        }
        if (header.wireLength > m_capacity) {
            TLOG_ERROR << "frame body of " << header.wireLength
                       << " bytes exceeds the receive buffer of " << m_capacity
                       << " bytes, discarded";
            if ((st = discard(header.wireLength)) != status::frame)
                return st;
            continue;
        }
        if ((st = read_exact(m_buffer, header.wireLength)) != status::frame)
            return st;
        bodyLength = header.wireLength;
        return status::frame;
    }
}

// Waits until the source has something to read; status::frame means "go on".
frame_reader::status frame_reader::wait()
{
    for (;;) {
        if (m_stopRequested())
            return status::stopped;
        const int rc = m_source.wait_readable(kPollMs);
        if (rc > 0)
            return status::frame;
        if (rc == byte_source::kTimeout)
            continue;
        if (rc == byte_source::kGone)
            return status::closed;
        std::fprintf(stderr, "c_tcp_sock::tcp_recv socket error = %d\n", errno);
        if (failed("wait"))
            return status::closed;
    }
}

std::uint32_t frame_reader::take_ahead(std::uint8_t *out, std::uint32_t length)
{
    const std::uint32_t n = std::min(length, m_aheadEnd - m_aheadBegin);
    if (n > 0) {
        std::memcpy(out, m_ahead.get() + m_aheadBegin, n);
        m_aheadBegin += n;
    }
    return n;
}

frame_reader::status frame_reader::read_exact(std::uint8_t *out, std::uint32_t length)
{
    std::uint32_t got = take_ahead(out, length);
    while (got < length) {
        const status st = wait();
        if (st != status::frame)
            return st;
        // What the read-ahead could hold goes through it; a larger rest goes straight out.
        const bool direct = length - got >= kReadAhead;
        std::uint8_t *const into = direct ? out + got : m_ahead.get();
        const int want =
            static_cast<int>(direct ? std::min<std::uint32_t>(length - got, INT_MAX) : kReadAhead);
        const int rc = m_source.read_some(into, want);
        if (rc > 0) {
            m_failures = 0;
            const auto n = static_cast<std::uint32_t>(std::min(rc, want));
            if (direct) {
                got += n;
            } else {
                m_aheadBegin = 0;
                m_aheadEnd = n;
                got += take_ahead(out + got, length - got);
            }
            continue;
        }
        if (rc == byte_source::kClosed || rc == byte_source::kGone)
            return status::closed;
        if (failed("read"))
            return status::closed;
    }
    return status::frame;
}

frame_reader::status frame_reader::hunt_magic()
{
    for (;;) {
        std::uint8_t byte = 0;
        const status st = read_exact(&byte, 1);
        if (st != status::frame || byte == kFrameMagic)
            return st;
    }
}

// Reads a body that does not fit, in buffer-sized pieces, so the stream stays in step.
frame_reader::status frame_reader::discard(std::uint32_t length)
{
    std::uint8_t scratch[256];
    std::uint8_t *const into = m_capacity >= sizeof scratch ? m_buffer : scratch;
    const std::uint32_t room = m_capacity >= sizeof scratch ? m_capacity : sizeof scratch;
    while (length > 0) {
        const std::uint32_t piece = std::min(length, room);
        const status st = read_exact(into, piece);
        if (st != status::frame)
            return st;
        length -= piece;
    }
    return status::frame;
}

// Counts one more failure in a row; true when the source is to be given up.
bool frame_reader::failed(const char *what)
{
    if (++m_failures < kMaxFailures)
        return false;
    TLOG_ERROR << "receive gave up after " << m_failures << " failed " << what << " calls";
    return true;
}
