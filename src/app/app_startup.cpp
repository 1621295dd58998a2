#include "app_startup.h"
#include "logging/log.h"
#include "tools/disk/rw_disk/unique_fd.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

extern char **environ;

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

bool write_all(int fd, const std::string &text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Starts `program` without arguments, `input` as its standard input, in a session of its
// own (it outlives this process and the launcher's terminal) with default signal handling
// (this process ignores SIGPIPE). True when the program runs; glibc reports a failed exec.
bool spawn_detached(const std::string &program, int input)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    ::posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    sigset_t set;
    sigemptyset(&set);
    ::posix_spawnattr_setsigmask(&attributes, &set);
    sigaddset(&set, SIGPIPE);
    ::posix_spawnattr_setsigdefault(&attributes, &set);
    ::posix_spawnattr_setflags(&attributes,
                               POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    std::string path = program;
    char *argv[] = {path.data(), nullptr};
    pid_t pid = 0;
    const int result = ::posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ);
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    return result == 0;
}

// The text is written whole before the bridge starts: at most 1023 bytes, far below a
// pipe's capacity, so the write never waits; the bridge then reads it to the pipe's end.
bool start_bridge(const std::string &program, const std::string &text)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    const unique_fd input(fds[0]);
    unique_fd output(fds[1]);
    if (!write_all(output.get(), text))
        return false;
    output.reset();
    return spawn_detached(program, input.get());
}

} // namespace

int run_serial_bridge_mode(const std::string &decodedText)
{
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/serbridge");
    if (!start_bridge(program.toStdString(), decodedText)) {
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

int refuse_start(QApplication &app, const std::vector<std::string> &problems)
{
    QString details;
    for (const std::string &problem : problems) {
        TLOG_ERROR << "launch text refused: " << problem;
        details += QLatin1Char('\n') + QString::fromStdString(problem);
    }
    return report_start_failure(app, QStringLiteral("Launch parameter error.") + details,
                                kStartRefusedStatus);
}

int report_start_failure(QApplication &app, const QString &text, int status)
{
    // Shown from the event loop rather than by a nested one, so that a termination signal
    // (logout, a launcher giving up) ends it as it would end the window.
    quit_on_termination_signals(app);
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::Ok);
    QObject::connect(&box, &QMessageBox::finished, &app, &QCoreApplication::quit);
    box.open();
    app.exec();
    return status;
}
