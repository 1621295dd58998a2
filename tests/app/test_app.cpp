#include "child_process.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

// Sanitizer builds start slowly; these bounds are only ever reached when something hangs.
constexpr int kStartMs = 20000;
constexpr int kExitMs = 10000;

// Key digits no other part of a launch text or a log line contains.
const std::string kEncodeDigits = "8A1F33C07D5E9B26";
const std::string kDecodeDigits = "4C0DE5F1A9376B82";

// A loopback port with nothing listening on it.
int closed_port()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool has(const std::string &text, const std::string &piece)
{
    return text.find(piece) != std::string::npos;
}

// The viewer copied into a fresh folder, run with a private state folder.
class Viewer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(scratch.isValid());
        folder = QFileInfo(dir.path()).canonicalFilePath();
        ASSERT_TRUE(copy_program("tessaract", folder));
    }

    bool start(const std::string &launchText)
    {
        ChildProcess::Options options;
        options.program = (folder + "/tessaract").toStdString();
        options.args = {launchText};
        options.env = {{"QT_QPA_PLATFORM", "offscreen"},
                       {"XDG_STATE_HOME", (folder + "/state").toStdString()}};
        options.outputFile = output().toStdString();
        return viewer.start(options);
    }

    // The text of this run's main log file, which is named
    // "<program>_<yyyyMMddhhmm>_<pid %06d>_<index %03d>.log".
    std::string log(const QString &logDir = {}) const
    {
        const QDir logs(logDir.isEmpty() ? folder + "/log" : logDir);
        const QString pid = QStringLiteral("%1").arg(viewer.pid(), 6, 10, QLatin1Char('0'));
        for (const QString &name : logs.entryList({"tessaract_*_" + pid + "_000.log"}, QDir::Files))
            return read_file_text(logs.filePath(name));
        return {};
    }

    bool waitForLog(const std::string &piece, const QString &logDir = {})
    {
        return wait_until([&] { return has(log(logDir), piece); }, kStartMs);
    }

    std::string viewerText() const
    {
        return "{ip:127.0.0.1,portKM:" + std::to_string(closed_port()) +
               ",portV:" + std::to_string(closed_port()) + ",portMedia:" +
               std::to_string(closed_port()) + ",priv:1,dogID:0,mouseMode:0,userNM:tester,"
               "userID:7,desEncode:" + kEncodeDigits + ",desDecode:" + kDecodeDigits + "}";
    }

    // Standard output and error of the run; kept outside the program folder, which one
    // test makes read-only.
    QString output() const { return scratch.filePath("output.txt"); }

    QTemporaryDir dir;
    QTemporaryDir scratch;
    QString folder;
    ChildProcess viewer;
};

} // namespace

TEST_F(Viewer, StartsWithLogBesideItKeysHiddenAndLeavesACrashReportThere)
{
    ASSERT_TRUE(start(viewerText()));
    ASSERT_TRUE(waitForLog("qt start,para.userID=7 ( main.cpp ) : "))
        << read_file_text(output());
    const std::string text = log();
    EXPECT_TRUE(has(text, "LOG_INFO  system key info path:" + folder.toStdString() + "/key.xml"));
    // The style sheet comes from the GUI library's resources.
    EXPECT_TRUE(QRegularExpression("style sheet of [1-9][0-9]* characters")
                    .match(QString::fromStdString(text))
                    .hasMatch());
    EXPECT_FALSE(has(text, kEncodeDigits));
    EXPECT_FALSE(has(text, kDecodeDigits));

    const std::string commandLine = viewer.commandLine();
    EXPECT_TRUE(has(commandLine, "tessaract")) << commandLine;
    EXPECT_FALSE(has(commandLine, kEncodeDigits)) << commandLine;
    EXPECT_FALSE(has(commandLine, kDecodeDigits)) << commandLine;
    EXPECT_FALSE(has(commandLine, "userNM")) << commandLine;

    // A fatal fault leaves its report beside the program.
    viewer.signal(SIGSEGV);
    const auto status = viewer.waitExit(kExitMs);
    ASSERT_TRUE(status.has_value());
    ASSERT_TRUE(WIFSIGNALED(*status));
    EXPECT_EQ(WTERMSIG(*status), SIGSEGV);

    const std::string report = read_file_text(folder + "/crash.dat");
    EXPECT_TRUE(has(report, "signal: 11 SIGSEGV\ncode: 0 SI_USER\nsender pid: " +
                                std::to_string(::getpid()) + " "))
        << report.substr(0, 400);
    EXPECT_TRUE(has(report, "executable: " + folder.toStdString() + "/tessaract\n"));
    const std::size_t trace = report.find("\nbacktrace:\n");
    ASSERT_NE(trace, std::string::npos);
    EXPECT_TRUE(has(report.substr(trace, report.find("\nmaps:\n") - trace), "tessaract(main+"));
    EXPECT_TRUE(has(read_file_text(output()), "Fatal Error: signal SIGSEGV"));
}

