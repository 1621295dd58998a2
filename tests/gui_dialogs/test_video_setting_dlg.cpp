#include "c_ui_video_setting_dlg.h"

#include "km/mouse_rate.h"

#include "../settings/settings_test_support.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Body = std::vector<std::uint8_t>;

namespace {

constexpr std::uint8_t kTarget = 0x03;

// The dialog with every body it queues recorded; the process-wide rate is put back after.
struct VideoSettingDialog : ::testing::Test {
    void SetUp() override
    {
        slider = dialog.findChild<QSlider *>("hSlider");
        rateText = dialog.findChild<QLineEdit *>("lineEdit_slider");
        ASSERT_TRUE(slider && rateText);
        dialog.show();
    }
    void TearDown() override { set_mouse_sample_rate(kDefaultMouseRate); }

    void click(const char *button)
    {
        auto *b = dialog.findChild<QPushButton *>(button);
        ASSERT_TRUE(b) << button;
        QTest::mouseClick(b, Qt::LeftButton);
    }

    std::vector<Body> bodies;
    c_ui_video_setting_dlg dialog{[this](const Body &body) { bodies.push_back(body); }, kTarget};
    QSlider *slider = nullptr;
    QLineEdit *rateText = nullptr;
    log_since log;
};

TEST_F(VideoSettingDialog, DirectionButtonsQueueOneBodyPerClick)
{
    click("btnLeft");
    click("btnLeft");
    EXPECT_THAT(bodies, ElementsAre(Body{0x20, kTarget, 0x03, 0x01}, Body{0x20, kTarget, 0x03, 0x01}));

    bodies.clear();
    click("btnUp");
    click("btnDown");
    click("btnRight");
    EXPECT_THAT(bodies, ElementsAre(Body{0x20, kTarget, 0x01, 0x01}, Body{0x20, kTarget, 0x02, 0x01},
                                    Body{0x20, kTarget, 0x04, 0x01}));
    const std::string text = log.text();
    EXPECT_THAT(text, HasSubstr("videoSetting,left ( c_ui_video_setting_dlg.cpp ) : "));
    EXPECT_THAT(text, HasSubstr("videoSetting,Up ("));
    EXPECT_THAT(text, HasSubstr("videoSetting,down ("));
    EXPECT_THAT(text, HasSubstr("videoSetting,right ("));
}

TEST_F(VideoSettingDialog, ResetQueuesTheTwoByteBody)
{
    click("pushButton_reset");
    EXPECT_THAT(bodies, ElementsAre(Body{0x1F, kTarget}));
    EXPECT_THAT(log.text(), HasSubstr("videoSetting,beginSet ("));
}

TEST_F(VideoSettingDialog, SliderShowsAndSetsTheRateAtOnce)
{
    dialog.setMouseSampleRate(50);
    EXPECT_EQ(rateText->text(), "50");
    EXPECT_EQ(slider->value(), 50);

    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Right);
    EXPECT_EQ(rateText->text(), "55");
    EXPECT_EQ(mouse_sample_rate(), 55);
    QTest::keyClick(slider, Qt::Key_PageUp);
    EXPECT_EQ(mouse_sample_rate(), 65);
    QTest::keyClick(slider, Qt::Key_End);
    EXPECT_EQ(rateText->text(), "100");
    EXPECT_EQ(mouse_sample_rate(), 100);
    QTest::keyClick(slider, Qt::Key_Home);
    EXPECT_EQ(rateText->text(), "1");
    EXPECT_EQ(mouse_sample_rate(), 1);
    EXPECT_TRUE(bodies.empty());
}

TEST_F(VideoSettingDialog, RatesOutsideTheSliderAreClampedToIt)
{
    dialog.setMouseSampleRate(200);
    EXPECT_EQ(slider->value(), 100);
    EXPECT_EQ(rateText->text(), "100");
    EXPECT_EQ(mouse_sample_rate(), 100);

    dialog.setMouseSampleRate(1);
    EXPECT_EQ(mouse_sample_rate(), 1);
    // The slider already stands at 1 and reports nothing; the rate must still not be 0.
    dialog.setMouseSampleRate(0);
    EXPECT_EQ(rateText->text(), "1");
    EXPECT_EQ(mouse_sample_rate(), 1);
}

} // namespace
