// A media client that answers as a viewer does, with an in-memory disk, against the
// simulator's scripts.
#include "c_sim_runner.h"
#include "disk_images.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<std::uint8_t>;

// Stop-and-wait like the viewer: every message waits for its answer (bounded), a refusal
// (result 5 in the viewer) sends it again at once.
class media_viewer {
public:
    media_viewer(sim_client &c, bytes &disk) : m_client(c), m_disk(disk) {}

    std::vector<std::string> instructions; // "read S N", "write S N", "nothing"
    std::vector<std::uint32_t> sectorsWritten;
    int refusals = 0;
    int noData = 0;

    bool request(const bytes &body, received_frame &answer)
    {
        m_client.send_body(body);
        return m_client.next_of_type(body[0], answer, 3000);
    }

    bool start()
    {
        received_frame f;
        bytes map = {7, 1, 0, 0, 0, 0, 0};
        if (!request({0x32, 0, 0, 0, 7}, f) || f.body != bytes{0x32, 0} || !request(map, f))
            return false;
        map[2] = 1;
        write_be32(map.data() + 3, static_cast<std::uint32_t>(m_disk.size() / 512));
        return request(map, f) && f.body == bytes{7, 1, 0};
    }

    // One pak_ask and everything its instruction asks for; false on a protocol failure.
    bool turn()
    {
        received_frame f;
        if (!request({8, 1, 0}, f) || f.body.size() < 8)
            return false;
        const std::uint32_t start = read_be32(f.body.data() + 2);
        const std::uint16_t count = read_be16(f.body.data() + 6);
        if (f.body[1] == 1) {
            instructions.push_back("read " + std::to_string(start) + " " + std::to_string(count));
            for (std::uint16_t i = 0; i < count; ++i)
                if (!send_sector(start, i))
                    return false;
        } else if (f.body[1] == 2) {
            instructions.push_back("write " + std::to_string(start) + " " + std::to_string(count));
            for (std::uint16_t i = 0; i < count; ++i)
                if (!fetch_sector(i))
                    return false;
        } else {
            instructions.push_back("nothing");
        }
        return true;
    }

private:
    bool send_sector(std::uint32_t start, std::uint16_t index)
    {
        bytes body(520, 0);
        body[0] = 9;
        body[1] = 1;
        write_be32(body.data() + 2, start);
        write_be16(body.data() + 6, index);
        std::copy_n(m_disk.begin() + (start + index) * 512, 512, body.begin() + 8);
        for (int attempt = 0; attempt < 5; ++attempt) {
            received_frame f;
            if (!request(body, f) || f.body.size() < 3)
                return false;
            if (f.body[1] != 0 && f.body[2] == 0)
                return true;
            ++refusals; // refused: the same sector again
        }
        return false;
    }

    bool fetch_sector(std::uint16_t index)
    {
        for (int attempt = 0; attempt < 5; ++attempt) {
            received_frame f;
            if (!request({0x0A, 1, static_cast<std::uint8_t>(index >> 8), static_cast<std::uint8_t>(index)}, f) ||
                f.body.size() != 520)
                return false;
            const std::uint32_t start = read_be32(f.body.data() + 2);
            if (start == 0xFFFFFFFF) {
                ++noData; // no data yet: ask again
                continue;
            }
            const std::uint32_t sector = start + read_be16(f.body.data() + 6);
            std::copy(f.body.begin() + 8, f.body.end(), m_disk.begin() + sector * 512);
            sectorsWritten.push_back(sector);
            return true;
        }
        return false;
    }

    sim_client &m_client;
    bytes &m_disk;
};

TEST(SimMediaExchange, ProbeThenScriptedReadsAndWritesOnly)
{
    c_sim_runner sim(test_sim_options());
    QString error;
    ASSERT_TRUE(sim.start(error)) << error.toStdString();
    sim_client client(sim_client::channel::media);
    ASSERT_TRUE(client.connect_to(sim.port(c_sim_connection::kind::media)));
    bytes disk = mbr_fat16_image();
    const bytes original = disk;
    media_viewer viewer(client, disk);
    ASSERT_TRUE(viewer.start());

    // The remote computer looks at the disk by itself, then has nothing to do.
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(viewer.turn());
    EXPECT_EQ(viewer.instructions, (std::vector<std::string>{"read 0 1", "read 2048 1", "nothing"}));
    const std::string media = sim.command("media");
    EXPECT_NE(media.find("fs=FAT16 label=\"TESSDISK\""), std::string::npos) << media;
    EXPECT_NE(sim.command("status").find("disk=\"4.0 MiB, MBR, FAT16 \"TESSDISK\"\""), std::string::npos);

    EXPECT_EQ(sim.command("read 100 3"), "ok");
    EXPECT_EQ(sim.command("refuse-next"), "ok");
    EXPECT_EQ(sim.command("write 200 2 lba"), "ok");
    EXPECT_EQ(sim.command("ffff"), "ok");
    EXPECT_EQ(sim.command("write 8191 2 00"), "err run outside the disk of 8192 sectors");
    viewer.instructions.clear();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(viewer.turn());
    EXPECT_EQ(viewer.instructions, (std::vector<std::string>{"read 100 3", "write 200 2", "nothing"}));
    EXPECT_EQ(viewer.refusals, 1);
    EXPECT_EQ(viewer.noData, 1);

    // Exactly sectors 200 and 201 changed, to their own numbers; the reads arrived intact.
    EXPECT_EQ(viewer.sectorsWritten, (std::vector<std::uint32_t>{200, 201}));
    for (std::size_t sector = 0; sector < disk.size() / 512; ++sector) {
        const bool changed = !std::equal(disk.begin() + sector * 512, disk.begin() + (sector + 1) * 512,
                                         original.begin() + sector * 512);
        EXPECT_EQ(changed, sector == 200 || sector == 201) << "sector " << sector;
    }
    EXPECT_EQ(read_be32(disk.data() + 201 * 512 + 508), 201u);
    std::string hex;
    for (int i = 0; i < 512; ++i) {
        static const char digits[] = "0123456789abcdef";
        hex += digits[original[2048 * 512 + i] >> 4];
        hex += digits[original[2048 * 512 + i] & 15];
    }
    EXPECT_EQ(sim.command("sector 2048"), "ok " + hex);
    EXPECT_EQ(sim.command("sector 5"), "err sector 5 not read");

    // Silence: unanswered, the viewer asks again (as its answer timer would) until the
    // device speaks again.
    EXPECT_EQ(sim.command("silent 300"), "ok");
    received_frame f;
    client.send_body({8, 1, 0});
    EXPECT_FALSE(client.next_of_type(8, f, 200));
    bool answered = false;
    for (int attempt = 0; attempt < 20 && !answered; ++attempt) {
        client.send_body({8, 1, 0});
        answered = client.next_of_type(8, f, 150);
    }
    ASSERT_TRUE(answered);
    EXPECT_EQ(f.body, (bytes{8, 0, 0, 0, 0, 0, 0, 0}));
}

} // namespace
