#include "child_process.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

constexpr int kWaitMs = 10000;
const std::string kKeyDigits = "8A1F33C07D5E9B26";

// Owns a descriptor for the test's sockets and terminal.
struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) {}
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
};

bool has(const std::string &text, const std::string &piece)
{
    return text.find(piece) != std::string::npos;
}

// Reads exactly `size` bytes within timeoutMs.
std::string read_exactly(int fd, std::size_t size, int timeoutMs)
{
    std::string data;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (data.size() < size) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) != 1)
            break;
        char chunk[4096];
        const ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, size - data.size()));
        if (n <= 0)
            break;
        data.append(chunk, static_cast<std::size_t>(n));
    }
    return data;
}

bool write_all(int fd, const std::string &data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Every byte value, so terminal processing (echo, CR/LF mapping, control characters) shows.
std::string all_bytes(int rounds)
{
    std::string data;
    for (int r = 0; r < rounds; ++r)
        for (int b = 0; b < 256; ++b)
            data.push_back(static_cast<char>(b ^ r));
    return data;
}

// The bridge copied into a fresh folder, facing a device port on loopback.
class Bridge : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        folder = QFileInfo(dir.path()).canonicalFilePath();
        ASSERT_TRUE(copy_program("serbridge", folder));
        listener.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ASSERT_EQ(::bind(listener.fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ASSERT_EQ(::listen(listener.fd, 1), 0);
        ASSERT_EQ(::getsockname(listener.fd, reinterpret_cast<sockaddr *>(&address), &length), 0);
        port = ntohs(address.sin_port);
    }

    bool start(const std::string &text)
    {
        ChildProcess::Options options;
        options.program = (folder + "/serbridge").toStdString();
        options.input = text; // as the viewer hands it over
        options.env = {{"XDG_STATE_HOME", (folder + "/state").toStdString()}};
        options.outputFile = (folder + "/stderr.txt").toStdString();
        options.pipeStdout = true;
        return bridge.start(options);
    }

    // Accepts the bridge's connection and reads the terminal path it prints.
    bool connectBridge(Fd &device, std::string &terminal)
    {
        pollfd p{listener.fd, POLLIN, 0};
        if (::poll(&p, 1, kWaitMs) != 1)
            return false;
        device.fd = ::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
        const auto line = bridge.readLine([](const std::string &l) { return l.rfind("/dev/", 0) == 0; },
                                          kWaitMs);
        terminal = line.value_or("");
        return device.fd >= 0 && line.has_value();
    }

    std::string log() const
    {
        const QDir logs(folder + "/log");
        std::string all;
        for (const QString &name : logs.entryList({"serbridge_*.log"}, QDir::Files))
            all += read_file_text(logs.filePath(name));
        return all;
    }

    QTemporaryDir dir;
    QString folder;
    Fd listener;
    int port = 0;
    ChildProcess bridge;
};

} // namespace

