#include "c_input_capture.h"
#include "km/c_km_session.h"
#include "km_peer.h"
#include "km_test_support.h"
#include "logging/ILogManager.h"
#include "protocol/km_frame.h"
#include "tools/key_mouse/c_key_translator.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using bytes = std::vector<std::uint8_t>;

const km_peer::key_type kInbound{1, 2, 3, 4, 5, 6, 7, 8};
const km_peer::key_type kOutbound{0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x07, 0x18};

// The remote screen label; remembers the keys that reached it.
class screen_label : public QLabel {
public:
    using QLabel::QLabel;
    std::vector<int> keys;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        keys.push_back(event->key());
        QLabel::keyPressEvent(event);
    }
};

// A window with the screen label, the capture installed on both, and a syncer whose list
// is read back through a loopback peer.
struct CaptureFixture : ::testing::Test {
    void SetUp() override
    {
        ASSERT_TRUE(peer.port() != 0);
        sock->set_remote_addr("127.0.0.1", peer.port());
        ASSERT_EQ(sock->create_sock(nullptr, 0, 2000), 1);
        ASSERT_TRUE(peer.accept_client());
        syncer.set_km_socket(sock);
        syncer.set_outbound_key(kOutbound.data());

        window.resize(1100, 800);
        screen->setGeometry(0, 0, 1024, 768);
        screen->setFocusPolicy(Qt::StrongFocus);
        window.installEventFilter(&capture);
        screen->installEventFilter(&capture);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        screen->setFocus();
        session.mouse().set_geometry({0, 0}, remote_1024x768());
    }

    void TearDown() override { QApplication::restoreOverrideCursor(); }

    static picture_geometry remote_1024x768()
    {
        picture_geometry g;
        g.imageWidth = g.remoteWidth = 1024;
        g.imageHeight = g.remoteHeight = 768;
        return g;
    }

    void write(bool on) { session.privilege().on_privilege_state(on ? 1 : 0); }
    std::vector<std::string> sent()
    {
        std::vector<std::string> out;
        for (const bytes &b : drain(syncer, peer))
            out.push_back(hex(b));
        return out;
    }
    void put_cursor(int x, int y) { QCursor::setPos(screen->mapToGlobal(QPoint(x, y))); }

    km_peer peer{kInbound, kOutbound};
    std::shared_ptr<c_tcp_sock> sock = std::make_shared<c_tcp_sock>();
    test_syncer syncer;
    c_key_translator translator;
    c_km_session session{{kInbound, kOutbound}, syncer, translator};
    QWidget window;
    screen_label *screen = new screen_label(&window);
    c_input_capture capture{session, &translator, &window, screen};
};

using strings = std::vector<std::string>;

} // namespace

