#include "test_support.h"

#include "encrypt/frame_cipher.h"
#include "tools/socket/c_socket_recv_video.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>

using namespace socket_test;

namespace {

using key_type = c_socket_recv_video::key_type;

const key_type kInboundKey{0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};

// The plain-length field as its big-endian bytes arrive, read natively.
std::uint32_t raw_field(std::uint32_t value)
{
    const std::uint8_t be[4] = {static_cast<std::uint8_t>(value >> 24),
                                static_cast<std::uint8_t>(value >> 16),
                                static_cast<std::uint8_t>(value >> 8),
                                static_cast<std::uint8_t>(value)};
    std::uint32_t raw;
    std::memcpy(&raw, be, 4);
    return raw;
}

// The frame a device sends for `plainBody` with a ciphered head: the first 12 body bytes,
// padded with 0x80 0 0 0, enciphered into 16; the rest plain. Plain length = the body's.
bytes ciphered_frame(const bytes &plainBody, const key_type &key = kInboundKey)
{
    std::uint8_t head[16] = {};
    std::memcpy(head, plainBody.data(), 12);
    head[12] = 0x80;
    bytes wire(16);
    des_encrypt_block(key.data(), head, wire.data());
    des_encrypt_block(key.data(), head + 8, wire.data() + 8);
    wire.insert(wire.end(), plainBody.begin() + 12, plainBody.end());
    return frame_bytes(wire, static_cast<std::uint32_t>(plainBody.size()));
}

// A running video receive thread on a loopback connection; `peer` plays the device.
struct video_receiver {
    loopback_listener listener;
    std::shared_ptr<c_tcp_sock> sock = std::make_shared<c_tcp_sock>();
    unique_fd peer;
    std::shared_ptr<recording_handler> handler = std::make_shared<recording_handler>();
    std::shared_ptr<c_socket_recv_video> thread;
    std::atomic<int> closeSignals{0};

    video_receiver()
    {
        sock->set_remote_addr("127.0.0.1", listener.port());
        EXPECT_EQ(sock->create_sock(nullptr, 0, 2000), 1);
        peer = listener.accept_one();
        EXPECT_GE(peer.get(), 0);
        thread = make_thread<c_socket_recv_video>(sock, handler.get(), kInboundKey);
        QObject::connect(thread.get(), &c_socket_recv_video::signal_socket_video_close,
                         [this] { ++closeSignals; });
        thread->start();
    }

    ~video_receiver()
    {
        thread->stop();
        EXPECT_TRUE(thread->wait(3000));
    }

    void send(const bytes &data) { ASSERT_TRUE(write_fd(peer.get(), data)); }
};

bytes counting(std::size_t n)
{
    bytes out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return out;
}

} // namespace

// A plain frame arrives as received; a ciphered head (100 body bytes, 104 on the wire) is
// deciphered in place.
TEST(VideoReceive, DeliversPlainFramesAndDeciphersCipheredHeads)
{
    video_receiver r;
    const bytes bodies[] = {video_body(1, {0x00, 0x00, 0x00, 0x01, 0x67}),
                            video_body(1, counting(88))};
    r.send(frame_bytes(bodies[0]));
    r.send(ciphered_frame(bodies[1]));
    ASSERT_TRUE(r.handler->wait_calls(2));
    for (std::size_t i = 0; i < 2; ++i) {
        const auto call = r.handler->calls().at(i);
        EXPECT_EQ(call.sender, r.thread.get());
        EXPECT_EQ(call.body, bodies[i]);
        EXPECT_EQ(call.bodyLength, bodies[i].size());
        EXPECT_EQ(call.lengthField, raw_field(static_cast<std::uint32_t>(bodies[i].size())));
    }
}

// A bad frame is dropped with one line and the next one is delivered (first, so the bad one
// never was).
struct dropped_frame {
    const char *name;
    bytes frame;
    const char *line;
};

class VideoReceiveDrops : public ::testing::TestWithParam<dropped_frame> {};

TEST_P(VideoReceiveDrops, ABadFrameWithOneLineAndDeliversTheNext)
{
    video_receiver r;
    const int linesBefore = log_lines_with(GetParam().line);
    r.send(GetParam().frame);
    const bytes good = video_body(1, counting(20));
    r.send(ciphered_frame(good));
    ASSERT_TRUE(r.handler->wait_calls(1));
    EXPECT_EQ(r.handler->calls().at(0).body, good);
    EXPECT_EQ(log_lines_with(GetParam().line), linesBefore + 1);
}

bytes not_video_head()
{
    bytes body = video_body(1, counting(88));
    body[0] = 7;
    return ciphered_frame(body);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, VideoReceiveDrops,
    ::testing::Values(
        dropped_frame{"HeadNotVideo", not_video_head(), "video data header not 0x06"},
        dropped_frame{"CipheredBodyShorterThanItsHead",
                      frame_bytes({0x06, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 6),
                      "video frame marked ciphered"}),
    [](const ::testing::TestParamInfo<dropped_frame> &row) {
        return std::string(row.param.name);
    });

TEST(VideoReceive, DeviceCloseEndsTheThreadWithOneSignal)
{
    video_receiver r;
    r.send(frame_bytes(video_body(1, {0x01})));
    ASSERT_TRUE(r.handler->wait_calls(1));
    r.peer.reset();
    ASSERT_TRUE(r.thread->wait(3000));
    EXPECT_EQ(r.closeSignals.load(), 1);
    EXPECT_FALSE(r.sock->has_socket());
    EXPECT_FALSE(r.thread->running());
}
