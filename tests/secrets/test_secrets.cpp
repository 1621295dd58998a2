// The viewer program itself, under a private X server, against the simulated device: the
// DES keys, the launch text and what the user types never show in its log files, its
// standard output, a crash report or the process list, and its log files are the user's
// alone.
#include "../app/child_process.h"
#include "c_sim_options.h"
#include "c_sim_runner.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cctype>
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

std::string hex(const std::array<std::uint8_t, 8> &key, bool upper)
{
    const char *digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : key) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Runs a short helper program to its end; its standard output.
std::string run(const std::vector<std::string> &args,
                const std::vector<std::pair<std::string, std::string>> &env, int timeoutMs)
{
    ChildProcess child;
    ChildProcess::Options options;
    options.program = args.front();
    options.args.assign(args.begin() + 1, args.end());
    options.env = env;
    options.pipeStdout = true;
    if (!child.start(options))
        return {};
    std::string out;
    while (auto line = child.readLine([](const std::string &) { return true; }, timeoutMs))
        out += *line + "\n";
    child.waitExit(timeoutMs);
    return out;
}

class SecretsOfTheViewer : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *tool : {"/usr/bin/Xvfb", "/usr/bin/xdotool"})
            if (!QFileInfo(QString::fromLatin1(tool)).isExecutable())
                GTEST_SKIP() << tool << " not installed";
        ASSERT_TRUE(m_dir.isValid());
        m_folder = QFileInfo(m_dir.path()).canonicalFilePath();
        ASSERT_TRUE(copy_program("tessaract", m_folder));

        c_sim_options options = c_sim_options::in_process(640, 360, 10);
        options.desEncode = kEncodeKey;
        options.desDecode = kDecodeKey;
        m_sim = std::make_unique<c_sim_runner>(options);
        QString error;
        ASSERT_TRUE(m_sim->start(error)) << error.toStdString();

        ChildProcess::Options x;
        x.program = "/usr/bin/Xvfb";
        x.args = {"-displayfd", "1", "-screen", "0", "1280x900x24", "-nolisten", "tcp", "-noreset"};
        x.pipeStdout = true;
        x.outputFile = (m_folder + "/xvfb.txt").toStdString();
        ASSERT_TRUE(m_xvfb.start(x));
        const auto display = m_xvfb.readLine([](const std::string &l) { return !l.empty(); }, kStartMs);
        ASSERT_TRUE(display.has_value()) << "Xvfb did not start";
        m_display = ":" + *display;
    }
    void TearDown() override
    {
        if (m_viewer.pid() > 0 && !m_viewer.waitExit(0).has_value()) {
            m_viewer.signal(SIGTERM);
            m_viewer.waitExit(kExitMs);
        }
        m_sim.reset();
        if (m_xvfb.pid() > 0) {
            m_xvfb.signal(SIGTERM);
            m_xvfb.waitExit(kExitMs);
        }
    }

    std::vector<std::pair<std::string, std::string>> x_env() const
    {
        return {{"DISPLAY", m_display}, {"QT_QPA_PLATFORM", "xcb"}, {"WAYLAND_DISPLAY", ""}};
    }

    // Everything secret: both keys in either letter case, the launch text, the typed text,
    // and the keyboard report of each typed letter as hex bytes or as a list of numbers.
    std::vector<std::string> secrets() const
    {
        std::vector<std::string> all{hex(kEncodeKey, true), hex(kEncodeKey, false),
                                     hex(kDecodeKey, true), hex(kDecodeKey, false),
                                     m_sim->launch_text(), kTyped};
        for (char c : kTyped) {
            if (c < 'a' || c > 'z')
                continue;
            const int usage = 4 + (c - 'a');
            all.push_back(hex({0, 0, static_cast<std::uint8_t>(usage), 0, 0, 0, 0, 0}, false));
            all.push_back("0,0," + std::to_string(usage) + ",0,0,0,0,0");
        }
        return all;
    }
    void expect_no_secret(const std::string &text, const std::string &where) const
    {
        const std::string folded = lower(text);
        for (const std::string &secret : secrets())
            EXPECT_FALSE(has(folded, lower(secret))) << "\"" << secret << "\" in " << where;
    }

    std::string status() { return m_sim->command("status"); }

    QTemporaryDir m_dir;
    QString m_folder;
    std::unique_ptr<c_sim_runner> m_sim;
    ChildProcess m_xvfb;
    std::string m_display;
    ChildProcess m_viewer;
};

} // namespace