TEST_F(Viewer, SerialBridgeModeHandsTheDecodedTextToTheBridgeAndEnds)
{
    // A stand-in bridge that records its argument count and standard input (renamed into
    // place when complete): the text, keys and all, never rides on its command line.
    const QString stub = folder + "/serbridge";
    {
        QFile script(stub);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n"
                     "d=$(dirname \"$0\")\n"
                     "{ printf '%s:' \"$#\"; cat; } > \"$d/arg.tmp\" && mv \"$d/arg.tmp\" \"$d/arg.txt\"\n");
    }
    ASSERT_TRUE(QFile::setPermissions(stub, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    ASSERT_TRUE(start(R"({"ip":"10.1.2.3","portCOM"%3A"4001"%2C"desEncode":")" + kEncodeDigits +
                      R"(",userNM:a%20b} tail)"));
    const auto status = viewer.waitExit(kStartMs);
    ASSERT_TRUE(status.has_value());
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);

    ASSERT_TRUE(wait_until([&] { return QFile::exists(folder + "/arg.txt"); }, kExitMs));
    EXPECT_EQ(read_file_text(folder + "/arg.txt"),
              "0:{ip:10.1.2.3,portCOM:4001,desEncode:" + kEncodeDigits + ",userNM:a b} tail");
    EXPECT_FALSE(has(log(), kEncodeDigits));
    EXPECT_FALSE(has(log(), "qt start"));
}

TEST_F(Viewer, UnusableKeyStopsTheStartWithANonZeroStatus)
{
    std::string text = viewerText();
    text.replace(text.find(kDecodeDigits) + 7, 1, "x");
    ASSERT_TRUE(start(text));
    ASSERT_TRUE(waitForLog("LOG_ERROR launch text refused: desDecode: the key is missing or is not "
                           "16 hexadecimal digits")) << read_file_text(output());
    // The box waits for its answer; closing the session ends it too.
    viewer.signal(SIGTERM);
    const auto status = viewer.waitExit(kExitMs);
    ASSERT_TRUE(status.has_value());
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 1);
    EXPECT_FALSE(has(log(), "system key info path:"));
}

TEST_F(Viewer, FailedBridgeStartIsLoggedWithoutTheLaunchText)
{
    ASSERT_TRUE(start("{ip:10.1.2.3,portCOM:4001,desEncode:" + kEncodeDigits + "}"));
    ASSERT_TRUE(waitForLog("start serbridge.exe failed.")) << read_file_text(output());
    const std::string text = log();
    EXPECT_TRUE(has(text, "LOG_ERROR start serbridge.exe failed." + folder.toStdString() +
                              "/serbridge Param: (launch text withheld)"));
    EXPECT_FALSE(has(text, kEncodeDigits));
    EXPECT_FALSE(has(text, "portCOM"));
    // The modal "critical" box now waits for an answer nobody gives.
    viewer.signal(SIGTERM);
    EXPECT_TRUE(viewer.waitExit(kExitMs).has_value());
}

TEST_F(Viewer, ReadOnlyProgramFolderSendsLogAndReportToTheStateFolder)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root";
    const QString state = folder + "/state/tessaract";
    ASSERT_TRUE(QDir().mkpath(folder + "/state"));
    ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    ASSERT_TRUE(start(viewerText()));
    const bool logged = waitForLog("qt start,para.userID=7", state + "/log");
    viewer.signal(SIGSEGV);
    const auto status = viewer.waitExit(kExitMs);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_TRUE(logged);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFSIGNALED(*status));
    EXPECT_TRUE(has(read_file_text(state + "/crash.dat"), "signal: 11 SIGSEGV"));
    EXPECT_FALSE(QFile::exists(folder + "/log"));
}
