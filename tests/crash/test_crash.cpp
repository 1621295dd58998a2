#include "crash/crash_handler.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <ctime>
#include <functional>
#include <pthread.h>
#include <string>
#include <sys/poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// Exported (the test executable exports its symbols) so the backtrace can name them.
volatile std::uintptr_t g_badAddress = 0x10;
volatile int g_depthLimit = 1 << 30; // far beyond any stack

__attribute__((noinline)) void crash_test_null_write()
{
    *reinterpret_cast<volatile int *>(g_badAddress) = 1;
}

__attribute__((noinline)) int crash_test_recurse(int depth)
{
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (depth > g_depthLimit)
        return frame[0];
    return crash_test_recurse(depth + 1) + frame[0];
}

namespace {

// A real division instruction, with the undefined-behaviour checker out of its way so the
// processor raises the signal even in sanitizer builds.
__attribute__((no_sanitize("undefined"), noinline)) void divide_by_zero()
{
    volatile int numerator = 7;
    volatile int zero = 0;
    volatile int result = numerator / zero;
    (void)result;
}

// In a worker thread with its own alternate stack, as the program's threads run.
void in_worker(void (*body)())
{
    std::thread worker([body] {
        pthread_setname_np(pthread_self(), "crash-worker");
        install_thread_alt_stack();
        body();
    });
    worker.join();
}

// Runs `body` in a forked child without core dumps, the handler installed; the wait status,
// or -1 when it did not end within 20 s (it is then killed).
int run_child(const std::string &report, const std::function<void()> &body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        install_crash_handler_at(report);
        body();
        ::_exit(0);
    }
    pollfd p{static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)), POLLIN, 0};
    if (::poll(&p, 1, 20000) != 1)
        ::kill(pid, SIGKILL);
    ::close(p.fd);
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFSIGNALED(status) ? WTERMSIG(status) : -1;
}

bool has(const std::string &text, const std::string &piece)
{
    return text.find(piece) != std::string::npos;
}

} // namespace

// Each report overwrites the last, names the signal and how it came, and ends with its
// end marker; the process then dies of the signal itself.
TEST(CrashReport, EveryFatalSignalIsReportedAndKillsWithItsSignal)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("crash.dat").toStdString();
    const std::string byUs = "code: 0 SI_USER\nsender pid: ";
    const struct {
        const char *what;
        std::function<void()> body;
        int signal;
        std::string report; // pieces that must all be in it, separated by '|'
    } cases[] = {
        {"fault in a worker", [] { in_worker(crash_test_null_write); }, SIGSEGV,
         "signal: 11 SIGSEGV\ncode: 1 SEGV_MAPERR\nfault address: 0x0000000000000010\n|"
         " thread: crash-worker\n|crash_test_null_write|[stack]"},
        {"stack overflow", [] { in_worker([] { crash_test_recurse(0); }); }, SIGSEGV,
         "signal: 11 SIGSEGV\n|crash_test_recurse"},
        {"abort", [] { std::abort(); }, SIGABRT, "signal: 6 SIGABRT\ncode: -6 SI_TKILL\nsender pid: "},
        {"division by zero", divide_by_zero, SIGFPE, "signal: 8 SIGFPE\ncode: 1 FPE_INTDIV\nfault address: 0x"},
        // Sent from outside; the faults above raise the other three.
        {"SIGSEGV sent", [] { ::kill(::getpid(), SIGSEGV); }, SIGSEGV, "signal: 11 SIGSEGV\n" + byUs},
        {"SIGILL sent", [] { ::kill(::getpid(), SIGILL); }, SIGILL, "signal: 4 SIGILL\n" + byUs},
        {"SIGBUS sent", [] { ::kill(::getpid(), SIGBUS); }, SIGBUS, "signal: 7 SIGBUS\n" + byUs}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::time_t before = std::time(nullptr);
        EXPECT_EQ(run_child(path, c.body), c.signal);
        QFile file(QString::fromStdString(path));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const std::string text = file.readAll().toStdString();
        for (const QString &piece : QString::fromStdString(c.report).split('|'))
            EXPECT_TRUE(has(text, piece.toStdString())) << piece.toStdString() << " in\n" << text.substr(0, 400);
        EXPECT_TRUE(text.starts_with("Tessaract crash report\n") && text.ends_with("end of report\n"));
        EXPECT_EQ(text.find("Tessaract crash report", 1), std::string::npos);
        for (const char *pattern : {"\nbuild-id: [0-9a-f]{40}\n", "\n rip=0x[0-9a-f]{16} rsp=0x"})
            EXPECT_TRUE(QRegularExpression(pattern).match(QString::fromStdString(text)).hasMatch()) << pattern;
        // Wall time in UTC, written without the C library's calendar functions.
        const QRegularExpressionMatch when = QRegularExpression(
            "\ntime: (\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d) UTC \\((\\d+)\\)\n")
                                                 .match(QString::fromStdString(text));
        ASSERT_TRUE(when.hasMatch());
        const std::time_t seconds = when.captured(2).toLongLong();
        EXPECT_TRUE(seconds >= before && seconds <= std::time(nullptr));
        std::tm utc{};
        char expected[32];
        std::strftime(expected, sizeof expected, "%Y-%m-%d %H:%M:%S", gmtime_r(&seconds, &utc));
        EXPECT_EQ(when.captured(1).toStdString(), expected);
    }
}
