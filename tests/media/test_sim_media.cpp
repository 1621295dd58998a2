// The dialog against the device simulator's media master: the simulated remote computer
// probes the mapped image, then runs the read and write scripts the test gives it.
#include "media_test_support.h"

#include "../sim/disk_images.h"
#include "c_sim_runner.h"
#include "c_ui_u_setting_dlg.h"
#include "protocol/frame.h"
#include "tools/socket/SocketChannel.h"

#include <QCheckBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace media_test;

namespace {

// Runs the GUI thread's events (the dialog's timers) while waiting for the device.
bool pump_until(const std::function<bool()> &pred, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(20);
    }
    return true;
}

bool has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

struct SimMedia : ::testing::Test {
    void SetUp() override
    {
        c_sim_options options;
        options.portVideo = options.portKM = options.portMedia = 0;
        options.controlStdin = false;
        options.width = 320;
        options.height = 240;
        options.fps = 5;
        sim = std::make_unique<c_sim_runner>(options);
        QString error;
        ASSERT_TRUE(sim->start(error)) << error.toStdString();

        const bytes disk = mbr_fat32_image();
        QFile file(dir.path() + "/fat32.img");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char *>(disk.data()), static_cast<qint64>(disk.size()));
        file.close();
        image = file.fileName();
        qputenv("TESSARACT_IMAGES", image.toLocal8Bit());

        c_ui_u_setting_dlg::options config;
        config.ip = "127.0.0.1";
        config.port = sim->port(c_sim_connection::kind::media);
        config.userID = 7;
        config.session.mapPauseMs = 0;
        config.session.interactiveAuth = false;
        config.modalNotices = false;
        dialog = std::make_unique<c_ui_u_setting_dlg>(config, nullptr);
        if (!dialog->session().channel()->valid())
            GTEST_SKIP() << "SocketThreadFactory builds no media threads";
    }
    void TearDown() override
    {
        dialog.reset();
        qunsetenv("TESSARACT_IMAGES");
    }

    std::string media() { return sim->command("media"); }
    bool wait_media(const std::vector<std::string> &parts, int timeoutMs = 10000)
    {
        return pump_until(
            [&] {
                const std::string reply = media();
                return std::all_of(parts.begin(), parts.end(),
                                   [&](const std::string &p) { return has(reply, p); });
            },
            timeoutMs);
    }
    bytes file_sector(std::uint32_t n)
    {
        QFile file(image);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        file.seek(qint64{n} * 512);
        const QByteArray data = file.read(512);
        return bytes(data.begin(), data.end());
    }
    void map(bool readOnly)
    {
        dialog->findChild<QCheckBox *>("checkBox")->setChecked(readOnly);
        dialog->findChild<QPushButton *>("mapButton")->click();
        ASSERT_TRUE(dialog->session().is_mapped());
    }

    QTemporaryDir dir;
    QString image;
    std::unique_ptr<c_sim_runner> sim;
    std::unique_ptr<c_ui_u_setting_dlg> dialog;
};

} // namespace

TEST_F(SimMedia, RemoteComputerRecognisesTheImageAndItsWritesLandInIt)
{
    map(false);
    ASSERT_TRUE(wait_media({"mapped=1", "sectors=4096", "ro=0", "idle=1", "fs=FAT32",
                            "label=\"BIGDISK\""}))
        << media();

    ASSERT_TRUE(has(sim->command("write 100 3 lba"), "ok")) << media();
    ASSERT_TRUE(pump_until([&] { return file_sector(102)[3] == 102; }, 10000)) << media();
    for (std::uint32_t n = 100; n < 103; ++n) {
        const bytes sector = file_sector(n);
        for (std::size_t i = 0; i < 512; i += 4)
            ASSERT_EQ(read_be32(sector.data() + i), n) << "sector " << n << " offset " << i;
    }
    ASSERT_TRUE(has(sim->command("read 101 1"), "ok"));
    ASSERT_TRUE(pump_until([&] { return has(sim->command("sector 101"), "ok 00000065"); }, 10000))
        << sim->command("sector 101");
}

TEST_F(SimMedia, ReadOnlyMappingIsAnnouncedAndTheImageStaysUnchanged)
{
    const QByteArray before = [&] {
        QFile file(image);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    map(true);
    ASSERT_TRUE(wait_media({"mapped=1", "ro=1", "idle=1", "fs=FAT32"})) << media();
    EXPECT_TRUE(has(sim->command("write 100 1 ff"), "err")); // the device refuses it itself
    dialog->findChild<QPushButton *>("unmapButton")->click();
    ASSERT_TRUE(wait_media({"mapped=0"})) << media();
    QFile file(image);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
}
