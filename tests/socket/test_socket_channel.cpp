#include "test_support.h"

#include "km/c_km_session.h"
#include "protocol/c_net_syncer.h"
#include "protocol/video_head.h"
#include "tools/key_mouse/c_key_translator.h"
#include "tools/socket/SocketChannel.h"
#include "tools/socket/c_socket_recv_video.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <sys/socket.h>

#include <atomic>
#include <mutex>
#include <thread>

using namespace socket_test;

namespace {

// Records every call's sender, body and length field. A call blocks while `held`, and lasts
// `slowMs` longer once its thread was asked to stop.
struct recording_handler : c_abs_net_handler {
    using call = std::tuple<c_socket_thread *, bytes, std::uint32_t>;
    std::uint8_t HandleMsg(c_socket_thread *sender, const std::uint8_t *body,
                           std::uint32_t lengthField, std::uint32_t bodyLength) override
    {
        std::unique_lock lock(m_lock);
        m_calls.emplace_back(sender, bytes(body, body + bodyLength), lengthField);
        lock.unlock();
        eventually([this] { return !held; }, 20s); // bounded, so a failing test cannot hang
        if (slowMs > 0 && eventually([sender] { return sender->stop_requested(); }, 10s))
            std::this_thread::sleep_for(std::chrono::milliseconds(slowMs));
        ++returned;
        return kHandled;
    }
    std::vector<call> calls() const { std::lock_guard lock(m_lock); return m_calls; }
    bool wait_calls(std::size_t n) { return eventually([&] { return calls().size() >= n; }); }

    std::atomic<bool> held{false};
    int slowMs = 0;
    std::atomic<std::size_t> returned{0};

private:
    mutable std::mutex m_lock;
    std::vector<call> m_calls;
};

// A video channel's parts over a loopback connection.
struct channel_parts : loopback_connection {
    std::unique_ptr<SocketChannel> started_channel()
    {
        auto channel = std::make_unique<SocketChannel>(SocketThreadFactory::kVideo, sock, &queue,
                                                       std::make_shared<c_wait_object>(), &handler);
        channel->start(QThread::InheritPriority, QThread::InheritPriority);
        return channel;
    }
    mt_queue<CQUEUE_MESSAGE> queue;
    recording_handler handler;
};

} // namespace

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
                                            SocketChannel::kHandlerWaitMs + 400), false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.beyondClose.count());
        channel_parts p;
        p.handler.held = true;
        auto channel = p.started_channel();
        std::atomic<bool> destroyed{false};
        QObject::connect(channel->recv_thread().get(), &QObject::destroyed, [&] { destroyed = true; });
        ASSERT_TRUE(write_fd(p.peer.get(), frame_bytes({0x01, 0x00})));
        ASSERT_TRUE(p.handler.wait_calls(1));
        // The handler's work ends a while after the stop has closed the socket under it.
        std::jthread work([&] {
            eventually([&] { return !p.sock->has_socket(); }, 5s);
            std::this_thread::sleep_for(c.beyondClose);
            p.handler.held = false;
        });
        EXPECT_EQ(channel->stop(), c.handlerFree);
        EXPECT_EQ(p.handler.returned, c.handlerFree ? 1u : 0u)
            << "stop() returned while the handler was still running";
        channel.reset();
        work.join();
        EXPECT_TRUE(eventually([&] { return destroyed.load(); }));
        EXPECT_EQ(p.handler.calls().size(), 1u);
    }
}

// The device stops reading: the send thread blocks in a send until stopping closes the
// socket; every frame, sent or still queued, is released.
TEST(SocketChannel, StopEndsASendBlockedOnAFullConnection)
{
    channel_parts p;
    auto channel = p.started_channel();
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
    channel.reset();
    EXPECT_EQ(log_lines_with("video_send did not stop within 1000 ms"), linesBefore + 1);
    EXPECT_TRUE(p.queue.isEmpty());
    EXPECT_TRUE(eventually([&] {
        return std::all_of(std::begin(watch), std::end(watch), [](auto &w) { return w.expired(); });
    }));
}

// Plain frames arrive as received; a ciphered head (16 bytes on the wire for 12) is
// deciphered in place; a head that is not video, or a body too short for a ciphered head,
// is dropped with one line. The device closing the connection ends the thread with one signal.
TEST(VideoReceive, DeliversPlainAndDecipheredFramesDropsBadOnesAndEndsOnClose)
{
    const c_socket_recv_video::key_type key{0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
    const auto ciphered = [&key](bytes body) {
        bytes wire(kVideoCipheredHeadSize);
        encipher_video_head(key.data(), body.data(), wire.data());
        wire.insert(wire.end(), body.begin() + kVideoHeadSize, body.end());
        return frame_bytes(wire, std::uint32_t(body.size()));
    };
    const bytes good[] = {video_body(1, {0x00, 0x00, 0x00, 0x01, 0x67}), video_body(1, bytes(88, 0x3C))};
    bytes notVideo = good[1];
    notVideo[0] = 7;
    const std::pair<bytes, const char *> bad[] = {
        {ciphered(notVideo), "video data header not 0x06"},
        {frame_bytes({0x06, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 6), "video frame marked ciphered"}};

    channel_parts p;
    std::atomic<int> closeSignals{0};
    auto thread = make_thread<c_socket_recv_video>(p.sock, &p.handler, key);
    QObject::connect(thread.get(), &c_socket_recv_video::signal_socket_video_close, [&] { ++closeSignals; });
    thread->start();
    ASSERT_TRUE(write_fd(p.peer.get(), frame_bytes(good[0])));
    for (const auto &[frame, line] : bad) {
        const int linesBefore = log_lines_with(line);
        ASSERT_TRUE(write_fd(p.peer.get(), frame));
        EXPECT_TRUE(eventually([&] { return log_lines_with(line) == linesBefore + 1; })) << line;
    }
    ASSERT_TRUE(write_fd(p.peer.get(), ciphered(good[1])));
    ASSERT_TRUE(p.handler.wait_calls(2));
    std::vector<recording_handler::call> expected;
    for (const bytes &body : good) // the length field as it arrived
        expected.emplace_back(thread.get(), body, *reinterpret_cast<const std::uint32_t *>(frame_bytes(body).data() + 3));
    EXPECT_EQ(p.handler.calls(), expected);
    p.peer.reset();
    ASSERT_TRUE(thread->wait(3000));
    EXPECT_EQ(closeSignals.load(), 1);
    EXPECT_FALSE(p.sock->has_socket());
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
            recording_handler handler;
            handler.slowMs = round == 0 ? SocketChannel::kStopWaitMs + SocketChannel::kCloseGraceMs + 200 : 0;
            SocketChannel channel(kind, sock, &queue, std::make_shared<c_wait_object>(), &handler);
            channel.start(QThread::InheritPriority, QThread::InheritPriority);
            ASSERT_TRUE(handler.wait_calls(1)) << kind;
            ASSERT_TRUE(channel.stop());
            ASSERT_EQ(handler.returned, handler.calls().size()) << kind << ":" << round;
        }
    }
    c_net_syncer syncer;
    c_key_translator translator;
    c_km_session km{km_session_options{}, syncer, translator};
    for (int round = 0; round < 40; ++round) {
        recording_handler handler;
        handler.slowMs = round == 0 ? c_km_session::kStopWaitMs + 300 : 0;
        ASSERT_TRUE(km.create_km_socket("127.0.0.1", device.port(), &handler));
        ASSERT_TRUE(handler.wait_calls(1));
        km.stop();
        ASSERT_EQ(handler.returned, handler.calls().size()) << "km:" << round;
    }
}
