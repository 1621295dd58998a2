// Paste as keystrokes through the real window: the clipboard's text typed on the simulated
// remote computer, character for character.
#include "window_on_sim.h"

#include "c_paste_dialog.h"
#include "h264video.h"

#include <QAction>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

// `length` characters of every kind the remote console shows: letters of both cases, digits,
// punctuation, spaces and line feeds (lines well under the console's width), in an order
// that changes from line to line.
QString mixed_text(int length)
{
    const QString pool = QStringLiteral(
        "The Quick brown Fox jumps over 13 lazy Dogs; pack my box with 5 dozen liquor jugs! "
        "0123456789 !\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~ ABCDEFGHIJKLMNOPQRSTUVWXYZ abcxyz");
    QString text;
    std::uint32_t seed = 12345;
    int lineLength = 0;
    while (text.size() < length) {
        seed = seed * 1103515245u + 12345u;
        if (lineLength >= 20 && (seed >> 16) % 40 == 0) {
            text += QLatin1Char('\n');
            lineLength = 0;
            continue;
        }
        text += pool.at(static_cast<qsizetype>((seed >> 8) % static_cast<std::uint32_t>(pool.size())));
        ++lineLength;
    }
    return text;
}

// The console as the simulator's control reply shows it.
std::string console_reply(const QString &text)
{
    std::string out = "ok ";
    for (QChar c : text) {
        if (c == QLatin1Char('\n'))
            out += "\\n";
        else if (c == QLatin1Char('\\'))
            out += "\\\\";
        else
            out += c.toLatin1();
    }
    return out;
}

} // namespace

// The action opens the dialog over the window; agreeing types the clipboard's 1,000
// characters, which the remote console then holds exactly.
TEST_F(WindowOnSim, PasteAsKeystrokesTypesTheClipboardOnTheRemoteConsole)
{
    QFile config(m_settingsDir + "/config.xml");
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("<config><mouseRate>50</mouseRate><pasteRate>1000</pasteRate></config>\n");
    config.close();
    ASSERT_NO_FATAL_FAILURE(open_window());

    const QString text = mixed_text(1000);
    ASSERT_EQ(text.size(), 1000);
    QGuiApplication::clipboard()->setText(text);
    auto *action = m_window->findChild<QAction *>(QStringLiteral("actionPaste"));
    ASSERT_NE(action, nullptr);
    action->trigger();
    auto *dialog = m_window->findChild<c_paste_dialog *>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    ASSERT_TRUE(dialog->typist().untypable().empty());
    ASSERT_EQ(dialog->typist().total(), 1000);
    auto *type = dialog->findChild<QPushButton *>(QStringLiteral("typeButton"));
    ASSERT_NE(type, nullptr);

    // A real event loop while typing: wait_for() serves timers only every 10 ms.
    QSignalSpy closed(dialog, &QDialog::finished);
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(type, Qt::LeftButton);
    ASSERT_TRUE(closed.wait(60000));
    const std::string expected = console_reply(text);
    EXPECT_TRUE(wait_for([&] { return console() == expected; }, kWaitMs)) << console();
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    const double perSecond = 1000.0 / seconds;
    RecordProperty("charactersPerSecond", QString::number(perSecond, 'f', 1).toStdString());
    std::printf("paste as keystrokes: 1000 characters in %.2f s, %.1f characters per second\n",
                seconds, perSecond);
    // The dialog is gone once everything is typed.
    EXPECT_TRUE(wait_for([&] { return m_window->findChild<c_paste_dialog *>() == nullptr; }, kWaitMs));
}
