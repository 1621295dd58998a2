// The viewer program itself against the simulated device.
#include "../app/child_process.h"
#include "km/c_km_session.h"
#include "window_test_support.h"

#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

// Sanitizer builds start slowly; these bounds are only reached when something hangs.
constexpr int kStartMs = 20000;

bool has(const std::string &text, const std::string &piece)
{
    return text.find(piece) != std::string::npos;
}

} // namespace

// The device ends the video channel: the program keeps its window and its keyboard/mouse
// session. The keep-alive still goes out afterwards, which needs the GUI thread's timer and
// the media channel's sender.
TEST_F(WindowOnSim, ProgramKeepsRunningWhenTheDeviceClosesTheVideoChannel)
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

    auto all_connected = [&] {
        const std::string viewers = sim_reply("viewers");
        return has(viewers, "km:1 ") && has(viewers, "video:1 ") && has(viewers, "media:1");
    };
    ASSERT_TRUE(wait_until(all_connected, kStartMs))
        << sim_reply("viewers") << read_file_text(folder + "/output.txt");
    // The first picture shown aligns the mouse.
    ASSERT_TRUE(wait_until([&] { return align_reports() >= 20; }, kStartMs));

    EXPECT_EQ(sim_reply("close video 1").rfind("ok", 0), 0u);
    ASSERT_TRUE(wait_until([&] { return has(sim_reply("viewers"), "video:-"); }, kWaitMs));

    const std::size_t keepAlives = km_payloads(11).size();
    EXPECT_TRUE(wait_until([&] { return km_payloads(11).size() > keepAlives; },
                           c_km_session::kKeepAliveMs + kWaitMs))
        << "no keep-alive after the video channel closed";
    EXPECT_FALSE(viewer.waitExit(0).has_value()) << read_file_text(folder + "/output.txt");
    EXPECT_TRUE(has(sim_reply("viewers"), "km:1 ")) << sim_reply("viewers");

    viewer.signal(SIGTERM);
    EXPECT_TRUE(viewer.waitExit(kWaitMs).has_value());
}
