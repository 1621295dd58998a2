// The media channel dropped mid-write and connected again: only whole write frames reach
// the image, the cut batch is abandoned, and the disk is mapped again in the same mode.
#include "media_support.h"
#include "window_on_sim.h"

#include "disk_images.h"
#include "c_sim_runner.h"
#include "c_ui_u_setting_dlg.h"
#include "media/c_u_media_session.h"
#include "protocol/frame.h"
#include "tools/socket/SocketChannel.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace media_test;

namespace {

constexpr std::uint32_t kWriteStart = 100;
constexpr std::uint32_t kWriteCount = 3000;

bool has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

struct MediaComeback : ::testing::TestWithParam<bool> {
    void SetUp() override
    {
        original = mbr_fat32_image();
        QFile file(dir.path() + "/fat32.img");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char *>(original.data()), static_cast<qint64>(original.size()));
        file.close();
        image = file.fileName();
        // Before the simulator's threads start: changing the environment while another thread
        // reads it (the encoder does) is a race in the C library.
        qputenv("TESSARACT_IMAGES", image.toLocal8Bit());
        sim = std::make_unique<c_sim_runner>(c_sim_options::in_process());
        QString error;
        ASSERT_TRUE(sim->start(error)) << error.toStdString();

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
        QObject::connect(dialog.get(), &c_ui_u_setting_dlg::signal_channel_closed,
                         [this] { closed = true; });
    }
    void TearDown() override
    {
        dialog.reset();
        sim.reset(); // its threads gone before the environment changes
        qunsetenv("TESSARACT_IMAGES");
    }
    std::string media() { return sim->command("media"); }
    bool wait_media(const std::string &a, const std::string &b, const std::string &c = "")
    {
        return wait_for([&] { const auto m = media(); return has(m, a) && has(m, b) && has(m, c); },
                          10000);
    }
    bytes file_bytes()
    {
        QFile file(image);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        return bytes(data.begin(), data.end());
    }
    // Sectors of the write batch that hold their own number (the "lba" pattern), after
    // checking that every sector of the image is either untouched or written whole.
    std::uint32_t whole_sectors_written()
    {
        const bytes now = file_bytes();
        std::uint32_t written = 0;
        for (std::uint32_t n = 0; n * 512 < now.size(); ++n) {
            const std::uint8_t *sector = now.data() + std::size_t{n} * 512;
            if (std::equal(sector, sector + 512, original.data() + std::size_t{n} * 512))
                continue;
            for (std::size_t i = 0; i < 512; i += 4)
                EXPECT_EQ(read_be32(sector + i), n) << "sector " << n << " half written at " << i;
            ++written;
        }
        return written;
    }
    void reconnect()
    {
        auto socket = std::make_shared<c_tcp_sock>();
        socket->set_remote_addr("127.0.0.1", sim->port(c_sim_connection::kind::media));
        ASSERT_EQ(socket->create_sock(nullptr, 0, 2000), 1);
        dialog->reopen_channel(socket);
    }

    QTemporaryDir dir;
    QString image;
    bytes original;
    bool closed = false;
    std::unique_ptr<c_sim_runner> sim;
    std::unique_ptr<c_ui_u_setting_dlg> dialog;
};

TEST_P(MediaComeback, DropMidWriteKeepsWholeSectorsAndMapsAgainInTheSameMode)
{
    const bool readOnly = GetParam();
    dialog->findChild<QCheckBox *>("checkBox")->setChecked(readOnly);
    dialog->findChild<QPushButton *>("mapButton")->click();
    ASSERT_TRUE(dialog->session().is_mapped());
    const std::string mode = readOnly ? "ro=1" : "ro=0";
    ASSERT_TRUE(wait_media("viewer=1", mode, "idle=1")) << media();

    if (!readOnly) {
        const std::string write = "write " + std::to_string(kWriteStart) + " " +
                                  std::to_string(kWriteCount) + " lba";
        ASSERT_TRUE(wait_for([&] { return has(sim->command(write), "ok"); }, 5000))
            << sim->command(write) << " / " << media();
        ASSERT_TRUE(wait_for([&] { return whole_sectors_written() >= 1; }, 10000)) << media();
    }
    ASSERT_EQ(sim->command("close media 1"), "ok");
    ASSERT_TRUE(wait_for([&] { return closed; }, 5000));
    const std::uint32_t before = whole_sectors_written();
    if (!readOnly) {
        EXPECT_LT(before, kWriteCount) << "the drop came too late to cut the batch";
    }

    reconnect();
    ASSERT_TRUE(wait_media("viewer=2", "mapped=1", mode)) << media();
    ASSERT_TRUE(wait_media("viewer=2", "idle=1")) << media();
    // The cut batch is not replayed: the new connection asked for no write data.
    EXPECT_FALSE(has(sim->command("dump 1000"), "\"channel\":\"media\",\"viewer\":2,\"type\":10"));
    EXPECT_EQ(whole_sectors_written(), before);
}

INSTANTIATE_TEST_SUITE_P(, MediaComeback, ::testing::Values(false, true),
                         [](const auto &test) { return test.param ? "ReadOnly" : "Writable"; });

} // namespace
