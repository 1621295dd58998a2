// Paste as keystrokes through the real window: the clipboard's text typed on the simulated
// remote computer, character for character.
#include "window_on_sim.h"

#include "c_paste_dialog.h"
#include "h264video.h"
#include "settings/config_file.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

namespace {

// `length` characters drawn from `pool` in a mixed order (7 steps at a time), a line feed
// after every 36: letters of both cases, digits, punctuation, spaces and line feeds.
QString mixed_text(const QString &pool, int length)
{
    QString text;
    for (qsizetype i = 0; text.size() < length; ++i)
        text += i % 37 == 36 ? QChar(u'\n') : pool.at(i * 7 % pool.size());
    return text;
}

// The console as the simulator's control reply shows it.
std::string console_reply(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return "ok " + escaped.toStdString();
}

const QString kAscii = QStringLiteral(
    "The Quick brown Fox jumps over 13 lazy Dogs; pack my box with 5 dozen liquor jugs! "
    "0123456789 !\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~ ABCDEFGHIJKLMNOPQRSTUVWXYZ abcxyz");

struct paste_case {
    const char *name;
    keyboard_layout_id layout; // chosen in the dialog
    QString pool;
    bool byShortcut; // Ctrl+Alt+V, else the toolbar action
    bool capsLock;   // on on the remote computer
};

class PasteOnSim : public WindowOnSim, public ::testing::WithParamInterface<paste_case> {};

} // namespace

// The action or its shortcut opens the dialog over the window; agreeing types the clipboard's 1,000
// characters, which the remote console, set to the layout chosen, then holds exactly, whether
// Caps Lock is on there or not (it is on again afterwards).
TEST_P(PasteOnSim, TypesTheClipboardOnTheRemoteConsole)
{
    const paste_case &c = GetParam();
    QFile config(m_settingsDir + "/config.xml");
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("<config><mouseRate>50</mouseRate><pasteRate>1000</pasteRate></config>\n");
    config.close();
    ASSERT_NO_FATAL_FAILURE(open_window());
    ASSERT_EQ(sim_reply(std::string("layout ") + std::string(keyboard_layout_name(c.layout))), "ok");
    if (c.capsLock) {
        ASSERT_EQ(sim_reply("led 2"), "ok");
        auto *locks = m_window->findChild<QLabel *>(QStringLiteral("statusLocks"));
        ASSERT_NE(locks, nullptr);
        ASSERT_TRUE(wait_for([&] { return locks->text() == "CAPS"; }, kWaitMs)) << locks->text().toStdString();
    }

    const QString text = mixed_text(c.pool, 1000);
    QGuiApplication::clipboard()->setText(text);
    auto *action = m_window->findChild<QAction *>(QStringLiteral("actionPaste"));
    ASSERT_NE(action, nullptr);
    if (c.byShortcut)
        QTest::keyClick(m_window->windowHandle(), Qt::Key_V, Qt::ControlModifier | Qt::AltModifier);
    else
        action->trigger();
    auto *dialog = m_window->findChild<c_paste_dialog *>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    auto *layouts = dialog->findChild<QComboBox *>(QStringLiteral("layoutBox"));
    ASSERT_NE(layouts, nullptr);
    layouts->setCurrentIndex(layouts->findData(static_cast<int>(c.layout)));
    ASSERT_TRUE(dialog->typist().untypable().empty());
    auto *type = dialog->findChild<QPushButton *>(QStringLiteral("typeButton"));
    ASSERT_NE(type, nullptr);

    // Events served as they come while typing: wait_for() serves timers only every 10 ms,
    // and a nested event loop returns at once in a program that has asked to quit before.
    bool closed = false;
    QObject::connect(dialog, &QDialog::finished, dialog, [&] { closed = true; });
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(type, Qt::LeftButton);
    const QDeadlineTimer deadline(60000);
    while (!closed && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    ASSERT_TRUE(closed);
    const std::string expected = console_reply(text);
    EXPECT_TRUE(wait_for([&] { return console() == expected; }, kWaitMs)) << console();
    EXPECT_THAT(sim_reply("status"), ::testing::HasSubstr(c.capsLock ? " leds=2 " : " leds=0 "));
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    const double perSecond = 1000.0 / seconds;
    RecordProperty("charactersPerSecond", QString::number(perSecond, 'f', 1).toStdString());
    std::printf("paste as keystrokes (%s): 1000 characters in %.2f s, %.1f characters per second\n",
                c.name, seconds, perSecond);
    // The dialog is gone once everything is typed; the layout chosen is remembered.
    EXPECT_TRUE(wait_for([&] { return m_window->findChild<c_paste_dialog *>() == nullptr; }, kWaitMs));
    EXPECT_EQ(load_config_paste_layout(m_settingsDir + "/config.xml"), c.layout);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, PasteOnSim,
    ::testing::Values(paste_case{"US", keyboard_layout_id::us, kAscii, true, false},
                      // Umlauts, AltGr characters and the dead keys' accents typed alone, with
                      // Caps Lock on.
                      paste_case{"German", keyboard_layout_id::de,
                                 kAscii + QStringLiteral("äöüÄÖÜß€§°´µ²³ äöü"), false, true}),
    [](const ::testing::TestParamInfo<paste_case> &param) { return std::string(param.param.name); });