TEST_F(SecretsOfTheViewer, KeysLaunchTextAndTypedTextStayOutOfLogsReportsAndProcessList)
{
    ChildProcess::Options options;
    options.program = (m_folder + "/tessaract").toStdString();
    options.args = {m_sim->launch_text()};
    options.env = x_env();
    options.env.emplace_back("XDG_STATE_HOME", (m_folder + "/state").toStdString());
    options.outputFile = (m_folder + "/output.txt").toStdString();
    ASSERT_TRUE(m_viewer.start(options));

    ASSERT_TRUE(wait_until([&] { return has(status(), "holder=1"); }, kStartMs))
        << status() << read_file_text(m_folder + "/output.txt");
    const std::string window =
        run({"/usr/bin/xdotool", "search", "--sync", "--onlyvisible", "--name", "Login User"},
            x_env(), kStartMs);
    ASSERT_FALSE(window.empty()) << "the viewer's window did not appear";
    const std::string id = window.substr(0, window.find('\n'));
    run({"/usr/bin/xdotool", "windowfocus", "--sync", id}, x_env(), kExitMs);
    run({"/usr/bin/xdotool", "type", "--delay", "40", kTyped}, x_env(), kStartMs);
    ASSERT_TRUE(wait_until([&] { return has(m_sim->command("console"), kTyped); }, kStartMs))
        << m_sim->command("console");

    // The process list: the viewer's command line and environment, and every process of ours.
    const QString self = QStringLiteral("/proc/%1").arg(m_viewer.pid());
    expect_no_secret(read_file_text(self + "/cmdline"), "the viewer's command line");
    expect_no_secret(read_file_text(self + "/environ"), "the viewer's environment");
    for (QDirIterator it(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot); it.hasNext();) {
        const QString entry = it.next();
        if (entry.section('/', -1).toInt() > 0 && entry.section('/', -1).toInt() != ::getpid())
            expect_no_secret(read_file_text(entry + "/cmdline"), entry.toStdString() + "/cmdline");
    }

    // The log folder, while the viewer runs and writes into it.
    const QDir logs(m_folder + "/log");
    ASSERT_FALSE(logs.entryList(QDir::Files).isEmpty()) << "no log file";
    for (const QString &name : logs.entryList(QDir::Files)) {
        struct stat info {};
        ASSERT_EQ(::stat(logs.filePath(name).toLocal8Bit().constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u) << name.toStdString();
    }

    // A crash report of the running session.
    m_viewer.signal(SIGSEGV);
    ASSERT_TRUE(m_viewer.waitExit(kExitMs).has_value());
    const std::string report = read_file_text(m_folder + "/crash.dat");
    EXPECT_TRUE(has(report, "SIGSEGV")) << "no crash report";
    expect_no_secret(report, "crash.dat");

    std::string logText;
    for (QDirIterator it(m_folder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        if (path.endsWith(".log"))
            logText += read_file_text(path);
    }
    EXPECT_TRUE(has(logText, "qt start,para.userID=7")) << "not the viewer's log";
    expect_no_secret(logText, "the log files");
    expect_no_secret(read_file_text(m_folder + "/output.txt"), "standard output and error");
}

int main(int argc, char **argv)
{
    // The in-process device draws its screen with Qt's fonts: an application object is needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
