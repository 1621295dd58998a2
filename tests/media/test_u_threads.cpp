#include "fake_u_device.h"

#include "media/u_packets.h"
#include "protocol/c_net_syncer.h"
#include "protocol/km_frame.h"
#include "protocol/login_message.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "tools/socket/u/c_socket_recv_u.h"
#include "tools/socket/u/c_socket_send_u.h"
#include "tools/socket/u/u_channel_threads.h"

#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <thread>

using namespace media_test;
using socket_test::log_lines_with;

namespace {

// Records every device frame and accepts it.
class accepting_handler : public c_abs_net_handler {
public:
    std::uint8_t HandleMsg(c_socket_thread *, const std::uint8_t *body, std::uint32_t,
                           std::uint32_t length) override
    {
        std::lock_guard lock(m_lock);
        m_bodies.emplace_back(body, body + length);
        return kHandled;
    }
    std::size_t count() const
    {
        std::lock_guard lock(m_lock);
        return m_bodies.size();
    }

private:
    mutable std::mutex m_lock;
    std::vector<bytes> m_bodies;
};

// A keyboard/mouse syncer that pretends to send `pending` frames and notes, at each call,
// how many media frames the device had received by then.
class recording_syncer : public c_net_syncer {
public:
    // `pace`: how long each frame takes to send and be answered, as on a real connection.
    recording_syncer(const fake_u_device &device, int pending,
                     std::chrono::milliseconds pace = std::chrono::milliseconds(0))
        : m_device(device), m_pending(pending), m_pace(pace)
    {
    }

    bool send_next() override
    {
        if (m_pace.count() > 0)
            std::this_thread::sleep_for(m_pace);
        const std::size_t media = m_device.frames().size();
        std::lock_guard lock(m_lock);
        const bool sent = m_pending > 0;
        m_calls.push_back({media, sent});
        m_pending -= sent ? 1 : 0;
        return sent;
    }
    struct call {
        std::size_t mediaFramesSoFar;
        bool sent;
    };
    std::vector<call> calls() const
    {
        std::lock_guard lock(m_lock);
        return m_calls;
    }

private:
    const fake_u_device &m_device;
    mutable std::mutex m_lock;
    std::vector<call> m_calls;
    int m_pending;
    std::chrono::milliseconds m_pace;
};

struct UThreads : ::testing::Test {
    void SetUp() override
    {
        sock->set_remote_addr("127.0.0.1", device.port());
        ASSERT_EQ(sock->create_sock(nullptr, 0, 2000), 1);
        pair = create_u_threads({sock, &queue, wait, handler.get(), {}});
        ASSERT_TRUE(pair.send && pair.recv);
    }
    void TearDown() override
    {
        for (const auto &thread : {pair.send, pair.recv}) {
            thread->stop();
            EXPECT_TRUE(thread->wait_ended(3000)) << thread->objectName().toStdString();
        }
    }
    void start()
    {
        pair.send->start(QThread::HighestPriority);
        pair.recv->start(QThread::HighestPriority);
    }
    c_socket_send_u &sender() { return static_cast<c_socket_send_u &>(*pair.send); }

    fake_u_device device;
    std::shared_ptr<c_tcp_sock> sock = std::make_shared<c_tcp_sock>();
    mt_queue<CQUEUE_MESSAGE> queue;
    std::shared_ptr<c_wait_object> wait = std::make_shared<c_wait_object>();
    std::shared_ptr<accepting_handler> handler = std::make_shared<accepting_handler>();
    socket_thread_pair pair;
};

bytes frame_of(const CQUEUE_MESSAGE &msg)
{
    return bytes(msg.buffer.get(), msg.buffer.get() + msg.length);
}

} // namespace

TEST_F(UThreads, SendsInOrderAndDropsEachFrameOnlyWhenAnswered)
{
    const CQUEUE_MESSAGE first = make_u_ask_pak(1, 0);
    const CQUEUE_MESSAGE second = make_u_map_pak(1, 0x01, 64);
    queue.append(first);
    queue.append(second);
    start();
    ASSERT_TRUE(device.wait_for([](const auto &all) { return all.size() >= 2; }));
    ASSERT_TRUE(socket_test::eventually([&] { return queue.isEmpty(); }));
    const auto frames = device.frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].frame, frame_of(first));
    EXPECT_EQ(frames[1].frame, frame_of(second));
}

