#include "keyboard_leds.h"
#include "km_test_support.h"
#include "ledsync_args.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>


namespace {

struct run_result {
    int exitCode = -1;
    QString output;
};

run_result run_ledsync(const QStringList &args, const QProcessEnvironment &env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(test_program_dir() + "/ledsync", args);
    run_result result;
    if (!process.waitForFinished(10000)) {
        ADD_FAILURE() << "ledsync " << args.join(' ').toStdString() << ": "
                      << process.errorString().toStdString();
        process.kill();
        process.waitForFinished(2000);
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = QString::fromUtf8(process.readAll());
    return result;
}

QProcessEnvironment env_with_display(const std::string &display)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("WAYLAND_DISPLAY");
    env.insert("DISPLAY", QString::fromStdString(display));
    return env;
}

bool led_on(const std::string &display, int index)
{
    bool on = false;
    std::string error;
    EXPECT_EQ(read_keyboard_led(display.c_str(), index, on, error), led_status::ok) << error;
    return on;
}

} // namespace

TEST(LedsyncArgs, TwoSmallDecimalNumbersAndNothingElse)
{
    led_request r;
    std::string error;
    const char *ok[] = {"ledsync", "2", "1"};
    ASSERT_TRUE(parse_led_args(3, ok, r, error));
    EXPECT_EQ(r.index, 2);
    EXPECT_TRUE(r.on);

    const char *bad[][3] = {{"ledsync", "0", "1"}, {"ledsync", "4", "0"}, {"ledsync", "1", "2"},
                            {"ledsync", "1x", "0"}, {"ledsync", "", "0"}, {"ledsync", "-1", "0"},
                            {"ledsync", "1", "0001"}};
    for (const auto &args : bad)
        EXPECT_FALSE(parse_led_args(3, args, r, error)) << args[1] << " " << args[2];
    EXPECT_FALSE(parse_led_args(2, ok, r, error));
}

TEST(LedsyncProgram, WithoutAnX11DisplayItSaysSoAndSucceeds)
{
    QProcessEnvironment wayland = QProcessEnvironment::systemEnvironment();
    wayland.remove("DISPLAY");
    wayland.insert("WAYLAND_DISPLAY", "wayland-0");
    run_result r = run_ledsync({"2", "1"}, wayland);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.output.contains("Wayland")) << r.output.toStdString();

    QProcessEnvironment none = QProcessEnvironment::systemEnvironment();
    none.remove("DISPLAY");
    none.remove("WAYLAND_DISPLAY");
    r = run_ledsync({"1", "0"}, none);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.output.contains("no display")) << r.output.toStdString();

    r = run_ledsync({"7", "1"}, none);
    EXPECT_EQ(r.exitCode, 2) << "a usage error is the only failure";
}

TEST(LedsyncProgram, SetsNumCapsAndScrollLockOnAnXServer)
{
    xvfb_server x;
    if (x.display().empty())
        GTEST_SKIP() << "Xvfb could not be started";
    const QProcessEnvironment env = env_with_display(x.display());

    for (int index = 1; index <= 3; ++index) {
        EXPECT_FALSE(led_on(x.display(), index)) << "LED " << index << " starts off";
        ASSERT_EQ(run_ledsync({QString::number(index), "1"}, env).exitCode, 0);
        EXPECT_TRUE(led_on(x.display(), index)) << "LED " << index;
    }
    ASSERT_EQ(run_ledsync({"2", "0"}, env).exitCode, 0);
    EXPECT_TRUE(led_on(x.display(), 1));
    EXPECT_FALSE(led_on(x.display(), 2));
    EXPECT_TRUE(led_on(x.display(), 3));
}
