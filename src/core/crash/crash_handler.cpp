#include "crash/crash_handler.h"
#include "crash/crash_report.h"
#include "launch/program_paths.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGABRT, SIGFPE, SIGILL, SIGBUS};
constexpr std::size_t kAltStackSize = 64 * 1024;
// An alternate stack someone else set up is kept when it has at least this much room.
constexpr std::size_t kMinUsableAltStack = 16 * 1024;

// Written at install, before the handler can run; read only by the handler.
char g_reportPath[4096];
CrashReportFacts g_facts;
std::atomic<pid_t> g_reportingThread{0};

// An alternate stack with a guard page below it, so overflowing it faults instead of
// overwriting other memory.
struct AltStack {
    void *mapping = nullptr;
    std::size_t mappingSize = 0;
    void *stack = nullptr;

    bool map()
    {
        const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        mappingSize = kAltStackSize + page;
        void *m = ::mmap(nullptr, mappingSize, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (m == MAP_FAILED)
            return false;
        ::mprotect(m, page, PROT_NONE);
        mapping = m;
        stack = static_cast<char *>(m) + page;
        return true;
    }
    bool enable() const
    {
        stack_t ss{};
        ss.ss_sp = stack;
        ss.ss_size = kAltStackSize;
        return ::sigaltstack(&ss, nullptr) == 0;
    }
};

// Owns a worker thread's alternate stack and releases it when the thread ends.
struct ThreadAltStack {
    AltStack alt;
    ~ThreadAltStack()
    {
        if (!alt.mapping)
            return;
        stack_t current{};
        if (::sigaltstack(nullptr, &current) == 0 && current.ss_sp == alt.stack) {
            stack_t off{};
            off.ss_flags = SS_DISABLE;
            ::sigaltstack(&off, nullptr);
        }
        ::munmap(alt.mapping, alt.mappingSize);
    }
};

bool has_usable_alt_stack()
{
    stack_t current{};
    return ::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE) &&
           current.ss_size >= kMinUsableAltStack;
}

void write_stderr(const char *text)
{
    const std::size_t n = std::strlen(text);
    [[maybe_unused]] const ssize_t w = ::write(STDERR_FILENO, text, n);
}

// Runs on the faulting thread, on its alternate stack. SA_RESETHAND has already put the
// default action back for this signal.
void on_fatal_signal(int sig, siginfo_t *info, void *context)
{
    const int savedErrno = errno;
    const pid_t self = ::gettid();
    pid_t expected = 0;
    if (!g_reportingThread.compare_exchange_strong(expected, self) && expected != self) {
        // Another thread is writing the report and will end the process; give it time.
        for (int i = 0; i < 500; ++i) {
            const timespec pause{0, 10 * 1000 * 1000};
            ::nanosleep(&pause, nullptr);
        }
    } else if (expected == 0 && g_reportPath[0] != '\0') {
        const int fd = ::open(g_reportPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd >= 0) {
            write_crash_report(fd, sig, info, context, g_facts);
            ::close(fd);
        }
    }
    write_stderr("Fatal Error: signal ");
    write_stderr(crash_signal_name(sig));
    write_stderr(g_reportPath[0] ? ", report in " : ", no report written");
    write_stderr(g_reportPath);
    write_stderr("\n");
    // The signal is blocked while this handler runs, so it is delivered with its default
    // action as soon as the handler returns; a fault would also simply recur.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
    errno = savedErrno;
}

std::string default_report_path(const char *fileName)
{
    const std::string dir = program_dir();
    if (!dir.empty() && ::access(dir.c_str(), W_OK | X_OK) == 0)
        return dir + "/" + fileName;
    const std::string state = user_state_dir();
    if (make_writable_dir(state))
        return state + "/" + fileName;
    return {};
}

} // namespace

void install_crash_handler(const char *fileName)
{
    install_crash_handler_at(default_report_path(fileName));
}

void install_crash_handler_at(const std::string &reportPath)
{
    if (reportPath.size() < sizeof g_reportPath) {
        std::memcpy(g_reportPath, reportPath.c_str(), reportPath.size() + 1);
    } else {
        g_reportPath[0] = '\0';
    }
    gather_crash_facts(g_facts);
    // The first backtrace() loads the unwinder; doing it here keeps that out of the handler.
    void *frames[4];
    ::backtrace(frames, 4);

    // The installing thread (normally the main thread) keeps its stack for the whole run.
    if (!has_usable_alt_stack()) {
        static AltStack mainStack;
        if (mainStack.mapping || mainStack.map())
            mainStack.enable();
    }

    struct sigaction action {};
    action.sa_sigaction = on_fatal_signal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int sig : kFatalSignals)
        ::sigaction(sig, &action, nullptr);
}

std::string crash_report_path()
{
    return g_reportPath;
}

bool install_thread_alt_stack()
{
    if (has_usable_alt_stack())
        return true;
    thread_local ThreadAltStack holder;
    if (!holder.alt.mapping && !holder.alt.map())
        return false;
    return holder.alt.enable();
}
