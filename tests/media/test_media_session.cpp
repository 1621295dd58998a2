#include "media_test_support.h"

#include "media/c_u_media_session.h"

#include <QDeadlineTimer>
#include "media/u_packets.h"
#include "protocol/frame.h"
#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"
#include "tools/socket/SocketChannel.h"

#include <gtest/gtest.h>

using namespace media_test;
using socket_test::eventually;
using socket_test::log_lines_with;

namespace {

u_media_settings quick_settings()
{
    u_media_settings settings;
    settings.mapPauseMs = 20;
    settings.interactiveAuth = false;
    return settings;
}

bytes write_data(std::uint32_t start, std::uint16_t index)
{
    return random_bytes(512, start * 131u + index + 7u);
}

bytes map_body(std::uint8_t flags, std::uint32_t sectors)
{
    bytes body{0x07, 0x01, flags, 0, 0, 0, 0};
    write_be32(body.data() + 3, sectors);
    return body;
}

// A session on a live channel to the fake device, with a 64-sector image to map.
struct MediaSession : ::testing::Test {
    void SetUp() override
    {
        session = std::make_unique<c_u_media_session>(quick_settings());
        ASSERT_TRUE(session->open_channel("127.0.0.1", device.port(), 7));
        if (!session->channel()->valid()) // MediaChannel.FactoryBuildsTheMediaPair fails
            GTEST_SKIP() << "SocketThreadFactory builds no media threads";
        ASSERT_TRUE(device.wait_count(0x32, 1));
    }
    void TearDown() override { session.reset(); }

    test_image image{64};
    fake_u_device device;
    std::unique_ptr<c_u_media_session> session;
};

} // namespace

TEST(MediaChannel, FactoryBuildsTheMediaPair)
{
    fake_u_device device;
    c_u_media_session session(quick_settings());
    EXPECT_TRUE(session.open_channel("127.0.0.1", device.port(), 1));
    EXPECT_TRUE(session.channel() && session.channel()->valid());
}

TEST_F(MediaSession, WriteInstructionsLeaveTheImageEqualToTheModel)
{
    device.set_write_source(write_data);
    device.push_instruction({2, 10, 4});
    device.push_instruction({2, 63, 1});
    device.push_instruction({1, 10, 2}); // reads back what was written
    ASSERT_TRUE(session->map(image.path(), false));
    ASSERT_TRUE(device.wait_count(0x08, 4));
    for (std::uint16_t i = 0; i < 4; ++i)
        image.write_model(10 + i, write_data(10, i));
    image.write_model(63, write_data(63, 0));
    EXPECT_EQ(image.file_hash(), image.model_hash());
    const auto reads = device.frames_of(0x09);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(bytes(reads[1].frame.begin() + 19, reads[1].frame.end()), write_data(10, 1));
    const auto paks = device.frames_of(0x0A);
    ASSERT_EQ(paks.size(), 5u);
    EXPECT_EQ(paks[3].body(), (bytes{0x0A, 0x01, 0x00, 0x03}));
}

TEST_F(MediaSession, ReadOnlyMappingAnnouncesItAndNeverWrites)
{
    const QByteArray before = image.file_hash();
    const int refused = log_lines_with("pak10 ack,writeDisk_writeDisk err, error code is 30 (");
    device.set_write_source(write_data);
    device.push_instruction({2, 0, 2});
    ASSERT_TRUE(session->map(image.path(), true));
    ASSERT_TRUE(device.wait_count(0x08, 2));
    EXPECT_EQ(device.frames_of(0x07)[1].body(), map_body(0x81, 64));
    EXPECT_EQ(image.file_hash(), before);
    EXPECT_EQ(log_lines_with("pak10 ack,writeDisk_writeDisk err, error code is 30 ("), refused + 2);
}

TEST_F(MediaSession, RefusedReadDataIsResentWithIdenticalBytes)
{
    const int errors = log_lines_with("err readDisk_ack_err, pack type: 1,pack result: 1 (");
    device.refuse_reads(2);
    device.push_instruction({1, 9, 1});
    ASSERT_TRUE(session->map(image.path(), false));
    ASSERT_TRUE(device.wait_count(0x08, 2));
    const auto reads = device.frames_of(0x09);
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[0].frame, reads[1].frame);
    EXPECT_EQ(reads[0].frame, reads[2].frame);
    EXPECT_EQ(log_lines_with("err readDisk_ack_err, pack type: 1,pack result: 1 ("), errors + 2);
}

