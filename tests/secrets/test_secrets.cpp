// The viewer program itself, under a private X server, against the simulated device: the
// DES keys, the launch text and what the user types never show in its log files, its
// standard output, a crash report or the process list, and its log files are the user's
// alone.
#include "child_process.h"
#include "c_sim_options.h"
#include "c_sim_runner.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// Generous: sanitizer builds start slowly. Only reached when something hangs.
constexpr int kStartMs = 20000;
constexpr int kExitMs = 10000;

const std::array<std::uint8_t, 8> kEncodeKey{0x5B, 0xE2, 0x19, 0xC4, 0x7A, 0x03, 0xD8, 0x6F};
const std::array<std::uint8_t, 8> kDecodeKey{0xA7, 0x3C, 0x91, 0x0E, 0x64, 0xBD, 0x28, 0xF5};
const std::string kTyped = "quiet ferret";

bool has(const std::string &text, const std::string &piece)
{
    return text.find(piece) != std::string::npos;
}

std::string lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string hex(const std::array<std::uint8_t, 8> &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), 8).toHex().toStdString();
}

// Runs a program to its end with `env` added; its output.
std::string run(const QString &output, const std::vector<std::string> &args,
                const std::vector<std::pair<std::string, std::string>> &env)
{
    ChildProcess child;
    if (child.start({args.front(), {args.begin() + 1, args.end()}, env, output.toStdString()}))
        child.waitExit(kStartMs);
    return read_file_text(output);
}

} // namespace

TEST(SecretsOfTheViewer, KeysLaunchTextAndTypedTextStayOutOfLogsReportsAndProcessList)
{
    for (const char *tool : {"/usr/bin/Xvfb", "/usr/bin/xdotool"})
        if (!QFileInfo(QString::fromLatin1(tool)).isExecutable())
            GTEST_SKIP() << tool << " not installed";
    QTemporaryDir dir;
    const QString folder = QFileInfo(dir.path()).canonicalFilePath();
    ASSERT_TRUE(copy_program("tessaract", folder));
    c_sim_options simOptions = c_sim_options::in_process(640, 360, 10);
    simOptions.desEncode = kEncodeKey;
    simOptions.desDecode = kDecodeKey;
    c_sim_runner sim(simOptions);
    QString error;
    ASSERT_TRUE(sim.start(error)) << error.toStdString();

    // Xvfb writes the display it chose to its standard output, as a line of digits.
    ChildProcess xvfb;
    const QString xvfbOutput = folder + "/xvfb.txt";
    ASSERT_TRUE(xvfb.start({"/usr/bin/Xvfb", {"-displayfd", "1", "-screen", "0", "1280x900x24",
                                              "-nolisten", "tcp", "-noreset"}, {}, xvfbOutput.toStdString()}));
    const QRegularExpression displayLine("^(\\d+)$", QRegularExpression::MultilineOption);
    ASSERT_TRUE(wait_until([&] { return QString::fromStdString(read_file_text(xvfbOutput)).contains(displayLine); },
                           kStartMs)) << "Xvfb did not start";
    const std::vector<std::pair<std::string, std::string>> x = {
        {"DISPLAY", ":" + displayLine.match(QString::fromStdString(read_file_text(xvfbOutput))).captured(1).toStdString()},
        {"QT_QPA_PLATFORM", "xcb"}, {"WAYLAND_DISPLAY", ""}};

    ChildProcess viewer;
    auto env = x;
    env.emplace_back("XDG_STATE_HOME", (folder + "/state").toStdString());
    const std::string output = (folder + "/output.txt").toStdString();
    ASSERT_TRUE(viewer.start({(folder + "/tessaract").toStdString(), {sim.launch_text()}, env, output}));
    ASSERT_TRUE(wait_until([&] { return has(sim.command("status"), "holder=1"); }, kStartMs))
        << sim.command("status") << read_file_text(QString::fromStdString(output));
    const QString xdotool = folder + "/xdotool.txt";
    std::string window = run(xdotool, {"/usr/bin/xdotool", "search", "--sync", "--onlyvisible", "--name",
                                       "Login User"}, x);
    window = window.substr(0, window.find('\n'));
    ASSERT_FALSE(window.empty()) << "the viewer's window did not appear";
    run(xdotool, {"/usr/bin/xdotool", "windowfocus", "--sync", window}, x);
    run(xdotool, {"/usr/bin/xdotool", "type", "--delay", "40", kTyped}, x);
    ASSERT_TRUE(wait_until([&] { return has(sim.command("console"), kTyped); }, kStartMs))
        << sim.command("console");

    // Everything secret: both keys, the launch text, the typed text, and the keyboard report
    // of each typed letter as hex bytes or as a list of numbers.
    std::vector<std::string> secrets{hex(kEncodeKey), hex(kDecodeKey), sim.launch_text(), kTyped};
    for (char c : kTyped) {
        const int usage = 4 + (c - 'a');
        if (c >= 'a' && c <= 'z')
            secrets.insert(secrets.end(), {hex({0, 0, static_cast<std::uint8_t>(usage), 0, 0, 0, 0, 0}),
                                           "0,0," + std::to_string(usage) + ",0,0,0,0,0"});
    }
    auto expect_no_secret = [&](const std::string &text, const QString &where) {
        for (const std::string &secret : secrets)
            EXPECT_FALSE(has(lower(text), lower(secret))) << secret << " in " << where.toStdString();
    };

    // The process list: the viewer's command line and environment, and every process of ours.
    const QString self = QStringLiteral("/proc/%1").arg(viewer.pid());
    expect_no_secret(read_file_text(self + "/environ"), self + "/environ");
    for (QDirIterator it(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot); it.hasNext();) {
        const QString entry = it.next();
        if (entry.section('/', -1).toInt() > 0 && entry.section('/', -1).toInt() != ::getpid())
            expect_no_secret(read_file_text(entry + "/cmdline"), entry + "/cmdline");
    }
    // The log folder beside the program, while the viewer runs and writes into it.
    const QDir logs(folder + "/log");
    ASSERT_FALSE(logs.entryList(QDir::Files).isEmpty()) << "no log file";
    for (const QString &name : logs.entryList(QDir::Files)) {
        struct stat info {};
        EXPECT_TRUE(::stat(QFile::encodeName(logs.filePath(name)).constData(), &info) == 0 &&
                    (info.st_mode & 07777) == 0600) << name.toStdString();
    }

    // A crash report of the running session, beside the program.
    viewer.signal(SIGSEGV);
    ASSERT_TRUE(viewer.waitExit(kExitMs).has_value());
    const std::string report = read_file_text(folder + "/crash.dat");
    EXPECT_TRUE(has(report, "SIGSEGV")) << "no crash report";
    expect_no_secret(report, "crash.dat");
    std::string logText;
    for (const QString &name : logs.entryList(QDir::Files))
        logText += read_file_text(logs.filePath(name));
    EXPECT_TRUE(has(logText, "qt start,para.userID=7")) << "not the viewer's log";
    expect_no_secret(logText, "the log files");
    expect_no_secret(read_file_text(QString::fromStdString(output)), "standard output and error");
}

int main(int argc, char **argv)
{
    // The in-process device draws its screen with Qt's fonts: an application object is needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
