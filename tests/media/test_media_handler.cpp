#include "media_test_support.h"

#include "media/c_u_media_session.h"
#include "media/u_packets.h"
#include "protocol/frame.h"
#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace media_test;
using socket_test::log_lines_with;

namespace {

// A session without a channel: HandleMsg is called as the receive thread would, and the
// queue shows exactly what it would send.
struct MediaHandler : ::testing::Test {
    MediaHandler()
    {
        settings.mapPauseMs = 0;
        settings.interactiveAuth = false;
        settings.now = [this] { return clock.now; };
        session = std::make_unique<c_u_media_session>(settings);
    }

    std::uint8_t handle(const bytes &body)
    {
        return session->HandleMsg(nullptr, body.data(), 0, static_cast<std::uint32_t>(body.size()));
    }
    static bytes instruction(std::uint8_t mode, std::uint32_t start, std::uint16_t count)
    {
        bytes body{0x08, mode, 0, 0, 0, 0, 0, 0};
        write_be32(body.data() + 2, start);
        write_be16(body.data() + 6, count);
        return body;
    }
    static bytes write_data(std::uint32_t start, std::uint16_t index, const bytes &data)
    {
        bytes body{0x0A, 0x01, 0, 0, 0, 0, 0, 0};
        write_be32(body.data() + 2, start);
        write_be16(body.data() + 6, index);
        body.insert(body.end(), data.begin(), data.end());
        return body;
    }
    std::vector<std::uint8_t> queued_types()
    {
        std::vector<std::uint8_t> types;
        mt_queue<CQUEUE_MESSAGE> copy = session->queue();
        while (!copy.isEmpty())
            types.push_back(u_frame_type(copy.takeFirst()));
        return types;
    }

    manual_clock clock;
    u_media_settings settings;
    std::unique_ptr<c_u_media_session> session;
};

} // namespace

TEST_F(MediaHandler, AcknowledgementsAreLoggedAsTheDeviceReportsThem)
{
    const int user = log_lines_with("vm,, recv userID ack,value=9 (");
    const int mapErr = log_lines_with("err map ack_err (");
    const int mapOk = log_lines_with("==========mapOrUnmap ack_ok (");
    EXPECT_EQ(handle({0x32, 9}), 0);
    EXPECT_EQ(handle({0x07, 1, 3}), 0);
    EXPECT_EQ(handle({0x07, 1, 0}), 0);
    EXPECT_EQ(handle({0x55, 1, 2, 3}), 0); // unknown types are answered and ignored
    EXPECT_EQ(log_lines_with("vm,, recv userID ack,value=9 ("), user + 1);
    EXPECT_EQ(log_lines_with("err map ack_err ("), mapErr + 1);
    EXPECT_EQ(log_lines_with("==========mapOrUnmap ack_ok ("), mapOk + 1);
    EXPECT_TRUE(session->queue().isEmpty());
}

TEST_F(MediaHandler, ShortBodiesAreLoggedAndAnsweredWithoutReadingPastThem)
{
    const int shortLines = log_lines_with("short media message");
    for (const bytes &body : {bytes{0x32}, bytes{0x07, 1}, bytes{0x08, 2, 0, 0, 0, 0, 0},
                              bytes{0x09, 1}, bytes{0x0A, 1, 0, 0, 0, 0, 0}}) {
        // A copy of exactly the body's size, so a sanitizer sees any read past it.
        const auto exact = std::make_unique<std::uint8_t[]>(body.size());
        std::copy(body.begin(), body.end(), exact.get());
        EXPECT_EQ(session->HandleMsg(nullptr, exact.get(), 0, static_cast<std::uint32_t>(body.size())), 0)
            << int(body[0]);
    }
    EXPECT_EQ(session->HandleMsg(nullptr, nullptr, 0, 0), 0);
    EXPECT_EQ(handle(write_data(0, 0, bytes(300, 1))), 0); // write data needs 520 bytes
    EXPECT_EQ(log_lines_with("short media message"), shortLines + 7);
    EXPECT_EQ(log_lines_with("short media message, type=8,length=7 ("), 1);
    EXPECT_TRUE(session->queue().isEmpty());
}

