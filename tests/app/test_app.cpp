#include "child_process.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

// Sanitizer builds start slowly; these bounds are only ever reached when something hangs.
constexpr int kStartMs = 20000;
constexpr int kExitMs = 10000;

// Key digits no other part of a launch text or a log line contains.
const std::string kKeyDigits = "8A1F33C07D5E9B26";
// Ports nothing listens on: the viewer starts, and reports it cannot reach the device.
const std::string kUnreachable = "{ip:127.0.0.1,portKM:1,portV:1,portMedia:1,userID:7,desEncode:" +
                                 kKeyDigits + ",desDecode:" + kKeyDigits;

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
        folder = QFileInfo(dir.path()).canonicalFilePath();
        ASSERT_TRUE(copy_program("tessaract", folder));
    }

    bool start(const std::string &launchText)
    {
        viewer = std::make_unique<ChildProcess>();
        return viewer->start({(folder + "/tessaract").toStdString(), {launchText},
                             {{"QT_QPA_PLATFORM", "offscreen"},
                              {"XDG_STATE_HOME", (folder + "/state").toStdString()}},
                             (folder + "/output.txt").toStdString()});
    }

    // The text of every log file beside the program, once it holds `piece` (or after the bound).
    std::string log(const std::string &piece = {}) const
    {
        std::string all;
        wait_until([&] {
            all.clear();
            for (const QString &name : QDir(folder + "/log").entryList(QDir::Files))
                all += read_file_text(folder + "/log/" + name);
            return has(all, piece);
        }, kStartMs);
        return all;
    }

    bool wait_log(const std::string &piece) const { return has(log(piece), piece); }

    // The status of a program that ended itself, or -1.
    int exit_status(int timeoutMs = kExitMs)
    {
        const auto status = viewer->waitExit(timeoutMs);
        return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    }

    QTemporaryDir dir;
    QString folder;
    std::unique_ptr<ChildProcess> viewer;
};

} // namespace

TEST_F(Viewer, StartsWithLogBesideItKeysHiddenAndLeavesACrashReportThere)
{
    ASSERT_TRUE(start(kUnreachable + "}"));
    ASSERT_TRUE(wait_log("qt start,para.userID=7")) << read_file_text(folder + "/output.txt");
    EXPECT_TRUE(wait_log("system key info path:" + folder.toStdString() + "/key.xml"));

    // A fatal fault leaves its report beside the program.
    viewer->signal(SIGSEGV);
    const auto status = viewer->waitExit(kExitMs);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGSEGV);
    EXPECT_TRUE(has(read_file_text(folder + "/crash.dat"),
                    "executable: " + folder.toStdString() + "/tessaract\n"));
    EXPECT_TRUE(has(read_file_text(folder + "/output.txt"), "Fatal Error: signal SIGSEGV"));
    EXPECT_FALSE(has(log(), kKeyDigits));
}

TEST_F(Viewer, UnusableKeyStopsTheStartWithANonZeroStatus)
{
    ASSERT_TRUE(start(kUnreachable + "x}"));
    ASSERT_TRUE(wait_log("launch text refused: desDecode: the key is missing or is not 16 "
                         "hexadecimal digits")) << read_file_text(folder + "/output.txt");
    // The box waits for its answer; closing the session ends it too.
    viewer->signal(SIGTERM);
    EXPECT_EQ(exit_status(), 1);
    EXPECT_FALSE(has(log(), "system key info path:"));
}

// The decoded text, keys and all, goes to the bridge on its standard input, never on its
// command line; a bridge that cannot start is logged without the text.
TEST_F(Viewer, SerialBridgeModeHandsTheDecodedTextToTheBridgeAndEnds)
{
    const std::string text = R"({"ip":"10.1.2.3","portCOM"%3A"4001"%2C"desEncode":")" + kKeyDigits +
                             R"(",userNM:a%20b} tail)";
    ASSERT_TRUE(start(text));
    ASSERT_TRUE(wait_log("start serbridge.exe failed." + folder.toStdString() +
                         "/serbridge Param: (launch text withheld)"));
    viewer->signal(SIGTERM); // the "critical" box waits for an answer nobody gives
    EXPECT_TRUE(viewer->waitExit(kExitMs).has_value());
    EXPECT_FALSE(has(log(), kKeyDigits));

    // A stand-in bridge that records its argument count and standard input (renamed into
    // place when complete).
    QFile script(folder + "/serbridge");
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\n{ printf '%s:' \"$#\"; cat; } > \"$0.tmp\" && mv \"$0.tmp\" \"$0.txt\"\n");
    script.close();
    ASSERT_TRUE(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    ASSERT_TRUE(start(text));
    EXPECT_EQ(exit_status(kStartMs), 0);
    ASSERT_TRUE(wait_until([&] { return QFile::exists(folder + "/serbridge.txt"); }, kExitMs));
    EXPECT_EQ(read_file_text(folder + "/serbridge.txt"),
              "0:{ip:10.1.2.3,portCOM:4001,desEncode:" + kKeyDigits + ",userNM:a b} tail");
    EXPECT_FALSE(has(log(), "qt start"));
}
