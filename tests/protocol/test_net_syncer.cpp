#include "protocol/c_net_syncer.h"

#include "encrypt/frame_cipher.h"
#include "protocol/km_frame.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

#include "../encrypt/hex_bytes.h"
#include "../socket/test_support.h"
#include "loopback_peer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>

using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr int kNetTimeoutMs = 2000;
const Bytes kKey = hex_bytes("0E329232EA6D0D73");

// Records every answer wait: the awaited type and whether the answer came. With fakeTime
// the clock moves only when a wait runs out unanswered, by the wait's full length, and the
// real wait lasts realWaitMs.
struct RecordingSyncer : c_net_syncer {
    struct Wait {
        std::uint8_t type;
        bool answered;
    };
    bool wait_for_answer(int timeoutMs) override
    {
        const bool answered =
            c_net_syncer::wait_for_answer(fakeTime ? realWaitMs.load() : timeoutMs);
        if (!answered && fakeTime)
            clock += timeoutMs;
        waits.push_back({awaited_type(), answered});
        return answered;
    }
    std::int64_t now_ms() const override
    {
        return fakeTime ? clock.load() : c_net_syncer::now_ms();
    }
    std::vector<Wait> waits; // sending thread only
    bool fakeTime = false;
    std::atomic<std::int64_t> clock{0};
    std::atomic<int> realWaitMs{0};
};

Bytes km_frame(std::uint8_t type, Bytes payload)
{
    Bytes frame;
    build_km_frame(kKey.data(), type, payload.data(), static_cast<std::uint32_t>(payload.size()),
                   frame);
    return frame;
}

// The device's view of a frame: its plain body, deciphered when the lengths differ.
Bytes device_body(const Bytes &frame)
{
    if (frame.size() <= kFrameHeaderSize)
        return {};
    const frame_header h = parse_frame_header(frame.data());
    Bytes body(frame.begin() + kFrameHeaderSize, frame.end());
    std::uint32_t length = h.wireLength;
    if (h.ciphered())
        des_decrypt_unpadded(kKey.data(), body.data(), body.data(), length);
    body.resize(std::min<std::size_t>(h.plainLength, body.size()));
    return body;
}

// "03 00 | 05 01" -> the bodies {03 00} and {05 01}.
std::vector<Bytes> bodies_of(const std::string &text)
{
    std::vector<Bytes> out;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, '|');)
        out.push_back(hex_bytes(part));
    return out;
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
                const Bytes body = device_body(frame);
                bodies.push_back(body);
                if ((answer || answering) && awaits_answer(body[0]))
                    syncer.on_km_message_received();
            }
        });
    }

    loopback_peer peer;
    std::shared_ptr<c_tcp_sock> socket = std::make_shared<c_tcp_sock>();
    RecordingSyncer syncer;
    std::thread device;
    std::vector<Bytes> bodies; // plain, as received; device thread until joined
    std::atomic<bool> answering{false};
};

} // namespace

TEST(NetSyncer, FailedSendDropsTheFrameAndIsLogged)
{
    RecordingSyncer syncer;
    syncer.queue_km_frame(build_km_login_frame(1));
    syncer.queue_km_frame(build_km_login_frame(2));
    const int failed = socket_test::log_lines_with("LOG_ERROR ***********************m_pTcpSocket->write failed.");
    EXPECT_FALSE(syncer.send_next()) << "no socket";
    EXPECT_EQ(syncer.km_queue_size(), 1);
    EXPECT_FALSE(syncer.is_waiting_answer());
    EXPECT_TRUE(syncer.waits.empty());
    EXPECT_EQ(socket_test::log_lines_with("LOG_ERROR ***********************m_pTcpSocket->write failed."),
              failed + 1);

    auto closed = std::make_shared<c_tcp_sock>();
    syncer.set_km_socket(closed);
    EXPECT_FALSE(syncer.send_next()) << "socket never connected";
    EXPECT_EQ(syncer.km_queue_size(), 0);
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
    EXPECT_EQ(bodies, bodies_of("15 00 | 16 01 | 0B 00 | 14 00 00 00 00 00 00 00 | 16 00"));
    ASSERT_EQ(syncer.waits.size(), 1u);
    EXPECT_EQ(syncer.waits[0].type, 20);
}

