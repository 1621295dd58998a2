#pragma once

// Call-site convention of every log statement:
//
//     TLOG_INFO << "video userID send";
//
// asks canLog(0, level) first (nothing is built when it says no), composes the pieces in a
// LogStream, appends " ( " source " ) : " line, and hands the text to the main logger.

#include "logging/ILogManager.h"
#include "logging/LogStream.h"

class LogLine {
public:
    LogLine(int level, const char *source, int line)
        : m_level(level), m_source(source), m_line(line),
          m_active(ILogManager::getInstance()->canLog(ILogManager::kMainLogger, level)) {}

    bool active() const { return m_active; }
    LogStream &stream() { return m_stream; }
    void finish()
    {
        m_stream << " ( " << m_source << " ) : " << m_line;
        ILogManager::getInstance()->pushLine(ILogManager::kMainLogger, m_level, m_stream.c_str());
        m_active = false;
    }

private:
    int m_level;
    const char *m_source;
    int m_line;
    bool m_active;
    LogStream m_stream;
};

#define TLOG(level) \
    for (LogLine tlog_line_((level), __FILE__, __LINE__); tlog_line_.active(); tlog_line_.finish()) \
        tlog_line_.stream()

#define TLOG_TRACE TLOG(LOG_LEVEL_TRACE)
#define TLOG_DEBUG TLOG(LOG_LEVEL_DEBUG)
#define TLOG_INFO TLOG(LOG_LEVEL_INFO)
#define TLOG_WARN TLOG(LOG_LEVEL_WARN)
#define TLOG_ERROR TLOG(LOG_LEVEL_ERROR)
#define TLOG_ALARM TLOG(LOG_LEVEL_ALARM)
#define TLOG_FATAL TLOG(LOG_LEVEL_FATAL)
