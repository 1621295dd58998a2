#include "media_support.h"

#include "media/u_packets.h"
#include "protocol/frame.h"
#include "thread/c_read_disk_thread.h"
#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"

#include <tuple>

#include <gtest/gtest.h>

using namespace media_test;
using socket_test::eventually;
using socket_test::log_lines_with;

namespace {

struct ReadDiskThread : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(disk->openDisk(image.path())); }
    void TearDown() override
    {
        reader->stop();
        EXPECT_TRUE(reader->wait_ended(1000));
    }
    // start, index, last; and the data checked against the image.
    std::tuple<std::uint32_t, std::uint32_t, bool> take()
    {
        const CQUEUE_MESSAGE msg = queue.takeFirst();
        const std::uint8_t *body = msg.buffer.get() + 11;
        EXPECT_EQ(msg.length, 531u);
        const std::uint32_t start = read_be32(body + 2), index = read_be16(body + 6);
        EXPECT_EQ(bytes(body + 8, body + 520), image.sector(start + index));
        return {start, index, msg.flag != 0};
    }

    test_image image{600};
    std::shared_ptr<c_read_write_disk_sector_win> disk = std::make_shared<c_read_write_disk_sector_win>();
    mt_queue<CQUEUE_MESSAGE> queue;
    std::shared_ptr<c_read_disk_thread> reader = make_thread<c_read_disk_thread>(&queue, disk);
};

} // namespace

// Requests added before the reader runs are served in order, each as its sectors; a long one
// a window at a time as the queue drains, so the queue never holds more than the bound.
TEST_F(ReadDiskThread, ServesEachRequestAsItsSectorsInOrderAWindowAtATime)
{
    const std::pair<std::uint32_t, std::uint32_t> requests[] = {{4, 3}, {20, 2}, {0, 600}, {1, 1}};
    std::vector<std::tuple<std::uint32_t, std::uint32_t, bool>> expected;
    for (const auto &[start, count] : requests) {
        ASSERT_TRUE(reader->addReadRequest(start, count));
        for (std::uint32_t i = 0; i < count; ++i)
            expected.emplace_back(start, i, i + 1 == count);
    }
    EXPECT_FALSE(reader->addReadRequest(2, 2)); // more than the device can have asked for
    reader->start();
    ASSERT_TRUE(eventually([&] { return queue.size() >= 3 + 2 + 256; })); // the first window is in
    for (std::size_t n = 0; n < expected.size(); ++n) {
        ASSERT_TRUE(eventually([&] { return !queue.isEmpty(); })) << n;
        ASSERT_LE(queue.size(), c_read_disk_thread::kLowWater + int{c_read_disk_thread::kWindow});
        ASSERT_EQ(take(), expected[n]) << n;
        reader->queue_shrunk();
    }
}

// A read past the end queues nothing and names both sizes; a closed disk sends nothing; a
// stopped reader serves nothing more.
TEST_F(ReadDiskThread, FailedReadsQueueNothing)
{
    const std::string shortRead = "err,readLocalDisk with size:1024,but wana size is:2048 (";
    const int shortReads = log_lines_with(shortRead);
    reader->start();
    reader->addReadRequest(598, 4); // two sectors past the end of the image
    reader->addReadRequest(0, 0);
    reader->addReadRequest(1, 1); // served after the others
    ASSERT_TRUE(eventually([&] { return queue.size() == 1; }));
    EXPECT_EQ(std::get<0>(take()), 1u);
    EXPECT_EQ(log_lines_with(shortRead), shortReads + 1);

    disk->closeDisk();
    const int positioning = log_lines_with("err ,readLocal Disk_setPoint,start=5 (");
    reader->addReadRequest(5, 2);
    ASSERT_TRUE(eventually([&] { return log_lines_with("err ,readLocal Disk_setPoint,start=5 (") == positioning + 1; }));
    reader->stop();
    EXPECT_TRUE(reader->wait_ended(1000));
    ASSERT_TRUE(disk->openDisk(image.path()));
    reader->addReadRequest(0, 1); // after the stop: never served
    EXPECT_TRUE(queue.isEmpty());
}
