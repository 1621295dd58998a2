#pragma once

#include "protocol/frame.h"

#include <cstdint>
#include <functional>
#include <memory>

class byte_source;

// Cuts a channel's byte stream into frames: hunts the 0xA5 magic one byte at a time (which
// resynchronises after garbage), reads the other 10 header bytes, then exactly wire-length
// body bytes into the caller's buffer. Every read is preceded by readiness waits of at most
// 100 ms, between which the stop request is checked. Used by every receive thread, on that
// thread only.
//
// Reads go through a small read-ahead buffer, so a short frame that arrived whole costs one
// wait and one read instead of one of each per header part and body; the part of a large
// body that the read-ahead does not hold is read straight into the caller's buffer.
class frame_reader {
public:
    enum class status { frame, closed, stopped };

    static constexpr int kPollMs = 100;
    // Consecutive failed waits or reads after which the source counts as dead.
    static constexpr int kMaxFailures = 50;
    static constexpr std::uint32_t kReadAhead = 8192;

    // `buffer` holds `capacity` bytes and outlives the reader. `stopRequested` is asked
    // at every readiness timeout and before every read.
    frame_reader(byte_source &source, std::function<bool()> stopRequested, std::uint8_t *buffer,
                 std::uint32_t capacity);

    // Reads the next frame whose body fits the buffer: status::frame with `header` and
    // `bodyLength` (>= 1) filled, the body at the start of the buffer. A frame larger than
    // the buffer is read and discarded with one error line; a frame without a body is
    // skipped. status::closed when the peer ended the stream (or the source died),
    // status::stopped when a stop was requested.
    status next(frame_header &header, std::uint32_t &bodyLength);

private:
    status wait();
    status read_exact(std::uint8_t *out, std::uint32_t length);
    // Copies up to `length` read-ahead bytes to `out`; returns how many.
    std::uint32_t take_ahead(std::uint8_t *out, std::uint32_t length);
    status hunt_magic();
    status discard(std::uint32_t length);
    bool failed(const char *what);

    byte_source &m_source;
    std::function<bool()> m_stopRequested;
    std::uint8_t *m_buffer;
    std::uint32_t m_capacity;
    int m_failures = 0;
    std::unique_ptr<std::uint8_t[]> m_ahead; // kReadAhead bytes; [m_aheadBegin, m_aheadEnd) unread
    std::uint32_t m_aheadBegin = 0;
    std::uint32_t m_aheadEnd = 0;
};
