#include "loopback.h"

#include "km/c_km_session.h"
#include "protocol/c_net_syncer.h"
#include "tools/key_mouse/c_key_translator.h"
#include "tools/socket/SocketChannel.h"
#include "tools/socket/byte_source.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "tools/socket/connect_failure.h"
#include "tools/socket/frame_reader.h"
#include "tools/socket/handler_guard.h"

#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>

using namespace socket_test;

namespace {

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

// The stream of a case, handed out at most `chunk` bytes at a time, with its failures
// injected ahead of the reads. At the end of the data the stream ends (or, when `endless`,
// stays open).
struct memory_source : byte_source {
    explicit memory_source(const reader_case &c) : c(c), failures(c.failures) {}
    int wait_readable(int) override { return ++waits, (pos < c.stream.size() || !c.endless) ? 1 : kTimeout; }
    int read_some(std::uint8_t *buffer, int length) override
    {
        if (!failures.empty()) {
            const int rc = failures.front();
            failures.pop_front();
            errno = EINTR;
            return rc;
        }
        if (pos >= c.stream.size())
            return c.endless ? kRetry : kClosed;
        const std::size_t n = std::min({std::size_t(length), std::size_t(c.chunk), c.stream.size() - pos});
        std::memcpy(buffer, c.stream.data() + pos, n);
        pos += n;
        return static_cast<int>(n);
    }
    const reader_case &c;
    std::deque<int> failures;
    std::size_t pos = 0;
    int waits = 0;
};

bytes concat(std::initializer_list<bytes> parts)
{
    bytes out;
    for (const bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

const bytes kFirst{0x32, 0x00, 0x00, 0x00, 0x07}, kSecond{0x04, 0x05}, kLarge(20000, 0x5A);
// Ciphered (plain length 1 for two bytes on the wire).
const bytes kTwoFrames = concat({frame_bytes(kFirst), frame_bytes(kSecond, 1)});
const bytes kCut = frame_bytes({0x06, 1, 2, 3, 4, 5, 6, 7}), kCutBody(kCut.begin() + 11, kCut.end());
// Full of 0xA5: read as garbage it would yield false frames.
const bytes kOversize = concat({frame_bytes(bytes(1000, 0xA5)), frame_bytes(kSecond)});

// Counts calls. A call blocks while `held`, and lasts `slowMs` longer once its thread was
// asked to stop.
struct counting_handler : c_abs_net_handler {
    std::uint8_t HandleMsg(c_socket_thread *sender, const std::uint8_t *, std::uint32_t, std::uint32_t) override
    {
        ++calls;
        eventually([this] { return !held; }, 20s); // bounded, so a failing test cannot hang
        if (slowMs > 0 && eventually([sender] { return sender->stop_requested(); }, 10s))
            std::this_thread::sleep_for(std::chrono::milliseconds(slowMs));
        ++returned;
        return kHandled;
    }
    std::atomic<bool> held{false};
    int slowMs = 0;
    std::atomic<int> calls{0}, returned{0};
};

// A started video channel over a loopback connection.
struct channel_parts : loopback_connection {
    mt_queue<CQUEUE_MESSAGE> queue;
    counting_handler handler;
    std::unique_ptr<SocketChannel> channel = std::make_unique<SocketChannel>(
        SocketThreadFactory::kVideo, sock, &queue, std::make_shared<c_wait_object>(), &handler);
    channel_parts() { channel->start(QThread::InheritPriority, QThread::InheritPriority); }
};

} // namespace

// A failed connect leaves no descriptor, a line and its cause in plain words; the object may
// connect again. A full backlog drops the request, so that connect gives up at its timeout.
// Empty sends and null buffers are refused without a call.
TEST(TcpSock, FailedConnectsLeaveNoDescriptorAndMayBeRepeated)
{
    loopback_listener open, full(0);
    const std::uint16_t refused = free_port(), taken = free_port();
    c_tcp_sock holder;
    holder.set_remote_addr("127.0.0.1", open.port());
    ASSERT_EQ(holder.create_sock("127.0.0.1", taken, 2000), 1);
    EXPECT_EQ(holder.local_port(), taken);
    EXPECT_EQ(holder.create_sock(nullptr, 0, 2000), -1) << "a live object keeps its connection";
    std::uint8_t in[4];
    for (const auto &[buffer, length] : {std::pair{in, 0}, {in, -3}, {nullptr, 4}}) {
        EXPECT_EQ(holder.tcp_send(buffer, length), -1);
        EXPECT_EQ(holder.tcp_recv(buffer, length), -1); // an empty receive would read as a close
    }
    const struct { std::uint16_t remote, local; const char *line, *cause; } cases[] = {
        {refused, 0, "c_tcp_sock::create_sock 3", "connection refused"},
        {full.port(), 0, "c_tcp_sock::create_sock 2", "timed out"},
        {open.port(), taken, "c_tcp_sock::create_sock bind failed", nullptr},
    };
    std::vector<std::unique_ptr<c_tcp_sock>> queued; // fill the backlog
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        const int linesBefore = log_lines_with(c.line);
        for (int attempt = 0; attempt < 6; ++attempt) {
            auto sock = std::make_unique<c_tcp_sock>();
            sock->set_remote_addr("127.0.0.1", c.remote);
            const int fdsBefore = open_fd_count();
            if (sock->create_sock("127.0.0.1", c.local, 300) == 1) {
                queued.push_back(std::move(sock));
                continue;
            }
            EXPECT_FALSE(sock->has_socket());
            EXPECT_EQ(open_fd_count(), fdsBefore);
            EXPECT_EQ(log_lines_with(c.line), linesBefore + 1);
            if (c.cause) {
                EXPECT_EQ(connect_failure_cause(sock->last_connect_error()), c.cause);
            }
            sock->set_remote_addr("127.0.0.1", open.port());
            EXPECT_EQ(sock->create_sock(nullptr, 0, 2000), 1);
            break;
        }
        EXPECT_EQ(log_lines_with(c.line), linesBefore + 1) << "never failed";
    }
    c_tcp_sock nowhere;
    nowhere.set_remote_addr("127.0.0.300", 5900);
    EXPECT_EQ(nowhere.create_sock(nullptr, 0, 300), -1);
    EXPECT_EQ(connect_failure_cause(nowhere.last_connect_error()), "invalid address");
}

// The body is read into a heap buffer of exactly `capacity` bytes, so a write past it is
// caught by the address sanitizer.
TEST_P(FrameReader, Reads)
{
    const reader_case &c = GetParam();
    memory_source source(c);
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
    EXPECT_EQ(c.line ? log_lines_with(c.line) : 1, linesBefore + 1);
}

INSTANTIATE_TEST_SUITE_P(Streams, FrameReader, ::testing::Values(
    reader_case{.name = "ByteByByte", .stream = kTwoFrames, .bodies = {kFirst, kSecond}, .chunk = 1},
    reader_case{.name = "InThrees", .stream = kTwoFrames, .bodies = {kFirst, kSecond}, .chunk = 3},
    reader_case{.name = "AllAtOnce", .stream = kTwoFrames, .bodies = {kFirst, kSecond}},
    reader_case{.name = "ALargeBodyStraightIntoTheBuffer",
                .stream = concat({frame_bytes(kLarge), frame_bytes(kSecond)}),
                .bodies = {kLarge, kSecond}, .chunk = 7000, .capacity = 20000},
    reader_case{.name = "GarbageBeforeAndAfterSkipped",
                .stream = concat({{0, 0xFF, 0x5A, 1, 0x13}, frame_bytes(kSecond), {0, 0, 0}, frame_bytes(kFirst)}),
                .bodies = {kSecond, kFirst}},
    reader_case{.name = "FrameWithoutBodySkipped", .stream = concat({frame_bytes({}), frame_bytes(kSecond)}),
                .bodies = {kSecond}},
    reader_case{.name = "OversizeDiscardedInPieces", .stream = kOversize, .bodies = {kSecond}, .chunk = 7,
                .capacity = 300, .line = "exceeds the receive buffer"},
    reader_case{.name = "OversizeDiscardedThroughScratch", .stream = kOversize, .bodies = {kSecond}, .chunk = 7,
                .capacity = 2, .line = "exceeds the receive buffer"},
    reader_case{.name = "CloseInTheMagic", .stream = bytes(kCut.begin(), kCut.begin() + 1)},
    reader_case{.name = "CloseInTheHeader", .stream = bytes(kCut.begin(), kCut.begin() + 5)},
    reader_case{.name = "CloseInTheBody", .stream = bytes(kCut.begin(), kCut.begin() + 13)},
    reader_case{.name = "FailedReadsRetriedAtTheSamePosition", .stream = kCut, .bodies = {kCutBody}, .chunk = 4,
                .failures = {byte_source::kRetry, byte_source::kRetry}},
    reader_case{.name = "DeadSourceGivenUp", .stream = kCut, .failures = {byte_source::kGone}},
    reader_case{.name = "EverFailingSourceGivenUp", .stream = kCut,
                .failures = std::deque<int>(10 * frame_reader::kMaxFailures, byte_source::kRetry),
                .line = "receive gave up after", .maxWaits = frame_reader::kMaxFailures + 1},
    reader_case{.name = "StopRequestEndsTheWait", .stream = kCut, .bodies = {kCutBody},
                .end = frame_reader::status::stopped, .maxWaits = 5, .endless = true}),
    [](const auto &row) { return std::string(row.param.name); });

// The receive thread is stuck in its handler: stopping closes the socket under it and gives
// up on the thread, then waits (bounded) for the handler call to end, because the owner may
// destroy the handler once stop() returns. A thread given up on is destroyed once it ends.
// One handler at a time, and none once detached: a thread given up on is never handed one.
TEST(HandlerGuard, TakesOneHandlerAndNoneOnceDetached)
{
    struct : c_abs_net_handler {
        std::uint8_t HandleMsg(c_socket_thread *, const std::uint8_t *, std::uint32_t, std::uint32_t) override
        {
            return kHandled;
        }
    } first, second;
    handler_guard guard;
    EXPECT_FALSE(guard.attach(nullptr));
    EXPECT_TRUE(guard.attach(&first));
    EXPECT_FALSE(guard.attach(&second));
    EXPECT_TRUE(guard.detach(100));
    EXPECT_FALSE(guard.attach(&second));
    EXPECT_FALSE(guard.call([](c_abs_net_handler &) {}));
}

TEST(SocketChannel, StopReturnsOnceTheHandlerCallEndedWithinItsBound)
{
    const struct {
        std::chrono::milliseconds beyondClose; // how long the call runs on after the close
        bool handlerFree;                       // stop() saw the call end
    } cases[] = {{400ms, true},
                 {std::chrono::milliseconds(SocketChannel::kCloseGraceMs +
                                            SocketChannel::kHandlerWaitMs + 400), false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.beyondClose.count());
        channel_parts p;
        p.handler.held = true;
        std::atomic<bool> destroyed{false};
        QObject::connect(p.channel->recv_thread().get(), &QObject::destroyed, [&] { destroyed = true; });
        ASSERT_TRUE(write_fd(p.peer.get(), frame_bytes({0x01, 0x00})));
        ASSERT_TRUE(eventually([&] { return p.handler.calls > 0; }));
        // The handler's work ends a while after the stop has closed the socket under it.
        std::jthread work([&] {
            eventually([&] { return !p.sock->has_socket(); }, 5s);
            std::this_thread::sleep_for(c.beyondClose);
            p.handler.held = false;
        });
        EXPECT_EQ(p.channel->stop(), c.handlerFree);
        EXPECT_EQ(p.handler.returned.load(), c.handlerFree ? 1 : 0)
            << "stop() returned while the handler was still running";
        p.channel.reset();
        work.join();
        EXPECT_TRUE(eventually([&] { return destroyed.load(); }));
        EXPECT_EQ(p.handler.calls.load(), 1);
    }
}

// The device stops reading: the send thread blocks in a send until stopping closes the
// socket; every frame, sent or still queued, is released.
TEST(SocketChannel, StopEndsASendBlockedOnAFullConnection)
{
    channel_parts p;
    std::weak_ptr<std::uint8_t[]> watch[16];
    for (auto &w : watch) {
        const bytes frame = frame_bytes(bytes(1 << 20, 0x5C));
        std::shared_ptr<std::uint8_t[]> buffer(new std::uint8_t[frame.size()]);
        std::copy(frame.begin(), frame.end(), buffer.get());
        w = buffer;
        p.queue.append(CQUEUE_MESSAGE(std::uint32_t(frame.size()), buffer, 0, 0, "notU"));
    }
    // The first frame fits the socket buffers; the second cannot.
    ASSERT_TRUE(eventually([&] {
        int pending = 0;
        ::ioctl(p.peer.get(), FIONREAD, &pending);
        return p.queue.size() == 15 && pending > 0;
    }));
    const int linesBefore = log_lines_with("video_send did not stop within 1000 ms");
    p.channel.reset();
    EXPECT_EQ(log_lines_with("video_send did not stop within 1000 ms"), linesBefore + 1);
    EXPECT_TRUE(p.queue.isEmpty());
    EXPECT_TRUE(eventually([&] {
        return std::all_of(std::begin(watch), std::end(watch), [](auto &w) { return w.expired(); });
    }));
}

// Each channel is stopped and started again and again while the device keeps sending; each
// round's handler is destroyed as soon as the channel stopped (the sanitizers watch). In the
// first round the handler outlasts the wait for its thread, which then runs on: stop() still
// returns only once the call has ended.
TEST(HandlerLifetime, ChannelsStopAndStartUnderAFloodingDevice)
{
    // Accepts one connection after another and writes a frame to each until that fails.
    loopback_listener device;
    std::jthread flood([&](std::stop_token stop) {
        const timeval patience{0, 200000};
        for (unique_fd peer; !stop.stop_requested(); peer = device.accept_one(50)) {
            setsockopt(peer.get(), SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
            while (peer.get() >= 0 && !stop.stop_requested() && write_fd(peer.get(), frame_bytes({4, 1}))) {
            }
        }
    });
    for (const int kind : {int(SocketThreadFactory::kVideo), int(SocketThreadFactory::kMedia)}) {
        for (int round = 0; round < 40; ++round) {
            auto sock = std::make_shared<c_tcp_sock>();
            sock->set_remote_addr("127.0.0.1", device.port());
            ASSERT_EQ(sock->create_sock(nullptr, 0, 2000), 1);
            mt_queue<CQUEUE_MESSAGE> queue;
            counting_handler handler;
            handler.slowMs = round == 0 ? SocketChannel::kStopWaitMs + SocketChannel::kCloseGraceMs + 200 : 0;
            SocketChannel channel(kind, sock, &queue, std::make_shared<c_wait_object>(), &handler);
            channel.start(QThread::InheritPriority, QThread::InheritPriority);
            ASSERT_TRUE(eventually([&] { return handler.calls > 0; })) << kind;
            ASSERT_TRUE(channel.stop());
            ASSERT_EQ(handler.returned.load(), handler.calls.load()) << kind << ":" << round;
        }
    }
    c_net_syncer syncer;
    c_key_translator translator;
    c_km_session km{km_session_options{}, syncer, translator};
    for (int round = 0; round < 40; ++round) {
        counting_handler handler;
        handler.slowMs = round == 0 ? c_km_session::kStopWaitMs + 300 : 0;
        ASSERT_TRUE(km.create_km_socket("127.0.0.1", device.port(), &handler));
        ASSERT_TRUE(eventually([&] { return handler.calls > 0; }));
        km.stop();
        ASSERT_EQ(handler.returned.load(), handler.calls.load()) << "km:" << round;
    }
}
