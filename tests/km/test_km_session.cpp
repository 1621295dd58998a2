#include "km/c_km_session.h"
#include "km_peer.h"
#include "km_test_support.h"
#include "protocol/frame.h"
#include "protocol/km_frame.h"
#include "tools/key_mouse/c_key_translator.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

namespace {

using bytes = std::vector<std::uint8_t>;
using answer = c_km_privilege::give_up_answer;

const km_peer::key_type kInbound{0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
const km_peer::key_type kOutbound{0x0E, 0x32, 0x92, 0x32, 0xEA, 0x6D, 0x0D, 0x73};

// Waits without running the event loop, so the main thread cannot react meanwhile.
template <typename Pred>
bool wait_without_events(Pred pred, int timeoutMs = 5000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Sits between the receive thread and the session: records what the thread delivers.
struct recording_handler : c_abs_net_handler {
    c_km_session *session = nullptr;
    mutable std::mutex mutex;
    std::vector<bytes> seen;
    std::atomic<int> count{0};   // messages received
    std::atomic<int> handled{0}; // messages whose handling (main thread part included) ended
    std::atomic<bool> fromReceiver{true};

    std::uint8_t HandleMsg(c_socket_thread *sender, const std::uint8_t *body,
                           std::uint32_t lengthField, std::uint32_t bodyLength) override
    {
        {
            std::lock_guard lock(mutex);
            seen.emplace_back(body, body + bodyLength);
        }
        if (!session->is_km_receiver(sender))
            fromReceiver = false;
        count.fetch_add(1);
        session->HandleKMData(sender, body, lengthField, bodyLength);
        handled.fetch_add(1);
        return 0;
    }
    bytes at(std::size_t i) const
    {
        std::lock_guard lock(mutex);
        return i < seen.size() ? seen[i] : bytes{};
    }
};

// A connected session with a device peer; the window's actions are recorded.
struct SessionFixture : ::testing::Test {
    void SetUp() override
    {
        recorder.session = &session;
        c_km_privilege::actions a;
        a.set_grab_icon = [this](bool canGrab) { icon = canGrab ? 1 : 0; };
        a.ask_give_up = [this] {
            ++questions;
            return onQuestion ? onQuestion() : answer::no;
        };
        session.set_privilege_actions(a);
        ASSERT_NE(peer.port(), 0);
        ASSERT_TRUE(session.create_km_socket("127.0.0.1", peer.port(), &recorder));
        ASSERT_TRUE(peer.accept_client());
        // Login and privilege query go first; later tests read only their own frames.
        initial = drain(syncer, peer);
    }

    void TearDown() override { session.stop(); }

    // Device message, then the main thread runs until the handler has seen it all.
    void device_says(const bytes &body, bool cipher = true)
    {
        const int before = recorder.handled.load();
        ASSERT_TRUE(peer.send(body, cipher));
        // Events are processed meanwhile: a message handed to the main thread is run there.
        ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.handled.load() > before; }, 5000));
    }

    void become_writer()
    {
        device_says({23, 1});
        ASSERT_TRUE(QTest::qWaitFor([&] { return session.mouse().sampler().is_active(); }, 5000));
    }

    log_capture log;
    test_syncer syncer;
    c_key_translator translator;
    c_km_session session{{kInbound, kOutbound, 1}, syncer, translator};
    km_peer peer{kInbound, kOutbound};
    recording_handler recorder;
    std::vector<bytes> initial;
    int icon = -1;
    int questions = 0;
    std::function<answer()> onQuestion;
};

} // namespace

TEST_F(SessionFixture, SetUpQueuesTheLoginThenThePrivilegeQuery)
{
    ASSERT_EQ(initial.size(), 2u);
    EXPECT_EQ(hex(initial[0]), "32 00 00 00 01");
    EXPECT_EQ(hex(initial[1]), "17 00");
    EXPECT_FALSE(session.privilege().writing()) << "read-only until the device answers";

    device_says({50, 0});
    EXPECT_TRUE(log.contains("km recv userID  ack,value=0"));
    EXPECT_TRUE(recorder.fromReceiver);
}

TEST_F(SessionFixture, AKeepAliveDueWhileTenMouseFramesWaitGoesFirst)
{
    const std::uint8_t move[] = {0, 1, 1, 0};
    for (int i = 0; i < 10; ++i)
        syncer.send_km_data(kKmMouseRelative, move, sizeof move);
    session.start_keep_alive();
    EXPECT_TRUE(session.keep_alive_active());
    session.queue_keep_alive(); // what the timer does every 10 s
    const std::vector<bytes> sent = drain(syncer, peer);
    ASSERT_EQ(sent.size(), 11u);
    EXPECT_EQ(hex(sent[0]), "0B 00");
    for (std::size_t i = 1; i < sent.size(); ++i)
        EXPECT_EQ(hex(sent[i]), "05 00 01 01 00") << i;
}

