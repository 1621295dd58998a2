#include "protocol/c_net_syncer.h"

#include "encrypt/frame_cipher.h"
#include "protocol/km_frame.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

#include "../encrypt/hex_bytes.h"
#include "log_capture.h"
#include "loopback_peer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr int kNetTimeoutMs = 2000;
const Bytes kKey = hex_bytes("0E329232EA6D0D73");

// Records every answer wait: the awaited type and whether the answer came.
struct RecordingSyncer : c_net_syncer {
    struct Wait {
        std::uint8_t type;
        int timeoutMs;
        bool answered;
    };
    bool wait_for_answer(int timeoutMs) override
    {
        const bool answered = c_net_syncer::wait_for_answer(timeoutMs);
        waits.push_back({awaited_type(), timeoutMs, answered});
        return answered;
    }
    std::vector<Wait> waits; // sending thread only
};

Bytes km_frame(std::uint8_t type, Bytes payload)
{
    Bytes frame;
    build_km_frame(kKey.data(), type, payload.data(), static_cast<std::uint32_t>(payload.size()),
                   frame);
    return frame;
}

// The device's view of a frame: its type, deciphered when the lengths differ.
int device_type(const Bytes &frame)
{
    if (frame.size() <= kFrameHeaderSize)
        return -1;
    const frame_header h = parse_frame_header(frame.data());
    Bytes body(frame.begin() + kFrameHeaderSize, frame.end());
    std::uint32_t length = h.wireLength;
    if (h.ciphered())
        des_decrypt_unpadded(kKey.data(), body.data(), body.data(), length);
    return body[0];
}

bool awaits_answer(int type)
{
    return type != 11 && type != 21 && type != 22;
}

// A syncer connected on loopback to a peer playing the device.
struct SyncerOnLoopback : ::testing::Test {
    void SetUp() override
    {
        ASSERT_NE(peer.port(), 0);
        socket->set_remote_addr("127.0.0.1", peer.port());
        ASSERT_EQ(socket->create_sock(nullptr, 0, kNetTimeoutMs), 1);
        ASSERT_TRUE(peer.accept_within(kNetTimeoutMs));
        syncer.set_outbound_key(kKey.data());
        syncer.set_km_socket(socket);
    }
    void TearDown() override
    {
        if (device.joinable())
            device.join();
    }

    // The device reads `count` frames and, when `answer` says so, answers each one that
    // awaits an answer.
    void start_device(int count, bool answer)
    {
        device = std::thread([this, count, answer] {
            for (int i = 0; i < count; ++i) {
                const Bytes frame = peer.read_frame(kNetTimeoutMs);
                if (frame.empty())
                    return;
                const int type = device_type(frame);
                received.push_back(type);
                if (answer && awaits_answer(type))
                    syncer.on_km_message_received();
            }
        });
    }

    loopback_peer peer;
    std::shared_ptr<c_tcp_sock> socket = std::make_shared<c_tcp_sock>();
    RecordingSyncer syncer;
    std::thread device;
    std::vector<int> received; // device thread until joined
};

} // namespace

TEST(NetSyncer, ListOperations)
{
    RecordingSyncer syncer;
    EXPECT_FALSE(syncer.send_next()) << "empty list";
    syncer.queue_km_frame({1});
    syncer.queue_km_frame({2});
    syncer.queue_km_frame_first({3});
    EXPECT_EQ(syncer.km_queue_size(), 3);
    syncer.clear_km_queue();
    EXPECT_EQ(syncer.km_queue_size(), 0);
    EXPECT_FALSE(syncer.send_next());

    syncer.set_outbound_key(kKey.data());
    const std::uint8_t report[4] = {1, 2, 3, 0};
    EXPECT_TRUE(syncer.send_km_data(5, report, 4));
    EXPECT_FALSE(syncer.send_km_data(5, report, kKmMaxPayload + 1));
    EXPECT_EQ(syncer.km_queue_size(), 1);
}

TEST(NetSyncer, FailedSendDropsTheFrameAndIsLogged)
{
    log_capture &log = log_capture::instance();
    RecordingSyncer syncer;
    syncer.queue_km_frame(build_km_login_frame(1));
    syncer.queue_km_frame(build_km_login_frame(2));
    const std::size_t mark = log.mark();
    EXPECT_FALSE(syncer.send_next()) << "no socket";
    EXPECT_EQ(syncer.km_queue_size(), 1);
    EXPECT_FALSE(syncer.is_waiting_answer());
    EXPECT_TRUE(syncer.waits.empty());
    EXPECT_NE(log.since(mark).find("LOG_ERROR ***********************m_pTcpSocket->write failed."),
              std::string::npos);

    auto closed = std::make_shared<c_tcp_sock>();
    syncer.set_km_socket(closed);
    EXPECT_FALSE(syncer.send_next()) << "socket never connected";
    EXPECT_EQ(syncer.km_queue_size(), 0);
}

