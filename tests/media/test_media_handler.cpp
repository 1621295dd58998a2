#include "media_support.h"

#include "media/c_u_media_session.h"
#include "media/u_packets.h"
#include "protocol/frame.h"
#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"

#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace media_test;
using socket_test::log_lines_with;

namespace {

// A device message: type, mode, start (BE32), count or index (BE16), data.
bytes message(std::uint8_t type, std::uint8_t mode, std::uint32_t start, std::uint16_t n, const bytes &data = {})
{
    bytes body{type, mode, 0, 0, 0, 0, 0, 0};
    write_be32(body.data() + 2, start);
    write_be16(body.data() + 6, n);
    body.insert(body.end(), data.begin(), data.end());
    return body;
}
bytes instruction(std::uint8_t mode, std::uint32_t start, std::uint16_t count) { return message(0x08, mode, start, count); }
bytes write_data(std::uint32_t start, std::uint16_t index, const bytes &data) { return message(0x0A, 0x01, start, index, data); }

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
    // The types of the queued frames (the queue is left as it was).
    std::vector<std::uint8_t> queued_types()
    {
        std::vector<std::uint8_t> types;
        for (const CQUEUE_MESSAGE &m : queued(session->queue()))
            types.push_back(u_frame_type(m));
        return types;
    }

    manual_clock clock;
    u_media_settings settings;
    std::unique_ptr<c_u_media_session> session;
};

} // namespace

// Each body is answered (result 0) and logged once, a body too short for its type without
// reading past it.
TEST_F(MediaHandler, DeviceMessagesAreLoggedWithoutReadingPastThem)
{
    const std::pair<bytes, std::string> cases[] = {
        {{0x32, 9}, "vm,, recv userID ack,value=9 ("}, {{0x07, 1, 3}, "err map ack_err ("},
        {{0x07, 1, 0}, "==========mapOrUnmap ack_ok ("}, {{0x55, 1, 2, 3}, "media message"}, // ignored
        {{0x32}, "type=50,length=1 ("}, {{0x07, 1}, "type=7,length=2 ("}, {{0x08, 2, 0, 0, 0, 0, 0}, "type=8,length=7 ("},
        {{0x09, 1}, "type=9,length=2 ("}, {{0x0A, 1, 0, 0, 0, 0, 0}, "type=10,length=7 ("},
        {write_data(0, 0, bytes(300, 1)), "type=10,length=308 ("}}; // write data needs 520 bytes
    for (const auto &[body, line] : cases) {
        const int before = log_lines_with(line);
        // A copy of exactly the body's size, so a sanitizer sees any read past it.
        const auto exact = std::make_unique<std::uint8_t[]>(body.size());
        std::copy(body.begin(), body.end(), exact.get());
        EXPECT_EQ(session->HandleMsg(nullptr, exact.get(), 0, std::uint32_t(body.size())), 0) << line;
        EXPECT_EQ(log_lines_with(line), before + (body[0] == 0x55 ? 0 : 1)) << line;
    }
    // An empty body, with or without a buffer behind it: nothing is read.
    const std::uint8_t unread = 0x07;
    EXPECT_EQ(session->HandleMsg(nullptr, nullptr, 0, 0), 0);
    EXPECT_EQ(session->HandleMsg(nullptr, &unread, 0, 0), 0);
    EXPECT_EQ(log_lines_with("short media message, length=0 ("), 2);
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
    EXPECT_TRUE(image.file_equals_model());
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

constexpr std::uint32_t kDiskSectors = 70000;
const bytes kRead = instruction(1, 0, 65535);
const bytes kWrite = instruction(2, 0, 65535);
const bytes kNothing = instruction(0, 0, 0);

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
        hostile_case{"Unmapped", false, {kRead, kWrite, kRead, kNothing}, 0, "media instructions ignored while no disk is mapped (", false},
        hostile_case{"ReadPastTheEnd", true, {instruction(1, kDiskSectors - 8, 9)}, 0, "media instruction refused (mode 1, start 69992, count 9)", true},
        hostile_case{"WritePastTheEnd", true, {instruction(2, 10000, 65535)}, 0, "media instruction refused (mode 2, start 10000, count 65535)", true},
        hostile_case{"WriteOfNothing", true, {instruction(2, 0, 0)}, 0, "media instruction refused (mode 2, start 0, count 0)", true},
        hostile_case{"WhileAWriteRuns", true, {kWrite, kWrite, kRead, kNothing}, c_u_media_session::kPak10Window, "unsolicited media instruction ignored", false},
        hostile_case{"WhileAReadRuns", true, {kRead, kWrite, kRead}, 0, "unsolicited media instruction ignored", false},
        hostile_case{"WhileIdle", true, {kNothing, kWrite, kRead}, 0, "unsolicited media instruction ignored", true}),
    [](const auto &row) { return std::string(row.param.name); });

