#include "crash/crash_handler.h"
#include "crash/crash_report.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <pthread.h>
#include <string>
#include <sys/syscall.h>
#include <sys/poll.h>
#include <sys/resource.h>
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

// Waits for a child to end, at most timeoutMs; its wait status, or nothing on timeout
// (the child is then killed and reaped).
std::optional<int> wait_for_exit(pid_t pid, int timeoutMs)
{
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd >= 0) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, timeoutMs);
        ::close(fd);
        if (ready <= 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            return std::nullopt;
        }
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid)
        return std::nullopt;
    return status;
}

// Runs body in a forked child without core dumps; the child's wait status.
std::optional<int> run_child(const std::function<void()> &body, int timeoutMs = 20000)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        body();
        ::_exit(0);
    }
    return pid > 0 ? wait_for_exit(pid, timeoutMs) : std::nullopt;
}

std::string read_text(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

bool matches(const std::string &text, const char *pattern)
{
    return QRegularExpression(pattern).match(QString::fromStdString(text)).hasMatch();
}

bool contains(const std::string &text, const std::string &piece)
{
    return text.find(piece) != std::string::npos;
}

struct CrashReport : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    std::string path() const { return dir.filePath("crash.dat").toStdString(); }
    std::string report() const { return read_text(dir.filePath("crash.dat")); }

    QTemporaryDir dir;
};

// A real division instruction, with the undefined-behaviour checker out of its way so the
// processor raises the signal even in sanitizer builds.
__attribute__((no_sanitize("undefined"), noinline)) void divide_by_zero()
{
    // Both operands unknown to the compiler.
    volatile int numerator = 7;
    volatile int zero = 0;
    volatile int result = numerator / zero;
    (void)result;
}

} // namespace

TEST_F(CrashReport, FaultInAWorkerThreadIsReportedAndKillsWithItsSignal)
{
    const std::time_t before = std::time(nullptr);
    const auto status = run_child([this] {
        install_crash_handler_at(path());
        std::thread worker([] {
            pthread_setname_np(pthread_self(), "crash-worker");
            install_thread_alt_stack();
            crash_test_null_write();
        });
        worker.join();
    });
    ASSERT_TRUE(status.has_value());
    ASSERT_TRUE(WIFSIGNALED(*status));
    EXPECT_EQ(WTERMSIG(*status), SIGSEGV);

    const std::string text = report();
    EXPECT_TRUE(contains(text, "Tessaract crash report\nsignal: 11 SIGSEGV\ncode: 1 SEGV_MAPERR\n"
                               "fault address: 0x0000000000000010\n"))
        << text.substr(0, 300);
    EXPECT_TRUE(contains(text, " thread: crash-worker\n"));
    EXPECT_TRUE(matches(text, "\nbuild-id: [0-9a-f]{40}\n"));
    EXPECT_TRUE(matches(text, "\n rip=0x[0-9a-f]{16} rsp=0x"));
    // The backtrace runs from the handler through the faulting function.
    const std::size_t trace = text.find("\nbacktrace:\n");
    const std::size_t maps = text.find("\nmaps:\n");
    ASSERT_NE(trace, std::string::npos);
    ASSERT_NE(maps, std::string::npos);
    EXPECT_TRUE(contains(text.substr(trace, maps - trace), "crash_test_null_write"));
    EXPECT_TRUE(contains(text.substr(maps), "[stack]"));
    EXPECT_TRUE(text.ends_with("end of report\n"));

    // Wall time in UTC, written without the C library's calendar functions.
    const QRegularExpressionMatch when = QRegularExpression(
        "\ntime: (\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d) UTC \\((\\d+)\\)\n")
                                             .match(QString::fromStdString(text));
    ASSERT_TRUE(when.hasMatch());
    const std::time_t seconds = when.captured(2).toLongLong();
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, std::time(nullptr));
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char expected[32];
    std::strftime(expected, sizeof expected, "%Y-%m-%d %H:%M:%S", &utc);
    EXPECT_EQ(when.captured(1).toStdString(), expected);
}

