// What only the main window shows: its system key menu, its full-screen switch and the
// last picture it keeps once the device has closed the video channel.
#include "window_on_sim.h"

#include "c_stats_overlay.h"
#include "c_status_line.h"
#include "h264video.h"
#include "sysKeyConfig.h"
#include "km/c_km_session.h"
#include "video/display_geometry.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

namespace {

const std::string kNoKeys = "0000000000000000";
const std::string kPrintScreen = "0000460000000000";

QStringList syskey_menu(const H264Video &window)
{
    QStringList texts;
    for (const QToolButton *button : window.findChildren<QToolButton *>())
        for (const QAction *action : button->menu() ? button->menu()->actions() : QList<QAction *>())
            texts << action->text();
    return texts;
}

// Sets an environment variable for the life of the object.
struct env_setting {
    env_setting(const char *name, const QString &value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        qputenv(name, value.toLocal8Bit());
    }
    ~env_setting() { m_had ? qputenv(m_name, m_old) : qunsetenv(m_name); }
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

} // namespace

// Each entry sends its combination and then every key up, in the order chosen, ahead of keys
// typed after it.
TEST_F(WindowOnSim, SystemKeyMenuOffersTheGroupsOfKeyXmlAndSendsTheirCombination)
{
    QFile keys(m_settingsDir + "/key.xml");
    ASSERT_TRUE(keys.open(QIODevice::WriteOnly));
    keys.write(R"(<systemKey><common>
        <key name="Ctrl+Alt+Del"><keyValue value="16777249" str="Control"/>
            <keyValue value="16777251" str="Alt"/><keyValue value="16777223" str="Delete"/></key>
        <key name=""><keyValue value="16777250" str="Win"/></key><key name="Alt+F4"/>
    </common></systemKey>)");
    keys.close();
    ASSERT_NO_FATAL_FAILURE(open_window());
    // Groups in name order, the one without a name left out.
    EXPECT_EQ(syskey_menu(*m_window), QStringList({"Alt+F4", "Ctrl+Alt+Del", "PrtScreen", "Set Key(&S)..."}));

    ASSERT_TRUE(choose_syskey("Ctrl+Alt+Del"));
    ASSERT_TRUE(choose_syskey("PrtScreen"));
    QTest::mouseClick(screen(), Qt::LeftButton, {}, QPoint(400, 300));
    type_key(Qt::Key_A);
    const std::vector<std::string> expected{"05004c0000000000", kNoKeys,
                                            kPrintScreen, kNoKeys, "0000040000000000", kNoKeys};
    EXPECT_TRUE(wait_for([&] { return km_payloads(3).size() >= expected.size(); }, kWaitMs));
    EXPECT_EQ(km_payloads(3), expected);
    EXPECT_TRUE(wait_for([&] { return console().find('a') != std::string::npos; }, kWaitMs));

    // A table changed in the dialog is offered at once and kept in key.xml.
    auto *dialog = m_window->findChild<sysKeyConfig *>();
    ASSERT_NE(dialog, nullptr);
    system_key_table table;
    table[QStringLiteral("Ctrl+Esc")] = {{QStringLiteral("Control"), Qt::Key_Control},
                                         {QStringLiteral("Esc"), Qt::Key_Escape}};
    emit dialog->updateSysKeyMap(table);
    EXPECT_EQ(syskey_menu(*m_window), QStringList({"Ctrl+Esc", "PrtScreen", "Set Key(&S)..."}));
    ASSERT_TRUE(keys.open(QIODevice::ReadOnly));
    EXPECT_TRUE(keys.readAll().contains("name=\"Ctrl+Esc\"")) << "key.xml not saved";
}

TEST_F(WindowOnSim, TwoFullScreenSwitchesReturnToNormalAndTheNextPictureRealignsOnce)
{
    ASSERT_NO_FATAL_FAILURE(open_window());
    const QRect normal = m_window->geometry();
    // A combination marks the keyboard/mouse stream: what was sent before it has arrived
    // once it has.
    auto marked = [&](long count) {
        return choose_syskey("PrtScreen") && wait_for([&] {
                   const auto sent = km_payloads(3);
                   return std::count(sent.begin(), sent.end(), kPrintScreen) >= count;
               }, kWaitMs);
    };
    ASSERT_TRUE(wait_new_pictures(2));
    ASSERT_TRUE(marked(1));
    const int before = align_reports();

    auto *fullScreen = m_window->findChild<QAction *>(QStringLiteral("actionFullScreen"));
    ASSERT_NE(fullScreen, nullptr);
    // Both switches before the next picture is shown.
    fullScreen->trigger();
    EXPECT_TRUE(m_window->windowState() & Qt::WindowFullScreen);
    fullScreen->trigger();
    EXPECT_EQ(m_window->windowState(), Qt::WindowNoState);

    ASSERT_TRUE(wait_new_pictures(3));
    EXPECT_TRUE(wait_for([&] { return m_window->geometry() == normal; }, kWaitMs));
    ASSERT_TRUE(marked(2));
    EXPECT_EQ(align_reports() - before, 20) << "one alignment of twenty reports";
}

// The window keeps its last picture, fits it to a new size at once, and its keyboard/mouse
// session goes on: the keep-alive still goes out.
// With reconnecting turned off in config.xml, as the device's first viewers had it.
TEST_F(WindowOnSim, DeviceClosingTheVideoChannelLeavesTheLastPictureFittedToTheWindow)
{
    QFile config(m_settingsDir + "/config.xml");
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("<config><mouseRate>50</mouseRate><reconnect>0</reconnect></config>");
    config.close();
    ASSERT_NO_FATAL_FAILURE(open_window());
    EXPECT_EQ(sim_reply("close video 1").rfind("ok", 0), 0u);
    ASSERT_TRUE(wait_for([&] { return sim_reply("viewers").find("video:-") != std::string::npos; },
                         kWaitMs)) << sim_reply("viewers");
    auto *banner = m_window->findChild<QWidget *>("connectionBanner");
    ASSERT_TRUE(banner && wait_for([&] { return banner->isVisible(); }, kWaitMs));
    EXPECT_EQ(banner->findChild<QLabel *>()->text(), "Video channel lost. Reconnecting is turned off.");
    const std::size_t keepAlives = km_payloads(11).size();

    m_window->resize(m_window->width() + 200, m_window->height() + 60);
    ASSERT_TRUE(wait_for([&] { return screen()->height() == 660; }, kWaitMs));
    const auto fitted = compute_display_geometry(kRemoteWidth, kRemoteHeight, screen()->width(), 660);
    EXPECT_EQ(m_window->shown_geometry(), *fitted);
    EXPECT_EQ(screen()->geometry(), *fitted);
    EXPECT_FALSE(screen()->picture().isNull());
    EXPECT_TRUE(wait_for([&] { return km_payloads(11).size() > keepAlives; },
                         c_km_session::kKeepAliveMs + kWaitMs)) << "no keep-alive";
    EXPECT_NE(sim_reply("viewers").find("km:1"), std::string::npos) << sim_reply("viewers");
}

// Below the picture, which keeps its 800 x 600 start, the status line says where this viewer
// stands; the panel shows the stream's figures; a screenshot is the remote screen at its own
// size, in the pictures folder made for it, under a new name each time.
TEST_F(WindowOnSim, StatusLineStatisticsAndScreenshotsOfTheRemoteScreen)
{
    const env_setting home("HOME", m_dir.filePath("home"));
    const env_setting xdg("XDG_CONFIG_HOME", m_dir.filePath("home/.config"));
    ASSERT_NO_FATAL_FAILURE(open_window());
    EXPECT_EQ(screen()->size(), QSize(800, 600)) << screen()->width() << "x" << screen()->height();
    auto *status = m_window->findChild<c_status_line *>();
    ASSERT_TRUE(wait_for([&] { return status->findChild<QLabel *>("statusHolder")->text() == "Control: this viewer"; }));
    EXPECT_EQ(status->findChild<QLabel *>("statusConnection")->text(), "Connected");
    EXPECT_EQ(status->findChild<QLabel *>("statusDisk")->text(), "Disk: none");

    m_window->findChild<QAction *>("actionStatistics")->trigger();
    auto *panel = m_window->findChild<c_stats_overlay *>();
    ASSERT_TRUE(panel->isVisible());
    EXPECT_TRUE(wait_for([&] { return !panel->text().startsWith("Received 0.0"); }, kWaitMs)) << panel->text().toStdString();
    EXPECT_EQ(panel->geometry().right(), screen()->width() - 9);

    QStringList saved;
    for (int shot = 0; shot < 2; ++shot) {
        m_window->findChild<QAction *>("actionScreenshot")->trigger();
        ASSERT_TRUE(status->result().startsWith("Screenshot saved: ")) << status->result().toStdString();
        saved << status->result().mid(18);
        EXPECT_EQ(QFileInfo(saved.back()).dir(), QDir(m_dir.filePath("home/Pictures")));
        EXPECT_EQ(QImage(saved.back()).size(), QSize(kRemoteWidth, kRemoteHeight));
    }
    EXPECT_NE(saved[0].toStdString(), saved[1].toStdString());
}

// The view chosen in config.xml is the one shown: actual size, 1:1, panned within the
// picture where the window is smaller than it. The shortcut returns to fit, and config.xml
// keeps that choice.
TEST_F(WindowOnSim, ActualSizeFromConfigPansWithinThePictureAndItsShortcutSavesFit)
{
    QFile config(m_settingsDir + "/config.xml");
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("<config><mouseRate>50</mouseRate><viewMode>actual</viewMode></config>");
    config.close();
    ASSERT_NO_FATAL_FAILURE(open_window());
    EXPECT_EQ(m_window->shown_geometry(), (display_geometry{kRemoteWidth, kRemoteHeight, 80, 120, 1, 1}));
    // Narrower than the picture (the window's minimum height keeps it taller): panned
    // sideways, centred up and down.
    m_window->resize(m_window->width() - 400, m_window->minimumHeight());
    ASSERT_TRUE(wait_for([&] { return screen()->width() == 400; }, kWaitMs));
    const int height = screen()->height();
    m_window->pan_view(1000, 1000);
    EXPECT_EQ(screen()->geometry(), (display_geometry{kRemoteWidth, kRemoteHeight, 400 - kRemoteWidth,
                                                      (height - kRemoteHeight) / 2, 1, 1}));

    QTest::keyClick(m_window->windowHandle(), Qt::Key_0, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(screen()->geometry(), *compute_display_geometry(kRemoteWidth, kRemoteHeight, 400, height));
    ASSERT_TRUE(config.open(QIODevice::ReadOnly));
    EXPECT_TRUE(config.readAll().contains("<viewMode>fit</viewMode>"));
}

// A picture shrunk fourfold with thin lines on every fourth column: fast scaling drops the
// lines altogether, smooth scaling keeps them as an even grey (a quarter of white).
TEST(VideoLabel, SmoothScalingKeepsThinStrokesThatFastScalingDrops)
{
    QImage picture(1200, 900, QImage::Format_RGB32);
    for (int x = 0; x < picture.width(); ++x)
        for (int y = 0; y < picture.height(); ++y)
            picture.setPixel(x, y, x % 4 == 0 ? 0xffffffffu : 0xff000000u);
    for (const auto &[smooth, low, high] : {std::tuple{false, 0, 0}, std::tuple{true, 48, 80}}) {
        c_video_label label;
        label.resize(300, 225);
        label.set_smooth_scaling(smooth);
        label.show_picture(picture, *compute_display_geometry(1200, 900, 300, 225));
        const QImage shown = label.grab().toImage();
        for (int x = 0; x < shown.width(); ++x)
            ASSERT_TRUE(qGray(shown.pixel(x, 100)) >= low && qGray(shown.pixel(x, 100)) <= high)
                << "smooth " << smooth << " column " << x << " grey " << qGray(shown.pixel(x, 100));
    }
}