namespace {

// One producer step: 'k' key report (usage a), 'b' button report (buttons a), 'r' relative
// motion (buttons a, dx b, dy c), 's' the same never joined, 'a' absolute sample (x = a).
struct Op {
    char what;
    int a = 0, b = 0, c = 0;
};

void produce(c_net_syncer &s, const std::vector<Op> &ops)
{
    for (const Op &op : ops) {
        const auto a = static_cast<std::uint8_t>(op.a);
        const std::uint8_t key[8] = {0, 0, a}, button[4] = {a}, sample[6] = {0, a, 0, 0x10};
        if (op.what == 'k')
            s.send_km_data(kKmKeyboard, key, 8);
        else if (op.what == 'b')
            s.send_km_data(kKmMouseRelative, button, 4);
        else if (op.what == 'a')
            s.queue_absolute_motion(sample);
        else
            s.queue_relative_motion(a, op.b, op.c, op.what == 'r');
    }
}

// Input queued before sending starts, and the bodies the device receives, in order.
struct MotionCase {
    const char *name;
    std::vector<Op> ops;
    const char *received;
    friend std::ostream &operator<<(std::ostream &os, const MotionCase &c) { return os << c.name; }
};

const MotionCase kMotionCases[] = {
    {"RelativeMotionIsSummedAndSplitInto127s", {{'r', 0, 100}, {'r', 0, 100}, {'r', 0, 100, 5}},
     "05 00 7F 05 00 | 05 00 7F 00 00 | 05 00 2E 00 00"},
    {"TheNewestAbsoluteSampleReplacesTheWaitingOne", {{'a', 1}, {'a', 2}, {'a', 3}},
     "2C 00 03 00 10 00 00"},
    {"AButtonChangeKeepsItsPlaceBetweenMotions",
     {{'r', 0, 10}, {'b', 1}, {'r', 1, 10}, {'r', 1, 10}, {'b', 0}},
     "05 00 0A 00 00 | 05 01 00 00 00 | 05 01 14 00 00 | 05 00 00 00 00"},
    {"AKeyPassesWaitingMotionButNotAButton", {{'r', 0, 10}, {'b', 1}, {'r', 1, 300}, {'k', 4}},
     "05 00 0A 00 00 | 05 01 00 00 00 | 03 00 00 04 00 00 00 00 00 | 05 01 7F 00 00 | "
     "05 01 7F 00 00 | 05 01 2E 00 00"},
    {"TheAlignmentSweepIsNeverJoined", {{'s', 0, -254, -254}, {'r', 0, 5}},
     "05 00 81 81 00 | 05 00 81 81 00 | 05 00 05 00 00"},
};

class MotionQueue : public SyncerOnLoopback, public ::testing::WithParamInterface<MotionCase> {};

std::string case_name(const ::testing::TestParamInfo<MotionCase> &param)
{
    return param.param.name;
}

} // namespace

TEST_P(MotionQueue, DeviceReceives)
{
    const std::vector<Bytes> expected = bodies_of(GetParam().received);
    produce(syncer, GetParam().ops);
    start_device(static_cast<int>(expected.size()), true);
    while (syncer.send_next()) {
    }
    device.join();
    EXPECT_EQ(bodies, expected);
}

INSTANTIATE_TEST_SUITE_P(NetSyncer, MotionQueue, ::testing::ValuesIn(kMotionCases), case_name);

TEST_F(SyncerOnLoopback, ASilentDeviceGetsFreshInputOnlyAndEverythingReleasedWhenBack)
{
    syncer.fakeTime = true;
    answering = true;
    syncer.realWaitMs = kNetTimeoutMs;
    start_device(9, false);
    produce(syncer, {{'k', 4}}); // held when the device falls silent
    ASSERT_TRUE(syncer.send_next());

    answering = false;
    syncer.realWaitMs = 0;
    for (int i = 0; i < 1000; ++i)
        produce(syncer, {{'r', 0, 1}});
    produce(syncer, {{'k', 5}});
    EXPECT_EQ(syncer.km_queue_size(), 2) << "a thousand samples wait as one";
    // The key goes first; the motion runs the unanswered waits up to a second.
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(syncer.send_next());
    EXPECT_FALSE(syncer.send_next()) << "the rest of the motion waited too long";
    produce(syncer, {{'k', 6}});
    ASSERT_TRUE(syncer.send_next()) << "fresh input still goes";

    syncer.on_km_message_received(); // the device speaks again
    while (syncer.send_next()) {
    }
    device.join();
    EXPECT_EQ(bodies, bodies_of("03 00 00 04 00 00 00 00 00 | 03 00 00 05 00 00 00 00 00 | "
                                "05 00 7F 00 00 | 05 00 7F 00 00 | 05 00 7F 00 00 | "
                                "05 00 7F 00 00 | 03 00 00 06 00 00 00 00 00 | "
                                "03 00 00 00 00 00 00 00 00 | 05 00 00 00 00"));
}