TEST_F(CaptureFixture, ReadOnlySendsNothingAndLeavesKeysToTheLabel)
{
    write(false);
    QTest::keyClick(screen, Qt::Key_A);
    QTest::mouseMove(screen, QPoint(10, 10));
    QTest::mouseClick(screen, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(screen->keys, (std::vector<int>{Qt::Key_A}));
    EXPECT_EQ(syncer.km_queue_size(), 0);
}

TEST_F(CaptureFixture, KeysBecomeReportsWhileWriting)
{
    write(true);
    QTest::keyPress(screen, Qt::Key_Shift);
    QTest::keyPress(screen, Qt::Key_A);
    QTest::keyPress(screen, Qt::Key_A, {}, -1); // auto-repeat sends the same report again
    QTest::keyRelease(screen, Qt::Key_Shift);
    QTest::keyRelease(screen, Qt::Key_A);
    EXPECT_TRUE(screen->keys.empty()) << "consumed";

    std::size_t wireSize = 0;
    ASSERT_TRUE(syncer.send_next());
    bytes first;
    ASSERT_TRUE(peer.read_frame(first, &wireSize));
    EXPECT_EQ(hex(first), "03 02 00 00 00 00 00 00 00");
    EXPECT_EQ(wireSize, 27u) << "8-byte report: 9 plain, 16 ciphered, 27 in all";
    EXPECT_EQ(sent(), (strings{"03 02 00 04 00 00 00 00 00", "03 02 00 04 00 00 00 00 00",
                               "03 00 00 04 00 00 00 00 00", "03 00 00 00 00 00 00 00 00"}));
}

TEST_F(CaptureFixture, KeysWithoutUsageAreLeftToQt)
{
    write(true);
    QTest::keyClick(screen, Qt::Key_Print); // 0x01000009: not the print screen key here
    EXPECT_EQ(screen->keys, (std::vector<int>{Qt::Key_Print}));
    EXPECT_EQ(syncer.km_queue_size(), 0);
}

TEST_F(CaptureFixture, ALockKeyHoldsOffTheDevicesLedReports)
{
    write(true);
    EXPECT_FALSE(session.led().held_off());
    QTest::keyClick(screen, Qt::Key_CapsLock);
    EXPECT_TRUE(session.led().held_off());
    EXPECT_EQ(sent(), (strings{"03 00 00 39 00 00 00 00 00", "03 00 00 00 00 00 00 00 00"}));
}

TEST_F(CaptureFixture, LosingTheWindowReleasesEveryHeldKey)
{
    write(true);
    QTest::keyPress(screen, Qt::Key_Shift);
    QTest::keyPress(screen, Qt::Key_B);
    sent();
    write(false); // held keys stay held on the device, even after the privilege went
    QEvent deactivate(QEvent::WindowDeactivate);
    EXPECT_TRUE(capture.filter_event(&window, &deactivate));
    EXPECT_EQ(sent(), (strings{"03 00 00 00 00 00 00 00 00"}));
    EXPECT_EQ(hex(bytes(translator.report(), translator.report() + 8)), "00 00 00 00 00 00 00 00");
}

TEST_F(CaptureFixture, TypedKeysAreLoggedOnlyAtTraceLevel)
{
    write(true);
    {
        log_capture normal(LOG_LEVEL_DEBUG);
        QTest::keyClick(screen, Qt::Key_S);
        EXPECT_FALSE(normal.contains("keyPress2,"));
        EXPECT_FALSE(normal.contains("keyRelease2,"));
    }
    log_capture trace(LOG_LEVEL_TRACE);
    QTest::keyClick(screen, Qt::Key_S);
    EXPECT_TRUE(trace.contains("keyPress2,83,keyBuf=0,0,22,0,0,0,0,0"));
    EXPECT_TRUE(trace.contains("keyRelease2,83,keyBuf=0,0,0,0,0,0,0,0"));
}

TEST_F(CaptureFixture, ACombinationIsOnePressThenAllKeysUp)
{
    write(true);
    QTest::keyPress(screen, Qt::Key_Control);
    sent();
    capture.send_combo({c_key_translator::kPrintScreenKey});
    EXPECT_EQ(sent(), (strings{"03 00 00 46 00 00 00 00 00", "03 00 00 00 00 00 00 00 00"}));
    EXPECT_EQ(translator.report()[0], 0x01) << "the held Control stays held";
}

TEST_F(CaptureFixture, AbsoluteMouseSamplesTheCursorAndSendsButtonsAtOnce)
{
    session.mouse().set_mode(c_km_mouse::mode::absolute);
    write(true);
    put_cursor(512, 384);
    QTest::mouseMove(screen, QPoint(512, 384));
    session.mouse().sample_tick();
    session.mouse().sample_tick(); // no move since: nothing
    QTest::mousePress(screen, Qt::LeftButton, {}, QPoint(512, 384));
    QTest::mouseRelease(screen, Qt::LeftButton, {}, QPoint(512, 384));
    QWheelEvent up(QPointF(512, 384), QPointF(screen->mapToGlobal(QPoint(512, 384))), {},
                   QPoint(0, 120), Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(screen, &up);
    EXPECT_EQ(sent(), (strings{"2C 00 C0 03 58 02 00", "2C 01 C0 03 58 02 00",
                               "2C 00 C0 03 58 02 00", "2C 00 C0 03 58 02 01"}));
}

TEST_F(CaptureFixture, RelativeMouseAlignsFirstThenSendsMovesAndButtons)
{
    write(true);
    put_cursor(300, 0);
    QTest::mouseMove(screen, QPoint(300, 0));
    const std::vector<std::string> align = sent();
    ASSERT_EQ(align.size(), 20u);
    EXPECT_EQ(align.front(), "05 00 81 81 00");
    EXPECT_EQ(QCursor::pos(), screen->mapToGlobal(QPoint(0, 0))) << "cursor to the corner";

    put_cursor(300, 0);
    QTest::mouseMove(screen, QPoint(300, 0));
    session.mouse().sample_tick();
    QTest::mousePress(screen, Qt::RightButton, {}, QPoint(300, 0));
    QTest::mousePress(screen, Qt::MiddleButton, {}, QPoint(300, 0));
    EXPECT_EQ(sent(), (strings{"05 00 7F 00 00", "05 00 7F 00 00", "05 00 2E 00 00",
                               "05 02 00 00 00", "05 02 00 00 04"}));

    // The wheel sends the movement still pending, never a wheel value.
    put_cursor(290, 0);
    QWheelEvent down(QPointF(290, 0), QPointF(screen->mapToGlobal(QPoint(290, 0))), {},
                     QPoint(0, -120), Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(screen, &down);
    EXPECT_EQ(sent(), (strings{"05 02 F6 00 00"}));
}

TEST_F(CaptureFixture, TheCursorOverTheScreenIsACrossOrNothing)
{
    write(true);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(screen->mapToGlobal(QPoint(5, 5))));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(screen, &enter);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    const Qt::CursorShape cross = QApplication::overrideCursor()->shape();
    EXPECT_TRUE(cross == Qt::BitmapCursor || cross == Qt::CrossCursor) << cross;

    bool shownSignal = true;
    QObject::connect(&capture, &c_input_capture::signal_mouse_show_changed,
                     [&](bool shown) { shownSignal = shown; });
    capture.toggle_mouse_show();
    EXPECT_FALSE(shownSignal);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BlankCursor);

    write(false); // the privilege went while the cursor was over the screen
    QCoreApplication::sendEvent(screen, &leave);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "restored all the same";
}
