#include "km/c_led_sync.h"
#include "km/child_search_path.h"
#include "km_test_support.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct started {
    QString program;
    QStringList args;
};

// Restores PATH after a test changed it.
struct path_guard {
    std::string saved = std::getenv("PATH") ? std::getenv("PATH") : "";
    ~path_guard() { ::setenv("PATH", saved.c_str(), 1); }
};

QStringList lines_of(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

} // namespace

TEST(LedSync, AReportStartsOneProgramPerLedInOrder)
{
    std::vector<started> starts;
    std::int64_t now = 1'000'000;
    c_led_sync led([&] { return now; },
                   [&](const QString &program, const QStringList &args) {
                       starts.push_back({program, args});
                       return true;
                   });
    const std::uint8_t report[] = {4, 0x02};
    EXPECT_EQ(led.handle_led_report(report, 2), 0);
    ASSERT_EQ(starts.size(), 3u);
    EXPECT_EQ(starts[0].program, "ledsync");
    EXPECT_EQ(starts[0].args, (QStringList{"1", "0"}));
    EXPECT_EQ(starts[1].args, (QStringList{"2", "1"}));
    EXPECT_EQ(starts[2].args, (QStringList{"3", "0"}));

    // Higher bits are ignored; the same state starts the three programs again.
    const std::uint8_t all[] = {4, 0xFF};
    EXPECT_EQ(led.handle_led_report(all, 2), 0);
    ASSERT_EQ(starts.size(), 6u);
    EXPECT_EQ(starts[5].args, (QStringList{"3", "1"}));

    const std::uint8_t tooLong[] = {4, 0x02, 0};
    EXPECT_EQ(led.handle_led_report(tooLong, 3), 3);
    EXPECT_EQ(led.handle_led_report(report, 1), 3);
    EXPECT_EQ(starts.size(), 6u);
}

TEST(LedSync, ALocalLockKeyHoldsReportsOffForThreeSeconds)
{
    int startCount = 0;
    std::int64_t now = 5'000'000;
    c_led_sync led([&] { return now; },
                   [&](const QString &, const QStringList &) { return ++startCount > 0; });
    const std::uint8_t report[] = {4, 0x01};
    EXPECT_FALSE(led.held_off()) << "unset counts as earlier than any time";

    led.hold_off();
    now += 2000;
    EXPECT_EQ(led.handle_led_report(report, 2), 0);
    EXPECT_EQ(startCount, 0);
    now += 1000; // exactly 3 s: not yet later than the hold-off time
    led.handle_led_report(report, 2);
    EXPECT_EQ(startCount, 0);
    now += 1000;
    led.handle_led_report(report, 2);
    EXPECT_EQ(startCount, 3);
}

TEST(LedSync, TheProgramIsFoundByBareNameInTheProgramFolderFirst)
{
    path_guard guard;
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString record = folder.filePath("args.txt");
    const QString script = folder.filePath("ledsync");
    {
        QFile file(script);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("#!/bin/sh\necho \"$1 $2\" >> '%1'\n").arg(record).toUtf8());
    }
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    // A decoy of the same name further down PATH must not be the one started.
    QTemporaryDir decoy;
    ASSERT_TRUE(decoy.isValid());
    QFile::copy(script, decoy.filePath("ledsync"));
    ::setenv("PATH", (decoy.path().toStdString() + ":" + guard.saved).c_str(), 1);

    const std::string path = put_program_dir_first_on_path(folder.path().toStdString());
    EXPECT_EQ(path.rfind(folder.path().toStdString() + ":" + decoy.path().toStdString(), 0), 0u);
    EXPECT_EQ(put_program_dir_first_on_path(folder.path().toStdString()), path)
        << "not added twice";

    c_led_sync led;
    const std::uint8_t report[] = {4, 0x02};
    EXPECT_EQ(led.handle_led_report(report, 2), 0);
    // Three detached processes append in whatever order they run.
    ASSERT_TRUE(QTest::qWaitFor([&] { return lines_of(record).size() >= 3; }, 10000));
    QStringList got = lines_of(record);
    got.sort();
    EXPECT_EQ(got, (QStringList{"1 0", "2 1", "3 0"}));
}

TEST(LedSync, AMissingProgramIsLoggedAndIgnored)
{
    path_guard guard;
    QTemporaryDir empty;
    ::setenv("PATH", empty.path().toUtf8().constData(), 1);
    log_capture log;
    c_led_sync led;
    const std::uint8_t report[] = {4, 0x04};
    EXPECT_EQ(led.handle_led_report(report, 2), 0);
    EXPECT_TRUE(log.contains("sync_led: cannot start ledsync 3 1"));
}
