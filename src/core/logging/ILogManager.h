#pragma once

// The process-wide log funnel. Every log statement of the program asks canLog() first and
// only then builds its text (see log.h for the call-site macros).

enum LogLevel : int {
    LOG_LEVEL_TRACE = 0,
    LOG_LEVEL_DEBUG = 1,
    LOG_LEVEL_INFO = 2,
    LOG_LEVEL_WARN = 3,
    LOG_LEVEL_ERROR = 4,
    LOG_LEVEL_ALARM = 5,
    LOG_LEVEL_FATAL = 6,
};

// The nine-character name written in a line ("LOG_INFO " carries a trailing blank).
const char *log_level_name(int level);

class ILogManager {
public:
    static constexpr int kMaxLoggers = 10;
    static constexpr int kMainLogger = 0;

    // The manager of the process, created on first call, stopped at program exit.
    static ILogManager *getInstance();

    virtual ~ILogManager() = default;

    // True when the manager runs, id is 0..9, that logger is enabled and level reaches its
    // level. Lock-free: any thread may call it.
    virtual bool canLog(int id, int level) const = 0;
    // Writes one line in the calling thread; false when canLog fails.
    virtual bool pushLine(int id, int level, const char *text) = 0;
    // Starts the worker and waits up to 3000 ms for it; false when already running or late.
    virtual bool start() = 0;
    // Clears the running flag and waits for the worker to end.
    virtual void stop() = 0;
};
