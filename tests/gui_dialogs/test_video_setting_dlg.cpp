#include "c_ui_video_setting_dlg.h"

#include "km/mouse_rate.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

using Body = std::vector<std::uint8_t>;

namespace {

constexpr std::uint8_t kTarget = 0x03;

// The dialog with every body it queues recorded; the process-wide rate is put back after.
struct VideoSettingDialog : ::testing::Test {
    void TearDown() override { set_mouse_sample_rate(kDefaultMouseRate); }

    std::vector<Body> bodies;
    c_ui_video_setting_dlg dialog{[this](const Body &body) { bodies.push_back(body); }, kTarget};
};

TEST_F(VideoSettingDialog, EachClickQueuesItsOwnBody)
{
    const std::pair<const char *, Body> cases[] = {
        {"btnUp", {0x20, kTarget, 0x01, 0x01}},   {"btnDown", {0x20, kTarget, 0x02, 0x01}},
        {"btnLeft", {0x20, kTarget, 0x03, 0x01}}, {"btnRight", {0x20, kTarget, 0x04, 0x01}},
        {"pushButton_reset", {0x1F, kTarget}}};
    dialog.show();
    for (const auto &[button, body] : cases) {
        bodies.clear();
        for (int click = 0; click < 2; ++click)
            QTest::mouseClick(dialog.findChild<QPushButton *>(button), Qt::LeftButton);
        EXPECT_EQ(bodies, std::vector<Body>(2, body)) << button;
    }
}

// The slider sets the rate at once; rates outside it are clamped, and never to 0.
TEST_F(VideoSettingDialog, SliderShowsAndSetsTheRateWithinOneToHundred)
{
    const struct {
        int set;
        Qt::Key key; // pressed on the slider afterwards, unless Key_unknown
        int rate;
    } cases[] = {{50, Qt::Key_unknown, 50}, {50, Qt::Key_Right, 55}, {50, Qt::Key_PageUp, 60},
                 {50, Qt::Key_End, 100},    {50, Qt::Key_Home, 1},   {200, Qt::Key_unknown, 100},
                 {1, Qt::Key_unknown, 1},   {0, Qt::Key_unknown, 1}};
    auto *slider = dialog.findChild<QSlider *>("hSlider");
    for (const auto &c : cases) {
        dialog.setMouseSampleRate(c.set);
        if (c.key != Qt::Key_unknown)
            QTest::keyClick(slider, c.key);
        EXPECT_EQ(slider->value(), c.rate) << c.set << " " << c.key;
        EXPECT_EQ(dialog.findChild<QLineEdit *>("lineEdit_slider")->text().toInt(), c.rate) << c.set;
        EXPECT_EQ(mouse_sample_rate(), c.rate) << c.set << " " << c.key;
    }
    EXPECT_TRUE(bodies.empty());
}

} // namespace
