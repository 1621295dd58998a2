#include "log_capture.h"

#include "logging/CLogerManager.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string_view>

namespace {

CLogerManager &log_manager()
{
    return *dynamic_cast<CLogerManager *>(ILogManager::getInstance());
}

// Sets the main logger's level, keeping its folder; the manager is restarted around the
// change so that no line is written half under each setting.
void set_main_level(int level)
{
    LoggerConfig config = log_manager().logger(ILogManager::kMainLogger);
    config.level = level;
    log_manager().stop();
    log_manager().setLogger(ILogManager::kMainLogger, "Main", config);
    log_manager().start();
}

const QString &log_folder()
{
    static QTemporaryDir folder;
    static const bool started = [] {
        LoggerConfig config = CLogerManager::mainLoggerDefaults();
        config.path = folder.path().toStdString() + "/";
        config.display = false;
        config.level = LOG_LEVEL_TRACE;
        log_manager().stop();
        log_manager().setLogger(ILogManager::kMainLogger, "Main", config);
        return log_manager().start();
    }();
    static const QString path = started ? folder.path() : QString();
    return path;
}

// From the first test on, so that counts taken in a test see everything the test made.
struct log_environment : ::testing::Environment {
    void SetUp() override { ASSERT_FALSE(log_folder().isEmpty()) << "the log manager did not start"; }
};

[[maybe_unused]] auto *const g_logEnvironment = ::testing::AddGlobalTestEnvironment(new log_environment);

} // namespace

std::string logged_text()
{
    std::string all;
    const QDir dir(log_folder());
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
        if (QFile file(dir.filePath(name)); file.open(QIODevice::ReadOnly))
            all += file.readAll().toStdString();
    return all;
}

int log_lines_with(const std::string &piece)
{
    int count = 0;
    const std::string all = logged_text();
    for (std::size_t start = 0, end; start < all.size(); start = end + 1) {
        end = all.find('\n', start);
        if (end == std::string::npos)
            end = all.size();
        count += std::string_view(all).substr(start, end - start).find(piece) != std::string_view::npos;
    }
    return count;
}

log_capture::log_capture(int level)
    : m_mark(logged_text().size()), m_previousLevel(log_manager().logger(ILogManager::kMainLogger).level)
{
    set_main_level(level);
}

log_capture::~log_capture()
{
    set_main_level(m_previousLevel);
}

int log_capture::count(const std::string &piece) const
{
    const std::string since = logged_text().substr(m_mark);
    int count = 0;
    for (std::size_t at = since.find(piece); at != std::string::npos; at = since.find(piece, at + 1))
        ++count;
    return count;
}
