// The device's side of the virtual media exchange, message by message.
#include "c_media_session.h"
#include "disk_images.h"
#include "protocol/frame.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using bytes = std::vector<std::uint8_t>;
using clock = c_media_session::clock;

bytes map_body(std::uint8_t flags, std::uint32_t count)
{
    bytes b = {7, 1, flags, 0, 0, 0, 0};
    write_be32(b.data() + 3, count);
    return b;
}

bytes read_data(std::uint32_t start, std::uint16_t index, const std::uint8_t *sector)
{
    bytes b(520, 0);
    b[0] = 9;
    b[1] = 1;
    write_be32(b.data() + 2, start);
    write_be16(b.data() + 6, index);
    std::copy(sector, sector + 512, b.begin() + 8);
    return b;
}

struct session_test : ::testing::Test {
    c_media_session media;
    clock::time_point now = clock::now();

    std::vector<bytes> send(const bytes &body)
    {
        std::vector<bytes> answers;
        media.handle(body.data(), body.size(), now, answers);
        return answers;
    }
    bytes ask()
    {
        const auto answers = send({8, 1, 0});
        EXPECT_EQ(answers.size(), 1u);
        return answers.empty() ? bytes{} : answers[0];
    }
    // Answers read instructions from the image until the device has nothing to do.
    void serve_reads(const bytes &disk)
    {
        for (int turn = 0; turn < 20; ++turn) {
            const bytes instruction = ask();
            if (instruction[1] != 1)
                return;
            const std::uint32_t start = read_be32(instruction.data() + 2);
            const std::uint16_t count = read_be16(instruction.data() + 6);
            for (std::uint16_t i = 0; i < count; ++i)
                EXPECT_EQ(send(read_data(start, i, disk.data() + (start + i) * 512u)),
                          (std::vector<bytes>{{9, 1, 0}}));
        }
    }
};

