#include "logging/CLogerManager.h"
#include "logging/log.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace std::chrono;

namespace {

system_clock::time_point at_local(int year, int month, int day, int hour, int minute)
{
    std::tm tm{0, minute, hour, day, month - 1, year - 1900, 0, 0, -1, 0, nullptr};
    return system_clock::from_time_t(std::mktime(&tm));
}

// A manager writing to a temporary folder at a time the test sets.
struct ManagerFixture : ::testing::Test {
    void start(void (*change)(LoggerConfig &) = [](LoggerConfig &) {})
    {
        LoggerConfig config{.name = "tess", .pidText = "000042",
                            .path = dir.path().toStdString(), .display = false};
        change(config);
        manager.setLogger(0, "Main", config);
        manager.setClock([this] { return now.load(); });
        ASSERT_TRUE(manager.start());
    }

    QStringList files(const QString &sub = {}) const
    {
        return QDir(dir.path() + "/" + sub).entryList(QDir::Files, QDir::Name);
    }

    // How often `piece` occurs in the log files.
    int count(const char *piece) const
    {
        QByteArray all;
        for (QDirIterator it(dir.path(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            if (QFile file(it.next()); file.open(QIODevice::ReadOnly))
                all += file.readAll();
        return static_cast<int>(all.count(piece));
    }

    QTemporaryDir dir;
    CLogerManager manager;
    std::atomic<system_clock::time_point> now{at_local(2026, 12, 6, 10, 30)};
};

} // namespace

// Size and day rotation open new files in the month's folder; a new file first makes room
// for itself in the folder's budget by removing the least recently written files of this
// logger, and only of this logger.
TEST_F(ManagerFixture, RotationOpensNewFilesWithinTheFolderBudget)
{
    const auto make = [this](const QString &name, qint64 mb, qint64 written) {
        QFile file(dir.path() + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(mb * 1048576));
        ASSERT_TRUE(file.setFileTime(QDateTime::fromSecsSinceEpoch(written), QFile::FileModificationTime));
    };
    for (int run : {3, 1, 2}) // three earlier runs, the third the last to write
        make(QString("tess_202601010000_00000%1_000.log").arg(run), 1, run * 1000);
    for (const char *foreign : {"tess2_202601010000_000001_000.log", "tess_old.log", "notes.txt"})
        make(foreign, 5, 10);
    start([](LoggerConfig &c) { c.monthDir = true; c.sizeLimitMb = 1; c.folderLimitMb = 4; });
    for (int i = 0; i < 600; ++i) // 1.2 MB, each line its own call site
        manager.pushLine(0, LOG_LEVEL_INFO, (std::string(2000, 'z') + " ( c.cpp ) : " + std::to_string(i)).c_str());
    now = at_local(2027, 1, 1, 0, 1);
    manager.pushLine(0, LOG_LEVEL_INFO, "new year");
    EXPECT_EQ(files(), (QStringList{"notes.txt", "tess2_202601010000_000001_000.log",
                                    "tess_202601010000_000003_000.log", "tess_old.log"}));
    EXPECT_TRUE(files("2026_12").contains("tess_202612061030_000042_001.log"));
    EXPECT_EQ(files("2027_01"), QStringList{"tess_202701010001_000042_000.log"});
    // Both made room at the size rotation: before it, the old files fitted beside a new one.
    EXPECT_EQ(count("LOG_WARN  log folder kept under 4 MB: removed old files: 2 (2097152 bytes)"), 1);
}

// A flood from four threads: identical lines are folded, lines of one call site that vary
// are held to its budget; either way a summary follows once the flood has been quiet.
TEST_F(ManagerFixture, AFloodIsHeldToAHandfulOfLinesAndOneSummary)
{
    start();
    const struct { bool varying; const char *site; int lines; const char *summary; } floods[] = {
        {false, " ( a.cpp ) : 7", 3, "LOG_ERROR ... repeated 99997 times \r\n"},
        {true, " ( b.cpp ) : 7", 100, "LOG_ERROR ... 99900 lines suppressed ( b.cpp ) : 7 \r\n"}};
    for (const auto &f : floods) {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < 25000; ++i)
                    manager.pushLine(0, LOG_LEVEL_ERROR,
                                     ("length=" + std::to_string(f.varying ? t * 25000 + i : 0) + f.site).c_str());
            });
        threads.clear(); // joins them
        EXPECT_EQ(count(f.site), f.lines);
        manager.writeDueSummaries();
        EXPECT_EQ(count(f.summary), 0);
        now = now.load() + seconds(1);
        manager.writeDueSummaries();
        EXPECT_EQ(count(f.summary), 1);
    }
}

// Tests and the launcher re-point a running logger while other threads log and read its
// settings; a reader must see one whole setting, never one being replaced (TSan checks).
TEST_F(ManagerFixture, SettingsReadWhileAnotherThreadReplacesThem)
{
    start();
    std::jthread writer([this] {
        for (int i = 0; i < 500; ++i) {
            LoggerConfig config = manager.logger(0);
            config.display = !config.display;
            manager.setLogger(0, "Main", config);
        }
    });
    for (int i = 0; i < 500; ++i)
        ASSERT_EQ(manager.logger(0).name, "tess");
}

TEST(LogMacro, BuildsNothingWhileTheManagerIsStopped)
{
    int evaluated = 0;
    TLOG_ERROR << "never built " << ++evaluated;
    EXPECT_EQ(evaluated, 0);
}