TEST_F(MediaHandler, ReadAndWriteAnswersAcceptRefuseOrEndTheBatch)
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
    // Refusals (result not 0, type byte 0, no write data yet) are sent again.
    EXPECT_EQ(handle({0x09, 1, 2}), 5);
    EXPECT_EQ(handle({0x09, 0, 0}), 5);
    EXPECT_EQ(log_lines_with("err readDisk_ack_err, pack type: 0,pack result: 0 ("), 1);
    const int noData = log_lines_with("got 0xffffffff start index (");
    EXPECT_EQ(handle(write_data(0xFFFFFFFFu, 0, bytes(512, 0))), 5);
    EXPECT_EQ(log_lines_with("got 0xffffffff start index ("), noData + 1);
}

// Never mapped, a map whose source would not open, a mapping that has ended: no disk to
// write to, and the line says so rather than blaming the positioning. Mapped, write data
// that answers no pak10, or whose sector would wrap round past 2^32 - 1, stays off the disk.
TEST_F(MediaHandler, WriteDataIsKeptOffTheDiskUnlessItAnswersAPak10)
{
    test_image image(8);
    const auto refused = [&] {
        const int before = log_lines_with("pak10 ack with no disk mapped, sector 4 refused (");
        EXPECT_EQ(handle(write_data(4, 0, bytes(512, 3))), 0);
        return log_lines_with("pak10 ack with no disk mapped, sector 4 refused (") - before;
    };
    EXPECT_EQ(refused(), 1);
    EXPECT_FALSE(session->map(image.path() + ".missing", false));
    EXPECT_FALSE(session->map(QString(), false));
    EXPECT_TRUE(!session->is_mapped() && session->queue().isEmpty());
    EXPECT_EQ(log_lines_with("err onMap_openLocalDisk "), 1);
    EXPECT_EQ(refused(), 1);
    ASSERT_TRUE(session->map(image.path(), false));
    session->unmap();
    EXPECT_EQ(refused(), 1);
    EXPECT_EQ(log_lines_with("writeDisk_setPoint err"), 0);

    ASSERT_TRUE(session->map(image.path(), false)); // queue: unmap, map, pak_ask
    EXPECT_EQ(handle(write_data(0, 0, bytes(512, 0xEE))), 0);
    EXPECT_EQ(log_lines_with("pak10 ack without a pending pak10 request"), 1);
    session->queue().clear();
    session->queue().append(make_u_pak10(1, 5, false));
    EXPECT_EQ(handle(write_data(0xFFFFFFFEu, 5, bytes(512, 0xEE))), 0);
    EXPECT_TRUE(image.file_equals_model());
}

TEST_F(MediaHandler, ProgressFollowsReadsAndCompletesAfterFiveQuietSeconds)
{
    test_image image(8);
    ASSERT_TRUE(session->map(image.path(), false));
    session->request_read(0, 29700); // 99 of 100 shows as 100, not yet complete
    EXPECT_EQ(session->progress(), 100);
    clock.advance(5000ms);
    EXPECT_EQ(session->seconds_since_map(), 5);
    EXPECT_TRUE(session->progress_tick());
    EXPECT_FALSE(session->progress_done()); // not more than 5000 ms yet
    clock.advance(1ms);
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

TEST_F(MediaHandler, NothingToDoReasksAfterMoreThanTenTicks)
{
    test_image image(8);
    ASSERT_TRUE(session->map(image.path(), false));
    session->queue().clear();
    session->ask_tick(); // not idle yet: nothing
    EXPECT_EQ(handle(instruction(0, 0, 0)), 0);
    ASSERT_TRUE(session->is_idle());
    for (int tick = 0; tick < 10; ++tick)
        session->ask_tick();
    EXPECT_TRUE(session->queue().isEmpty());
    session->ask_tick();
    EXPECT_EQ(queued_types(), (std::vector<std::uint8_t>{0x08}));
    EXPECT_FALSE(session->is_idle());
}

TEST_F(MediaHandler, UnmapMidBatchLeavesOnlyTheUnmapAndClosesTheDisk)
{
    test_image image(64);
    ASSERT_TRUE(session->map(image.path(), false));
    EXPECT_EQ(handle(instruction(1, 0, 40)), 0);
    const auto disk = session->disk();
    session->unmap();
    EXPECT_EQ(queued_types(), (std::vector<std::uint8_t>{0x07})); // the reader adds nothing more
    const CQUEUE_MESSAGE unmap = session->queue().first();
    EXPECT_EQ(bytes(unmap.buffer.get() + 11, unmap.buffer.get() + unmap.length), (bytes{0x07, 1, 0, 0, 0, 0, 64}));
    EXPECT_FALSE(disk->isOpen());
    EXPECT_EQ(session->disk(), nullptr);
}
