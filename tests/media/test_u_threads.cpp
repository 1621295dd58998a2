// The media channel's thread pair against a device played by the test, frame by frame.
#include "media_test_support.h"

#include "media/u_packets.h"
#include "protocol/c_net_syncer.h"
#include "protocol/frame.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "tools/socket/u/c_socket_send_u.h"
#include "tools/socket/u/u_channel_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <thread>

using namespace media_test;
using socket_test::eventually;
using socket_test::log_lines_with;

namespace {

// A keyboard/mouse syncer that pretends to send `pending` frames (each taking `pace`) and
// counts them per media frame the device had read by then.
struct counting_syncer : c_net_syncer {
    counting_syncer(const std::atomic<int> &media, int pending, std::chrono::milliseconds pace)
        : m_media(media), m_pending(pending), m_pace(pace) {}
    bool send_next() override
    {
        std::this_thread::sleep_for(m_pace);
        std::lock_guard lock(m_lock);
        m_sent.resize(std::max<std::size_t>(m_sent.size(), m_media + 1));
        m_sent[m_media] += m_pending > 0 ? 1 : 0;
        return m_pending-- > 0;
    }
    std::vector<int> sent_before_each() { std::lock_guard lock(m_lock); return m_sent; }

    const std::atomic<int> &m_media;
    int m_pending;
    std::chrono::milliseconds m_pace;
    std::mutex m_lock;
    std::vector<int> m_sent;
};

struct UThreads : ::testing::Test {
    void SetUp() override
    {
        sock->set_remote_addr("127.0.0.1", listener.port());
        ASSERT_EQ(sock->create_sock(nullptr, 0, 2000), 1);
        device = listener.accept_one();
        pair = create_u_threads({sock, &queue, wait, &handler, {}});
        ASSERT_TRUE(device.get() >= 0 && pair.send && pair.recv);
    }
    void TearDown() override
    {
        sender().set_syncer(nullptr);
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
    // The next frame the viewer sends, as its body (empty after 3 s without one).
    bytes next(int timeoutMs = 3000)
    {
        std::uint8_t header[11];
        if (!socket_test::read_fd(device.get(), header, 11, timeoutMs))
            return {};
        bytes body(read_be32(header + 7));
        socket_test::read_fd(device.get(), body.data(), body.size());
        ++read;
        return body;
    }
    void answer(const bytes &body) { socket_test::write_fd(device.get(), socket_test::frame_bytes(body)); }
    static bytes body_of(const CQUEUE_MESSAGE &msg) { return bytes(msg.buffer.get() + 11, msg.buffer.get() + msg.length); }

    socket_test::loopback_listener listener;
    socket_test::unique_fd device;
    std::atomic<int> read{0};
    std::shared_ptr<c_tcp_sock> sock = std::make_shared<c_tcp_sock>();
    mt_queue<CQUEUE_MESSAGE> queue;
    std::shared_ptr<c_wait_object> wait = std::make_shared<c_wait_object>();
    socket_test::recording_handler handler;
    socket_thread_pair pair;
    std::unique_ptr<counting_syncer> few, endless; // outlive the send thread's use of them
};

const bytes kAsk{0x08, 0x01, 0x00};
const bytes kAskAnswer{0x08, 0, 0, 0, 0, 0, 0, 0};

} // namespace

// Each frame is sent in order and leaves the queue only once answered; an unanswered one
// goes out again after the answer wait, and a stop ends that wait at once, leaving the frame
// for its owner.
TEST_F(UThreads, FramesLeaveTheQueueOnlyWhenAnswered)
{
    const CQUEUE_MESSAGE map = make_u_map_pak(1, 0x01, 64);
    queue.append(make_u_ask_pak(1, 0));
    queue.append(map);
    const int failures = log_lines_with("wait ack failed,pak_ask (");
    start();
    ASSERT_EQ(next(), kAsk);
    ASSERT_EQ(next(6000), kAsk); // unanswered: the same frame again
    EXPECT_EQ(log_lines_with("wait ack failed,pak_ask ("), failures + 1);
    answer(kAskAnswer);
    ASSERT_EQ(next(), body_of(map));
    EXPECT_EQ(queue.size(), 1);
    pair.send->stop();
    EXPECT_TRUE(pair.send->wait_ended(1000));
    EXPECT_EQ(log_lines_with("wait ack failed,pak_ask ("), failures + 1); // a stop is no failure
    EXPECT_EQ(queue.size(), 1);
}

// One pending keyboard/mouse frame goes out before each media frame, and a user who never
// stops typing cannot starve the media frames either.
TEST_F(UThreads, KeyboardMouseFramesTakeTurnsWithTheMediaFrames)
{
    few = std::make_unique<counting_syncer>(read, 2, 0ms);
    sender().set_syncer(few.get());
    for (int i = 0; i < 3; ++i)
        queue.append(make_u_ask_pak(1, 0));
    start();
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(next(), kAsk);
        answer(kAskAnswer);
    }
    ASSERT_TRUE(eventually([&] { return queue.isEmpty(); }));
    const std::vector<int> first = few->sent_before_each();
    ASSERT_GE(first.size(), 3u);
    EXPECT_EQ(std::vector<int>(first.begin(), first.begin() + 3), (std::vector<int>{1, 1, 0}));
    for (int i = 0; i < 20; ++i)
        queue.append(make_u_ask_pak(1, 0));
    endless = std::make_unique<counting_syncer>(read, std::numeric_limits<int>::max(), 2ms);
    sender().set_syncer(endless.get());
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(next(), kAsk) << "media frame " << i << " starved";
        answer(kAskAnswer);
    }
    const std::vector<int> sent = endless->sent_before_each();
    ASSERT_GT(sent.size(), 4u);
    EXPECT_LE(*std::max_element(sent.begin() + 4, sent.end()), 2);
}

TEST_F(UThreads, AnswerForAClearedHeadNeverDropsWhatWasQueuedAfter)
{
    const bytes sector(512, 0x5A);
    queue.append(make_u_read_data_pak(1, 0, 0, sector.data(), 512, false));
    queue.append(make_u_read_data_pak(1, 0, 1, sector.data(), 512, true));
    start();
    ASSERT_EQ(next()[0], 0x09);
    {
        std::lock_guard lock(wait->mutex); // what the owner does at unmap
        queue.clear();
    }
    const CQUEUE_MESSAGE unmap = make_u_map_pak(1, 0x00, 64);
    queue.append(unmap);
    answer({0x09, 0x01, 0x00});
    ASSERT_EQ(next(), body_of(unmap));
    answer({0x07, 0x01, 0x00});
    EXPECT_TRUE(eventually([&] { return queue.isEmpty(); }));
}
