// The keyboard/mouse session against a device peer on a loopback socket.
#include "km/c_km_session.h"
#include "km_test_support.h"
#include "protocol/km_frame.h"
#include "tools/key_mouse/c_key_translator.h"

#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using answer = c_km_privilege::give_up_answer;

const key_type kInbound{0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
const key_type kOutbound{0x0E, 0x32, 0x92, 0x32, 0xEA, 0x6D, 0x0D, 0x73};

// Waits without running the event loop, so the main thread cannot react meanwhile.
bool wait_without_events(const std::function<bool()> &pred)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!pred() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return pred();
}

// A connected session with a device peer; the window's actions are recorded. The fixture
// sits between the receive thread and the session and records what the thread delivers
// (read on the main thread only after `handled` says the write is over).
struct KmSession : ::testing::Test, c_abs_net_handler {
    void SetUp() override
    {
        session.set_privilege_actions({[this](bool canGrab) { icon = canGrab ? 1 : 0; }, {}, {}, [this] {
                                           ++questions;
                                           return onQuestion ? onQuestion() : answer::no;
                                       }});
        ASSERT_TRUE(session.create_km_socket("127.0.0.1", peer.port(), this));
        ASSERT_TRUE(peer.accept_client());
        initial = drain(syncer, peer);
    }
    void TearDown() override { session.stop(); }

    std::uint8_t HandleMsg(c_socket_thread *sender, const std::uint8_t *body,
                           std::uint32_t lengthField, std::uint32_t bodyLength) override
    {
        seen.push_back(hex(bytes(body, body + bodyLength)));
        fromReceiver = fromReceiver && session.is_km_receiver(sender);
        count.fetch_add(1);
        session.HandleKMData(sender, body, lengthField, bodyLength);
        handled.fetch_add(1);
        return 0;
    }

    // Device message, then the main thread runs until the handler has seen it all.
    void device_says(const bytes &body, bool cipher = true)
    {
        const int before = handled.load();
        ASSERT_TRUE(peer.send(body, cipher));
        ASSERT_TRUE(QTest::qWaitFor([&] { return handled.load() > before; }, 5000));
    }
    void become_writer()
    {
        device_says({23, 1});
        ASSERT_TRUE(QTest::qWaitFor([&] { return session.mouse().sampler().is_active(); }, 5000));
    }

    strings seen;
    std::atomic<int> count{0};   // messages received
    std::atomic<int> handled{0}; // messages whose handling (main thread part included) ended
    std::atomic<bool> fromReceiver{true};
    log_capture log;
    test_syncer syncer;
    c_key_translator translator;
    c_km_session session{{kInbound, kOutbound, 1}, syncer, translator};
    km_peer peer{kInbound, kOutbound};
    strings initial;
    int icon = -1;
    int questions = 0;
    std::function<answer()> onQuestion;
};

} // namespace

TEST_F(KmSession, LoginAndQueryGoFirstAnswersKeepTheirTrailingZeroKeepAlivesJumpTheQueue)
{
    EXPECT_EQ(initial, (strings{"32 00 00 00 01", "17 00"}));
    EXPECT_FALSE(session.privilege().writing()) << "read-only until the device answers";
    for (const auto &[body, ciphered] : {std::pair{bytes{50, 0}, false}, {bytes{3, 0}, true}, {bytes{3, 1}, true}, {bytes{5, 1}, false}})
        device_says(body, ciphered);
    EXPECT_EQ(seen, (strings{"32 00", "03 00", "03 01", "05 01"}));
    EXPECT_TRUE(fromReceiver);
    EXPECT_EQ(log.count("send keyboard return failed."), 1) << "a refusal is logged, an acceptance not";
    EXPECT_EQ(log.count("send mouse pos return failed."), 1);

    // A keep-alive due while ten mouse frames wait goes first.
    const std::uint8_t move[] = {0, 1, 1, 0};
    for (int i = 0; i < 10; ++i)
        syncer.send_km_data(kKmMouseRelative, move, sizeof move);
    session.start_keep_alive();
    EXPECT_TRUE(session.keep_alive_active());
    session.queue_keep_alive(); // what the timer does every 10 s
    strings expected(11, "05 00 01 01 00");
    expected[0] = "0B 00";
    EXPECT_EQ(drain(syncer, peer), expected);
}

