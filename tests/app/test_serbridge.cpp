// The serial bridge program itself: a device's serial port on loopback, a program on the
// pseudo-terminal the bridge opens, and every byte value passed unchanged both ways.

#include "child_process.h"
#include "loopback.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>

namespace {

using namespace socket_test;

constexpr int kWaitMs = 10000;

// Every byte value, so any terminal processing (echo, CR/LF mapping, control characters)
// would show.
bytes all_bytes(int rounds)
{
    bytes data;
    for (int r = 0; r < rounds; ++r)
        for (int b = 0; b < 256; ++b)
            data.push_back(std::uint8_t(b ^ r));
    return data;
}

struct bridge_end {
    const char *name;
    bool terminalCloses; // else the device closes the connection
    const char *logLine;
};

class SerialBridge : public ::testing::TestWithParam<bridge_end> {};

TEST_P(SerialBridge, CopiesEveryByteBothWaysUntilOneEndCloses)
{
    QTemporaryDir dir;
    const QString folder = QFileInfo(dir.path()).canonicalFilePath();
    ASSERT_TRUE(copy_program("serbridge", folder));
    loopback_listener device;
    ChildProcess bridge;
    ChildProcess::Options options;
    options.program = (folder + "/serbridge").toStdString();
    options.args = {"{ip:127.0.0.1,portCOM:" + std::to_string(device.port()) + "}"};
    options.outputFile = (folder + "/stdout.txt").toStdString();
    options.errorFile = (folder + "/stderr.txt").toStdString();
    ASSERT_TRUE(bridge.start(options));
    unique_fd port = device.accept_one(kWaitMs);
    ASSERT_TRUE(port) << read_file_text(folder + "/stderr.txt");
    // The bridge prints the terminal's path once it is ready.
    std::string terminalPath;
    ASSERT_TRUE(wait_until([&] {
        terminalPath = read_file_text(folder + "/stdout.txt");
        return terminalPath.size() > 1 && terminalPath.back() == '\n';
    }, kWaitMs));
    terminalPath.pop_back();
    // Non-blocking: a bridge that left flow control on must fail the test, not hang it.
    unique_fd terminal(::open(terminalPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    ASSERT_TRUE(terminal) << terminalPath;

    const bytes down = all_bytes(4), up = all_bytes(3);
    bytes received(down.size());
    ASSERT_TRUE(write_fd(port.get(), down));
    ASSERT_TRUE(read_fd(terminal.get(), received.data(), received.size(), kWaitMs));
    EXPECT_EQ(received, down);
    received.resize(up.size());
    ASSERT_EQ(::write(terminal.get(), up.data(), up.size()), ssize_t(up.size())); // within the terminal's buffer
    ASSERT_TRUE(read_fd(port.get(), received.data(), received.size(), kWaitMs));
    EXPECT_EQ(received, up);

    (GetParam().terminalCloses ? terminal : port).reset();
    const auto status = bridge.waitExit(kWaitMs);
    ASSERT_TRUE(status.has_value());
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    std::string log;
    for (const QString &name : QDir(folder + "/log").entryList({"serbridge_*.log"}, QDir::Files))
        log += read_file_text(folder + "/log/" + name);
    EXPECT_NE(log.find(std::string("serial bridge ended: ") + GetParam().logLine), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(Ends, SerialBridge,
                         ::testing::Values(bridge_end{"TerminalCloses", true, "the terminal was closed"},
                                           bridge_end{"DeviceCloses", false, "the device closed the connection"}),
                         [](const auto &param) { return std::string(param.param.name); });

} // namespace