TEST(KmSession, AFailedConnectReportsFalse)
{
    test_syncer syncer;
    c_key_translator translator;
    c_km_session session({}, syncer, translator);
    std::uint16_t port = 0;
    {
        km_peer gone(kInbound, kOutbound);
        port = gone.port();
    }
    EXPECT_FALSE(session.create_km_socket("127.0.0.1", port));
    EXPECT_FALSE(session.connected());
    EXPECT_EQ(syncer.km_queue_size(), 0) << "nothing queued for a channel that is not there";
}

TEST_F(SessionFixture, SpoiltFramesAreDroppedAndAOneByteAnswerEndsTheWait)
{
    syncer.answerWaitMs = 5000;
    const std::uint8_t report[8] = {0, 0, 4, 0, 0, 0, 0, 0};
    syncer.send_km_data(kKmKeyboard, report, sizeof report);
    std::thread sender([&] { syncer.send_next(); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return syncer.is_waiting_answer(); }, 5000));

    bytes all = peer.frame_of({3, 0}, true, /*badChecksum=*/true);
    // Lengths no ciphered body can have (wire not whole blocks): never passed on undeciphered.
    bytes badLengths = {0xA5, 0x01, 0, 0, 0, 0, 9, 0, 0, 0, 7, 3, 1, 2, 3, 4, 5, 6};
    badLengths[2] = sum8(badLengths.data() + 11, 7);
    const bytes good = peer.frame_of({3}, false);
    for (const bytes *frame : std::initializer_list<const bytes *>{&badLengths, &good})
        all.insert(all.end(), frame->begin(), frame->end());
    ASSERT_TRUE(peer.send_raw(all));
    sender.join();
    EXPECT_EQ(syncer.answersSeen.load(), 1);
    ASSERT_EQ(recorder.count.load(), 1) << "the spoilt frames never reached the handler";
    EXPECT_TRUE(log.contains("km frame with plain length 9 and wire length 7 cannot be deciphered, dropped"));
    EXPECT_EQ(hex(recorder.at(0)), "03");
    bytes body;
    ASSERT_TRUE(peer.read_frame(body));
    EXPECT_EQ(hex(body), "03 00 00 04 00 00 00 00 00");
}

TEST_F(SessionFixture, CipheredAnswersKeepTheirTrailingZeroValue)
{
    device_says({3, 0});
    EXPECT_EQ(hex(recorder.at(0)), "03 00");
    device_says({3, 1});
    device_says({5, 1}, false);
    EXPECT_EQ(hex(recorder.at(1)), "03 01");
    const std::string text = log.text();
    EXPECT_EQ(text.find("send keyboard return failed."), text.rfind("send keyboard return failed."))
        << "only the refusal is logged";
    EXPECT_TRUE(log.contains("send keyboard return failed."));
    EXPECT_TRUE(log.contains("send mouse pos return failed."));
}

TEST_F(SessionFixture, PrivilegeStateSetsTheFlagBeforeTheMainThreadReactsWithoutADialog)
{
    for (std::uint8_t value : {1, 0}) {
        const bool writing = value == 1;
        ASSERT_TRUE(peer.send({23, value}));
        ASSERT_TRUE(wait_without_events([&] { return session.privilege().writing() == writing; }));
        EXPECT_EQ(session.mouse().sampler().is_active(), !writing) << "main thread not run yet";
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return session.mouse().sampler().is_active() == writing; }, 5000));
    }
    EXPECT_EQ(icon, 0);
    EXPECT_EQ(questions, 0);
}

TEST_F(SessionFixture, TheGiveUpQuestionBlocksTheReceiveThreadAndItsAnswerGoesBack)
{
    for (answer a : {answer::no, answer::yes, answer::closed}) {
        become_writer();
        const int before = recorder.count.load();
        onQuestion = [&] {
            // The 21 and a login answer came in one write; the thread waits inside the first.
            EXPECT_EQ(recorder.count.load(), before + 1);
            EXPECT_TRUE(session.request_pending());
            return a;
        };
        bytes two = peer.frame_of({21}, true);
        const bytes ack = peer.frame_of({50, 0}, true);
        two.insert(two.end(), ack.begin(), ack.end());
        ASSERT_TRUE(peer.send_raw(two));
        ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.count.load() == before + 2; }, 5000));
        // No keeps capturing; Yes, or closing the box, hands the privilege back.
        const bool kept = a == answer::no;
        EXPECT_EQ(session.privilege().writing(), kept) << int(a);
        EXPECT_EQ(session.mouse().sampler().is_active(), kept);
        EXPECT_EQ(icon, kept ? -1 : 0);
        const std::vector<bytes> sent = drain(syncer, peer);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(hex(sent[0]), kept ? "15 01" : "15 00");
    }
}

