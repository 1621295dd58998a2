// The dialog against the device simulator's media master: the simulated remote computer
// probes the mapped image, then runs the read and write scripts the test gives it.
#include "media_test_support.h"

#include "../sim/disk_images.h"
#include "c_sim_runner.h"
#include "c_ui_u_setting_dlg.h"
#include "media/c_u_media_session.h"
#include "protocol/frame.h"
#include "tools/socket/SocketChannel.h"

#include <QCheckBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTest>

#include <random>

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
        sim = std::make_unique<c_sim_runner>(c_sim_options::in_process());
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

namespace {

struct sector_record {
    std::uint32_t start;
    std::uint16_t index;
    bytes data;
    bool operator==(const sector_record &) const = default;
};

std::ostream &operator<<(std::ostream &out, const sector_record &r)
{
    return out << "sector " << r.start << "+" << r.index;
}

// The viewer's session (no window) maps an image; the simulator logs every frame it receives.
struct SimMediaWorkload : ::testing::Test {
    static constexpr std::uint32_t kSectors = 4096;

    void SetUp() override
    {
        c_sim_options options = c_sim_options::in_process(320, 240, 1);
        options.logJsonPath = image.dir() + "/received.json";
        sim = std::make_unique<c_sim_runner>(options);
        QString error;
        ASSERT_TRUE(sim->start(error)) << error.toStdString();

        u_media_settings settings;
        settings.mapPauseMs = 0;
        settings.interactiveAuth = false;
        session = std::make_unique<c_u_media_session>(settings);
        ASSERT_TRUE(session->open_channel("127.0.0.1", sim->port(c_sim_connection::kind::media), 7));
        if (!session->channel()->valid())
            GTEST_SKIP() << "SocketThreadFactory builds no media threads";
        ASSERT_TRUE(session->map(image.path(), false));
        // The remote computer's probe is over; what the log holds so far belongs to it.
        ASSERT_TRUE(socket_test::eventually(
            [&] { return session->is_idle() && has(sim->command("media"), "idle=1"); }, 10s))
            << sim->command("media");
        probeLogSize = QFileInfo(options.logJsonPath).size();
    }
    void TearDown() override { session.reset(); }

    // Every pak_readData the simulator received after the probe, in order.
    std::vector<sector_record> sectors_read() const
    {
        QFile file(image.dir() + "/received.json");
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        file.seek(probeLogSize);
        std::vector<sector_record> out;
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (!line.contains("\"channel\":\"media\"") || !line.contains("\"type\":9,"))
                continue;
            const qsizetype at = line.indexOf("\"payload\":\"") + 11;
            const QByteArray payload = QByteArray::fromHex(line.mid(at, line.indexOf('"', at) - at));
            const auto *p = reinterpret_cast<const std::uint8_t *>(payload.constData());
            if (payload.size() == 519) // unit, start, index, data
                out.push_back({read_be32(p + 1), read_be16(p + 5), bytes(p + 7, p + 519)});
        }
        return out;
    }

    test_image image{kSectors, 5};
    std::unique_ptr<c_sim_runner> sim;
    std::unique_ptr<c_u_media_session> session;
    qint64 probeLogSize = 0;
};

} // namespace

TEST_F(SimMediaWorkload, MixedRandomInstructionsReadTheModelAndLeaveTheImageEqualToIt)
{
    std::mt19937 random(2024);
    std::vector<sector_record> expectedReads;
    std::uint64_t written = 0;
    for (int n = 0; n < 1000; ++n) {
        const auto count = static_cast<std::uint16_t>(1 + random() % 4);
        const std::uint32_t start = random() % (kSectors - count + 1);
        if (random() % 2 == 0) {
            ASSERT_TRUE(has(sim->command("read " + std::to_string(start) + " " +
                                         std::to_string(count)), "ok"));
            for (std::uint16_t i = 0; i < count; ++i)
                expectedReads.push_back({start, i, image.sector(start + i)});
            continue;
        }
        const bool lba = random() % 2 == 0;
        const auto fill = static_cast<std::uint8_t>(random());
        char pattern[4];
        std::snprintf(pattern, sizeof pattern, "%02x", fill);
        ASSERT_TRUE(has(sim->command("write " + std::to_string(start) + " " +
                                     std::to_string(count) + " " + (lba ? "lba" : pattern)),
                        "ok"));
        for (std::uint32_t sector = start; sector < start + count; ++sector) {
            bytes data(512, fill);
            if (lba)
                for (std::size_t i = 0; i < 512; i += 4)
                    write_be32(data.data() + i, sector);
            image.write_model(sector, data);
        }
        written += count;
    }
    for (int tick = 0; tick <= c_u_media_session::kIdleTicks; ++tick)
        session->ask_tick(); // idle since the probe: ask for the script at once
    ASSERT_TRUE(socket_test::eventually(
        [&] { return session->is_idle() && has(sim->command("media"), "idle=1"); }, 30s))
        << sim->command("media");

    EXPECT_TRUE(has(sim->command("media"), " written=" + std::to_string(written) + " "))
        << sim->command("media");
    const std::vector<sector_record> reads = sectors_read();
    ASSERT_EQ(reads.size(), expectedReads.size());
    for (std::size_t i = 0; i < reads.size(); ++i)
        ASSERT_EQ(reads[i], expectedReads[i]) << "pak_readData number " << i;
    EXPECT_EQ(image.file_hash(), image.model_hash());
}