TEST_F(CrashReport, StackOverflowIsReportedFromTheAlternateStack)
{
    const auto status = run_child([this] {
        install_crash_handler_at(path());
        std::thread worker([] {
            install_thread_alt_stack();
            crash_test_recurse(0);
        });
        worker.join();
    });
    ASSERT_TRUE(status.has_value());
    ASSERT_TRUE(WIFSIGNALED(*status));
    EXPECT_EQ(WTERMSIG(*status), SIGSEGV);
    const std::string text = report();
    EXPECT_TRUE(contains(text, "signal: 11 SIGSEGV\n")) << text.substr(0, 300);
    EXPECT_TRUE(contains(text, "crash_test_recurse"));
    EXPECT_TRUE(text.ends_with("end of report\n"));
}

TEST_F(CrashReport, AbortAndDivisionByZeroAreReportedEachOverwritingTheLast)
{
    pid_t aborted = 0;
    const auto first = run_child([this] {
        install_crash_handler_at(path());
        std::abort();
    });
    ASSERT_TRUE(first.has_value());
    ASSERT_TRUE(WIFSIGNALED(*first));
    EXPECT_EQ(WTERMSIG(*first), SIGABRT);
    std::string text = report();
    EXPECT_TRUE(contains(text, "signal: 6 SIGABRT\ncode: -6 SI_TKILL\nsender pid: "))
        << text.substr(0, 300);
    const QRegularExpressionMatch pid =
        QRegularExpression("\npid: (\\d+) tid: \\d+").match(QString::fromStdString(text));
    ASSERT_TRUE(pid.hasMatch());
    aborted = pid.captured(1).toInt();
    EXPECT_TRUE(contains(text, "sender pid: " + std::to_string(aborted) + " "));

    const auto second = run_child([this] {
        install_crash_handler_at(path());
        divide_by_zero();
    });
    ASSERT_TRUE(second.has_value());
    ASSERT_TRUE(WIFSIGNALED(*second));
    EXPECT_EQ(WTERMSIG(*second), SIGFPE);
    text = report();
    EXPECT_TRUE(contains(text, "signal: 8 SIGFPE\ncode: 1 FPE_INTDIV\nfault address: 0x"))
        << text.substr(0, 300);
    EXPECT_FALSE(contains(text, "SIGABRT"));
    EXPECT_EQ(text.find("Tessaract crash report"), text.rfind("Tessaract crash report"));
}

TEST_F(CrashReport, EveryFatalSignalSentFromOutsideIsReported)
{
    for (const int sig : {SIGSEGV, SIGABRT, SIGFPE, SIGILL, SIGBUS}) {
        SCOPED_TRACE(crash_signal_name(sig));
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            const rlimit noCore{0, 0};
            ::setrlimit(RLIMIT_CORE, &noCore);
            install_crash_handler_at(path());
            const char byte = 1;
            [[maybe_unused]] const ssize_t n = ::write(ready[1], &byte, 1);
            for (;;)
                ::pause();
        }
        ASSERT_GT(pid, 0);
        ::close(ready[1]);
        pollfd p{ready[0], POLLIN, 0};
        char byte = 0;
        const bool started = ::poll(&p, 1, 10000) == 1 && ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
        EXPECT_TRUE(started);
        ::kill(pid, sig);
        const auto status = wait_for_exit(pid, 10000);
        ASSERT_TRUE(status.has_value());
        ASSERT_TRUE(WIFSIGNALED(*status));
        EXPECT_EQ(WTERMSIG(*status), sig);
        const std::string text = report();
        EXPECT_TRUE(contains(text, "signal: " + std::to_string(sig) + " " + crash_signal_name(sig) +
                                       "\ncode: 0 SI_USER\nsender pid: " +
                                       std::to_string(::getpid()) + " "))
            << text.substr(0, 300);
    }
}

TEST(CrashAltStack, ThreadGetsAStackOnceAndKeepsIt)
{
    std::thread worker([] {
        ASSERT_TRUE(install_thread_alt_stack());
        stack_t first{};
        ASSERT_EQ(::sigaltstack(nullptr, &first), 0);
        EXPECT_FALSE(first.ss_flags & SS_DISABLE);
        EXPECT_GE(first.ss_size, 16u * 1024);
        ASSERT_TRUE(install_thread_alt_stack());
        stack_t second{};
        ASSERT_EQ(::sigaltstack(nullptr, &second), 0);
        EXPECT_EQ(second.ss_sp, first.ss_sp);
    });
    worker.join();
    EXPECT_TRUE(crash_report_path().empty());
}
