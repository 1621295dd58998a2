// The viewer program told to end by a signal (logout, shutdown, Ctrl+C in a terminal) while
// the device serves it: it closes as the window's close does, so the device sees the media
// channel's final unmap rather than a connection that vanished.
#include "../app/child_process.h"
#include "../gui_window/window_test_support.h"

#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

constexpr int kStartMs = 20000; // sanitizer builds start slowly
constexpr int kCloseMs = 3000;

bool has(const std::string &text, const std::string &piece)
{
    return text.find(piece) != std::string::npos;
}

class ProgramOnSim : public WindowOnSim, public ::testing::WithParamInterface<int> {};

std::string signal_name(const ::testing::TestParamInfo<int> &info)
{
    return info.param == SIGTERM ? "Term" : info.param == SIGINT ? "Int" : "Hup";
}

} // namespace

INSTANTIATE_TEST_SUITE_P(EachSignal, ProgramOnSim, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         signal_name);

TEST_P(ProgramOnSim, TerminationSignalClosesTheWindowAndTheChannelsInOrder)
{
    QTemporaryDir programDir;
    ASSERT_TRUE(programDir.isValid());
    const QString folder = QFileInfo(programDir.path()).canonicalFilePath();
    ASSERT_TRUE(copy_program("tessaract", folder));
    ASSERT_TRUE(QFile::copy(m_settingsDir + "/config.xml", folder + "/config.xml"));

    ChildProcess viewer;
    ChildProcess::Options options;
    options.program = (folder + "/tessaract").toStdString();
    options.args = {m_sim->launch_text()};
    options.env = {{"QT_QPA_PLATFORM", "offscreen"},
                   {"XDG_STATE_HOME", (folder + "/state").toStdString()}};
    options.outputFile = (folder + "/output.txt").toStdString();
    ASSERT_TRUE(viewer.start(options));
    ASSERT_TRUE(wait_until([&] { return align_reports() >= 20; }, kStartMs))
        << sim_reply("viewers") << read_file_text(folder + "/output.txt");
    auto unmaps = [&] {
        int count = 0;
        for (const device_record &record : read_device_records(m_jsonPath))
            count += record.channel == "media" && record.type == 7 && record.payload.rfind("0100", 0) == 0;
        return count;
    };
    const int before = unmaps();

    viewer.signal(GetParam());
    const auto status = viewer.waitExit(kCloseMs);
    ASSERT_TRUE(status.has_value()) << "still running " << kCloseMs << " ms after the signal";
    EXPECT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status);
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    EXPECT_TRUE(wait_until([&] { return unmaps() > before; }, kWaitMs)) << "no final unmap";
    std::string logText;
    for (const QString &name : QDir(folder + "/log").entryList(QDir::Files))
        logText += read_file_text(folder + "/log/" + name);
    EXPECT_TRUE(has(logText, "signal " + std::to_string(GetParam()) + " received, closing")) << logText;
    EXPECT_TRUE(wait_until([&] { return has(sim_reply("viewers"), "km:- video:- media:-"); }, kWaitMs))
        << sim_reply("viewers");
}
