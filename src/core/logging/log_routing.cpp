#include "logging/log_routing.h"
#include "logging/log.h"

#include <QtGlobal>

extern "C" {
#include <libavutil/log.h>
}

#include <cstdarg>
#include <cstring>

namespace {

int level_from_av(int avLevel)
{
    if (avLevel <= AV_LOG_ERROR)
        return LOG_LEVEL_ERROR;
    if (avLevel <= AV_LOG_WARNING)
        return LOG_LEVEL_WARN;
    if (avLevel <= AV_LOG_INFO)
        return LOG_LEVEL_INFO;
    if (avLevel <= AV_LOG_VERBOSE)
        return LOG_LEVEL_DEBUG;
    return LOG_LEVEL_TRACE;
}

void av_log_to_logger(void *avcl, int avLevel, const char *format, va_list args)
{
    if (avLevel > av_log_get_level())
        return;
    const int level = level_from_av(avLevel);
    if (!ILogManager::getInstance()->canLog(ILogManager::kMainLogger, level))
        return;
    char text[1024];
    int printPrefix = 1;
    av_log_format_line2(avcl, avLevel, format, args, text, sizeof text, &printPrefix);
    std::size_t n = std::strlen(text);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r'))
        text[--n] = '\0';
    if (n > 0)
        TLOG(level) << "ffmpeg: " << text;
}

void qt_to_logger(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    int level = LOG_LEVEL_DEBUG;
    switch (type) {
    case QtDebugMsg: level = LOG_LEVEL_DEBUG; break;
    case QtInfoMsg: level = LOG_LEVEL_INFO; break;
    case QtWarningMsg: level = LOG_LEVEL_WARN; break;
    case QtCriticalMsg: level = LOG_LEVEL_ERROR; break;
    case QtFatalMsg: level = LOG_LEVEL_FATAL; break;
    }
    TLOG(level) << "qt: " << message;
}

} // namespace

void install_log_routing()
{
    av_log_set_callback(av_log_to_logger);
    qInstallMessageHandler(qt_to_logger);
}