TEST(KmConnect, AFailedConnectReportsFalseAndQueuesNothing)
{
    test_syncer syncer;
    c_key_translator translator;
    c_km_session session({}, syncer, translator);
    const std::uint16_t port = km_peer(kInbound, kOutbound).port(); // closed again at once
    EXPECT_FALSE(session.create_km_socket("127.0.0.1", port));
    EXPECT_FALSE(session.connected());
    EXPECT_EQ(syncer.km_queue_size(), 0);
}

TEST_F(KmSession, SpoiltFramesAreDroppedAndAOneByteAnswerEndsTheWait)
{
    syncer.answerWaitMs = 5000;
    const std::uint8_t report[8] = {0, 0, 4, 0, 0, 0, 0, 0};
    syncer.send_km_data(kKmKeyboard, report, sizeof report);
    std::thread sender([&] { syncer.send_next(); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return syncer.is_waiting_answer(); }, 5000));

    // A bad checksum; lengths no ciphered body can have (wire not whole blocks: never passed
    // on undeciphered, 24 is the right checksum); a good plain answer.
    bytes all = peer.frame_of({3, 0}, true, /*badChecksum=*/true);
    const bytes badLengths = {0xA5, 0x01, 24, 0, 0, 0, 9, 0, 0, 0, 7, 3, 1, 2, 3, 4, 5, 6};
    for (const bytes &frame : {badLengths, peer.frame_of({3}, false)})
        all.insert(all.end(), frame.begin(), frame.end());
    ASSERT_TRUE(peer.send_raw(all));
    sender.join();
    EXPECT_EQ(syncer.answersSeen.load(), 1);
    EXPECT_EQ(seen, (strings{"03"})) << "the spoilt frames never reached the handler";
    EXPECT_EQ(log.count("km frame with plain length 9 and wire length 7 cannot be deciphered, dropped"), 1);
    bytes body;
    ASSERT_TRUE(peer.read_frame(body));
    EXPECT_EQ(hex(body), "03 00 00 04 00 00 00 00 00");
}

TEST_F(KmSession, PrivilegeStateSetsTheFlagBeforeTheMainThreadReactsThenGrabAsksOnce)
{
    for (std::uint8_t value : {1, 0}) {
        const bool writing = value == 1;
        ASSERT_TRUE(peer.send({23, value}));
        ASSERT_TRUE(wait_without_events([&] { return session.privilege().writing() == writing; }));
        EXPECT_EQ(session.mouse().sampler().is_active(), !writing) << "main thread not run yet";
        ASSERT_TRUE(QTest::qWaitFor([&] { return session.mouse().sampler().is_active() == writing; }, 5000));
    }
    EXPECT_EQ(icon, 0);
    EXPECT_EQ(questions, 0);

    // Read-only again: pressing grab twice sends one request until the device turns it down.
    icon = -1;
    session.on_slot_grabPriv();
    session.on_slot_grabPriv();
    EXPECT_EQ(icon, 0);
    EXPECT_EQ(drain(syncer, peer), (strings{"14 00"}));
    device_says({20, 1}); // being handled: still waiting
    session.on_slot_grabPriv();
    EXPECT_EQ(syncer.km_queue_size(), 0);
    device_says({20, 0}); // turned down: may ask again
    session.on_slot_grabPriv();
    EXPECT_EQ(drain(syncer, peer), (strings{"14 00"}));
}

TEST_F(KmSession, TheGiveUpQuestionBlocksTheReceiveThreadAndItsAnswerGoesBack)
{
    for (answer a : {answer::no, answer::yes, answer::closed}) {
        become_writer();
        const int before = count.load();
        onQuestion = [&] {
            // The 21 and a login answer came in one write; the thread waits inside the first.
            EXPECT_EQ(count.load(), before + 1);
            EXPECT_TRUE(session.request_pending());
            return a;
        };
        bytes two = peer.frame_of({21});
        for (std::uint8_t b : peer.frame_of({50, 0}))
            two.push_back(b);
        ASSERT_TRUE(peer.send_raw(two));
        ASSERT_TRUE(QTest::qWaitFor([&] { return count.load() == before + 2; }, 5000));
        // No keeps capturing; Yes, or closing the box, hands the privilege back.
        const bool kept = a == answer::no;
        EXPECT_EQ(session.privilege().writing(), kept) << int(a);
        EXPECT_EQ(session.mouse().sampler().is_active(), kept);
        EXPECT_EQ(icon, kept ? -1 : 0);
        EXPECT_EQ(drain(syncer, peer), (strings{kept ? "15 01" : "15 00"}));
    }
}