TEST_F(UThreads, KeyboardMouseFramesGoBeforeEachMediaFrame)
{
    recording_syncer syncer(device, 2);
    sender().set_syncer(&syncer);
    for (int i = 0; i < 3; ++i)
        queue.append(make_u_ask_pak(1, 0));
    start();
    ASSERT_TRUE(device.wait_count(0x08, 3));
    ASSERT_TRUE(socket_test::eventually([&] { return queue.isEmpty(); }));
    sender().set_syncer(nullptr);
    const auto calls = syncer.calls();
    ASSERT_GE(calls.size(), 3u);
    // The syncer was offered a turn before each media frame, and one pending keyboard/mouse
    // frame went out in each of the first two turns: input waits for one media frame at most.
    for (std::size_t k = 0; k < 3; ++k) {
        const auto sent = std::count_if(calls.begin(), calls.end(),
                                        [&](const auto &c) { return c.mediaFramesSoFar == k && c.sent; });
        const auto turns = std::count_if(calls.begin(), calls.end(),
                                         [&](const auto &c) { return c.mediaFramesSoFar == k; });
        EXPECT_GE(turns, 1) << "no turn before media frame " << k;
        EXPECT_EQ(sent, k < 2 ? 1 : 0) << "keyboard/mouse frames before media frame " << k;
    }
}

// A user who never stops typing or moving the mouse keeps the keyboard/mouse list full: the
// media frames still go out, one after each keyboard/mouse frame.
TEST_F(UThreads, EndlessInputDoesNotStarveTheMediaFrames)
{
    recording_syncer syncer(device, std::numeric_limits<int>::max(), std::chrono::milliseconds(2));
    sender().set_syncer(&syncer);
    for (int i = 0; i < 20; ++i)
        queue.append(make_u_ask_pak(1, 0));
    start();
    EXPECT_TRUE(device.wait_count(0x08, 20));
    sender().set_syncer(nullptr);
    const auto calls = syncer.calls();
    for (std::size_t k = 0; k < 20; ++k) {
        const auto sent = std::count_if(calls.begin(), calls.end(),
                                        [&](const auto &c) { return c.mediaFramesSoFar == k && c.sent; });
        EXPECT_LE(sent, 2) << "keyboard/mouse frames before media frame " << k;
    }
}

TEST_F(UThreads, AnswerForAClearedHeadNeverDropsWhatWasQueuedAfter)
{
    device.hold_reads_from(1);
    const bytes sector(512, 0x5A);
    queue.append(make_u_read_data_pak(1, 0, 0, sector.data(), 512, false));
    queue.append(make_u_read_data_pak(1, 0, 1, sector.data(), 512, true));
    start();
    ASSERT_TRUE(device.wait_count(0x09, 1));
    // What the owner does at unmap, while the answer to the head is still awaited.
    {
        std::lock_guard lock(wait->mutex);
        queue.clear();
    }
    const CQUEUE_MESSAGE unmap = make_u_map_pak(1, 0x00, 64);
    queue.append(unmap);
    device.release_reads();
    ASSERT_TRUE(device.wait_count(0x07, 1));
    ASSERT_TRUE(socket_test::eventually([&] { return queue.isEmpty(); }));
    const auto frames = device.frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].frame, frame_of(unmap));
}

TEST_F(UThreads, DeviceFrameWithNothingQueuedIsHandledWithoutAnAnswer)
{
    start();
    device.send_unsolicited({0x32, 0x05});
    ASSERT_TRUE(socket_test::eventually([&] { return handler->count() == 1u; }));
    EXPECT_FALSE(queue.wait_answer(0)); // no verdict was posted for an empty queue
    queue.append(make_u_map_pak(1, 0, 0));
    ASSERT_TRUE(device.wait_count(0x07, 1));
    EXPECT_TRUE(socket_test::eventually([&] { return queue.isEmpty(); }));
    EXPECT_EQ(handler->count(), 2u);
}

