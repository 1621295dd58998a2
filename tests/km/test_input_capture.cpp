// Real Qt key and mouse events on a window, turned into the frames a device peer receives.
#include "c_input_capture.h"
#include "km/c_km_session.h"
#include "km/c_main_request.h"
#include "km_test_support.h"
#include "tools/key_mouse/c_key_translator.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

namespace {

const key_type kInbound{1, 2, 3, 4, 5, 6, 7, 8};
const key_type kOutbound{0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x07, 0x18};

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
struct InputCapture : ::testing::Test {
    void SetUp() override
    {
        ASSERT_TRUE(session.create_km_socket("127.0.0.1", peer.port()));
        ASSERT_TRUE(peer.accept_client());
        drain(syncer, peer); // login and privilege query

        window.resize(1100, 800);
        screen->setGeometry(0, 0, 1024, 768);
        screen->setFocusPolicy(Qt::StrongFocus);
        window.installEventFilter(&capture);
        screen->installEventFilter(&capture);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        screen->setFocus();
        session.mouse().set_geometry({0, 0}, {1024, 768, 1, 1, 1024, 768});
    }

    void write(bool on) { session.privilege().on_privilege_state(on ? 1 : 0); }
    strings sent() { return drain(syncer, peer); }
    void put_cursor(int x, int y) { QCursor::setPos(screen->mapToGlobal(QPoint(x, y))); }
    void wheel(int x, int delta)
    {
        QWheelEvent event(QPointF(x, 0), QPointF(screen->mapToGlobal(QPoint(x, 0))), {},
                          QPoint(0, delta), Qt::NoButton, {}, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(screen, &event);
    }

    km_peer peer{kInbound, kOutbound};
    test_syncer syncer;
    c_key_translator translator;
    c_km_session session{{kInbound, kOutbound}, syncer, translator};
    QWidget window;
    screen_label *screen = new screen_label(&window);
    c_input_capture capture{session, &translator, &window, screen};
};

// Keys clicked (pressed and released), the keys left to the label and the reports sent.
struct key_case {
    const char *name;
    bool writing;
    std::vector<Qt::Key> clicks;
    std::vector<int> labelKeys;
    strings sent;
    bool heldOff;
};

const key_case kKeyCases[] = {
    {"ReadOnlySendsNothingAndLeavesKeysToTheLabel", false, {Qt::Key_A}, {Qt::Key_A}, {}, false},
    {"KeysBecomeReportsWhileWriting", true, {Qt::Key_A, Qt::Key_Z}, {},
     {"03 00 00 04 00 00 00 00 00", "03 00 00 00 00 00 00 00 00", "03 00 00 1D 00 00 00 00 00",
      "03 00 00 00 00 00 00 00 00"}, false},
    // 0x01000009 is not the print screen key here.
    {"KeysWithoutUsageAreLeftToQt", true, {Qt::Key_Print}, {Qt::Key_Print}, {}, false},
    {"ALockKeyHoldsOffTheDevicesLedReports", true, {Qt::Key_CapsLock}, {},
     {"03 00 00 39 00 00 00 00 00", "03 00 00 00 00 00 00 00 00"}, true},
};

void PrintTo(const key_case &c, std::ostream *os) { *os << c.name; }
struct InputCaptureKeys : InputCapture, ::testing::WithParamInterface<key_case> {};

} // namespace

TEST_P(InputCaptureKeys, ReachTheDeviceOrTheLabel)
{
    const key_case &c = GetParam();
    write(c.writing);
    for (Qt::Key key : c.clicks)
        QTest::keyClick(screen, key);
    EXPECT_EQ(sent(), c.sent);
    EXPECT_EQ(screen->keys, c.labelKeys);
    EXPECT_EQ(session.led().held_off(), c.heldOff);
}

INSTANTIATE_TEST_SUITE_P(InputCapture, InputCaptureKeys, ::testing::ValuesIn(kKeyCases),
                         [](const auto &param) { return std::string(param.param.name); });

TEST_F(InputCapture, ACombinationLeavesTheHeldKeysAlone)
{
    write(true);
    QTest::keyPress(screen, Qt::Key_Control);
    QTest::keyPress(screen, Qt::Key_B);
    sent();
    capture.send_combo({c_key_translator::kPrintScreenKey}); // one press, then all keys up
    EXPECT_EQ(sent(), (strings{"03 00 00 46 00 00 00 00 00", "03 00 00 00 00 00 00 00 00"}));
    EXPECT_EQ(translator.report()[0], 0x01) << "the held Control stays held";
}

// Whatever may keep keys from the screen lets go of what is held there: keys and buttons
// are released on the device at once (the device itself lets go when the privilege goes),
// and a key pressed afterwards goes alone.
TEST_F(InputCapture, HeldKeysAndButtonsAreLetGoWheneverKeysMayStopReachingTheScreen)
{
    const strings released{"03 00 00 00 00 00 00 00 00", "05 00 00 00 00"};
    const std::tuple<const char *, std::function<void()>, strings> triggers[] = {
        {"focus taken by a menu", [&] {
             QFocusEvent out(QEvent::FocusOut, Qt::PopupFocusReason);
             QCoreApplication::sendEvent(screen, &out);
         }, released},
        {"window deactivated", [&] {
             QEvent deactivate(QEvent::WindowDeactivate);
             EXPECT_TRUE(capture.filter_event(&window, &deactivate));
         }, released},
        {"full screen", [&] { window.setWindowState(Qt::WindowFullScreen); }, released},
        {"privilege lost", [&] {
             write(false);
             session.privilege().handle_request(c_main_request::kPrivilegeState, 0);
         }, {}},
    };
    for (const auto &[name, trigger, expected] : triggers) {
        write(true);
        QTest::keyPress(screen, Qt::Key_Shift);
        QTest::keyPress(screen, Qt::Key_A);
        QTest::mousePress(screen, Qt::RightButton, {}, QPoint(10, 10));
        sent();
        trigger();
        EXPECT_EQ(sent(), expected) << name;
        write(true);
        QTest::keyPress(screen, Qt::Key_B);
        QTest::mouseRelease(screen, Qt::LeftButton, {}, QPoint(10, 10));
        EXPECT_EQ(sent(), (strings{"03 00 00 05 00 00 00 00 00", "05 00 00 00 00"})) << name;
        QTest::keyRelease(screen, Qt::Key_B);
        window.setWindowState(Qt::WindowNoState);
        sent();
    }
}

TEST_F(InputCapture, TypedKeysAreLoggedAtTraceLevelOnly)
{
    write(true);
    for (int level : {LOG_LEVEL_DEBUG, LOG_LEVEL_TRACE}) {
        log_capture log(level);
        QTest::keyClick(screen, Qt::Key_S);
        EXPECT_EQ(log.count("keyPress2,83,keyBuf=0,0,22,0,0,0,0,0"), level == LOG_LEVEL_TRACE ? 1 : 0);
        EXPECT_EQ(log.count("keyRelease2,83,keyBuf=0,0,0,0,0,0,0,0"), level == LOG_LEVEL_TRACE ? 1 : 0);
    }
}

TEST_F(InputCapture, AbsoluteMouseSamplesTheCursorAndSendsButtonsAtOnce)
{
    session.mouse().set_mode(c_km_mouse::mode::absolute);
    write(true);
    put_cursor(512, 384);
    QTest::mouseMove(screen, QPoint(512, 384));
    session.mouse().sample_tick();
    session.mouse().sample_tick(); // no move since: nothing
    QTest::mouseClick(screen, Qt::LeftButton, {}, QPoint(512, 384));
    wheel(512, 120);
    EXPECT_EQ(sent(), (strings{"2C 00 C0 03 58 02 00", "2C 01 C0 03 58 02 00",
                               "2C 00 C0 03 58 02 00", "2C 00 C0 03 58 02 01"}));
}

TEST_F(InputCapture, RelativeMouseAlignsFirstThenSendsMovesAndButtons)
{
    write(true);
    put_cursor(300, 0);
    QTest::mouseMove(screen, QPoint(300, 0));
    const strings align = sent();
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
    // The wheel sends the movement still pending, then its notches in the wheel byte.
    put_cursor(290, 0);
    wheel(290, -240);
    EXPECT_EQ(sent(), (strings{"05 02 F6 00 00", "05 02 00 00 FE"}));
    QTest::mouseRelease(screen, Qt::MiddleButton, {}, QPoint(290, 0));
    QTest::mouseRelease(screen, Qt::RightButton, {}, QPoint(290, 0));
    sent();

    // A view panned by (100, 40) shows label pixel (290, 0) as remote (390, 40): the cursor
    // stays there, and the remote pointer goes from the corner to that pixel.
    session.mouse().set_geometry({-100, -40}, {1024, 768, 1, 1, 1024, 768});
    session.mouse().align_mouse();
    EXPECT_EQ(sent().size(), 20u);
    EXPECT_EQ(QCursor::pos(), screen->mapToGlobal(QPoint(290, 0))) << "the cursor stays";
    session.mouse().sample_tick();
    EXPECT_EQ(sent(), (strings{"05 00 7F 28 00", "05 00 7F 00 00", "05 00 7F 00 00", "05 00 09 00 00"}));
}

TEST_F(InputCapture, TheCursorOverTheScreenIsACrossOrNothing)
{
    write(true);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(screen->mapToGlobal(QPoint(5, 5))));
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
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(screen, &leave);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "restored all the same";
}