namespace {

// A grab result (22, ciphered: [22, 0] must not lose its zero to the padding) and what
// follows: the acknowledgement, the input queued before it, the alignment's twenty reports
// (now, or once the window is active again) and the local pointer moves.
struct GrabCase {
    const char *name;
    bool asked, absolute, active;
    std::uint8_t value;
    int alignNow, alignLater;
};

const GrabCase kGrabCases[] = {
    {"GrantedAlignsAndMovesThePointer", true, false, true, 0, 20, 0},
    {"GrantedWhileInactiveAlignsOnceTheWindowIsActive", true, false, false, 0, 0, 20},
    {"GrantedInAbsoluteModeNeverAligns", true, true, true, 0, 0, 0},
    {"RefusedIsOnlyAcknowledged", true, false, true, 1, 0, 0},
    {"UnrequestedChangesSendsAndMovesNothing", false, false, true, 0, 0, 0},
};

void PrintTo(const GrabCase &c, std::ostream *os) { *os << c.name; }
struct GrabResult : KmSession, ::testing::WithParamInterface<GrabCase> {};

} // namespace

TEST_P(GrabResult, AckAlignmentAndPointer)
{
    const GrabCase &c = GetParam();
    bool active = true;
    int moves = 0;
    session.mouse().set_pointer({{}, {}, [&] { ++moves; }, [&] { return active; }});
    session.mouse().set_mode(c.absolute ? c_km_mouse::mode::absolute : c_km_mouse::mode::relative);
    session.mouse().on_move(); // the start-up alignment is done
    if (c.asked)
        session.on_slot_grabPriv();
    drain(syncer, peer);
    moves = 0;
    active = c.active;
    const std::uint8_t stale[8] = {0, 0, 4, 0, 0, 0, 0, 0};
    syncer.send_km_data(kKmKeyboard, stale, sizeof stale);

    device_says({22, c.value});
    EXPECT_EQ(session.privilege().writing(), c.asked && c.value == 0);
    strings expected(1 + c.alignNow, "05 00 81 81 00");
    // Only a result of ours clears the queue and is acknowledged.
    expected[0] = c.asked ? "16 00" : "03 00 00 04 00 00 00 00 00";
    EXPECT_EQ(drain(syncer, peer), expected);
    EXPECT_EQ(moves, c.alignNow > 0 ? 1 : 0);

    active = true;
    session.mouse().on_window_activated();
    EXPECT_EQ(static_cast<int>(drain(syncer, peer).size()), c.alignLater);
    EXPECT_EQ(moves, c.alignNow + c.alignLater > 0 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(KmSession, GrabResult, ::testing::ValuesIn(kGrabCases),
                         [](const auto &param) { return std::string(param.param.name); });

TEST_F(KmSession, StoppingWhileTheQuestionIsOpenEndsInBoundedTime)
{
    become_writer();
    bool stopped = false;
    onQuestion = [&] {
        session.stop(); // the window closes while the box is up
        stopped = true;
        return answer::closed;
    };
    ASSERT_TRUE(peer.send({21}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return stopped; }, 10000));
    EXPECT_FALSE(session.connected());
}

TEST_F(KmSession, StoppingWhileARequestWaitsForABusyMainThreadWithdrawsIt)
{
    ASSERT_TRUE(peer.send({21}));
    ASSERT_TRUE(wait_without_events([&] { return session.request_pending(); }));
    session.stop(); // the main thread never got to the request
    EXPECT_FALSE(session.connected());
    QCoreApplication::processEvents();
    EXPECT_EQ(questions, 0) << "a withdrawn request does not run later";
    EXPECT_EQ(log.count("withdrawn"), 1);
}

TEST_F(KmSession, TheDeviceClosingTheChannelStopsItWithoutReconnecting)
{
    become_writer();
    session.start_keep_alive();
    bool closed = false;
    QObject::connect(&session, &c_km_session::signal_km_closed, [&] { closed = true; });
    peer.close_client();
    ASSERT_TRUE(QTest::qWaitFor([&] { return closed; }, 5000));
    EXPECT_FALSE(session.connected());
    EXPECT_FALSE(session.keep_alive_active());
    EXPECT_TRUE(session.privilege().writing()) << "the privilege state does not change";
}