TEST_F(session_test, LoginMapAndProbeThenNothingToDo)
{
    EXPECT_EQ(send({0x32, 0, 0, 0, 7}), (std::vector<bytes>{{0x32, 0}}));
    EXPECT_EQ(ask(), (bytes{8, 0, 0, 0, 0, 0, 0, 0})) << "nothing mapped yet";
    EXPECT_EQ(send(map_body(0, 0)), (std::vector<bytes>{{7, 1, 0}}));
    const bytes disk = mbr_fat16_image();
    EXPECT_EQ(send(map_body(1, 8192)), (std::vector<bytes>{{7, 1, 0}}));
    EXPECT_EQ(media.disk_summary(), "4.0 MiB, probing");
    EXPECT_EQ(ask(), (bytes{8, 1, 0, 0, 0, 0, 0, 1})) << "the remote computer reads sector 0";
    EXPECT_EQ(send(read_data(0, 0, disk.data())), (std::vector<bytes>{{9, 1, 0}}));
    EXPECT_EQ(ask(), (bytes{8, 1, 0, 0, 0x08, 0, 0, 1})) << "then the partition's boot sector";
    EXPECT_EQ(send(read_data(2048, 0, disk.data() + 2048 * 512)), (std::vector<bytes>{{9, 1, 0}}));
    EXPECT_EQ(ask(), (bytes{8, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(media.disk_summary(), "4.0 MiB, MBR, FAT16 \"TESSDISK\"");
    EXPECT_TRUE(media.idle());
    EXPECT_EQ(media.sectors_read(), 2u);
    EXPECT_EQ(media.sectors_written(), 0u) << "never writes unless told to";
}

TEST_F(session_test, ScriptedReadRefusalAndWriteWithoutData)
{
    const bytes disk = mbr_fat16_image();
    send(map_body(1, 8192));
    serve_reads(disk);
    std::string error;
    ASSERT_TRUE(media.queue_read(100, 2, error)) << error;
    ASSERT_TRUE(media.queue_write(300, 2, {true, 0}, error)) << error;
    media.refuse_next();
    media.no_data_next();
    EXPECT_EQ(ask(), (bytes{8, 1, 0, 0, 0, 100, 0, 2}));
    EXPECT_EQ(send(read_data(100, 0, disk.data())), (std::vector<bytes>{{9, 1, 1}})) << "refused once";
    EXPECT_EQ(send(read_data(100, 0, disk.data() + 100 * 512)), (std::vector<bytes>{{9, 1, 0}}));
    EXPECT_EQ(send(read_data(100, 1, disk.data() + 101 * 512)), (std::vector<bytes>{{9, 1, 0}}));
    EXPECT_EQ(ask(), (bytes{8, 2, 0, 0, 0x01, 0x2C, 0, 2}));
    auto answers = send({0x0A, 1, 0, 0});
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(read_be32(answers[0].data() + 2), 0xFFFFFFFFu) << "no data, as asked";
    for (std::uint16_t index = 0; index < 2; ++index) {
        answers = send({0x0A, 1, 0, static_cast<std::uint8_t>(index)});
        ASSERT_EQ(answers.size(), 1u);
        ASSERT_EQ(answers[0].size(), 520u);
        EXPECT_EQ(read_be32(answers[0].data() + 2), 300u);
        EXPECT_EQ(read_be16(answers[0].data() + 6), index);
        EXPECT_EQ(read_be32(answers[0].data() + 8), 300u + index) << "the lba pattern";
        EXPECT_EQ(read_be32(answers[0].data() + 516), 300u + index);
    }
    EXPECT_TRUE(send({0x0A, 1, 0, 2}).empty()) << "outside the instruction: no answer";
    EXPECT_EQ(ask()[1], 0);
    EXPECT_EQ(media.sectors_written(), 2u);
    const auto held = media.sector(101);
    ASSERT_TRUE(held.has_value());
    EXPECT_TRUE(std::equal(held->begin(), held->end(), disk.begin() + 101 * 512));
}

TEST_F(session_test, ScriptChecksTheMapping)
{
    std::string error;
    EXPECT_FALSE(media.queue_read(0, 1, error));
    EXPECT_EQ(error, "no disk mapped");
    send(map_body(0x81, 100)); // read-only
    EXPECT_FALSE(media.queue_read(99, 2, error));
    EXPECT_FALSE(media.queue_write(0, 1, {}, error));
    EXPECT_EQ(error, "the disk is mapped read-only");
    send(map_body(0, 100)); // unmap
    EXPECT_FALSE(media.mapped());
    EXPECT_EQ(media.disk_summary(), "no disk");
}

TEST_F(session_test, SilenceShortAndUnknownBodies)
{
    media.silent_until(now + std::chrono::milliseconds(500));
    EXPECT_TRUE(send({0x32, 0, 0, 0, 7}).empty());
    now += std::chrono::milliseconds(600);
    EXPECT_EQ(send({0x32, 0, 0, 0, 7}).size(), 1u);
    EXPECT_TRUE(send({0x32, 0}).empty());
    EXPECT_TRUE(send({7, 1}).empty());
    EXPECT_TRUE(send({9, 1, 0, 0}).empty());
    EXPECT_TRUE(send({0x0A}).empty());
    EXPECT_TRUE(send({0x77, 1, 2}).empty());
    std::vector<bytes> answers;
    media.handle(nullptr, 0, now, answers);
    EXPECT_TRUE(answers.empty());
}

TEST_F(session_test, AskBeforeTheReadEndsDropsTheInstruction)
{
    const bytes disk = mbr_fat16_image();
    send(map_body(1, 8192));
    EXPECT_EQ(ask()[1], 1); // probe: sector 0, never answered
    EXPECT_EQ(ask(), (bytes{8, 1, 0, 0, 0, 0, 0, 1})) << "the probe asks again";
    send(read_data(0, 0, disk.data()));
    EXPECT_EQ(send(read_data(5000, 0, disk.data())), (std::vector<bytes>{{9, 1, 0}}))
        << "unexpected data is accepted, not stored";
    EXPECT_FALSE(media.sector(5000).has_value());
}

} // namespace
