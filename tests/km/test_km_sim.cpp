// Keyboard/mouse sessions against the simulated device, in-process on free ports.
#include "c_input_capture.h"
#include "c_sim_runner.h"
#include "km/c_km_session.h"
#include "km_peer.h"
#include "tools/key_mouse/c_key_translator.h"

#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

using answer = c_km_privilege::give_up_answer;

const c_km_session::key_type kDeviceSends{0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
const c_km_session::key_type kDeviceReceives{0x0E, 0x32, 0x92, 0x32, 0xEA, 0x6D, 0x0D, 0x73};

c_sim_options small_device()
{
    c_sim_options options = c_sim_options::in_process(320, 240, 2);
    options.desEncode = kDeviceSends;
    options.desDecode = kDeviceReceives;
    return options;
}

// Sends the outgoing list as the media send thread does: send-next before each turn, a
// short rest when there is nothing to send.
class syncer_pump {
public:
    explicit syncer_pump(c_net_syncer &syncer)
        : m_thread([this, &syncer] {
              while (!m_stop.load())
                  if (!syncer.send_next())
                      std::this_thread::sleep_for(std::chrono::milliseconds(5));
          })
    {
    }
    ~syncer_pump()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// One viewer's keyboard/mouse side: session, translator, the list's sender, and the window's
// answers to the give-up question.
struct viewer {
    explicit viewer(std::uint16_t port)
    {
        syncer.answerWaitMs = c_net_syncer::kAnswerWaitMs;
        session.set_keys(kDeviceSends, kDeviceReceives);
        session.set_user_id(7);
        c_km_privilege::actions a;
        a.ask_give_up = [this] {
            ++questions;
            return giveUp;
        };
        session.set_privilege_actions(a);
        connected = session.create_km_socket("127.0.0.1", port);
        pump = std::make_unique<syncer_pump>(syncer);
    }
    ~viewer()
    {
        pump.reset();
        session.stop();
    }

    test_syncer syncer;
    c_key_translator translator;
    c_km_session session{syncer, translator};
    std::unique_ptr<syncer_pump> pump;
    bool connected = false;
    answer giveUp = answer::no;
    int questions = 0;
};

struct SimFixture : ::testing::Test {
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(sim.start(error)) << error.toStdString();
    }
    std::uint16_t km_port() const { return sim.port(c_sim_connection::kind::km); }
    bool reply_has(const std::string &command, const std::string &piece, int timeoutMs = 5000)
    {
        return QTest::qWaitFor(
            [&] { return sim.command(command).find(piece) != std::string::npos; }, timeoutMs);
    }

    c_sim_runner sim{small_device()};
};

} // namespace

TEST_F(SimFixture, TypedKeysReachTheRemoteComputerDeciphered)
{
    viewer v(km_port());
    ASSERT_TRUE(v.connected);
    ASSERT_TRUE(QTest::qWaitFor([&] { return v.session.privilege().writing(); }, 5000))
        << "the first viewer to ask holds the privilege";

    QWidget window;
    QLabel *screen = new QLabel(&window);
    screen->resize(320, 240);
    c_input_capture capture(v.session, &v.translator, &window, screen);
    screen->installEventFilter(&capture);
    QTest::keyClick(screen, Qt::Key_H);
    QTest::keyClick(screen, Qt::Key_I, Qt::ShiftModifier);
    QTest::keyPress(screen, Qt::Key_Shift);
    QTest::keyClick(screen, Qt::Key_Exclam);
    QTest::keyRelease(screen, Qt::Key_Shift);
    EXPECT_TRUE(reply_has("console", "h") && reply_has("console", "!"))
        << sim.command("console");
    EXPECT_TRUE(reply_has("dump 100", "\"type\":3,\"payload\":\"00000b0000000000\""))
        << sim.command("dump 100");
    EXPECT_EQ(sim.command("dump 100").find("\"error\""), std::string::npos)
        << "every frame deciphered and checked";
}

TEST_F(SimFixture, TwoViewersHandThePrivilegeBackAndForth)
{
    viewer a(km_port());
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.session.privilege().writing(); }, 5000));
    viewer b(km_port());
    ASSERT_TRUE(reply_has("viewers", "km:1,2"));
    ASSERT_TRUE(reply_has("status", "holder=1"));
    EXPECT_FALSE(b.session.privilege().writing());

    // B asks, A gives up: B writes, A reads.
    a.giveUp = answer::yes;
    b.session.on_slot_grabPriv();
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.session.privilege().writing(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !a.session.privilege().writing(); }, 5000));
    EXPECT_EQ(a.questions, 1);
    EXPECT_TRUE(reply_has("status", "holder=2"));
    EXPECT_TRUE(b.session.mouse().sampler().is_active());
    EXPECT_FALSE(a.session.mouse().sampler().is_active());

    // A asks back, B refuses: B keeps writing, A may ask again.
    b.giveUp = answer::no;
    a.session.on_slot_grabPriv();
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.questions == 1; }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.session.privilege().request_allowed(); }, 5000));
    EXPECT_TRUE(b.session.privilege().writing());
    EXPECT_FALSE(a.session.privilege().writing());
    EXPECT_TRUE(reply_has("status", "holder=2"));

    // Asked again, B gives up this time.
    b.giveUp = answer::yes;
    a.session.on_slot_grabPriv();
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.session.privilege().writing(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !b.session.privilege().writing(); }, 5000));
    EXPECT_TRUE(reply_has("status", "holder=1"));
}
