#include "km/c_led_sync.h"
#include "km/child_search_path.h"
#include "km_test_support.h"

#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

// An injected clock, a recording start and a scheduler whose one pending call runs when
// the test moves the clock past it.
struct LedSync : ::testing::Test {
    void SetUp() override
    {
        led.set_scheduler([this](std::int64_t delayMs) {
            ASSERT_LT(due, 0) << "one scheduled apply at a time";
            due = now + delayMs;
        });
    }
    void advance(std::int64_t ms)
    {
        for (now += ms; due >= 0 && due <= now;) {
            due = -1;
            led.apply_pending();
        }
    }
    void report(int bits, std::int64_t thenMs = 0)
    {
        const std::uint8_t body[] = {4, static_cast<std::uint8_t>(bits)};
        EXPECT_EQ(led.handle_led_report(body, 2), 0);
        advance(thenMs);
    }

    std::int64_t now = 1'000'000;
    std::int64_t due = -1;
    QStringList starts; // "ledsync INDEX STATE"
    c_led_sync led{[this] { return now; }, [this](const QString &program, const QStringList &args) {
                       starts << program + " " + args.join(' ');
                       return true;
                   }};
};

} // namespace

TEST_F(LedSync, ReportsStartOneProgramPerChangedLedOffTheReportingThreadAtAFewPerSecond)
{
    const std::uint8_t body[] = {4, 0xFA, 0}; // higher bits ignored: LED 2 on
    EXPECT_EQ(led.handle_led_report(body, 3), 3);
    EXPECT_EQ(led.handle_led_report(body, 1), 3);
    EXPECT_EQ(led.handle_led_report(body, 2), 0);
    EXPECT_TRUE(starts.empty()) << "nothing is started where the report arrives";
    advance(0);
    EXPECT_EQ(starts, (QStringList{"ledsync 1 0", "ledsync 2 1", "ledsync 3 0"}));
    for (int i = 0; i < 1000; ++i)
        report(0xFA, 1);
    EXPECT_EQ(starts.size(), 3) << "identical reports start nothing more";
    for (int i = 1; i <= 100; ++i)
        report(i % 8, 5);
    advance(1000);
    // 500 ms of flicker, applied at most every 250 ms: a few starts, ending on state 4.
    EXPECT_LE(starts.size(), 9);
    QStringList last{"?", "?", "?"};
    for (const QString &start : starts)
        last[start.section(' ', 1, 1).toInt() - 1] = start.section(' ', 2, 2);
    EXPECT_EQ(last, (QStringList{"0", "0", "1"}));
}

TEST_F(LedSync, ALocalLockKeyHoldsReportsOffForThreeSeconds)
{
    EXPECT_FALSE(led.held_off()) << "unset counts as earlier than any time";
    led.apply_led_bits(0x01); // waiting to be applied when the key comes: dropped
    led.hold_off();
    report(0x01, 2000);
    report(0x01, 1000);
    report(0x01, 1); // exactly 3 s: not yet later than the hold-off time
    EXPECT_TRUE(starts.empty());
    report(0x01);
    EXPECT_EQ(starts.size(), 3) << "after the key the local LEDs are unknown: all three";
}

// The real start, by bare name: the program folder comes first on PATH (once), before a
// program of the same name further down that records nothing.
TEST(LedSyncProgram, IsFoundInTheProgramFolderBeforeTheRestOfPath)
{
    const std::string saved = std::getenv("PATH");
    QTemporaryDir folder;
    QTemporaryDir decoy;
    for (const QTemporaryDir *dir : {&folder, &decoy}) {
        QFile file(dir->filePath("ledsync"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(dir == &folder ? "#!/bin/sh\necho \"$1 $2\" >> \"$(dirname \"$0\")/args\"\n" : "#!/bin/sh\n");
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    ::setenv("PATH", (decoy.path().toStdString() + ":" + saved).c_str(), 1);
    const std::string path = put_program_dir_first_on_path(folder.path().toStdString());
    EXPECT_EQ(path, folder.path().toStdString() + ":" + decoy.path().toStdString() + ":" + saved)
        << "the folder goes first, the search list stays behind it";
    EXPECT_EQ(put_program_dir_first_on_path(folder.path().toStdString()), path);
    const std::uint8_t report[] = {4, 0x02};
    EXPECT_EQ(c_led_sync().handle_led_report(report, 2), 0);
    QFile args(folder.filePath("args"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return args.size() >= 12; }, 10000)); // "N S\n" three times
    ASSERT_TRUE(args.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = args.readAll().split('\n');
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (QList<QByteArray>{"", "1 0", "2 1", "3 0"}));
    ::setenv("PATH", saved.c_str(), 1);
}