// The device answers each pak10 at the head as the send thread meets it: the requests of a
// write longer than the window come in order, last flagged, never more than a window queued.
TEST_F(MediaHandler, LongWriteIsRequestedAWindowAtATime)
{
    constexpr std::uint16_t kCount = 300; // a window and a top-up
    test_image image(kCount);
    ASSERT_TRUE(session->map(image.path(), false));
    session->queue().clear();
    EXPECT_EQ(handle(instruction(2, 0, kCount)), 0);
    for (std::uint16_t i = 0; i < kCount; ++i) {
        ASSERT_LE(session->queue().size(), c_u_media_session::kPak10Window);
        const CQUEUE_MESSAGE head = session->queue().first();
        ASSERT_EQ(u_frame_type(head), kUTypePak10) << i;
        ASSERT_EQ(read_be16(head.buffer.get() + 13), i);
        ASSERT_EQ(head.flag, i + 1 == kCount ? 1 : 0) << i;
        const bytes data = random_bytes(512, i);
        EXPECT_EQ(handle(write_data(0, i, data)), 0);
        image.write_model(i, data);
        session->queue().takeFirst();
    }
    EXPECT_EQ(queued_types(), (std::vector<std::uint8_t>{0x08})); // the next pak_ask
    EXPECT_EQ(image.file_hash(), image.model_hash());
}

namespace {

struct hostile_case {
    const char *name;
    bool mapped;
    std::vector<bytes> instructions;
    int pak10s;       // queued for them
    const char *line; // logged once
    bool idle;        // the idle re-ask keeps polling
};

std::ostream &operator<<(std::ostream &out, const hostile_case &c)
{
    return out << c.name;
}
std::string case_name(const ::testing::TestParamInfo<hostile_case> &info)
{
    return info.param.name;
}

constexpr std::uint32_t kDiskSectors = 70000;
const bytes kRead = MediaHandler::instruction(1, 0, 65535);
const bytes kWrite = MediaHandler::instruction(2, 0, 65535);

struct HostileInstructions : MediaHandler, ::testing::WithParamInterface<hostile_case> {};

} // namespace