TEST_F(UThreads, DeviceClosingEndsTheReceiveThreadOnly)
{
    std::atomic<int> closes{0};
    QObject::connect(static_cast<c_socket_recv_u *>(pair.recv.get()),
                     &c_socket_recv_u::signal_socket_u_close, [&] { ++closes; });
    start();
    queue.append(make_u_ask_pak(1, 0));
    ASSERT_TRUE(device.wait_count(0x08, 1));
    device.close_connection();
    EXPECT_TRUE(pair.recv->wait_ended(3000));
    EXPECT_EQ(closes.load(), 1);
    EXPECT_TRUE(pair.send->isRunning());
}

TEST_F(UThreads, StopEndsAnAnswerWaitAtOnce)
{
    device.stay_silent(0x08, 1);
    queue.append(make_u_ask_pak(1, 0));
    start();
    ASSERT_TRUE(device.wait_count(0x08, 1));
    const int failures = log_lines_with("wait ack failed");
    pair.send->stop();
    EXPECT_TRUE(pair.send->wait_ended(1000));
    EXPECT_EQ(log_lines_with("wait ack failed"), failures); // a stop is not a failure
    EXPECT_EQ(queue.size(), 1); // the frame stays for its owner to release
}

// The media device could not be reached at start: the media send thread keeps trying its
// login every resend period, and keyboard/mouse frames queued meanwhile still leave at once
// instead of waiting out the rest.
TEST(UThreadsUnreachable, KeyboardMouseFramesLeaveWhileTheMediaDeviceIsUnreachable)
{
    socket_test::loopback_listener kmDevice;
    auto kmSocket = std::make_shared<c_tcp_sock>();
    kmSocket->set_remote_addr("127.0.0.1", kmDevice.port());
    ASSERT_EQ(kmSocket->create_sock(nullptr, 0, 2000), 1);
    const socket_test::unique_fd kmPeer = kmDevice.accept_one();
    ASSERT_GE(kmPeer.get(), 0);
    c_net_syncer syncer;
    syncer.set_km_socket(kmSocket);

    auto mediaSocket = std::make_shared<c_tcp_sock>();
    mediaSocket->set_remote_addr("127.0.0.1", socket_test::free_port());
    ASSERT_NE(mediaSocket->create_sock(nullptr, 0, 2000), 1);
    mt_queue<CQUEUE_MESSAGE> queue;
    queue.append(make_login_message(7));
    accepting_handler handler;
    auto pair = create_u_threads({mediaSocket, &queue, std::make_shared<c_wait_object>(),
                                  &handler, {}});
    ASSERT_TRUE(pair.send && pair.recv);
    auto &sender = static_cast<c_socket_send_u &>(*pair.send);
    sender.set_syncer(&syncer);
    pair.send->start(QThread::HighestPriority);
    pair.recv->start(QThread::HighestPriority);
    // The login has failed to leave and the thread rests before trying it again.
    ASSERT_TRUE(socket_test::eventually(
        [] { return log_lines_with("c_tcp_sock::tcp_send socket error.") > 0; }));

    const std::uint8_t key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (int i = 0; i < 3; ++i) {
        const std::vector<std::uint8_t> frame = build_km_byte_frame(key, kKmKeepAlive);
        ASSERT_FALSE(frame.empty());
        syncer.queue_km_frame(frame);
        std::vector<std::uint8_t> received(frame.size());
        // Well inside the 2 s the media thread rests between its tries.
        ASSERT_TRUE(socket_test::read_fd(kmPeer.get(), received.data(), received.size(), 1000))
            << "keyboard/mouse frame " << i << " held back";
        EXPECT_EQ(received, frame);
    }

    sender.set_syncer(nullptr);
    for (const auto &thread : {pair.send, pair.recv}) {
        thread->stop();
        EXPECT_TRUE(thread->wait_ended(3000)) << thread->objectName().toStdString();
    }
}
