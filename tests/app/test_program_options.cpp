#include "child_process.h"
#include "launch/program_options.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cctype>
#include <tuple>

namespace {

constexpr int kExitMs = 10000;

using OptionCase = std::tuple<std::string, std::string>; // program, option

class ProgramOption : public ::testing::TestWithParam<OptionCase> {};

} // namespace

TEST_P(ProgramOption, AnswersWithoutDisplayOrDevice)
{
    const auto &[name, option] = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A copy, so that a program that went on anyway would leave its log in a scratch folder.
    const QString program = QString::fromStdString(name);
    ASSERT_TRUE(copy_program(program, dir.path()));

    ChildProcess child;
    ChildProcess::Options options;
    options.program = (dir.path() + "/" + program).toStdString();
    // A desktop session has one; without it the toolkit warns on standard error.
    options.env = {{"XDG_RUNTIME_DIR", dir.path().toStdString()},
                   {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}};
    options.args = {option};
    options.outputFile = dir.filePath("stdout.txt").toStdString();
    options.errorFile = dir.filePath("stderr.txt").toStdString();
    ASSERT_TRUE(child.start(options));
    const auto status = child.waitExit(kExitMs);
    const std::string out = read_file_text(dir.filePath("stdout.txt"));
    const std::string err = read_file_text(dir.filePath("stderr.txt"));
    ASSERT_TRUE(status.has_value()) << "still running";
    ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status) << "\n" << err;

    if (option == "--help") {
        EXPECT_EQ(WEXITSTATUS(*status), 0) << err;
        EXPECT_EQ(out.rfind("usage: " + name + " ", 0), 0u) << out;
        EXPECT_NE(out.find("--version"), std::string::npos) << out;
        EXPECT_EQ(err, "");
    } else if (option == "--version") {
        EXPECT_EQ(WEXITSTATUS(*status), 0) << err;
        EXPECT_EQ(out, name + " 2.1\n");
        EXPECT_EQ(err, "");
    } else {
        EXPECT_EQ(WEXITSTATUS(*status), 2) << err;
        EXPECT_EQ(out, "");
        EXPECT_TRUE(err.rfind(name + ": ", 0) == 0 && err.find("bogus") != std::string::npos) << err;
        EXPECT_NE(err.find("\nusage: " + name + " "), std::string::npos) << err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllPrograms, ProgramOption,
    ::testing::Combine(::testing::Values<std::string>("tessaract", "tessaract-sim", "serbridge", "ledsync"),
                       ::testing::Values<std::string>("--help", "--version", "--bogus")),
    [](const ::testing::TestParamInfo<OptionCase> &param) {
        std::string name = std::get<0>(param.param) + std::get<1>(param.param);
        for (char &c : name)
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

// The viewer and the bridge take a first argument that starts with '-' as an option only
// when it cannot be a launch text, whose keys must never be echoed as an unknown option.
TEST(ProgramOptionArgument, LaunchTextsAreNeverOptions)
{
    const struct {
        const char *argument;
        bool takesLaunchText;
        bool option;
    } table[] = {
        {"--help", true, true},
        {"-{ip:127.0.0.1,desEncode:0123456789ABCDEF}", true, false},
        {"-%7Bip:127.0.0.1,desEncode:0123456789ABCDEF%7D", true, false},
        {"-%7B", false, true},
        {"{ip:127.0.0.1}", false, false},
    };
    for (const auto &row : table)
        EXPECT_EQ(is_program_option(row.argument, row.takesLaunchText), row.option) << row.argument;
}