// Instructions a device may send but should not: what the viewer holds stays bounded, and
// each kind of fault costs one log line.
TEST_P(HostileInstructions, QueueNothingBeyondTheWindowAndLogOnce)
{
    const hostile_case &c = GetParam();
    QTemporaryDir dir;
    QFile sparse(dir.filePath("disk.img"));
    ASSERT_TRUE(sparse.open(QIODevice::WriteOnly) && sparse.resize(qint64{kDiskSectors} * 512));
    sparse.close();
    ASSERT_TRUE(!c.mapped || session->map(sparse.fileName(), false));
    session->queue().clear();
    const int lines = log_lines_with(c.line);
    const int all = log_lines_with("");
    for (const bytes &body : c.instructions)
        EXPECT_EQ(handle(body), 0);
    const std::vector<std::uint8_t> types = queued_types();
    EXPECT_EQ(std::count(types.begin(), types.end(), kUTypePak10), c.pak10s);
    EXPECT_EQ(log_lines_with(c.line), lines + 1);
    EXPECT_LE(log_lines_with(""), all + 5);
    EXPECT_EQ(session->is_idle(), c.idle);
    EXPECT_EQ(session->read_sectors(), c.mapped && c.instructions[0] == kRead ? 65535 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    MediaHandler, HostileInstructions,
    ::testing::Values(
        hostile_case{"Unmapped", false, {kRead, kWrite, kRead, MediaHandler::instruction(0, 0, 0)},
                     0, "media instructions ignored while no disk is mapped (", false},
        hostile_case{"ReadPastTheEnd", true, {MediaHandler::instruction(1, kDiskSectors - 8, 9)},
                     0, "media instruction refused (mode 1, start 69992, count 9)", true},
        hostile_case{"WritePastTheEnd", true, {MediaHandler::instruction(2, 10000, 65535)},
                     0, "media instruction refused (mode 2, start 10000, count 65535)", true},
        hostile_case{"WriteOfNothing", true, {MediaHandler::instruction(2, 0, 0)},
                     0, "media instruction refused (mode 2, start 0, count 0)", true},
        hostile_case{"WhileAWriteRuns", true, {kWrite, kWrite, kRead, MediaHandler::instruction(0, 0, 0)},
                     c_u_media_session::kPak10Window, "unsolicited media instruction ignored", false},
        hostile_case{"WhileAReadRuns", true, {kRead, kWrite, kRead},
                     0, "unsolicited media instruction ignored", false},
        hostile_case{"WhileIdle", true, {MediaHandler::instruction(0, 0, 0), kWrite, kRead},
                     0, "unsolicited media instruction ignored", true}),
    case_name);

TEST_F(MediaHandler, ReadDataAnswers)
{
    // After an unmap emptied the queue: logged, nothing queued.
    const int ok = log_lines_with("readDisk_ack_ok (");
    EXPECT_EQ(handle({0x09, 1, 0}), 0);
    EXPECT_TRUE(session->queue().isEmpty());
    // The answer to the last sector of a batch queues the next pak_ask behind it.
    const bytes sector(512, 1);
    session->queue().append(make_u_read_data_pak(1, 0, 0, sector.data(), 512, true));
    EXPECT_EQ(handle({0x09, 1, 0}), 0);
    EXPECT_EQ(queued_types(), (std::vector<std::uint8_t>{0x09, 0x08}));
    EXPECT_EQ(log_lines_with("readDisk_ack_ok ("), ok + 2);
    // Refusals: result not 0, or type byte 0.
    EXPECT_EQ(handle({0x09, 1, 2}), 5);
    EXPECT_EQ(handle({0x09, 0, 0}), 5);
    EXPECT_EQ(log_lines_with("err readDisk_ack_err, pack type: 0,pack result: 0 ("), 1);
}

// Never mapped, a map whose source would not open, a mapping that has ended: no disk to
// write to, and the line says so rather than blaming the positioning.
TEST_F(MediaHandler, WriteDataWithNothingMappedIsRefusedPlainly)
{
    test_image image(8);
    const std::function<void()> states[] = {
        [] {},
        [&] { EXPECT_FALSE(session->map(image.path() + ".missing", false)); },
        [&] { ASSERT_TRUE(session->map(image.path(), false)); session->unmap(); }};
    const int positioning = log_lines_with("writeDisk_setPoint err");
    for (const auto &reach : states) {
        reach();
        const int refused = log_lines_with("pak10 ack with no disk mapped, sector 4 refused (");
        EXPECT_EQ(handle(write_data(4, 0, bytes(512, 3))), 0);
        EXPECT_EQ(log_lines_with("pak10 ack with no disk mapped, sector 4 refused ("), refused + 1);
    }
    EXPECT_EQ(log_lines_with("writeDisk_setPoint err"), positioning);
}

TEST_F(MediaHandler, WriteDataIsKeptOffTheDiskUnlessItAnswersAPak10)
{
    test_image image(8);
    const QByteArray before = image.file_hash();
    ASSERT_TRUE(session->map(image.path(), false)); // queue: unmap, map, pak_ask
    const int stale = log_lines_with("pak10 ack without a pending pak10 request");
    EXPECT_EQ(handle(write_data(0, 0, bytes(512, 0xEE))), 0);
    EXPECT_EQ(log_lines_with("pak10 ack without a pending pak10 request"), stale + 1);
    // start + index past 2^32 - 1 must not wrap round to sector 0.
    session->queue().clear();
    session->queue().append(make_u_pak10(1, 5, false));
    EXPECT_EQ(handle(write_data(0xFFFFFFFEu, 5, bytes(512, 0xEE))), 0);
    EXPECT_EQ(image.file_hash(), before);
}

// The figures the window shows; its own test covers the plain cases.
TEST_F(MediaHandler, ProgressFollowsReadsAndCompletesAfterFiveQuietSeconds)
{
    test_image image(8);
    ASSERT_TRUE(session->map(image.path(), false));
    session->request_read(0, 29700); // 99 of 100 shows as 100, not yet complete
    EXPECT_EQ(session->progress(), 100);
    clock.advance(std::chrono::milliseconds(5000));
    EXPECT_EQ(session->seconds_since_map(), 5);
    EXPECT_TRUE(session->progress_tick());
    EXPECT_FALSE(session->progress_done()); // not more than 5000 ms yet
    clock.advance(std::chrono::milliseconds(1));
    EXPECT_TRUE(session->progress_tick());
    EXPECT_TRUE(session->progress_done());
    EXPECT_FALSE(session->progress_tick()); // the completion was shown once: nothing changes
    session->request_read(0, 300);
    EXPECT_EQ(session->read_sectors(), 29700); // reads after completion are not counted
    session->unmap();
    ASSERT_TRUE(session->map(image.path(), false));
    EXPECT_EQ(session->progress(), 0);
    session->request_read(0, 30000); // complete at once
    EXPECT_TRUE(session->progress_done());
}

TEST_F(MediaHandler, MapOfASourceThatDoesNotOpenChangesNothing)
{
    const int lines = log_lines_with("err onMap_openLocalDisk ");
    EXPECT_FALSE(session->map(QStringLiteral("/nonexistent/disk.img"), false));
    EXPECT_FALSE(session->map(QString(), false));
    EXPECT_FALSE(session->is_mapped());
    EXPECT_TRUE(session->queue().isEmpty());
    EXPECT_EQ(log_lines_with("err onMap_openLocalDisk "), lines + 1);
    EXPECT_EQ(log_lines_with("c_ui_u_setting_dlg::c_ui_u_setting_dlg curLogicPath.empty()"), 1);
}
