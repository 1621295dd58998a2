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
    int wait_readable(int) override
    {
        ++waits;
        return (pos < data.size() || !endless) ? 1 : kTimeout;
    }

    int read_some(std::uint8_t *buffer, int length) override
    {
        if (!failures.empty()) {
            const int rc = failures.front();
            failures.pop_front();
            errno = EINTR;
            return rc;
        }
        if (pos >= data.size())
            return endless ? kRetry : kClosed;
        const std::size_t n = std::min({std::size_t(length), std::size_t(chunk), data.size() - pos});
        std::memcpy(buffer, data.data() + pos, n);
        pos += n;
        return static_cast<int>(n);
    }

    bytes data;
    std::size_t pos = 0;
    int chunk = INT_MAX;
    bool endless = false;
    std::deque<int> failures;
    int waits = 0;
};

bytes concat(std::initializer_list<bytes> parts)
{
    bytes out;
    for (const bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct reader_case {
    const char *name;
    bytes stream;
    std::vector<bytes> bodies; // delivered in this order, then `end`
    frame_reader::status end = frame_reader::status::closed;
    int chunk = INT_MAX;
    std::uint32_t capacity = 64;
    std::deque<int> failures = {};
    const char *line = nullptr; // logged once
    int maxWaits = INT_MAX;
    bool endless = false;
};
void PrintTo(const reader_case &c, std::ostream *os) { *os << c.name; }
struct FrameReader : ::testing::TestWithParam<reader_case> {};

const bytes kFirst{0x32, 0x00, 0x00, 0x00, 0x07}, kSecond{0x04, 0x05}, kLarge(20000, 0x5A);
// Ciphered (plain length 1 for two bytes on the wire).
const bytes kTwoFrames = concat({frame_bytes(kFirst), frame_bytes(kSecond, 1)});
const bytes kCut = frame_bytes({0x06, 1, 2, 3, 4, 5, 6, 7});
// Full of 0xA5: read as garbage it would yield false frames.
const bytes kOversize = concat({frame_bytes(bytes(1000, 0xA5)), frame_bytes(kSecond)});

} // namespace

// The body is read into a heap buffer of exactly `capacity` bytes, so a write past it is
// caught by the address sanitizer.
TEST_P(FrameReader, Reads)
{
    const reader_case &c = GetParam();
    memory_source source;
    source.data = c.stream;
    source.chunk = c.chunk;
    source.failures = c.failures;
    source.endless = c.endless;
    int polls = 0; // an endless stream is stopped after a few waits
    bytes buffer(c.capacity);
    frame_reader reader(source, [&] { return c.endless && ++polls > 5; }, buffer.data(), c.capacity);
    const int linesBefore = c.line ? log_lines_with(c.line) : 0;
    frame_header header;
    std::uint32_t length = 0;
    for (const bytes &body : c.bodies) {
        ASSERT_EQ(reader.next(header, length), frame_reader::status::frame);
        EXPECT_EQ(bytes(buffer.begin(), buffer.begin() + length), body);
        EXPECT_EQ(header.wireLength, length);
    }
    EXPECT_EQ(reader.next(header, length), c.end);
    EXPECT_LE(source.waits, c.maxWaits);
    if (c.line) {
        EXPECT_EQ(log_lines_with(c.line), linesBefore + 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, FrameReader, ::testing::Values(
    reader_case{"ByteByByte", kTwoFrames, {kFirst, kSecond}, frame_reader::status::closed, 1},
    reader_case{"InThrees", kTwoFrames, {kFirst, kSecond}, frame_reader::status::closed, 3},
    reader_case{"AllAtOnce", kTwoFrames, {kFirst, kSecond}},
    reader_case{"ALargeBodyStraightIntoTheBuffer", concat({frame_bytes(kLarge), frame_bytes(kSecond)}),
                {kLarge, kSecond}, frame_reader::status::closed, 7000, 20000},
    reader_case{"GarbageBeforeAndAfterSkipped",
                concat({{0x00, 0xFF, 0x5A, 0x01, 0x13}, frame_bytes(kSecond), {0, 0, 0}, frame_bytes(kFirst)}),
                {kSecond, kFirst}},
    reader_case{"FrameWithoutBodySkipped", concat({frame_bytes({}), frame_bytes(kSecond)}), {kSecond}},
    reader_case{"OversizeDiscardedInPieces", kOversize, {kSecond}, frame_reader::status::closed, 7, 300,
                {}, "exceeds the receive buffer"},
    reader_case{"OversizeDiscardedThroughScratch", kOversize, {kSecond}, frame_reader::status::closed, 7,
                2, {}, "exceeds the receive buffer"},
    reader_case{"CloseInTheMagic", bytes(kCut.begin(), kCut.begin() + 1), {}},
    reader_case{"CloseInTheHeader", bytes(kCut.begin(), kCut.begin() + 5), {}},
    reader_case{"CloseInTheBody", bytes(kCut.begin(), kCut.begin() + 13), {}},
    reader_case{"FailedReadsRetriedAtTheSamePosition", kCut, {bytes(kCut.begin() + 11, kCut.end())},
                frame_reader::status::closed, 4, 64, {byte_source::kRetry, byte_source::kRetry}},
    reader_case{"DeadSourceGivenUp", kCut, {}, frame_reader::status::closed, INT_MAX, 64,
                {byte_source::kGone}},
    reader_case{"EverFailingSourceGivenUp", kCut, {}, frame_reader::status::closed, INT_MAX, 64,
                std::deque<int>(10 * frame_reader::kMaxFailures, byte_source::kRetry),
                "receive gave up after", frame_reader::kMaxFailures + 1},
    reader_case{"StopRequestEndsTheWait", kCut, {bytes(kCut.begin() + 11, kCut.end())},
                frame_reader::status::stopped, INT_MAX, 64, {}, nullptr, 6, true}),
    [](const auto &row) { return std::string(row.param.name); });
