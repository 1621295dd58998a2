#include "test_support.h"

#include "tools/socket/SocketChannel.h"
#include "tools/socket/c_socket_recv_video.h"
#include "tools/socket/c_socket_send_video.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

#include <gtest/gtest.h>

#include <sys/ioctl.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace socket_test;

namespace {

// A video channel's parts over a loopback connection; `peer` plays the device.
struct channel_parts {
    loopback_listener listener;
    std::shared_ptr<c_tcp_sock> sock = std::make_shared<c_tcp_sock>();
    unique_fd peer;
    mt_queue<CQUEUE_MESSAGE> queue;
    std::shared_ptr<c_wait_object> wait = std::make_shared<c_wait_object>();
    std::shared_ptr<recording_handler> handler = std::make_shared<recording_handler>();

    channel_parts()
    {
        sock->set_remote_addr("127.0.0.1", listener.port());
        EXPECT_EQ(sock->create_sock(nullptr, 0, 2000), 1);
        peer = listener.accept_one();
        EXPECT_GE(peer.get(), 0);
    }

    std::unique_ptr<SocketChannel> make_channel(int kind = SocketThreadFactory::kVideo)
    {
        return std::make_unique<SocketChannel>(kind, sock, &queue, wait, handler.get());
    }

    // Queues a frame; `watch` sees when its buffer is released.
    void append(const bytes &frame, std::weak_ptr<std::uint8_t[]> *watch = nullptr)
    {
        std::shared_ptr<std::uint8_t[]> buffer(new std::uint8_t[frame.size()]);
        std::copy(frame.begin(), frame.end(), buffer.get());
        if (watch)
            *watch = buffer;
        queue.append(CQUEUE_MESSAGE(static_cast<std::uint32_t>(frame.size()), std::move(buffer),
                                    0, 0, QStringLiteral("notU")));
    }
};

int pending_bytes(int fd)
{
    int n = 0;
    ::ioctl(fd, FIONREAD, &n);
    return n;
}

template <typename Clock = std::chrono::steady_clock>
double seconds_since(typename Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

TEST(SocketChannel, FactoryBuildsTheNamedVideoPairOnly)
{
    channel_parts parts;
    auto video = parts.make_channel();
    ASSERT_TRUE(video->valid());
    EXPECT_NE(dynamic_cast<c_socket_send_video *>(video->send_thread().get()), nullptr);
    EXPECT_NE(dynamic_cast<c_socket_recv_video *>(video->recv_thread().get()), nullptr);
    EXPECT_EQ(video->send_thread()->objectName(), "video_send");
    EXPECT_EQ(video->recv_thread()->objectName(), "video_recv");
    EXPECT_TRUE(video->send_thread()->running());
    EXPECT_FALSE(video->send_thread()->stop_requested());
    EXPECT_FALSE(video->send_thread()->isRunning());

    for (const int kind : {0, 99}) {
        SocketChannel unknown(kind, parts.sock, &parts.queue, parts.wait, parts.handler.get());
        EXPECT_FALSE(unknown.valid());
        unknown.start(QThread::InheritPriority, QThread::InheritPriority); // logged, harmless
    }
    SocketChannel noHandler(SocketThreadFactory::kVideo, parts.sock, &parts.queue, parts.wait,
                            nullptr);
    EXPECT_FALSE(noHandler.valid());
    SocketChannel noQueue(SocketThreadFactory::kVideo, parts.sock, nullptr, parts.wait,
                          parts.handler.get());
    EXPECT_FALSE(noQueue.valid());
}

TEST(SocketChannel, SendsQueuedFramesInOrderAndReleasesThem)
{
    channel_parts parts;
    const bytes login = frame_bytes({0x32, 0x00, 0x00, 0x00, 0x07});
    const bytes second = frame_bytes({0x1E, 0x00});
    const bytes third = frame_bytes(bytes(3000, 0x44));
    std::weak_ptr<std::uint8_t[]> watch[3];

    auto channel = parts.make_channel();
    parts.append(login, &watch[0]); // queued before the start, as the login is
    channel->start(QThread::InheritPriority, QThread::InheritPriority);
    EXPECT_TRUE(channel->send_thread()->isRunning());
    parts.append(second, &watch[1]);
    parts.append(third, &watch[2]);

    bytes expected = login;
    expected.insert(expected.end(), second.begin(), second.end());
    expected.insert(expected.end(), third.begin(), third.end());
    bytes got(expected.size());
    ASSERT_TRUE(read_fd(parts.peer.get(), got.data(), got.size()));
    EXPECT_EQ(got, expected);
    EXPECT_TRUE(eventually([&] {
        return parts.queue.isEmpty() && watch[0].expired() && watch[1].expired() &&
               watch[2].expired();
    }));
}

TEST(SocketChannel, TeardownReleasesQueuedFramesAndSendsNone)
{
    channel_parts parts;
    std::weak_ptr<std::uint8_t[]> watch[4];
    {
        auto idle = parts.make_channel(); // never started
        parts.append(frame_bytes({0x01, 0x00}), &watch[0]);
        parts.append(frame_bytes({0x02, 0x01, 0x00}), &watch[1]);
    }
    EXPECT_TRUE(watch[0].expired());
    EXPECT_TRUE(watch[1].expired());
    EXPECT_TRUE(parts.queue.isEmpty());
    {
        auto stopped = parts.make_channel();
        stopped->start(QThread::InheritPriority, QThread::InheritPriority);
        stopped->stop();
        EXPECT_TRUE(stopped->send_thread()->isFinished());
        EXPECT_TRUE(stopped->recv_thread()->isFinished());
        parts.append(frame_bytes({0x03, 0x00}), &watch[2]);
        parts.append(frame_bytes({0x05, 0x00}), &watch[3]);
    }
    EXPECT_TRUE(watch[2].expired());
    EXPECT_TRUE(watch[3].expired());
    EXPECT_TRUE(parts.sock->has_socket()) << "the owner's socket stays open";
}

// The receive thread is stuck in its handler: stopping closes the socket under it and gives
// up on the thread, then waits (bounded) for the handler call to end, because the owner may
// destroy the handler once stop() returns. A thread given up on is destroyed once it ends.
TEST(SocketChannel, StopReturnsOnceTheHandlerCallEndedWithinItsBound)
{
    const struct {
        std::chrono::milliseconds beyondClose; // how long the call runs on after the close
        bool handlerFree;                       // stop() saw the call end
    } cases[] = {{400ms, true},
                 {std::chrono::milliseconds(SocketChannel::kCloseGraceMs +
                                            SocketChannel::kHandlerWaitMs + 400),
                  false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.beyondClose.count());
        channel_parts parts;
        auto channel = parts.make_channel();
        std::atomic<bool> destroyed{false};
        QObject::connect(channel->recv_thread().get(), &QObject::destroyed,
                         [&destroyed] { destroyed = true; });
        parts.handler->hold();
        channel->start(QThread::InheritPriority, QThread::InheritPriority);
        ASSERT_TRUE(write_fd(parts.peer.get(), frame_bytes({0x01, 0x00})));
        ASSERT_TRUE(parts.handler->wait_calls(1));
        // The handler's work ends a while after the stop has closed the socket under it.
        std::thread work([&] {
            eventually([&] { return !parts.sock->has_socket(); }, 5s);
            std::this_thread::sleep_for(c.beyondClose);
            parts.handler->release();
        });

        EXPECT_EQ(channel->stop(), c.handlerFree);
        EXPECT_EQ(parts.handler->returned(), c.handlerFree ? 1u : 0u)
            << "stop() returned while the handler was still running";
        channel.reset();
        work.join();
        EXPECT_TRUE(eventually([&] { return destroyed.load(); }));
        EXPECT_EQ(parts.handler->calls().size(), 1u);
    }
}

// The device stops reading: the send thread blocks in a send until stopping closes the
// socket; every frame is released.
TEST(SocketChannel, StopEndsASendBlockedOnAFullConnection)
{
    channel_parts parts;
    auto channel = parts.make_channel();
    channel->start(QThread::InheritPriority, QThread::InheritPriority);
    constexpr int kFrames = 16;
    std::weak_ptr<std::uint8_t[]> watch[kFrames];
    for (auto &w : watch)
        parts.append(frame_bytes(bytes(1 << 20, 0x5C)), &w);
    // The first frame fits the socket buffers; the second cannot.
    ASSERT_TRUE(eventually([&] {
        return parts.queue.size() == kFrames - 1 && pending_bytes(parts.peer.get()) > 0;
    }));
    const int linesBefore = log_lines_with("video_send did not stop within 1000 ms");

    const auto start = std::chrono::steady_clock::now();
    channel.reset();
    EXPECT_LT(seconds_since(start), 4.0);
    EXPECT_EQ(log_lines_with("video_send did not stop within 1000 ms"), linesBefore + 1);
    EXPECT_TRUE(eventually([&] {
        return std::all_of(std::begin(watch), std::end(watch),
                           [](const auto &w) { return w.expired(); });
    }));
    EXPECT_TRUE(parts.queue.isEmpty());
}