TEST_F(MediaSession, NoDataStartResendsThePak10)
{
    const int noData = log_lines_with("got 0xffffffff start index (");
    device.set_write_source(write_data);
    device.answer_no_data(1);
    device.push_instruction({2, 3, 1});
    ASSERT_TRUE(session->map(image.path(), false));
    ASSERT_TRUE(device.wait_count(0x08, 2));
    const auto paks = device.frames_of(0x0A);
    ASSERT_EQ(paks.size(), 2u);
    EXPECT_EQ(paks[0].frame, paks[1].frame);
    EXPECT_EQ(log_lines_with("got 0xffffffff start index ("), noData + 1);
    image.write_model(3, write_data(3, 0));
    EXPECT_EQ(image.file_hash(), image.model_hash());
}

TEST_F(MediaSession, SilentDeviceGetsTheHeadAgainAfterTheAnswerWait)
{
    const int failures = log_lines_with("wait ack failed,pak_ask (");
    device.stay_silent(0x08, 1);
    ASSERT_TRUE(session->map(image.path(), false));
    ASSERT_TRUE(device.wait_count(0x08, 2, 6000ms));
    const auto asks = device.frames_of(0x08);
    EXPECT_GE(asks[1].when - asks[0].when, 1500ms); // the answer wait is 2000 ms
    EXPECT_EQ(asks[0].frame, asks[1].frame);
    EXPECT_EQ(log_lines_with("wait ack failed,pak_ask ("), failures + 1);
}

TEST_F(MediaSession, NothingToDoReasksAfterMoreThanTenTicks)
{
    ASSERT_TRUE(session->map(image.path(), false));
    ASSERT_TRUE(eventually([&] { return session->is_idle(); }));
    ASSERT_TRUE(eventually([&] { return session->queue().isEmpty(); }));
    for (int tick = 0; tick < 10; ++tick)
        session->ask_tick();
    EXPECT_TRUE(session->queue().isEmpty());
    EXPECT_TRUE(session->is_idle());
    session->ask_tick();
    ASSERT_TRUE(device.wait_count(0x08, 2));
}

// The device answers each ask with "nothing to do" as fast as it can, racing the tick that
// queued it: however the two interleave, the polling goes on.
TEST_F(MediaSession, PollingGoesOnWhenNothingToDoComesBackAtOnce)
{
    ASSERT_TRUE(session->map(image.path(), false));
    ASSERT_TRUE(eventually([&] { return session->is_idle(); }));
    const QDeadlineTimer deadline(3000);
    std::size_t asks = device.frames_of(0x08).size();
    while (!deadline.hasExpired()) {
        for (int tick = 0; tick < 11; ++tick)
            session->ask_tick();
        ASSERT_TRUE(device.wait_count(0x08, asks + 1)) << "the polling stopped after " << asks << " asks";
        ASSERT_TRUE(eventually([&] { return session->is_idle(); })) << "after " << asks << " asks";
        asks = device.frames_of(0x08).size();
    }
}

TEST_F(MediaSession, UnmapMidBatchEmptiesTheQueueAndSendsTheUnmap)
{
    device.hold_reads_from(3);
    device.push_instruction({1, 0, 40});
    ASSERT_TRUE(session->map(image.path(), false));
    ASSERT_TRUE(device.wait_count(0x09, 3));
    const auto disk = session->disk();
    session->unmap();
    EXPECT_EQ(session->queue().size(), 1); // the unmap, behind nothing
    device.release_reads();
    ASSERT_TRUE(device.wait_count(0x07, 3));
    const auto frames = device.frames();
    EXPECT_EQ(frames.back().body(), map_body(0x00, 64));
    EXPECT_EQ(device.frames_of(0x09).size(), 3u);
    EXPECT_TRUE(eventually([&] { return session->queue().isEmpty(); }));
    EXPECT_FALSE(disk->isOpen());
    EXPECT_EQ(session->disk(), nullptr);
}

TEST_F(MediaSession, DestructionSendsTheFinalUnmap)
{
    ASSERT_TRUE(session->map(image.path(), true));
    ASSERT_TRUE(device.wait_count(0x08, 1));
    session.reset();
    ASSERT_TRUE(device.wait_count(0x07, 3));
    EXPECT_EQ(device.frames_of(0x07)[2].body(), map_body(0x00, 0));
}
