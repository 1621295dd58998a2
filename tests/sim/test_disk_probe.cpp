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

TEST(SimDiskProbe, MbrWithFat16Partition)
{
    const auto run = probe(mbr_fat16_image());
    EXPECT_EQ(run.sectors, (sectors{0, 2048}));
    EXPECT_EQ(run.summary, "MBR, FAT16 \"TESSDISK\"");
}

TEST(SimDiskProbe, FloppyWithoutTableIsFat12)
{
    const auto run = probe(floppy_fat12_image());
    EXPECT_EQ(run.sectors, (sectors{0}));
    EXPECT_EQ(run.table, "none");
    EXPECT_EQ(run.fs, "FAT12");
    EXPECT_EQ(run.label, "FLOPPY");
}

TEST(SimDiskProbe, Fat32InTheSecondMbrEntry)
{
    const auto run = probe(mbr_fat32_image());
    EXPECT_EQ(run.sectors, (sectors{0, 2048}));
    EXPECT_EQ(run.summary, "MBR, FAT32 \"BIGDISK\"");
}

TEST(SimDiskProbe, GptWithExt4)
{
    const auto run = probe(gpt_ext4_image());
    EXPECT_EQ(run.sectors, (sectors{0, 1, 2, 2048, 2050}));
    EXPECT_EQ(run.summary, "GPT, ext4 \"rootfs\"");
}

TEST(SimDiskProbe, Iso9660ReadsTheVolumeDescriptorAtSector64)
{
    const auto run = probe(iso9660_image());
    EXPECT_EQ(run.sectors, (sectors{0, 2, 64}));
    EXPECT_EQ(run.summary, "ISO 9660 \"TESS_ISO\"");
}

TEST(SimDiskProbe, ExfatLabelComesFromTheRootDirectory)
{
    const auto run = probe(exfat_image());
    EXPECT_EQ(run.sectors, (sectors{0, 144}));
    EXPECT_EQ(run.fs, "exFAT");
    EXPECT_EQ(run.label, "USB42");
}

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
