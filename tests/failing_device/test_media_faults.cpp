// The media channel failing while the remote computer reads or writes a mapped image: no
// sector outside what the device asked for is read or written, a read-only image stays
// byte for byte the same, and the window stays responsive and closes in time.
#include "failing_device_support.h"

#include <QCryptographicHash>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

constexpr qint64 kSector = 512;

bool has(const std::string &text, const std::string &piece)
{
    return text.find(piece) != std::string::npos;
}

// A number after `key=` in a reply line; -1 when missing.
long field(const std::string &reply, const std::string &key)
{
    const std::size_t at = reply.find(" " + key + "=");
    return at == std::string::npos ? -1 : std::strtol(reply.c_str() + at + key.size() + 2, nullptr, 10);
}

class MediaFault : public FailingDevice {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(FailingDevice::SetUp());
        ASSERT_NO_FATAL_FAILURE(prepare_image());
    }

    static QByteArray sha256(const QByteArray &data)
    {
        return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
    }

    bool wait_field_at_least(const std::string &key, long count)
    {
        return wait_for([&] { return field(media(), key) >= count; }, kWaitMs);
    }

    // The media records of this type the device received (its log is written as it goes,
    // so read it once the window is gone).
    std::vector<device_record> media_records(int type) const
    {
        std::vector<device_record> found;
        for (const device_record &record : read_device_records(m_jsonPath))
            if (record.channel == "media" && record.type == type)
                found.push_back(record);
        return found;
    }

    // Checks every sector the viewer sent against the image and the device's instructions:
    // the remote computer's own probes read single sectors (index 0); the batch asked for
    // `count` sectors from `first`. Returns how many of the batch's sectors were sent.
    std::size_t expect_reads_within(std::uint32_t first, std::uint32_t count) const
    {
        std::size_t batch = 0;
        for (const device_record &record : media_records(9)) {
            // unit, start BE32, index BE16, 512 data bytes
            if (record.payload.size() != 2 * (7 + kSector)) {
                ADD_FAILURE() << "read data of the wrong size: " << record;
                continue;
            }
            const auto start = static_cast<std::uint32_t>(std::stoul(record.payload.substr(2, 8), nullptr, 16));
            const auto index = static_cast<std::uint32_t>(std::stoul(record.payload.substr(10, 4), nullptr, 16));
            if (start == first) {
                EXPECT_LT(index, count) << record;
                ++batch;
            } else {
                EXPECT_EQ(index, 0u) << "a sector outside the batch: " << record;
            }
            const QByteArray sector = m_original.mid(qint64{start + index} * kSector, kSector);
            EXPECT_EQ(record.payload.substr(14), sector.toHex().toStdString())
                << "sector " << start + index << " sent with other data";
        }
        return batch;
    }

};

} // namespace

TEST_F(MediaFault, ReadBatchCutByTheDeviceReadsOnlyTheAskedSectorsOfAReadOnlyImage)
{
    const QByteArray before = sha256(m_original);
    ASSERT_NO_FATAL_FAILURE(open_window());
    ASSERT_NO_FATAL_FAILURE(map_image(true));
    ASSERT_TRUE(wait_mapped()) << media();
    ASSERT_TRUE(has(media(), "ro=1")) << media();
    const long readBefore = field(media(), "read");

    m_meter.restart();
    ASSERT_EQ(sim_reply("read 100 1000"), "ok");
    ASSERT_TRUE(wait_field_at_least("read", readBefore + 20)) << media();
    ASSERT_EQ(sim_reply("close media 1"), "ok");
    EXPECT_TRUE(wait_log("u_recv connection closed")) << log_text();
    EXPECT_TRUE(wait_new_pictures(2));
    expect_stall_and_close_bounds();

    const std::size_t sent = expect_reads_within(100, 1000);
    EXPECT_GE(sent, 20u);
    EXPECT_LT(sent, 1000u) << "the close came after the whole batch";
    EXPECT_EQ(sha256(image_contents()), before) << "a read-only image changed";
}

