#pragma once

#include "logging/CLogerManager.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <string>

inline QByteArray read_all(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Points the process's main logger at a private folder (once per test process) and reads
// back what was written. Lines are written by the thread that logs them, so they are in the
// file once the statement has returned.
class settings_log {
public:
    static settings_log &instance()
    {
        static settings_log log;
        return log;
    }

    // Everything logged so far.
    std::string text() const
    {
        std::string all;
        const QDir dir(m_dir.path());
        for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
            all += read_all(dir.filePath(name)).toStdString();
        return all;
    }

private:
    settings_log()
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

// Logged lines since construction, for EXPECT_THAT(log.text(), HasSubstr(...)).
class log_since {
public:
    std::string text() const { return settings_log::instance().text().substr(m_mark); }

private:
    std::size_t m_mark = settings_log::instance().text().size();
};

inline void write_all(const QString &path, const QByteArray &data)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(data);
}
