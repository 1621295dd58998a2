#pragma once

// A program under test, started with fork/exec so that the test sees its real wait status
// (the signal that ended it) and its /proc entry. Every wait is bounded.

#include <QDir>
#include <QFile>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char **environ;

class ChildProcess {
public:
    struct Options {
        std::string program;
        std::vector<std::string> args;                           // after argv[0]
        std::vector<std::pair<std::string, std::string>> env;    // added or replaced; "" removes
        std::string outputFile;   // stdout and stderr go here
        std::string errorFile;    // when set, stderr goes here instead
    };

    ChildProcess() = default;
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;
    ~ChildProcess()
    {
        if (m_pid > 0 && !m_reaped) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    bool start(const Options &options)
    {
        // Everything the child needs is prepared before fork: after it only exec-safe calls.
        std::vector<std::string> argStore{options.program};
        argStore.insert(argStore.end(), options.args.begin(), options.args.end());
        std::vector<std::string> envStore;
        for (char **e = environ; *e; ++e) {
            const std::string entry(*e);
            bool replaced = false;
            for (const auto &[key, value] : options.env)
                replaced = replaced || entry.rfind(key + "=", 0) == 0;
            if (!replaced)
                envStore.push_back(entry);
        }
        for (const auto &[key, value] : options.env)
            if (!value.empty())
                envStore.push_back(key + "=" + value);
        std::vector<char *> argv, envp;
        for (auto &a : argStore)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto &e : envStore)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        const auto open_output = [](const std::string &path) {
            return ::open(path.empty() ? "/dev/null" : path.c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        };
        const int outFd = open_output(options.outputFile);
        const int errFd = options.errorFile.empty() ? ::dup(outFd) : open_output(options.errorFile);
        // A program that reads its input finds it ended at once.
        const int inFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (outFd >= 0 && errFd >= 0 && inFd >= 0) {
            m_pid = ::fork();
            if (m_pid == 0) {
                const rlimit noCore{0, 0};
                ::setrlimit(RLIMIT_CORE, &noCore);
                ::dup2(inFd, STDIN_FILENO);
                ::dup2(outFd, STDOUT_FILENO);
                ::dup2(errFd, STDERR_FILENO);
                ::execve(argv[0], argv.data(), envp.data());
                ::_exit(127);
            }
        }
        for (const int fd : {outFd, errFd, inFd})
            if (fd >= 0)
                ::close(fd);
        return m_pid > 0;
    }

    pid_t pid() const { return m_pid; }

    void signal(int sig) const { ::kill(m_pid, sig); }

    // The wait status once the program has ended, or nothing after timeoutMs.
    std::optional<int> waitExit(int timeoutMs)
    {
        if (m_reaped)
            return m_status;
        const int fd = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
        if (fd < 0)
            return std::nullopt;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, timeoutMs);
        ::close(fd);
        if (ready != 1 || ::waitpid(m_pid, &m_status, 0) != m_pid)
            return std::nullopt;
        m_reaped = true;
        return m_status;
    }

private:
    pid_t m_pid = -1;
    int m_status = 0;
    bool m_reaped = false;
};

// Checks `condition` every 20 ms until it holds or timeoutMs has passed. For conditions
// with nothing to wait on (a file another process writes).
inline bool wait_until(const std::function<bool()> &condition, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// The whole content of a file, empty when it cannot be read.
inline std::string read_file_text(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

// A copy of one of the build's programs in `dir`, executable; false when it is missing.
inline bool copy_program(const QString &name, const QString &dir)
{
    QString programs = qEnvironmentVariable("TESSARACT_TEST_PROGRAM_DIR");
    if (programs.isEmpty())
        programs = QStringLiteral(TESSARACT_BUILD_PROGRAM_DIR);
    const QString from = programs + "/" + name;
    const QString to = dir + "/" + name;
    return QFile::copy(from, to) &&
           QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