TEST_F(Bridge, CopiesBytesUnchangedBothWaysUntilTheTerminalCloses)
{
    ASSERT_TRUE(start("{ip:127.0.0.1,portCOM:" + std::to_string(port) + ",desEncode:" + kKeyDigits +
                      "}"));
    Fd device;
    std::string terminalPath;
    ASSERT_TRUE(connectBridge(device, terminalPath)) << read_file_text(folder + "/stderr.txt");
    EXPECT_FALSE(has(bridge.commandLine(), kKeyDigits));

    Fd terminal(::open(terminalPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_GE(terminal.fd, 0) << terminalPath;

    const std::string down = all_bytes(4);
    ASSERT_TRUE(write_all(device.fd, down));
    EXPECT_EQ(read_exactly(terminal.fd, down.size(), kWaitMs), down);

    const std::string up = all_bytes(3);
    ASSERT_TRUE(write_all(terminal.fd, up));
    EXPECT_EQ(read_exactly(device.fd, up.size(), kWaitMs), up);

    ::close(terminal.fd);
    terminal.fd = -1;
    const auto status = bridge.waitExit(kWaitMs);
    ASSERT_TRUE(status.has_value());
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    const std::string text = log();
    EXPECT_TRUE(has(text, "serial bridge 127.0.0.1:" + std::to_string(port) + " on terminal " +
                              terminalPath));
    EXPECT_TRUE(has(text, "serial bridge ended: the terminal was closed"));
    EXPECT_FALSE(has(text, kKeyDigits));
}

TEST_F(Bridge, EndsWhenTheDeviceCloses)
{
    ASSERT_TRUE(start("{ip:127.0.0.1,portCOM:" + std::to_string(port) + "}"));
    Fd device;
    std::string terminalPath;
    ASSERT_TRUE(connectBridge(device, terminalPath));
    ::close(device.fd);
    device.fd = -1;
    const auto status = bridge.waitExit(kWaitMs);
    ASSERT_TRUE(status.has_value());
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    EXPECT_TRUE(has(log(), "serial bridge ended: the device closed the connection"));
}

TEST_F(Bridge, StopsCleanlyOnTerminate)
{
    ASSERT_TRUE(start("{ip:127.0.0.1,portCOM:" + std::to_string(port) + "}"));
    Fd device;
    std::string terminalPath;
    ASSERT_TRUE(connectBridge(device, terminalPath));
    bridge.signal(SIGTERM);
    const auto status = bridge.waitExit(kWaitMs);
    ASSERT_TRUE(status.has_value());
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    EXPECT_TRUE(has(log(), "serial bridge ended: stopped"));
}

TEST_F(Bridge, RefusesUnusableTargets)
{
    struct Case {
        std::string text;
        int status;
        bool argument = false; // the form scripts may still use; else standard input
    };
    ::close(listener.fd); // the port is now closed
    listener.fd = -1;
    const Case cases[] = {
        {"{ip:127.0.0.1}", 1},
        {"{portCOM:4001}", 1, true},
        {"{ip:127.0.0.1,portCOM:70000}", 1},
        {"", 1},
        {"{ip:127.0.0.1,portCOM:4001," + std::string(1024, 'x') + "}", 1},
        {"{ip:127.0.0.1,portCOM:" + std::to_string(port) + "}", 2, true},
        {"{ip:999.1.1.1,portCOM:4001}", 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        ChildProcess run;
        ChildProcess::Options options;
        options.program = (folder + "/serbridge").toStdString();
        if (c.argument)
            options.args = {c.text};
        else
            options.input = c.text;
        options.env = {{"XDG_STATE_HOME", (folder + "/state").toStdString()}};
        ASSERT_TRUE(run.start(options));
        const auto status = run.waitExit(kWaitMs);
        ASSERT_TRUE(status.has_value());
        ASSERT_TRUE(WIFEXITED(*status));
        EXPECT_EQ(WEXITSTATUS(*status), c.status);
    }
    EXPECT_TRUE(has(log(), "serial bridge: the launch text lacks a usable ip or portCOM item"));
    EXPECT_TRUE(has(log(), "Function:connect errorCode 111"));
    EXPECT_TRUE(has(log(), "serial bridge: the launch text is longer than 1023 bytes"));
}

TEST_F(Bridge, FatalSignalLeavesItsOwnReport)
{
    ASSERT_TRUE(start("{ip:127.0.0.1,portCOM:" + std::to_string(port) + "}"));
    Fd device;
    std::string terminalPath;
    ASSERT_TRUE(connectBridge(device, terminalPath));
    bridge.signal(SIGSEGV);
    const auto status = bridge.waitExit(kWaitMs);
    ASSERT_TRUE(status.has_value());
    ASSERT_TRUE(WIFSIGNALED(*status));
    EXPECT_EQ(WTERMSIG(*status), SIGSEGV);
    EXPECT_TRUE(has(read_file_text(folder + "/serbridge-crash.dat"), "signal: 11 SIGSEGV\n"));
    EXPECT_FALSE(QFile::exists(folder + "/crash.dat"));
}
