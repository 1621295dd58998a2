// A faulty or hostile device floods each channel with frames that are well formed but that
// nothing asked for: the window keeps its memory and its log small, keeps showing pictures
// and stays responsive.
#include "failing_device_support.h"

#include "protocol/frame.h"

#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace {

constexpr int kFloodFrames = 1000;
constexpr long kMemoryBoundKiB = 10 * 1024;
constexpr std::size_t kLogBoundBytes = 64 * 1024;

// This process's resident memory in KiB.
long resident_kib()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

std::string hex(const std::vector<std::uint8_t> &bytes)
{
    std::string text;
    char pair[3];
    for (std::uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

// A plain frame of this body; `cipheredHead` announces a plain length 4 less than the wire
// length, which marks a ciphered head that the viewer's key will not turn into sense.
std::vector<std::uint8_t> frame(const std::vector<std::uint8_t> &body, bool cipheredHead = false)
{
    std::vector<std::uint8_t> bytes(kFrameHeaderSize + body.size());
    std::uint32_t length = 0;
    build_frame({{static_cast<std::uint32_t>(body.size()), body.data()}}, bytes.data(), length);
    if (cipheredHead)
        write_be32(bytes.data() + 3, static_cast<std::uint32_t>(body.size() - 4));
    return bytes;
}

struct hostile_case {
    const char *name;
    const char *channel;
    std::vector<std::uint8_t> bytes;
    bool mapped = false; // the image is mapped first
};

std::ostream &operator<<(std::ostream &out, const hostile_case &c)
{
    return out << c.name;
}

const std::vector<std::uint8_t> kVideoHeaderOnly = {kFrameMagic, kFrameVersion, 0, 0, 0, 0, 0,
                                                    0, 0, 0, 0};

const hostile_case kCases[] = {
    {"VideoEmptyHeaders", "video", kVideoHeaderOnly},
    {"VideoWrongKeyHeads", "video", frame(std::vector<std::uint8_t>(20, 0x5A), true)},
    {"VideoLedReports", "video", frame({4, 5})},
    {"KmUnaskedAlignment", "km", frame({22, 1})},
    {"MediaWritesWhileUnmapped", "media", frame({8, 2, 0, 0, 0, 0, 0xFF, 0xFF})},
    {"MediaReadsPastTheDisk", "media", frame({8, 1, 0xFF, 0xFF, 0xFF, 0, 0xFF, 0xFF}), true},
    {"MediaUnaskedReads", "media", frame({8, 1, 0, 0, 0, 0, 0x0F, 0xFF}), true},
};

class HostileDevice : public FailingDevice, public ::testing::WithParamInterface<hostile_case> {
protected:
    // Waits until the viewer has read everything the flood sent: a frame sent after it has
    // had its effect.
    bool wait_flood_read(const std::string &channel)
    {
        if (channel == "video")
            return wait_new_pictures(2);
        // The login answers are logged with their value.
        const bool km = channel == "km";
        const std::vector<std::uint8_t> marker = km ? frame({50, 77}) : frame({0x32, 77});
        EXPECT_EQ(sim_reply("flood " + channel + " 1 1 " + hex(marker)), "ok");
        return wait_log(km ? "km recv userID  ack,value=77" : "vm,, recv userID ack,value=77");
    }
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Flood, HostileDevice, ::testing::ValuesIn(kCases),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_P(HostileDevice, HoldsItsMemoryAndLogAndKeepsServing)
{
    const hostile_case &c = GetParam();
    ASSERT_NO_FATAL_FAILURE(prepare_image());
    ASSERT_NO_FATAL_FAILURE(open_window());
    if (c.mapped) {
        ASSERT_NO_FATAL_FAILURE(map_image(true));
        ASSERT_TRUE(wait_mapped()) << media();
    }
    ASSERT_TRUE(wait_new_pictures(2));
    const int alignments = align_reports();
    const long before = resident_kib();
    const std::size_t logBefore = log_text().size();

    m_meter.restart();
    ASSERT_EQ(sim_reply("flood " + std::string(c.channel) + " 1 " +
                        std::to_string(kFloodFrames) + " " + hex(c.bytes)),
              "ok");
    ASSERT_TRUE(wait_flood_read(c.channel)) << log_text().substr(logBefore, 4000);
    EXPECT_TRUE(wait_new_pictures(2)) << "the picture froze";

    const long grown = resident_kib() - before;
    const std::size_t logged = log_text().size() - logBefore;
    RecordProperty("memory_growth_kib", static_cast<int>(grown));
    RecordProperty("log_growth_bytes", static_cast<int>(logged));
    EXPECT_LT(grown, kMemoryBoundKiB);
    EXPECT_LT(logged, kLogBoundBytes);
    EXPECT_EQ(align_reports(), alignments) << "the device moved the pointer";
    expect_stall_and_close_bounds();
    EXPECT_EQ(image_contents(), m_original);
}
