#include "km_test_support.h"

#include "logging/CLogerManager.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

// One QApplication for every test of the program: widgets, timers and queued calls need it,
// and Qt does not like a second one after the first.
class application_environment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "test_km";
        static char *argv[] = {name, nullptr};
        m_app = new QApplication(argc, argv);
    }
    void TearDown() override
    {
        delete m_app;
        m_app = nullptr;
    }

private:
    QApplication *m_app = nullptr;
};

[[maybe_unused]] const auto *g_environment = ::testing::AddGlobalTestEnvironment(new application_environment);

} // namespace

QString test_program_dir()
{
    const QString named = qEnvironmentVariable("TESSARACT_TEST_PROGRAM_DIR");
    if (!named.isEmpty())
        return named;
    // The build puts tests in <build>/tests and programs in <build>/bin.
    return QDir(QCoreApplication::applicationDirPath() + "/../bin").absolutePath();
}

struct log_capture::impl {
    QTemporaryDir dir;
    LoggerConfig previous;
};

log_capture::log_capture(int level) : m_impl(new impl)
{
    auto *manager = dynamic_cast<CLogerManager *>(ILogManager::getInstance());
    manager->stop();
    m_impl->previous = manager->logger(ILogManager::kMainLogger);
    LoggerConfig config = m_impl->previous;
    config.path = m_impl->dir.path().toStdString() + "/log/";
    config.level = level;
    config.display = false;
    config.enabled = true;
    manager->setLogger(ILogManager::kMainLogger, "Main", config);
    manager->start();
}

log_capture::~log_capture()
{
    auto *manager = dynamic_cast<CLogerManager *>(ILogManager::getInstance());
    manager->stop();
    manager->setLogger(ILogManager::kMainLogger, "Main", m_impl->previous);
    delete m_impl;
}

std::string log_capture::text() const
{
    std::string all;
    QDir dir(m_impl->dir.path() + "/log/");
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            all += file.readAll().toStdString();
    }
    return all;
}

xvfb_server::xvfb_server()
{
    int fds[2];
    if (pipe(fds) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    char program[] = "Xvfb";
    char displayFd[] = "-displayfd";
    char three[] = "3";
    char noReset[] = "-noreset";
    char noListen[] = "-nolisten";
    char tcp[] = "tcp";
    char *argv[] = {program, displayFd, three, noReset, noListen, tcp, nullptr};
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return;
    }
    m_pid = pid;
    // Xvfb writes the display number once it accepts connections.
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (number.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0) {
        char buffer[16];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        number.append(buffer, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    if (number.find('\n') != std::string::npos)
        m_display = ":" + number.substr(0, number.find('\n'));
}

xvfb_server::~xvfb_server()
{
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGTERM);
    int status = 0;
    waitpid(m_pid, &status, 0);
}
