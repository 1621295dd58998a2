// The remote screen in the main window, against the simulated device.
#include "window_test_support.h"

#include "h264video.h"

#include <QFile>
#include <QLabel>
#include <QPixmap>

#include <gtest/gtest.h>

namespace {

// Colours of the simulated desktop (a 640 x 360 screen) that H.264 keeps within a few
// steps: the centres of its two coloured panels and the sky beside and below them.
struct known_pixel {
    const char *what;
    int x, y; // remote pixel
    QRgb colour;
};
const known_pixel kDesktop[] = {
    {"orange panel", 544, 90, qRgb(200, 120, 40)},
    {"purple panel", 544, 216, qRgb(120, 60, 160)},
    {"sky right of the panels", 626, 144, qRgb(22, 80, 114)},
    {"sky below the panels", 544, 300, qRgb(21, 102, 118)},
};
constexpr int kTolerance = 20;

// The label's margin colour from the program's style sheet.
const QRgb kMargin = qRgb(0x12, 0x13, 0x14);

// Where a remote pixel lands in the label.
QPoint label_point(const display_geometry &g, int x, int y, QSize remote)
{
    return {g.offsetX + x * g.shownWidth / remote.width(),
            g.offsetY + y * g.shownHeight / remote.height()};
}

void expect_desktop(const H264Video &window, const QImage &shown)
{
    for (const known_pixel &pixel : kDesktop) {
        const QPoint at =
            label_point(window.shown_geometry(), pixel.x, pixel.y, window.remote_size());
        const QRgb actual = shown.pixel(at);
        EXPECT_TRUE(near_colour(actual, pixel.colour, kTolerance))
            << pixel.what << " at " << at.x() << "," << at.y() << " is " << rgb_text(actual)
            << ", expected about " << rgb_text(pixel.colour);
    }
}

} // namespace

TEST_F(WindowOnSim, ShowsTheRemoteScreenScaledIntoTheLabelWithMargins)
{
    ASSERT_NO_FATAL_FAILURE(open_window());
    QLabel *label = screen();
    ASSERT_EQ(label->size(), QSize(800, 600));
    EXPECT_EQ(m_window->remote_size(), QSize(kRemoteWidth, kRemoteHeight));
    // 16:9 into 4:3: full width, centred vertically.
    const display_geometry &g = m_window->shown_geometry();
    EXPECT_EQ(g.offsetX, 0);
    EXPECT_EQ(g.offsetY, 75);
    EXPECT_EQ(g.shownWidth, 800);
    EXPECT_EQ(g.shownHeight, 450);

    const QImage shown = label->grab().toImage();
    ASSERT_EQ(shown.size(), QSize(800, 600));
    expect_desktop(*m_window, shown);
    for (const QPoint margin : {QPoint(5, 5), QPoint(400, 74), QPoint(400, 525), QPoint(795, 595)})
        EXPECT_EQ(shown.pixel(margin), kMargin)
            << margin.x() << "," << margin.y() << " is " << rgb_text(shown.pixel(margin));
}

TEST_F(WindowOnSim, DeviceClosingTheVideoChannelLeavesTheLastPictureAndTheWindowServing)
{
    // Reconnecting off: no new picture may come.
    QFile config(m_settingsDir + "/config.xml");
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("<config><mouseRate>50</mouseRate><reconnect>0</reconnect></config>");
    config.close();
    ASSERT_NO_FATAL_FAILURE(open_window());
    ASSERT_NE(sim_reply("viewers").find("video:1"), std::string::npos) << sim_reply("viewers");
    EXPECT_EQ(sim_reply("close video 1").rfind("ok", 0), 0u);
    ASSERT_TRUE(wait_for([&] { return sim_reply("viewers").find("video:-") != std::string::npos; },
                         kWaitMs))
        << sim_reply("viewers");

    // The window still answers the user and the device: a combination from the toolbar menu
    // reaches the remote computer.
    const std::string printScreen = "0000460000000000";
    ASSERT_TRUE(choose_syskey("PrtScreen"));
    ASSERT_TRUE(wait_keyboard_report(printScreen, 1));
    const std::uint64_t last = screen()->pictures_shown();
    ASSERT_TRUE(choose_syskey("PrtScreen"));
    ASSERT_TRUE(wait_keyboard_report(printScreen, 2));

    EXPECT_TRUE(m_window->isVisible());
    EXPECT_EQ(screen()->pictures_shown(), last) << "no picture after the close";
    const QImage shown = screen()->grab().toImage();
    expect_desktop(*m_window, shown);
    EXPECT_EQ(shown.pixel(400, 5), kMargin);
    EXPECT_NE(sim_reply("viewers").find("km:1"), std::string::npos) << sim_reply("viewers");

    // With no picture to come, a larger window fits the last picture to its new size at once,
    // and the mouse follows the geometry shown.
    m_window->resize(m_window->width() + 200, m_window->height() + 60);
    ASSERT_TRUE(wait_for([&] { return screen()->height() == 660; }, kWaitMs));
    const display_geometry fitted = *compute_display_geometry(kRemoteWidth, kRemoteHeight,
                                                              screen()->width(), 660);
    EXPECT_EQ(m_window->shown_geometry(), fitted);
    EXPECT_EQ(screen()->geometry(), fitted);
    const QImage larger = screen()->grab().toImage();
    expect_desktop(*m_window, larger);
    EXPECT_EQ(larger.pixel(2, 2), kMargin);
}