TEST_F(SessionFixture, PressingGrabTwiceSendsOneRequest)
{
    session.on_slot_grabPriv();
    session.on_slot_grabPriv();
    EXPECT_EQ(icon, 0);
    EXPECT_FALSE(session.privilege().request_allowed());
    std::vector<bytes> sent = drain(syncer, peer);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(hex(sent[0]), "14 00");

    device_says({20, 1}); // being handled: still waiting
    session.on_slot_grabPriv();
    EXPECT_EQ(syncer.km_queue_size(), 0);
    device_says({20, 0}); // turned down: may ask again
    session.on_slot_grabPriv();
    sent = drain(syncer, peer);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(hex(sent[0]), "14 00");
}

namespace {

// A grab result (22, ciphered: [22, 0] must not lose its zero to the padding) and what
// follows: the acknowledgement, the input queued before it, the alignment's twenty reports
// (now, or once the window is active again) and the local pointer moves.
struct GrabCase {
    const char *name;
    bool asked, absolute, active;
    std::uint8_t value;
    bool writing;
    int alignNow, alignLater;
    friend std::ostream &operator<<(std::ostream &os, const GrabCase &c) { return os << c.name; }
};

const GrabCase kGrabCases[] = {
    {"GrantedAlignsAndMovesThePointer", true, false, true, 0, true, 20, 0},
    {"GrantedWhileInactiveAlignsOnceTheWindowIsActive", true, false, false, 0, true, 0, 20},
    {"GrantedInAbsoluteModeNeverAligns", true, true, true, 0, true, 0, 0},
    {"RefusedIsOnlyAcknowledged", true, false, true, 1, false, 0, 0},
    {"UnrequestedChangesSendsAndMovesNothing", false, false, true, 0, false, 0, 0},
};

struct GrabResult : SessionFixture, ::testing::WithParamInterface<GrabCase> {};

std::string grab_case_name(const ::testing::TestParamInfo<GrabCase> &param)
{
    return param.param.name;
}

} // namespace

TEST_P(GrabResult, AckAlignmentAndPointer)
{
    const GrabCase &c = GetParam();
    bool active = true;
    int moves = 0;
    c_km_mouse::pointer_access pointer;
    pointer.move_to_label_origin = [&] { ++moves; };
    pointer.window_active = [&] { return active; };
    session.mouse().set_pointer(pointer);
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
    EXPECT_EQ(session.privilege().writing(), c.writing);
    const std::vector<bytes> sent = drain(syncer, peer);
    ASSERT_EQ(sent.size(), 1u + c.alignNow);
    EXPECT_EQ(hex(sent[0]), c.asked ? "16 00" : "03 00 00 04 00 00 00 00 00")
        << "only a result of ours clears the queue and is acknowledged";
    for (std::size_t i = 1; i < sent.size(); ++i)
        EXPECT_EQ(hex(sent[i]), "05 00 81 81 00");
    EXPECT_EQ(moves, c.alignNow > 0 ? 1 : 0);

    active = true;
    session.mouse().on_window_activated();
    EXPECT_EQ(static_cast<int>(drain(syncer, peer).size()), c.alignLater);
    EXPECT_EQ(moves, c.alignNow + c.alignLater > 0 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(KmSession, GrabResult, ::testing::ValuesIn(kGrabCases), grab_case_name);

TEST_F(SessionFixture, StoppingWhileTheQuestionIsOpenEndsInBoundedTime)
{
    become_writer();
    bool stopped = false;
    onQuestion = [&] {
        // The window closes while the box is up.
        session.stop();
        stopped = true;
        return answer::closed;
    };
    ASSERT_TRUE(peer.send({21}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return stopped; }, 10000));
    EXPECT_FALSE(session.connected());
}

TEST_F(SessionFixture, StoppingWhileARequestWaitsForABusyMainThreadEnds)
{
    ASSERT_TRUE(peer.send({21}));
    ASSERT_TRUE(wait_without_events([&] { return session.request_pending(); }));
    session.stop(); // the main thread never got to the request
    EXPECT_FALSE(session.connected());
    QCoreApplication::processEvents();
    EXPECT_EQ(questions, 0) << "a withdrawn request does not run later";
    EXPECT_TRUE(log.contains("withdrawn"));
}

TEST_F(SessionFixture, TheDeviceClosingTheChannelStopsItWithoutReconnecting)
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
