#pragma once

#include "logging/ILogManager.h"

#include <QSemaphore>
#include <QThread>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

// Settings of one logger.
struct LoggerConfig {
    std::string name;           // first part of the file name
    std::string pidText;        // third part of the file name
    std::string path = "./log/";
    int level = LOG_LEVEL_DEBUG;
    bool display = true;        // also print lines on standard output
    bool monthDir = false;      // files go into "YYYY_MM/" below path
    int sizeLimitMb = 100;      // start a new file after this many megabytes
    bool enabled = false;
};

// Writes timestamped lines to rotating files, one set per logger (ids 0..9, 0 = "Main").
// Lines are written in the calling thread; the worker thread only marks the manager as
// running and closes files when it ends.
class CLogerManager : public QThread, public ILogManager {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    CLogerManager();
    ~CLogerManager() override;

    bool canLog(int id, int level) const override;
    bool pushLine(int id, int level, const char *text) override;
    bool start() override;
    void stop() override;

    // Configure before start(); an id outside 0..9 is refused.
    bool setLogger(int id, const std::string &key, const LoggerConfig &config);
    LoggerConfig logger(int id) const;
    // Time source for lines and file names (the system clock unless a test replaces it).
    void setClock(Clock clock) { m_clock = std::move(clock); }

    std::uint64_t linesWritten() const { return m_lines.load(); }
    std::uint64_t bytesWritten() const { return m_bytes.load(); }

    // Formats one line as written to the file: "Y-MM-DD hh:mm:ss.mmm LEVEL text \r\n",
    // cut to 2047 bytes ending in CR LF.
    static std::string formatLine(std::chrono::system_clock::time_point when, int level,
                                  const char *text);
    // The defaults of the main logger: executable base name, "%06d" pid, "./log/".
    static LoggerConfig mainLoggerDefaults();

protected:
    void run() override;

private:
    struct Logger {
        LoggerConfig config;
        std::atomic<bool> enabled{false};
        std::atomic<int> level{LOG_LEVEL_DEBUG};
        std::int64_t fileTime = 0; // seconds since the epoch of the current file's creation
        int fileIndex = 0;
        std::int64_t bytesInFile = 0;
    };

    std::string filePathFor(Logger &logger, std::int64_t lineTime);
    void printConsole(int level, const std::string &line);

    std::array<Logger, kMaxLoggers> m_loggers;
    std::map<std::string, int> m_keys;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stopRequested{false};
    std::mutex m_fileLock;
    std::mutex m_consoleLock;
    QSemaphore m_started;
    Clock m_clock;
    std::atomic<std::uint64_t> m_lines{0};
    std::atomic<std::uint64_t> m_bytes{0};
};
