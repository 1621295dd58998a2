#include "logging/CLogerManager.h"
#include "logging/LogStream.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMaxLine = 2047;
constexpr std::int64_t kMegabyte = 1048576;

std::tm local_tm(std::time_t seconds)
{
    std::tm tm{};
    localtime_r(&seconds, &tm);
    return tm;
}

bool same_day(std::int64_t a, std::int64_t b)
{
    const std::tm ta = local_tm(static_cast<std::time_t>(a));
    const std::tm tb = local_tm(static_cast<std::time_t>(b));
    return ta.tm_year == tb.tm_year && ta.tm_yday == tb.tm_yday;
}

// mkdir -p, user-only permissions for folders we create.
bool make_dirs(const std::string &path)
{
    std::string partial;
    for (std::size_t i = 0; i < path.size(); ++i) {
        partial += path[i];
        if (path[i] != '/' && i + 1 != path.size())
            continue;
        if (partial == "/" || partial == "./" || partial == "../")
            continue;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

void write_all(int fd, const char *data, std::size_t length)
{
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
}

} // namespace

const char *log_level_name(int level)
{
    static const char *const names[] = {"LOG_TRACE", "LOG_DEBUG", "LOG_INFO ", "LOG_WARN ",
                                        "LOG_ERROR", "LOG_ALARM", "LOG_FATAL"};
    return level >= 0 && level <= 6 ? names[level] : "LOG_?????";
}

ILogManager *ILogManager::getInstance()
{
    static CLogerManager manager;
    return &manager;
}

CLogerManager::CLogerManager() : m_clock([] { return std::chrono::system_clock::now(); })
{
    setObjectName(QStringLiteral("log"));
    setLogger(kMainLogger, "Main", mainLoggerDefaults());
}

CLogerManager::~CLogerManager()
{
    stop();
}

LoggerConfig CLogerManager::mainLoggerDefaults()
{
    LoggerConfig config;
    char exe[4096];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        std::string path(exe, static_cast<std::size_t>(n));
        std::string base = path.substr(path.find_last_of('/') + 1);
        const std::size_t dot = base.find_last_of('.');
        config.name = dot == std::string::npos ? base : base.substr(0, dot);
    } else {
        config.name = "MainLog";
    }
    char pid[16];
    std::snprintf(pid, sizeof pid, "%06d", static_cast<int>(::getpid()));
    config.pidText = pid;
    return config;
}

bool CLogerManager::setLogger(int id, const std::string &key, const LoggerConfig &config)
{
    if (id < 0 || id >= kMaxLoggers) {
        printConsole(LOG_LEVEL_FATAL, "quill: OpenLogger can not open, invalide logger id! \r\n");
        return false;
    }
    std::lock_guard lock(m_fileLock);
    Logger &logger = m_loggers[static_cast<std::size_t>(id)];
    logger.config = config;
    logger.level = config.level;
    logger.guard.setLimits(config.flood);
    logger.enabled = config.enabled || (id == kMainLogger && m_running);
    logger.fileTime = 0;
    logger.fileIndex = 0;
    logger.bytesInFile = 0;
    m_keys[key] = id;
    return true;
}

LoggerConfig CLogerManager::logger(int id) const
{
    if (id < 0 || id >= kMaxLoggers)
        return {};
    const Logger &logger = m_loggers[static_cast<std::size_t>(id)];
    std::lock_guard lock(m_fileLock);
    LoggerConfig config = logger.config;
    config.enabled = logger.enabled;
    return config;
}

bool CLogerManager::canLog(int id, int level) const
{
    if (!m_running.load(std::memory_order_relaxed) || id < 0 || id >= kMaxLoggers)
        return false;
    const Logger &logger = m_loggers[static_cast<std::size_t>(id)];
    return logger.enabled.load(std::memory_order_relaxed) &&
           level >= logger.level.load(std::memory_order_relaxed);
}

std::string CLogerManager::formatLine(std::chrono::system_clock::time_point when, int level,
                                      const char *text)
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(when.time_since_epoch()).count();
    const std::tm tm = local_tm(static_cast<std::time_t>(ms / 1000));
    char head[64];
    const int n = std::snprintf(head, sizeof head, "%d-%02d-%02d %02d:%02d:%02d.%03d %s ",
                                tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                                tm.tm_min, tm.tm_sec, static_cast<int>(ms % 1000),
                                log_level_name(level));
    std::string line(head, static_cast<std::size_t>(n));
    line += text;
    line += " \r\n";
    if (line.size() > kMaxLine) {
        line.resize(kMaxLine);
        line[kMaxLine - 2] = '\r';
        line[kMaxLine - 1] = '\n';
    }
    return line;
}

bool CLogerManager::pushLine(int id, int level, const char *text)
{
    if (!canLog(id, level))
        return false;
    const auto now = m_clock();
    if (!text)
        text = "";
    Logger &logger = m_loggers[static_cast<std::size_t>(id)];
    // One lock for the decision and the write, so the file shows lines in the order the
    // guard saw them and a summary lands right after the run it stands for.
    std::lock_guard lock(m_fileLock);
    m_heldBack.clear();
    const bool write = logger.guard.admit(level, text, now, m_heldBack);
    writeHeldBack(logger, now);
    if (write)
        writeLine(logger, level, text, now);
    return true;
}

void CLogerManager::writeSummaries(bool all)
{
    const auto now = m_clock();
    std::lock_guard lock(m_fileLock);
    for (Logger &logger : m_loggers) {
        m_heldBack.clear();
        logger.guard.collectDue(now, all, m_heldBack);
        writeHeldBack(logger, now);
    }
}

