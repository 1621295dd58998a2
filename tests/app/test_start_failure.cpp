// A viewer that cannot reach its device says why and ends with a failure status.
#include "child_process.h"
#include "loopback.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using socket_test::free_port;

constexpr int kStartMs = 20000;
constexpr int kExitMs = 10000;
// The window's status for a device that could not be reached.
constexpr int kStartFailedStatus = 3;

std::string main_log(const QString &folder, pid_t pid)
{
    const QDir logs(folder + "/log");
    const QString id = QStringLiteral("%1").arg(pid, 6, 10, QLatin1Char('0'));
    for (const QString &name : logs.entryList({"tessaract_*_" + id + "_000.log"}, QDir::Files))
        return read_file_text(logs.filePath(name));
    return {};
}

} // namespace

TEST(StartFailure, ClosedPortsNameTheCauseAndEndWithAFailureStatus)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = QFileInfo(dir.path()).canonicalFilePath();
    ASSERT_TRUE(copy_program("tessaract", folder));
    const int portKM = free_port();
    const std::string text = "{ip:127.0.0.1,portKM:" + std::to_string(portKM) +
                             ",portV:" + std::to_string(free_port()) + ",portMedia:" +
                             std::to_string(free_port()) +
                             ",priv:1,dogID:0,mouseMode:0,userNM:tester,userID:7,"
                             "desEncode:8A1F33C07D5E9B26,desDecode:4C0DE5F1A9376B82}";
    ChildProcess viewer;
    ChildProcess::Options options;
    options.program = (folder + "/tessaract").toStdString();
    options.args = {text};
    options.env = {{"QT_QPA_PLATFORM", "offscreen"},
                   {"XDG_STATE_HOME", (folder + "/state").toStdString()}};
    options.outputFile = (folder + "/output.txt").toStdString();
    ASSERT_TRUE(viewer.start(options));

    const std::string cause = "keyboard and mouse channel to 127.0.0.1:" + std::to_string(portKM) +
                              " failed: connection refused";
    ASSERT_TRUE(wait_until([&] { return main_log(folder, viewer.pid()).find(cause) != std::string::npos; },
                           kStartMs))
        << main_log(folder, viewer.pid());
    // The box waits for an answer; a termination signal ends it with the same status.
    viewer.signal(SIGTERM);
    const auto status = viewer.waitExit(kExitMs);
    ASSERT_TRUE(status.has_value());
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), kStartFailedStatus);
}
