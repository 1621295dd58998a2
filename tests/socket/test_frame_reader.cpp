#include "test_support.h"

#include "tools/socket/byte_source.h"
#include "tools/socket/frame_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>

using namespace socket_test;

namespace {

// Bytes from memory, handed out at most `chunk` at a time, with failures injected ahead
// of the reads. At the end of the data the stream ends (or, when `endless`, stays open).
class memory_source : public byte_source {
public:
    explicit memory_source(bytes data) : m_data(std::move(data)) {}

    int wait_readable(int) override
    {
        ++waits;
        return (m_pos < m_data.size() || !endless) ? 1 : kTimeout;
    }

    int read_some(std::uint8_t *buffer, int length) override
    {
        if (!failures.empty()) {
            const int rc = failures.front();
            failures.pop_front();
            errno = EINTR;
            return rc;
        }
        if (m_pos >= m_data.size())
            return endless ? kRetry : kClosed;
        const std::size_t n = std::min<std::size_t>({static_cast<std::size_t>(length),
                                                     static_cast<std::size_t>(chunk),
                                                     m_data.size() - m_pos});
        std::memcpy(buffer, m_data.data() + m_pos, n);
        m_pos += n;
        return static_cast<int>(n);
    }

    int chunk = INT_MAX;
    bool endless = false;
    std::deque<int> failures;
    int waits = 0;

private:
    bytes m_data;
    std::size_t m_pos = 0;
};

bytes concat(std::initializer_list<bytes> parts)
{
    bytes out;
    for (const bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A reader over a source with a heap buffer of exactly `capacity` bytes (so a write past
// it is caught by the address sanitizer).
struct reader_fixture {
    reader_fixture(bytes data, std::uint32_t capacity = 64)
        : source(std::move(data)), buffer(capacity),
          reader(source, [this] { return stop; }, buffer.data(), capacity)
    {
    }

    bytes body() const { return bytes(buffer.begin(), buffer.begin() + length); }
    frame_reader::status next() { return reader.next(header, length); }

    memory_source source;
    bytes buffer;
    bool stop = false;
    frame_reader reader;
    frame_header header;
    std::uint32_t length = 0;
};

} // namespace

TEST(FrameReader, ReadsFramesWhateverTheReadSizes)
{
    const bytes first{0x32, 0x00, 0x00, 0x00, 0x07};
    const bytes second{0x04, 0x05};
    for (const int chunk : {1, 3, INT_MAX}) {
        reader_fixture f(concat({frame_bytes(first), frame_bytes(second, 1)}));
        f.source.chunk = chunk;

        ASSERT_EQ(f.next(), frame_reader::status::frame) << "chunk " << chunk;
        EXPECT_EQ(f.body(), first);
        EXPECT_EQ(f.header.checksum, 0x39);
        EXPECT_EQ(f.header.plainLength, 5u);
        EXPECT_EQ(f.header.wireLength, 5u);
        const std::uint8_t rawField[4] = {0, 0, 0, 5};
        std::uint32_t raw;
        std::memcpy(&raw, rawField, 4);
        EXPECT_EQ(f.header.rawPlainLength, raw);
        EXPECT_FALSE(f.header.ciphered());

        ASSERT_EQ(f.next(), frame_reader::status::frame);
        EXPECT_EQ(f.body(), second);
        EXPECT_TRUE(f.header.ciphered());

        EXPECT_EQ(f.next(), frame_reader::status::closed);
    }
}

TEST(FrameReader, SkipsGarbageBeforeTheMagic)
{
    const bytes body{0x01, 0x00};
    reader_fixture f(concat({{0x00, 0xFF, 0x5A, 0x01, 0x13}, frame_bytes(body),
                             {0x00, 0x00, 0x00}, frame_bytes({0x03, 0x01})}));
    ASSERT_EQ(f.next(), frame_reader::status::frame);
    EXPECT_EQ(f.body(), body);
    ASSERT_EQ(f.next(), frame_reader::status::frame); // trailing fill skipped too
    EXPECT_EQ(f.body(), (bytes{0x03, 0x01}));
}

TEST(FrameReader, DiscardsAFrameLargerThanTheBufferAndStaysInStep)
{
    // The oversized body is full of 0xA5: read as garbage it would yield false frames.
    const bytes big(100, 0xA5);
    const bytes next{0x05, 0x02};
    for (const std::uint32_t capacity : {16u, 2u}) {
        const int linesBefore = log_lines_with("exceeds the receive buffer");
        reader_fixture f(concat({frame_bytes(big), frame_bytes(next)}), capacity);
        f.source.chunk = 7;
        ASSERT_EQ(f.next(), frame_reader::status::frame) << capacity;
        EXPECT_EQ(f.body(), next);
        EXPECT_EQ(log_lines_with("exceeds the receive buffer"), linesBefore + 1);
        EXPECT_EQ(f.next(), frame_reader::status::closed);
    }
}

TEST(FrameReader, SkipsAFrameWithoutBody)
{
    reader_fixture f(concat({frame_bytes({}), frame_bytes({0x0F, 0x00})}));
    ASSERT_EQ(f.next(), frame_reader::status::frame);
    EXPECT_EQ(f.body(), (bytes{0x0F, 0x00}));
}

TEST(FrameReader, ReportsACloseInsideHeaderOrBody)
{
    const bytes whole = frame_bytes({0x06, 1, 2, 3, 4, 5, 6, 7});
    for (const std::size_t cut : {std::size_t{1}, std::size_t{5}, std::size_t{13}}) {
        reader_fixture f(bytes(whole.begin(), whole.begin() + static_cast<long>(cut)));
        EXPECT_EQ(f.next(), frame_reader::status::closed) << "cut at " << cut;
    }
}

TEST(FrameReader, RetriesAFailedReadAtTheSamePosition)
{
    const bytes body{0x01, 0x00, 0x09};
    reader_fixture f(frame_bytes(body));
    f.source.chunk = 4;
    f.source.failures = {byte_source::kRetry, byte_source::kRetry};
    ASSERT_EQ(f.next(), frame_reader::status::frame);
    EXPECT_EQ(f.body(), body);
}

TEST(FrameReader, GivesUpOnADeadSource)
{
    {
        reader_fixture f(frame_bytes({0x01, 0x00}));
        f.source.failures = {byte_source::kGone};
        EXPECT_EQ(f.next(), frame_reader::status::closed);
    }
    {
        // A source that fails forever is given up after a bounded number of tries.
        reader_fixture f(frame_bytes({0x01, 0x00}));
        f.source.failures.assign(10 * frame_reader::kMaxFailures, byte_source::kRetry);
        EXPECT_EQ(f.next(), frame_reader::status::closed);
        EXPECT_LE(f.source.waits, frame_reader::kMaxFailures + 1);
    }
}

TEST(FrameReader, StopRequestEndsTheWait)
{
    reader_fixture f(frame_bytes({0x01, 0x00}));
    f.source.endless = true;
    ASSERT_EQ(f.next(), frame_reader::status::frame);
    const int waitsBefore = f.source.waits;
    // Nothing more arrives: the reader keeps waiting until the stop request.
    int polls = 0;
    frame_reader reader(f.source, [&] { return ++polls > 5; }, f.buffer.data(), 64);
    EXPECT_EQ(reader.next(f.header, f.length), frame_reader::status::stopped);
    EXPECT_EQ(f.source.waits - waitsBefore, 5);
}