TEST_F(MediaFault, WriteBatchCutByTheDeviceWritesNothingOutsideItsRun)
{
    ASSERT_NO_FATAL_FAILURE(open_window());
    ASSERT_NO_FATAL_FAILURE(map_image(false));
    ASSERT_TRUE(wait_mapped()) << media();
    ASSERT_TRUE(has(media(), "ro=0")) << media();

    m_meter.restart();
    constexpr qint64 first = 200;
    constexpr qint64 count = 400;
    ASSERT_EQ(sim_reply("write 200 400 lba"), "ok");
    ASSERT_TRUE(wait_field_at_least("written", 20)) << media();
    ASSERT_EQ(sim_reply("close media 1"), "ok");
    EXPECT_TRUE(wait_log("u_recv connection closed")) << log_text();
    expect_stall_and_close_bounds();

    const QByteArray after = image_contents();
    ASSERT_EQ(after.size(), m_original.size());
    EXPECT_EQ(after.left(first * kSector), m_original.left(first * kSector));
    EXPECT_EQ(after.mid((first + count) * kSector), m_original.mid((first + count) * kSector));
    int written = 0;
    for (qint64 n = first; n < first + count; ++n) {
        const QByteArray sector = after.mid(n * kSector, kSector);
        if (sector == m_original.mid(n * kSector, kSector))
            continue;
        ++written;
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(sector.constData());
        for (qint64 i = 0; i < kSector; i += 4) {
            const std::uint32_t value = std::uint32_t{bytes[i]} << 24 | std::uint32_t{bytes[i + 1]} << 16 |
                                        std::uint32_t{bytes[i + 2]} << 8 | bytes[i + 3];
            ASSERT_EQ(value, static_cast<std::uint32_t>(n)) << "sector " << n << " offset " << i;
        }
    }
    EXPECT_GE(written, 1);
    EXPECT_LT(written, count) << "the close came after the whole batch";
}

// Garbage, a body too short for its type and a nearly 2 GiB header arrive while the remote
// computer reads: the reads stay in range and the image unchanged.
TEST_F(MediaFault, HostileFramesDuringReadsOfAReadOnlyImage)
{
    const QByteArray before = sha256(m_original);
    ASSERT_NO_FATAL_FAILURE(open_window());
    ASSERT_NO_FATAL_FAILURE(map_image(true));
    ASSERT_TRUE(wait_mapped()) << media();
    const long readBefore = field(media(), "read");

    m_meter.restart();
    ASSERT_EQ(sim_reply("read 300 600"), "ok");
    ASSERT_TRUE(wait_field_at_least("read", readBefore + 10)) << media();
    ASSERT_EQ(sim_reply("garbage media 1 65536"), "ok");
    ASSERT_EQ(sim_reply("malformed media 1 short"), "ok");
    ASSERT_EQ(sim_reply("malformed media 1 checksum"), "ok");
    EXPECT_TRUE(wait_log("short media message")) << log_text();
    ASSERT_TRUE(wait_field_at_least("read", readBefore + 40)) << media() << " reads stopped";
    ASSERT_EQ(sim_reply("oversize media 1"), "ok");
    EXPECT_TRUE(wait_log("bytes exceeds the receive buffer")) << log_text();
    QTest::qWait(500);
    expect_stall_and_close_bounds();

    EXPECT_GE(expect_reads_within(300, 600), 40u);
    EXPECT_EQ(sha256(image_contents()), before) << "a read-only image changed";
}

// The device goes quiet for longer than the answer wait in the middle of reads, then
// answers again: every sector the viewer resends is still one it was asked for.
TEST_F(MediaFault, SilentDeviceMidBatchThenRecovers)
{
    const QByteArray before = sha256(m_original);
    ASSERT_NO_FATAL_FAILURE(open_window());
    ASSERT_NO_FATAL_FAILURE(map_image(true));
    ASSERT_TRUE(wait_mapped()) << media();
    const long readBefore = field(media(), "read");

    m_meter.restart();
    ASSERT_EQ(sim_reply("read 1000 200"), "ok");
    ASSERT_TRUE(wait_field_at_least("read", readBefore + 10)) << media();
    ASSERT_EQ(sim_reply("silent 2500"), "ok");
    ASSERT_TRUE(wait_log("wait ack failed,")) << log_text();
    ASSERT_TRUE(wait_field_at_least("read", readBefore + 200)) << media();
    expect_stall_and_close_bounds();

    EXPECT_GE(expect_reads_within(1000, 200), 200u);
    EXPECT_EQ(sha256(image_contents()), before);
}