// Called under the file lock.
void CLogerManager::writeHeldBack(Logger &logger, std::chrono::system_clock::time_point now)
{
    for (const c_log_flood_guard::summary &line : m_heldBack)
        writeLine(logger, line.level, line.text.c_str(), now);
}

// Prints and writes one line. Called under the file lock.
void CLogerManager::writeLine(Logger &logger, int level, const char *text,
                              std::chrono::system_clock::time_point now)
{
    const std::string line = formatLine(now, level, text);
    // Alarm lines are the log's own record of how it was set up (its thread started, each
    // logger's settings): for the file, not for the user watching standard output.
    if (logger.config.display && level >= logger.config.consoleLevel && level != LOG_LEVEL_ALARM)
        printConsole(level, line);

    const std::int64_t seconds =
        std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    log_prune_result pruned;
    const std::string path = filePathFor(logger, seconds, pruned);
    if (path.empty())
        return;
    // Log files may hold what users do: readable by the user only.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return; // the line is dropped, nothing else is reported
    std::string out;
    if (pruned.files > 0) {
        LogStream note;
        note << "log folder kept under " << logger.config.folderLimitMb
             << " MB: removed old files: " << pruned.files << " (" << pruned.bytes << " bytes)";
        out = formatLine(now, LOG_LEVEL_WARN, note.c_str());
    }
    out += line;
    write_all(fd, out.data(), out.size());
    ::close(fd);
    logger.bytesInFile += static_cast<std::int64_t>(out.size());
    m_lines.fetch_add(pruned.files > 0 ? 2 : 1);
    m_bytes.fetch_add(out.size());
}

// Day and size rotation, then the folder and the name of the file for a line written at
// lineTime. Opening a new file first prunes the folder to its budget. Called under the file
// lock.
std::string CLogerManager::filePathFor(Logger &logger, std::int64_t lineTime,
                                       log_prune_result &pruned)
{
    const LoggerConfig &config = logger.config;
    bool newFile = true;
    if (logger.fileTime == 0 || !same_day(logger.fileTime, lineTime)) {
        logger.fileIndex = 0;
        logger.bytesInFile = 0;
        logger.fileTime = lineTime;
    } else if (logger.bytesInFile > std::int64_t{config.sizeLimitMb} * kMegabyte) {
        ++logger.fileIndex;
        logger.bytesInFile = 0;
    } else {
        newFile = false;
    }

    const std::tm tm = local_tm(static_cast<std::time_t>(logger.fileTime));
    std::string base = config.path;
    if (!base.empty() && base.back() != '/')
        base += '/';
    std::string dir = base;
    if (config.monthDir) {
        char month[32];
        std::snprintf(month, sizeof month, "%04d_%02d/", tm.tm_year + 1900, tm.tm_mon + 1);
        dir += month;
    }
    if (!make_dirs(dir))
        return {};
    if (newFile) {
        // Room for the new file to grow to its limit inside the folder's budget.
        const std::int64_t keepMb = std::max(0, config.folderLimitMb - config.sizeLimitMb);
        pruned = prune_log_files(base.empty() ? "./" : base, config.monthDir, config.name,
                                 static_cast<std::uint64_t>(keepMb * kMegabyte));
    }
    char name[512];
    std::snprintf(name, sizeof name, "%s_%04d%02d%02d%02d%02d_%s_%03d.log", config.name.c_str(),
                  tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                  config.pidText.c_str(), logger.fileIndex);
    return dir + name;
}

void CLogerManager::printConsole(int level, const std::string &line)
{
    // ANSI equivalents of the console attributes: cyan, yellow, red, green, magenta.
    static const char *const colours[] = {"", "", "\x1b[36m", "\x1b[33m",
                                          "\x1b[31m", "\x1b[32m", "\x1b[35m"};
    std::lock_guard lock(m_consoleLock);
    const bool coloured = level >= 2 && level <= 6 && ::isatty(STDOUT_FILENO);
    if (coloured)
        std::fputs(colours[level], stdout);
    std::fwrite(line.data(), 1, line.size(), stdout);
    if (coloured)
        std::fputs("\x1b[0m", stdout);
    std::fflush(stdout);
}

bool CLogerManager::start()
{
    if (m_running || isRunning())
        return false;
    m_stopRequested = false;
    QThread::start();
    if (!m_started.tryAcquire(1, 3000)) {
        printConsole(LOG_LEVEL_FATAL, "quill: create quill thread error! \r\n");
        return false;
    }
    return true;
}

void CLogerManager::stop()
{
    m_stopRequested = true;
    m_running = false;
    if (isRunning())
        wait();
}

void CLogerManager::run()
{
    m_loggers[kMainLogger].enabled = true;
    m_running = true;
    pushLine(kMainLogger, LOG_LEVEL_ALARM,
             "-----------------  quill thread started!   ----------------------------");
    for (int id = 0; id < kMaxLoggers; ++id) {
        // A copy: setLogger may swap the settings from another thread meanwhile.
        const LoggerConfig config = logger(id);
        if (!config.enabled)
            continue;
        LogStream text;
        text << "logger id=" << id << " path=" << config.path << " name=" << config.name
             << " level=" << config.level << " display=" << (config.display ? 1 : 0);
        pushLine(kMainLogger, LOG_LEVEL_ALARM, text.c_str());
    }
    m_started.release();
    while (!m_stopRequested) {
        QThread::msleep(100);
        writeSummaries(false);
    }
    // Nothing held back is lost; files are closed after every line, none is left open.
    writeSummaries(true);
}
