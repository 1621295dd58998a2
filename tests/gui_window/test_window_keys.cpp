// The system key menu and typing in the main window, checked on the simulated device's side.
#include "window_test_support.h"

#include "h264video.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const std::string kNoKeys = "0000000000000000";
const std::string kPrintScreen = "0000460000000000";
const std::string kKeyA = "0000040000000000";
const std::string kCtrlAltDel = "05004c0000000000";

const char kKeyFile[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<systemKey>
    <common>
        <key name="Ctrl+Alt+Del">
            <keyValue value="16777249" str="Control"/>
            <keyValue value="16777251" str="Alt"/>
            <keyValue value="16777223" str="Delete"/>
        </key>
        <key name="Empty"/>
        <key name="">
            <keyValue value="16777250" str="Win"/>
        </key>
        <key name="Alt+F4">
            <keyValue value="16777251" str="Alt"/>
            <keyValue value="16777267" str="F4"/>
        </key>
    </common>
</systemKey>
)";

QStringList menu_data(QToolButton *button)
{
    QStringList data;
    for (QAction *action : button->menu()->actions())
        data << action->data().toString();
    return data;
}

} // namespace

// A key typed after the menu's reports goes through the same outgoing list, so once its
// reports have arrived every report sent before them has arrived too.
TEST_F(WindowOnSim, WithoutKeyFileTheMenuOffersPrintScreenWhichSendsTwoReports)
{
    ASSERT_NO_FATAL_FAILURE(open_window());
    EXPECT_EQ(syskey_menu_texts(), QStringList({"PrtScreen", "Set Key(&S)..."}));
    EXPECT_EQ(menu_data(syskey_button()), QStringList({"_printscreen", "_setshortkey"}));

    ASSERT_TRUE(choose_syskey("PrtScreen"));
    type_key(Qt::Key_A);
    m_expectedKeys.insert(m_expectedKeys.end(), {kKeyA, kNoKeys});
    ASSERT_TRUE(wait_keyboard_reports(m_expectedKeys.size()))
        << ::testing::PrintToString(km_payloads(3));
    EXPECT_EQ(km_payloads(3), m_expectedKeys);
    const auto sent = km_payloads(3);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), kPrintScreen), 1);
    EXPECT_TRUE(wait_for([&] { return console().find('a') != std::string::npos; }, kWaitMs))
        << console();
}

TEST_F(WindowOnSim, KeyFileGroupsFillTheMenuAndSendTheirCombination)
{
    write_key_file(QString::fromUtf8(kKeyFile));
    ASSERT_NO_FATAL_FAILURE(open_window());
    // Groups in name order, the one without a name left out.
    EXPECT_EQ(syskey_menu_texts(),
              QStringList({"Alt+F4", "Ctrl+Alt+Del", "Empty", "PrtScreen", "Set Key(&S)..."}));
    EXPECT_EQ(menu_data(syskey_button()),
              QStringList({"Alt+F4", "Ctrl+Alt+Del", "Empty", "_printscreen", "_setshortkey"}));

    m_comboReports[QStringLiteral("Empty")] = kNoKeys;
    m_comboReports[QStringLiteral("Ctrl+Alt+Del")] = kCtrlAltDel;
    ASSERT_TRUE(choose_syskey("Empty"));
    ASSERT_TRUE(choose_syskey("Ctrl+Alt+Del"));
    type_key(Qt::Key_A);
    m_expectedKeys.insert(m_expectedKeys.end(), {kKeyA, kNoKeys});
    ASSERT_TRUE(wait_keyboard_reports(m_expectedKeys.size()))
        << ::testing::PrintToString(km_payloads(3));
    EXPECT_EQ(km_payloads(3), m_expectedKeys);
    // Both entries were taken: four reports of theirs before the typed key's two.
    EXPECT_GE(m_expectedKeys.size(), 6u);
    const auto sent = km_payloads(3);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), kCtrlAltDel), 1);
}

TEST_F(WindowOnSim, TwoFullScreenSwitchesReturnToNormalAndTheNextPictureRealignsOnce)
{
    ASSERT_NO_FATAL_FAILURE(open_window());
    const QRect normal = m_window->geometry();
    // Whatever the start-up sent has arrived once the marker has.
    ASSERT_TRUE(wait_new_pictures(2));
    ASSERT_TRUE(choose_syskey("PrtScreen"));
    ASSERT_TRUE(wait_keyboard_report(kPrintScreen, 1));
    const int before = align_reports();

    auto *toolBar = m_window->findChild<QToolBar *>(QStringLiteral("toolBar"));
    auto *fullScreen = m_window->findChild<QAction *>(QStringLiteral("actionFullScreen"));
    ASSERT_TRUE(toolBar && fullScreen);
    QWidget *button = toolBar->widgetForAction(fullScreen);
    ASSERT_NE(button, nullptr);
    // Both switches before the next picture is shown.
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(m_window->windowState() & Qt::WindowFullScreen);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(m_window->windowState(), Qt::WindowNoState);

    ASSERT_TRUE(wait_new_pictures(3));
    EXPECT_TRUE(wait_for([&] { return m_window->geometry() == normal; }, kWaitMs))
        << "back to the normal geometry";
    EXPECT_TRUE(toolBar->isVisible());
    ASSERT_TRUE(choose_syskey("PrtScreen"));
    ASSERT_TRUE(wait_keyboard_report(kPrintScreen, 2));
    EXPECT_EQ(align_reports() - before, 20) << "one alignment of twenty reports";
}

// The keys go to the remote computer whether or not the user has clicked into the picture,
// and after the toolbar has been used.
TEST_F(WindowOnSim, TypedKeysReachTheRemoteComputerWhereverTheUserClicked)
{
    ASSERT_NO_FATAL_FAILURE(open_window());
    type_key(Qt::Key_A);
    ASSERT_TRUE(wait_for([&] { return console().find('a') != std::string::npos; }, kWaitMs))
        << "typed before any click: " << console();

    QTest::mouseClick(screen(), Qt::LeftButton, {}, QPoint(400, 300));
    type_key(Qt::Key_B);
    ASSERT_TRUE(wait_for([&] { return console().find("ab") != std::string::npos; }, kWaitMs))
        << "typed after a click into the picture: " << console();

    ASSERT_TRUE(choose_syskey("PrtScreen"));
    auto *toolBar = m_window->findChild<QToolBar *>(QStringLiteral("toolBar"));
    auto *hide = m_window->findChild<QAction *>(QStringLiteral("actionMouseHide"));
    QTest::mouseClick(toolBar->widgetForAction(hide), Qt::LeftButton);
    QTest::mouseClick(toolBar->widgetForAction(hide), Qt::LeftButton);
    type_key(Qt::Key_C);
    EXPECT_TRUE(wait_for([&] { return console().find("abc") != std::string::npos; }, kWaitMs))
        << "typed after using the toolbar: " << console();
}
