#pragma once

#include "logging/ILogManager.h"
#include "logging/log_flood_guard.h"
#include "logging/log_folder_budget.h"

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
#include <vector>

// Settings of one logger.
struct LoggerConfig {
    std::string name;           // first part of the file name
    std::string pidText;        // third part of the file name
    std::string path = "./log/";
    int level = LOG_LEVEL_DEBUG;
    bool display = true;        // also print lines of consoleLevel and above on standard output
    int consoleLevel = LOG_LEVEL_WARN;
    bool monthDir = false;      // files go into "YYYY_MM/" below path
    int sizeLimitMb = 20;       // start a new file after this many megabytes
    // This logger's files in path (and its month folders) stay under this many megabytes:
    // opening a new file first removes the least recently written ones.
    int folderLimitMb = 200;
    log_flood_limits flood;     // folding of repeated lines, budget of each call site
    bool enabled = false;
};

// Writes timestamped lines to rotating files, one set per logger (ids 0..9, 0 = "Main").
// Lines are written in the calling thread, except that floods are held back: repeated lines
// are folded and a call site over its budget is suppressed (see c_log_flood_guard). The
// worker thread writes the summaries of held-back lines when they fall due, and all of them
// when the manager stops.
class CLogerManager : public QThread, public ILogManager {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    CLogerManager();
    ~CLogerManager() override;

    bool canLog(int id, int level) const override;
    // True also when the line was folded or suppressed rather than written.
    bool pushLine(int id, int level, const char *text) override;
    bool start() override;
    void stop() override;

    // Configure before start(); an id outside 0..9 is refused.
    // Any thread, also while running: settings are swapped under the file lock.
    bool setLogger(int id, const std::string &key, const LoggerConfig &config);
    // A copy of a logger's settings, taken under the file lock; any thread.
    LoggerConfig logger(int id) const;
    // Time source for lines and file names (the system clock unless a test replaces it).
    void setClock(Clock clock) { m_clock = std::move(clock); }
    // Writes the summaries of held-back lines that are due by the clock; the worker thread
    // calls it every 100 ms.
    void writeDueSummaries() { writeSummaries(false); }

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
        c_log_flood_guard guard;
    };

    void writeSummaries(bool all);
    void writeHeldBack(Logger &logger, std::chrono::system_clock::time_point now);
    void writeLine(Logger &logger, int level, const char *text,
                   std::chrono::system_clock::time_point now);
    std::string filePathFor(Logger &logger, std::int64_t lineTime, log_prune_result &pruned);
    void printConsole(int level, const std::string &line);

    std::array<Logger, kMaxLoggers> m_loggers;
    std::map<std::string, int> m_keys;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stopRequested{false};
    mutable std::mutex m_fileLock; // guards every Logger's config and file state
    std::mutex m_consoleLock;
    std::vector<c_log_flood_guard::summary> m_heldBack; // reused under the file lock
    QSemaphore m_started;
    Clock m_clock;
    std::atomic<std::uint64_t> m_lines{0};
    std::atomic<std::uint64_t> m_bytes{0};
};
