#pragma once

#include "logging/CLogerManager.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <string>

// Points the process's main logger at a private folder (once per test process) and reads
// back what was written. Lines are written on the calling thread, so they are there as soon
// as the log statement returns.
class log_capture {
public:
    static log_capture &instance()
    {
        static log_capture capture;
        return capture;
    }

    // Everything logged so far.
    std::string text() const
    {
        std::string all;
        const QDir dir(m_dir.path());
        for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
            QFile f(dir.filePath(name));
            if (f.open(QIODevice::ReadOnly))
                all += f.readAll().toStdString();
        }
        return all;
    }

    std::size_t mark() const { return text().size(); }
    std::string since(std::size_t mark) const
    {
        const std::string all = text();
        return mark < all.size() ? all.substr(mark) : std::string();
    }

private:
    log_capture()
    {
        auto *manager = dynamic_cast<CLogerManager *>(ILogManager::getInstance());
        LoggerConfig config = CLogerManager::mainLoggerDefaults();
        config.path = m_dir.path().toStdString() + "/";
        config.display = false;
        config.level = LOG_LEVEL_TRACE;
        manager->setLogger(ILogManager::kMainLogger, "Main", config);
        manager->start();
    }

    QTemporaryDir m_dir;
};
