// The window while the device drops its channels: the banner says what is down, input goes
// nowhere meanwhile, a refused login waits for "Reconnect now".
#include "window_on_sim.h"

#include "h264video.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

namespace {

struct WindowComeback : WindowOnSim {
    QWidget *banner() const { return m_window->findChild<QWidget *>("connectionBanner"); }
    QString banner_text() const
    {
        QWidget *b = banner();
        return b && b->isVisible() ? b->findChild<QLabel *>()->text() : QString();
    }
    bool banner_says(const QString &piece)
    {
        return wait_for([&] { return banner_text().contains(piece); }, kWaitMs);
    }
    void click(const QString &text)
    {
        for (QPushButton *button : banner()->findChildren<QPushButton *>())
            if (button->text() == text)
                button->click();
    }
    bool device_got_key(const std::string &report) const
    {
        const auto reports = km_payloads(3);
        return std::find(reports.begin(), reports.end(), report) != reports.end();
    }
};

constexpr const char *kKeyB = "0000050000000000";
constexpr const char *kKeyC = "0000060000000000";

} // namespace

TEST_F(WindowComeback, KeyboardMouseDropSendsNothingMeanwhileAndARefusalWaitsForTheUser)
{
    ASSERT_NO_FATAL_FAILURE(open_window());
    EXPECT_EQ(sim_reply("login km refuse"), "ok");
    EXPECT_EQ(sim_reply("close km 1"), "ok");
    ASSERT_TRUE(banner_says("Keyboard and mouse channel lost.")) << banner_text().toStdString();
    type_key(Qt::Key_B); // nowhere to go: never sent, not even later

    ASSERT_TRUE(banner_says("The device refused the login.")) << banner_text().toStdString();
    EXPECT_EQ(sim_reply("login km accept"), "ok");
    click(QStringLiteral("Reconnect now"));
    ASSERT_TRUE(wait_for([&] { return banner_text().isEmpty(); }, kWaitMs)) << banner_text().toStdString();
    ASSERT_TRUE(wait_for([&] { return sim_reply("status").find("holder=") != std::string::npos &&
                                      sim_reply("status").find("holder=0") == std::string::npos; },
                         kWaitMs))
        << sim_reply("status");
    type_key(Qt::Key_C);
    ASSERT_TRUE(wait_for([&] { return device_got_key(kKeyC); }, kWaitMs));
    EXPECT_FALSE(device_got_key(kKeyB));
}

namespace {

struct refusal_case {
    const char *channel;
    const char *text; // the box's first line and the channel's name
};

struct StartRefused : WindowOnSim, ::testing::WithParamInterface<refusal_case> {};

} // namespace

TEST_P(StartRefused, LoginRefusedAtStartUpIsAFailureNamingTheChannel)
{
    EXPECT_EQ(sim_reply(std::string("login ") + GetParam().channel + " refuse"), "ok");
    ASSERT_NO_FATAL_FAILURE(show_window());
    QMessageBox *box = nullptr;
    ASSERT_TRUE(wait_for([&] { return (box = m_window->findChild<QMessageBox *>()) != nullptr; },
                         kWaitMs));
    EXPECT_TRUE(m_window->start_failed());
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_TRUE(box->text().startsWith(GetParam().text)) << box->text().toStdString();
    EXPECT_TRUE(box->text().endsWith(": login refused by the device")) << box->text().toStdString();
    box->reject();
}

INSTANTIATE_TEST_SUITE_P(
    , StartRefused,
    ::testing::Values(refusal_case{"km", "KM connect error.\nkeyboard and mouse channel, 127.0.0.1:"},
                      refusal_case{"video", "Video connect error.\nvideo channel, 127.0.0.1:"}),
    [](const auto &test) { return std::string(test.param.channel); });
