// The media channel: its frames, byte for byte, and its thread pair against a device played
// by the test, frame by frame.
#include "media_support.h"

#include "media/u_packets.h"
#include "protocol/frame.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "tools/socket/u/c_socket_send_u.h"
#include "tools/socket/u/u_channel_threads.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace media_test;
using socket_test::eventually;
using socket_test::log_lines_with;

namespace {

bytes frame_of(const CQUEUE_MESSAGE &msg)
{
    return bytes(msg.buffer.get(), msg.buffer.get() + msg.length);
}

bytes body_of(const CQUEUE_MESSAGE &msg)
{
    return bytes(msg.buffer.get() + 11, msg.buffer.get() + msg.length);
}

// The channel's answers are the session's business: the threads only need someone to hand
// them to, who refuses a pak_readData answer whose result byte is not 0, as the session does.
struct answer_sink : c_abs_net_handler {
    std::uint8_t HandleMsg(c_socket_thread *, const std::uint8_t *body, std::uint32_t, std::uint32_t length) override
    {
        return length >= 3 && body[0] == 0x09 && body[2] != 0 ? kResend : kHandled;
    }
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
    // The next frame the viewer sends, as its body (empty after 3 s without one).
    bytes next(int timeoutMs = 3000)
    {
        std::uint8_t header[11];
        if (!socket_test::read_fd(device.get(), header, 11, timeoutMs))
            return {};
        bytes body(read_be32(header + 7));
        socket_test::read_fd(device.get(), body.data(), body.size());
        return body;
    }
    void answer(const bytes &body) { socket_test::write_fd(device.get(), socket_test::frame_bytes(body)); }

    socket_test::loopback_listener listener;
    socket_test::unique_fd device;
    std::shared_ptr<c_tcp_sock> sock = std::make_shared<c_tcp_sock>();
    mt_queue<CQUEUE_MESSAGE> queue;
    std::shared_ptr<c_wait_object> wait = std::make_shared<c_wait_object>();
    answer_sink handler;
    socket_thread_pair pair;
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

// A refused frame goes out again at once, byte for byte, without waiting out the answer wait;
// the next one follows its acceptance.
TEST_F(UThreads, ARefusedFrameIsSentAgainAtOnce)
{
    const bytes sector(512, 0x3C);
    const CQUEUE_MESSAGE first = make_u_read_data_pak(1, 40, 0, sector.data(), 512, false);
    const CQUEUE_MESSAGE second = make_u_read_data_pak(1, 40, 1, sector.data(), 512, true);
    queue.append(first);
    queue.append(second);
    const int failures = log_lines_with("wait ack failed,pak_readData (");
    start();
    ASSERT_EQ(next(), body_of(first));
    answer({0x09, 0x01, 0x01});
    ASSERT_EQ(next(1000), body_of(first));
    EXPECT_EQ(log_lines_with("wait ack failed,pak_readData ("), failures + 1);
    answer({0x09, 0x01, 0x00});
    ASSERT_EQ(next(1000), body_of(second));
    answer({0x09, 0x01, 0x00});
    EXPECT_TRUE(eventually([&] { return queue.isEmpty(); }));
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

// Hand-computed frames: header A5 01, sum of the body, body length twice (BE), body.
TEST(MediaPackets, FramesAreByteExactAndFlagTheLastOfABatch)
{
    const CQUEUE_MESSAGE map = make_u_map_pak(1, 0x81, 0x00012345);
    EXPECT_EQ(frame_of(map), (bytes{0xA5, 0x01, 0xF2, 0, 0, 0, 7, 0, 0, 0, 7, 0x07, 0x01, 0x81, 0x00, 0x01, 0x23, 0x45}));
    EXPECT_EQ(frame_of(make_u_map_pak(1, 0x00, 0)), (bytes{0xA5, 0x01, 0x08, 0, 0, 0, 7, 0, 0, 0, 7, 0x07, 0x01, 0, 0, 0, 0, 0}));
    const CQUEUE_MESSAGE ask = make_u_ask_pak(1, 0);
    EXPECT_EQ(frame_of(ask), (bytes{0xA5, 0x01, 0x09, 0, 0, 0, 3, 0, 0, 0, 3, 0x08, 0x01, 0x00}));
    EXPECT_EQ(map.flag + ask.flag, 0);

    const CQUEUE_MESSAGE pak = make_u_pak10(1, 0x0102, true);
    EXPECT_EQ(frame_of(pak), (bytes{0xA5, 0x01, 0x0E, 0, 0, 0, 4, 0, 0, 0, 4, 0x0A, 0x01, 0x01, 0x02}));
    EXPECT_EQ(pak.flag, 1);
    EXPECT_EQ(make_u_pak10(1, 7, false).flag, 0);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^pak10_\\d\\d_\\d\\d\\d$")).match(pak.tag).hasMatch()) << pak.tag.toStdString();

    const bytes sector(512, 0x01);
    const CQUEUE_MESSAGE read = make_u_read_data_pak(1, 0x11223344, 5, sector.data(), 512, false);
    const bytes frame = frame_of(read);
    // 09+01+11+22+33+44+00+05 = 0xB9; 512 bytes of 1 add 0 modulo 256.
    ASSERT_EQ(frame.size(), 531u);
    EXPECT_EQ(bytes(frame.begin(), frame.begin() + 19), (bytes{0xA5, 0x01, 0xB9, 0, 0, 0x02, 0x08, 0, 0, 0x02, 0x08, 0x09, 0x01, 0x11, 0x22, 0x33, 0x44, 0x00, 0x05}));
    EXPECT_EQ(bytes(frame.begin() + 19, frame.end()), sector);
    EXPECT_EQ(read.flag, 0);
    EXPECT_EQ(make_u_read_data_pak(1, 0, 0, sector.data(), 512, true).flag, 1);

    EXPECT_EQ(c_socket_send_u::frame_label(ask), "pak_ask");
    EXPECT_EQ(c_socket_send_u::frame_label(read), "pak_readData");
    EXPECT_EQ(c_socket_send_u::frame_label(pak), "pak_Type=10");
}

TEST(MediaPackets, ReadDataNeverReadsPastShortData)
{
    const bytes half(100, 0xEE);
    const CQUEUE_MESSAGE pak = make_u_read_data_pak(1, 0, 0, half.data(), 100, true);
    ASSERT_EQ(pak.length, 531u);
    EXPECT_EQ(pak.buffer[19 + 99], 0xEE);
    EXPECT_EQ(pak.buffer[19 + 100], 0x00);
    EXPECT_EQ(u_frame_type(pak), 0x09);
}
