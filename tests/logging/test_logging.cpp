#include "logging/CLogerManager.h"
#include "logging/LogStream.h"
#include "logging/log.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace std::chrono;

namespace {

system_clock::time_point at_local(int year, int month, int day, int hour, int minute)
{
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_isdst = -1;
    return system_clock::from_time_t(std::mktime(&tm));
}

// A manager writing to a temporary folder at a time the test sets.
struct ManagerFixture : ::testing::Test {
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        LoggerConfig config;
        config.name = "tess";
        config.pidText = "000042";
        config.path = dir.path().toStdString() + "/log/";
        config.display = false;
        manager.setLogger(0, "Main", config);
        manager.setClock([this] { return now; });
        ASSERT_TRUE(manager.start());
    }

    QStringList files(const QString &sub = {}) const
    {
        return QDir(dir.path() + "/log/" + sub).entryList(QDir::Files, QDir::Name);
    }

    QTemporaryDir dir;
    CLogerManager manager;
    system_clock::time_point now = at_local(2026, 12, 6, 10, 30);
};

} // namespace

TEST(LogStream, AppendsPiecesAndCutsAtTheBufferEnd)
{
    LogStream s;
    s << "id=" << -5 << ',' << 7u << ',' << static_cast<unsigned char>(200) << ' ' << QString("ü");
    EXPECT_STREQ(s.c_str(), "id=-5,7,200 ü");

    LogStream full;
    const std::string big(3000, 'x');
    full << big << "tail";
    EXPECT_EQ(full.size(), LogStream::kCapacity - 1);
    EXPECT_EQ(std::string(full.c_str()), big.substr(0, LogStream::kCapacity - 1));
}

TEST(LogLine, FormatsLevelNamesAndCutsLongLines)
{
    const auto when = at_local(2026, 12, 6, 9, 5) + milliseconds(7);
    EXPECT_EQ(CLogerManager::formatLine(when, LOG_LEVEL_INFO, "hello"),
              "2026-12-06 09:05:00.007 LOG_INFO  hello \r\n");
    EXPECT_EQ(CLogerManager::formatLine(when, LOG_LEVEL_ERROR, "x").substr(24, 10), "LOG_ERROR ");

    const std::string text(5000, 'a');
    const std::string line = CLogerManager::formatLine(when, LOG_LEVEL_DEBUG, text.c_str());
    ASSERT_EQ(line.size(), 2047u);
    EXPECT_EQ(line.substr(2045), "\r\n");
}

TEST_F(ManagerFixture, WritesNamedFileWithUserOnlyPermissions)
{
    EXPECT_TRUE(manager.canLog(0, LOG_LEVEL_DEBUG));
    EXPECT_FALSE(manager.canLog(0, LOG_LEVEL_TRACE));
    EXPECT_FALSE(manager.canLog(10, LOG_LEVEL_FATAL));
    EXPECT_TRUE(manager.pushLine(0, LOG_LEVEL_INFO, "qt start,para.userID=7 ( main.cpp ) : 12"));

    ASSERT_EQ(files(), QStringList{"tess_202612061030_000042_000.log"});
    QFile file(dir.path() + "/log/" + files().first());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    EXPECT_TRUE(content.contains("LOG_ALARM -----------------  quill thread started!"));
    EXPECT_TRUE(content.endsWith(
        "LOG_INFO  qt start,para.userID=7 ( main.cpp ) : 12 \r\n"));
    struct stat st {};
    ASSERT_EQ(::stat(file.fileName().toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ManagerFixture, NewDayStartsAFileWithIndexZero)
{
    manager.pushLine(0, LOG_LEVEL_INFO, "first");
    now = at_local(2026, 12, 7, 0, 1);
    manager.pushLine(0, LOG_LEVEL_INFO, "second");
    EXPECT_EQ(files(), (QStringList{"tess_202612061030_000042_000.log",
                                    "tess_202612070001_000042_000.log"}));
}

TEST_F(ManagerFixture, SizeLimitOpensTheNextIndex)
{
    LoggerConfig config = manager.logger(0);
    config.sizeLimitMb = 1;
    manager.setLogger(0, "Main", config);
    const std::string text(2000, 'z');
    // Each line is 2037 bytes: 515 of them (after the start-up lines) pass 1,048,576 bytes,
    // so the 516th opens the next file.
    int lines = 0;
    while (files().size() < 2 && lines < 1000) {
        manager.pushLine(0, LOG_LEVEL_INFO, text.c_str());
        ++lines;
    }
    EXPECT_EQ(lines, 516);
    EXPECT_EQ(files(), (QStringList{"tess_202612061030_000042_000.log",
                                    "tess_202612061030_000042_001.log"}));
    EXPECT_GT(QFileInfo(dir.path() + "/log/tess_202612061030_000042_000.log").size(), 1048576);
}

TEST_F(ManagerFixture, MonthDirectoryHoldsTheFile)
{
    LoggerConfig config = manager.logger(0);
    config.monthDir = true;
    manager.setLogger(0, "Main", config);
    manager.pushLine(0, LOG_LEVEL_WARN, "in a month folder");
    EXPECT_EQ(files("2026_12"), QStringList{"tess_202612061030_000042_000.log"});
}

TEST(LogMacro, BuildsNothingWhileTheManagerIsStopped)
{
    int evaluated = 0;
    auto count = [&] { return ++evaluated; };
    TLOG_ERROR << "never built " << count();
    EXPECT_EQ(evaluated, 0);
}
