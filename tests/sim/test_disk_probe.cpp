// The simulated remote computer recognising a freshly attached disk, one sector at a time.
// (The media exchange around it is exercised by the viewer's media tests on the simulator.)
#include "c_disk_probe.h"
#include "disk_images.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using bytes = std::vector<std::uint8_t>;
using sectors = std::vector<std::uint32_t>;

// The sectors the probe asks for, in order, and what it makes of the disk.
std::pair<sectors, c_disk_probe> probe(const bytes &disk)
{
    std::pair<sectors, c_disk_probe> run{{}, c_disk_probe(disk.size() / 512)};
    for (int step = 0; step < 16 && !run.second.done(); ++step) {
        const std::uint32_t sector = *run.second.next_sector();
        run.first.push_back(sector);
        if (static_cast<std::size_t>(sector) * 512 >= disk.size())
            break;
        run.second.feed(sector, disk.data() + static_cast<std::size_t>(sector) * 512);
    }
    EXPECT_TRUE(run.second.done());
    return run;
}

struct image_case {
    const char *name;
    bytes (*image)();
    sectors asked;
    const char *summary;
};
void PrintTo(const image_case &c, std::ostream *os) { *os << c.name; }
struct SimDiskProbeImage : ::testing::TestWithParam<image_case> {};

TEST_P(SimDiskProbeImage, AsksForItsSectorsAndNamesTheLayout)
{
    const auto [asked, result] = probe(GetParam().image());
    EXPECT_EQ(asked, GetParam().asked);
    EXPECT_EQ(result.summary(), GetParam().summary);
}

// A table that points past the end of a 16-sector disk; a blank disk.
bytes truncated_fat16()
{
    bytes disk = mbr_fat16_image();
    disk.resize(16 * 512);
    return disk;
}
bytes blank()
{
    return bytes(128 * 512, 0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, SimDiskProbeImage, ::testing::Values(
    image_case{"MbrFat16", mbr_fat16_image, {0, 2048}, "MBR, FAT16 \"TESSDISK\""},
    image_case{"FloppyFat12WithoutTable", floppy_fat12_image, {0}, "FAT12 \"FLOPPY\""},
    image_case{"Fat32InTheSecondMbrEntry", mbr_fat32_image, {0, 2048}, "MBR, FAT32 \"BIGDISK\""},
    image_case{"GptExt4", gpt_ext4_image, {0, 1, 2, 2048, 2050}, "GPT, ext4 \"rootfs\""},
    image_case{"Iso9660DescriptorAtSector64", iso9660_image, {0, 2, 64}, "ISO 9660 \"TESS_ISO\""},
    image_case{"ExfatLabelFromTheRootDirectory", exfat_image, {0, 144}, "exFAT \"USB42\""},
    image_case{"TableBeyondTheEnd", truncated_fat16, {0}, "MBR, unknown file system"},
    image_case{"Blank", blank, {0, 2, 64}, "unknown file system"}),
    [](const auto &param) { return std::string(param.param.name); });

TEST(SimDiskProbe, LabelsAreCleanedAndOnlyTheSectorAskedForCounts)
{
    bytes disk = floppy_fat12_image();
    disk[43] = 0x07;
    disk[44] = 0xFF;
    EXPECT_EQ(probe(disk).second.label(), "??OPPY");
    c_disk_probe p(2880);
    p.feed(5, disk.data());
    EXPECT_EQ(*p.next_sector(), 0u);
    EXPECT_FALSE(c_disk_probe(0).next_sector().has_value());
}

} // namespace
