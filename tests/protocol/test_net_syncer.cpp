#include "protocol/c_net_syncer.h"

#include "encrypt/frame_cipher.h"
#include "protocol/frame.h"
#include "protocol/km_frame.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

#include "hex_bytes.h"
#include "loopback.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <thread>

using Bytes = std::vector<std::uint8_t>;

namespace {

const Bytes kKey = hex_bytes("0E329232EA6D0D73");

// Records every answer wait: the awaited type and whether the answer came. With fakeTime
// the clock moves only when a wait runs out unanswered, by the wait's full length, and the
// real wait lasts realWaitMs.
struct RecordingSyncer : c_net_syncer {
    bool wait_for_answer(int timeoutMs) override
    {
        const bool answered = c_net_syncer::wait_for_answer(fakeTime ? realWaitMs.load() : timeoutMs);
        if (!answered && fakeTime)
            clock += timeoutMs;
        waits.push_back({awaited_type(), answered});
        return answered;
    }
    std::int64_t now_ms() const override { return fakeTime ? clock.load() : c_net_syncer::now_ms(); }
    std::vector<std::pair<int, bool>> waits; // sending thread only
    bool fakeTime = false;
    std::atomic<std::int64_t> clock{0};
    std::atomic<int> realWaitMs{0};
};

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

// One producer step: 'k' key report (usage a), 'b' button report (buttons a), 'r' relative
// motion (buttons a, dx b, dy c), 's' the same never joined, 'a' absolute sample (x = a),
// 'x' a frame of type a with b bytes of payload c.
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
        else if (op.what == 'x')
            s.send_km_data(a, Bytes(std::size_t(op.b), std::uint8_t(op.c)).data(), std::uint32_t(op.b));
        else
            s.queue_relative_motion(a, op.b, op.c, op.what == 'r');
    }
}

// A syncer connected on loopback to a peer playing the device, which reads frames, keeps
// their plain bodies and, while `answering`, answers each one that awaits an answer.
struct SyncerOnLoopback : ::testing::Test {
    void SetUp() override
    {
        syncer.set_outbound_key(kKey.data());
        syncer.set_km_socket(link.sock);
    }
    void TearDown() override
    {
        if (device.joinable())
            device.join();
    }

    void start_device(int count)
    {
        device = std::thread([this, count] {
            const auto read = [this](std::uint8_t *out, std::size_t n) {
                return socket_test::read_fd(link.peer.get(), out, n);
            };
            for (int i = 0; i < count; ++i) {
                Bytes head(kFrameHeaderSize); // hunting the magic, as the device does
                while (read(head.data(), 1) && head[0] != kFrameMagic) {
                }
                if (head[0] != kFrameMagic || !read(head.data() + 1, kFrameHeaderSize - 1))
                    return;
                const frame_header h = parse_frame_header(head.data());
                Bytes body(h.wireLength);
                std::uint32_t length = h.wireLength;
                if (!read(body.data(), body.size()) ||
                    (h.ciphered() && !des_decrypt_unpadded(kKey.data(), body.data(), body.data(), length)))
                    return;
                body.resize(std::min<std::size_t>(h.plainLength, body.size()));
                bodies.push_back(body);
                if (answering && awaits_answer(body[0]))
                    syncer.on_km_message_received();
            }
        });
    }

    socket_test::loopback_connection link;
    RecordingSyncer syncer;
    std::thread device;
    std::vector<Bytes> bodies; // device thread until joined
    std::atomic<bool> answering{true};
};

// Input queued before sending starts, and the bodies the device receives, in order.
struct OrderCase {
    const char *name;
    std::vector<Op> ops;
    const char *received;
    friend std::ostream &operator<<(std::ostream &os, const OrderCase &c) { return os << c.name; }
};

const OrderCase kOrderCases[] = {
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
    {"PrivilegeAnswersAndKeepAliveDoNotWait",
     {{'x', 21, 1, 0}, {'x', 22, 1, 1}, {'x', 11, 1, 0}, {'x', 20, 7, 0}, {'x', 22, 1, 0}},
     "15 00 | 16 01 | 0B 00 | 14 00 00 00 00 00 00 00 | 16 00"},
};

class SendOrder : public SyncerOnLoopback, public ::testing::WithParamInterface<OrderCase> {};

} // namespace

// The device receives the bodies in order, and the sender waits for (and gets) an answer
// after exactly those that await one.
TEST_P(SendOrder, DeviceReceives)
{
    const std::vector<Bytes> expected = bodies_of(GetParam().received);
    produce(syncer, GetParam().ops);
    start_device(static_cast<int>(expected.size()));
    while (syncer.send_next()) {
    }
    device.join();
    EXPECT_EQ(bodies, expected);
    std::vector<std::pair<int, bool>> waits;
    for (const Bytes &body : expected)
        if (awaits_answer(body[0]))
            waits.push_back({body[0], true});
    EXPECT_EQ(syncer.waits, waits);
}

INSTANTIATE_TEST_SUITE_P(NetSyncer, SendOrder, ::testing::ValuesIn(kOrderCases),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(SyncerOnLoopback, ASilentDeviceGetsFreshInputOnlyAndEverythingReleasedWhenBack)
{
    syncer.fakeTime = true;
    syncer.realWaitMs = 2000;
    start_device(9);
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

// Without a socket, or with one never connected, the frame is dropped and the failure logged.
TEST(NetSyncer, FailedSendDropsTheFrameAndIsLogged)
{
    RecordingSyncer syncer;
    const char *line = "LOG_ERROR ***********************m_pTcpSocket->write failed.";
    const int failed = socket_test::log_lines_with(line);
    syncer.queue_km_frame(build_km_login_frame(1));
    syncer.queue_km_frame(build_km_login_frame(2));
    for (const int left : {1, 0}) {
        syncer.set_km_socket(left ? nullptr : std::make_shared<c_tcp_sock>());
        EXPECT_FALSE(syncer.send_next());
        EXPECT_EQ(syncer.km_queue_size(), left);
    }
    EXPECT_EQ(socket_test::log_lines_with(line), failed + 2);
    EXPECT_TRUE(syncer.waits.empty());
}