TEST(NetSyncer, FrameTypeIsReadThroughTheCipher)
{
    std::array<std::uint8_t, 8> key;
    std::copy(kKey.begin(), kKey.end(), key.begin());
    for (int type : {3, 5, 11, 20, 21, 22, 23, 44}) {
        const Bytes frame = km_frame(static_cast<std::uint8_t>(type), {0, 1, 2});
        EXPECT_EQ(c_net_syncer::frame_type(frame, key), type);
    }
    EXPECT_EQ(c_net_syncer::frame_type(build_km_login_frame(9), key), 50);
    EXPECT_EQ(c_net_syncer::frame_type(Bytes(11, 0), key), -1);
    EXPECT_EQ(c_net_syncer::frame_type({}, key), -1);
}

TEST_F(SyncerOnLoopback, KeepAliveQueuedFirstGoesBeforeTenWaitingFrames)
{
    for (int i = 0; i < 10; ++i)
        syncer.queue_km_frame(km_frame(5, {0, static_cast<std::uint8_t>(i), 0, 0}));
    syncer.queue_km_frame_first(build_km_byte_frame(kKey.data(), 11));
    start_device(11, true);
    for (int i = 0; i < 11; ++i)
        EXPECT_TRUE(syncer.send_next()) << "frame " << i;
    EXPECT_FALSE(syncer.send_next());
    device.join();
    ASSERT_EQ(received.size(), 11u);
    EXPECT_EQ(received[0], 11);
    for (int i = 1; i < 11; ++i)
        EXPECT_EQ(received[i], 5);
    // The keep-alive waits for nothing; every mouse frame's wait ended with the answer.
    ASSERT_EQ(syncer.waits.size(), 10u);
    for (const auto &w : syncer.waits) {
        EXPECT_EQ(w.type, 5);
        EXPECT_EQ(w.timeoutMs, 200);
        EXPECT_TRUE(w.answered);
    }
}

TEST_F(SyncerOnLoopback, AnswerEndsTheWaitAndSilenceRunsItOut)
{
    syncer.queue_km_frame(km_frame(3, {0, 0, 4, 0, 0, 0, 0, 0}));
    syncer.queue_km_frame(build_km_login_frame(7));
    start_device(1, true);
    EXPECT_TRUE(syncer.send_next());
    device.join();

    // A message that arrives while nothing is awaited must not end a later wait.
    syncer.on_km_message_received();
    start_device(1, false);
    EXPECT_TRUE(syncer.send_next());
    device.join();
    EXPECT_FALSE(syncer.is_waiting_answer());

    ASSERT_EQ(syncer.waits.size(), 2u);
    EXPECT_EQ(syncer.waits[0].type, 3) << "found by deciphering the frame";
    EXPECT_TRUE(syncer.waits[0].answered);
    EXPECT_EQ(syncer.waits[1].type, 50);
    EXPECT_FALSE(syncer.waits[1].answered);
    EXPECT_EQ(received, (std::vector<int>{3, 50}));
}

TEST_F(SyncerOnLoopback, PrivilegeAnswersAndKeepAliveDoNotWait)
{
    syncer.queue_km_frame(km_frame(21, {0}));
    syncer.queue_km_frame(km_frame(22, {1}));
    syncer.queue_km_frame(build_km_byte_frame(kKey.data(), 11));
    syncer.queue_km_frame(km_frame(20, {0, 0, 0, 0, 0, 0, 0})); // whole block + 8 zero bytes
    syncer.queue_km_frame(km_frame(22, {0}));
    start_device(5, true);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(syncer.send_next());
    device.join();
    EXPECT_EQ(received, (std::vector<int>{21, 22, 11, 20, 22}));
    ASSERT_EQ(syncer.waits.size(), 1u);
    EXPECT_EQ(syncer.waits[0].type, 20);
}

TEST_F(SyncerOnLoopback, ProducerAndSenderRunConcurrently)
{
    constexpr int kFrames = 40;
    start_device(kFrames, true);
    std::thread producer([this] {
        for (int i = 0; i < kFrames; ++i) {
            const std::uint8_t report[8] = {0, 0, static_cast<std::uint8_t>(4 + i % 20)};
            syncer.send_km_data(3, report, 8);
        }
    });
    int sent = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (sent < kFrames && std::chrono::steady_clock::now() < deadline) {
        if (syncer.send_next())
            ++sent;
        else
            std::this_thread::yield();
    }
    producer.join();
    device.join();
    EXPECT_EQ(sent, kFrames);
    EXPECT_EQ(received.size(), static_cast<std::size_t>(kFrames));
}
