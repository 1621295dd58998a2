// tessaract-sim as a program: its launch text, its control interfaces and its exit status.
#include "launch/LaunchParams.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// The program folder of the build: named by the environment, else the "bin" folder beside
// the tests' own folder.
QString simulator()
{
    const char *dir = std::getenv("TESSARACT_TEST_PROGRAM_DIR");
    const QString folder = dir && *dir ? QString::fromLocal8Bit(dir)
                                       : QCoreApplication::applicationDirPath() + QStringLiteral("/../bin");
    return folder + QStringLiteral("/tessaract-sim");
}

QStringList small(QStringList more)
{
    return QStringList{QStringLiteral("--port-video"), QStringLiteral("0"), QStringLiteral("--port-km"),
                       QStringLiteral("0"), QStringLiteral("--port-media"), QStringLiteral("0"),
                       QStringLiteral("--width"), QStringLiteral("320"), QStringLiteral("--height"),
                       QStringLiteral("240")} + more;
}

std::string read_line(QIODevice &from, int timeoutMs = 5000)
{
    if (!from.canReadLine() && !from.waitForReadyRead(timeoutMs))
        return {};
    while (!from.canReadLine() && from.waitForReadyRead(timeoutMs)) {
    }
    return from.readLine().trimmed().toStdString();
}

TEST(SimProgram, LaunchTextParsesAndBothControlInterfacesAnswer)
{
    QTemporaryDir dir;
    const QString json = dir.filePath(QStringLiteral("received.jsonl"));
    QProcess sim;
    sim.setProcessChannelMode(QProcess::SeparateChannels);
    sim.start(simulator(), small({QStringLiteral("--control-port"), QStringLiteral("0"),
                                  QStringLiteral("--log-json"), json,
                                  QStringLiteral("--des-encode"), QStringLiteral("0123456789ABCDEF"),
                                  QStringLiteral("--des-decode"), QStringLiteral("fedcba9876543210"),
                                  QStringLiteral("--user-id"), QStringLiteral("9"),
                                  QStringLiteral("--mouse-mode"), QStringLiteral("1")}));
    ASSERT_TRUE(sim.waitForStarted(5000));
    const std::string launch = read_line(sim);
    const LaunchParams params = parse_launch_params(decode_launch_text(launch));
    EXPECT_EQ(params.ip, "127.0.0.1");
    EXPECT_NE(params.portKM, 0u);
    EXPECT_NE(params.portV, 0u);
    EXPECT_NE(params.portMedia, 0u);
    EXPECT_EQ(params.userID, 9u);
    EXPECT_EQ(params.userNM, "admin");
    EXPECT_EQ(params.mouseMode, 1u);
    ASSERT_TRUE(params.desEncodeKey.present());
    ASSERT_TRUE(params.desDecodeKey.present());
    EXPECT_EQ(params.desEncodeKey.key[0], 0x01);
    EXPECT_EQ(params.desEncodeKey.key[7], 0xEF);
    EXPECT_EQ(params.desDecodeKey.key[0], 0xFE);

    const std::string control = read_line(sim);
    ASSERT_EQ(control.rfind("control:", 0), 0u) << control;
    QTcpSocket port;
    port.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(std::stoi(control.substr(8))));
    ASSERT_TRUE(port.waitForConnected(3000));
    port.write("pointer\nbogus\n");
    EXPECT_EQ(read_line(port), "ok 160 120");
    EXPECT_EQ(read_line(port), "err unknown command \"bogus\" (try help)");

    QTcpSocket km; // a login, to be found in the JSON lines
    km.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(params.portKM));
    ASSERT_TRUE(km.waitForConnected(3000));
    km.write(QByteArray::fromHex("a5013900000005000000053200000007"));
    ASSERT_TRUE(km.waitForReadyRead(3000));
    EXPECT_EQ(km.readAll().toHex(), QByteArray("a501320000000200000002" "3200"));

    sim.write("\n# nothing\nconsole\n");
    EXPECT_EQ(read_line(sim), "ok");
    sim.write("quit\n");
    EXPECT_EQ(read_line(sim), "ok bye");
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_EQ(sim.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(sim.exitCode(), 0);
    QFile lines(json);
    ASSERT_TRUE(lines.open(QIODevice::ReadOnly));
    EXPECT_NE(lines.readAll().indexOf("\"channel\":\"km\",\"viewer\":1,\"type\":50,\"payload\":\"00000007\"}"), -1);
}

int run_with_launch(const QString &viewer)
{
    QProcess sim;
    sim.setStandardInputFile(QProcess::nullDevice());
    sim.start(simulator(), small({QStringLiteral("--launch"), viewer}));
    if (!sim.waitForStarted(5000) || !sim.waitForFinished(15000))
        return -1;
    return sim.exitCode();
}

TEST(SimProgram, LaunchedViewerExitStatusBecomesTheSimulatorsOwn)
{
    EXPECT_EQ(run_with_launch(QStringLiteral("/bin/true")), 0);
    EXPECT_EQ(run_with_launch(QStringLiteral("/bin/false")), 1);
    EXPECT_EQ(run_with_launch(QStringLiteral("/nonexistent/viewer")), 127);
}

TEST(SimProgram, BadOptionsExitWithStatusTwo)
{
    QProcess sim;
    sim.start(simulator(), {QStringLiteral("--width"), QStringLiteral("641")});
    ASSERT_TRUE(sim.waitForFinished(10000));
    EXPECT_EQ(sim.exitCode(), 2);
    EXPECT_NE(sim.readAllStandardError().indexOf("even"), -1);
}

} // namespace
