#include "app_startup.h"
#include "logging/log.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Written by the signal handler, read by the GUI thread's notifier.
int g_signalPipe[2] = {-1, -1};

extern "C" void on_termination_signal(int sig)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t ignored = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

int run_serial_bridge_mode(const std::string &decodedText)
{
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/serbridge");
    if (!QProcess::startDetached(program, {QString::fromStdString(decodedText)})) {
        // The argument carries both DES keys, so it stays out of the log.
        TLOG_ERROR << "start serbridge.exe failed." << program
                   << " Param: (launch text withheld)";
        QMessageBox::critical(nullptr, QStringLiteral("critical"),
                              QStringLiteral("启动串口工具失败。"),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    }
    return 0;
}

void apply_style_sheet(QApplication &app)
{
    QFile sheet(QStringLiteral(":/qss/H264Video"));
    const QString text =
        sheet.open(QIODevice::ReadOnly) ? QString::fromUtf8(sheet.readAll()) : QString();
    TLOG_DEBUG << "style sheet of " << static_cast<long long>(text.size()) << " characters";
    app.setStyleSheet(text);
}

void quit_on_termination_signals(QApplication &app)
{
    if (g_signalPipe[0] >= 0 || ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        unsigned char sig = 0;
        while (::read(g_signalPipe[0], &sig, 1) == 1) {
            TLOG_INFO << "signal " << static_cast<unsigned>(sig) << " received, closing";
        }
        app.quit();
    });
    struct sigaction action {};
    action.sa_handler = on_termination_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
}
