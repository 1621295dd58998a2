// The simulated remote computer recognising a freshly attached disk, one sector at a time.
#include "c_disk_probe.h"
#include "disk_images.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct probe_run {
    std::vector<std::uint32_t> sectors; // in the order asked for
    std::string table, fs, label, summary;
};

probe_run probe(const std::vector<std::uint8_t> &disk)
{
    c_disk_probe p(disk.size() / 512);
    probe_run run;
    for (int step = 0; step < 16 && !p.done(); ++step) {
        const std::uint32_t sector = *p.next_sector();
        run.sectors.push_back(sector);
        if (static_cast<std::size_t>(sector) * 512 >= disk.size()) {
            ADD_FAILURE() << "asked for sector " << sector << " beyond the disk";
            break;
        }
        p.feed(sector, disk.data() + static_cast<std::size_t>(sector) * 512);
    }
    EXPECT_TRUE(p.done());
    run.table = p.table();
    run.fs = p.file_system();
    run.label = p.label();
    run.summary = p.summary();
    return run;
}

using sectors = std::vector<std::uint32_t>;

// Each layout with the sectors the probe asks for, in order, and what it recognises.
struct image_case {
    const char *name;
    std::vector<std::uint8_t> (*image)();
    sectors asked;
    const char *summary;
};
void PrintTo(const image_case &c, std::ostream *os) { *os << c.name; }
struct SimDiskProbeImage : ::testing::TestWithParam<image_case> {};

TEST_P(SimDiskProbeImage, AsksForItsSectorsAndNamesTheLayout)
{
    const auto run = probe(GetParam().image());
    EXPECT_EQ(run.sectors, GetParam().asked);
    EXPECT_EQ(run.summary, GetParam().summary);
}

INSTANTIATE_TEST_SUITE_P(Layouts, SimDiskProbeImage, ::testing::Values(
    image_case{"MbrFat16", mbr_fat16_image, {0, 2048}, "MBR, FAT16 \"TESSDISK\""},
    image_case{"FloppyFat12WithoutTable", floppy_fat12_image, {0}, "FAT12 \"FLOPPY\""},
    image_case{"Fat32InTheSecondMbrEntry", mbr_fat32_image, {0, 2048}, "MBR, FAT32 \"BIGDISK\""},
    image_case{"GptExt4", gpt_ext4_image, {0, 1, 2, 2048, 2050}, "GPT, ext4 \"rootfs\""},
    image_case{"Iso9660DescriptorAtSector64", iso9660_image, {0, 2, 64}, "ISO 9660 \"TESS_ISO\""},
    image_case{"ExfatLabelFromTheRootDirectory", exfat_image, {0, 144}, "exFAT \"USB42\""}),
    [](const auto &param) { return std::string(param.param.name); });

TEST(SimDiskProbe, BlankAndTooSmallDisksEndWithoutReadingPastTheEnd)
{
    EXPECT_EQ(probe(std::vector<std::uint8_t>(128 * 512, 0)).summary, "unknown file system");
    // A table that points past the end of a 16-sector disk.
    auto disk = mbr_fat16_image();
    disk.resize(16 * 512);
    const auto run = probe(disk);
    EXPECT_EQ(run.sectors, (sectors{0}));
    EXPECT_EQ(run.summary, "MBR, unknown file system");
    c_disk_probe empty(0);
    EXPECT_TRUE(empty.done());
    EXPECT_FALSE(empty.next_sector().has_value());
}

TEST(SimDiskProbe, LabelsAreCleanedForTheScreen)
{
    auto disk = floppy_fat12_image();
    disk[43] = 0x07;
    disk[44] = 0xFF;
    EXPECT_EQ(probe(disk).label, "??OPPY");
    c_disk_probe p(2880);
    p.feed(5, disk.data()); // not the sector asked for: ignored
    EXPECT_EQ(*p.next_sector(), 0u);
}

} // namespace
