// The simulated remote computer recognising a freshly attached disk, one sector at a time:
// most of its layouts are seen by no viewer test or end-to-end scenario, while the rest of the
// simulator (splitter, privilege arbiter, keyboard, media exchange, control commands) is
// exercised through it by the viewer's tests.
#include "c_disk_probe.h"
#include "disk_images.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using bytes = std::vector<std::uint8_t>;
using sectors = std::vector<std::uint32_t>;

struct image_case {
    const char *name;
    bytes (*image)();
    sectors asked;
    const char *summary;
};
void PrintTo(const image_case &c, std::ostream *os) { *os << c.name; }
struct SimDiskProbeImage : ::testing::TestWithParam<image_case> {};

// The sectors the probe asks for, in order, and what it makes of the disk.
TEST_P(SimDiskProbeImage, AsksForItsSectorsAndNamesTheLayout)
{
    const bytes disk = GetParam().image();
    c_disk_probe probe(disk.size() / 512);
    sectors asked;
    for (int step = 0; step < 16 && !probe.done(); ++step) {
        asked.push_back(*probe.next_sector());
        if (std::size_t{asked.back()} * 512 >= disk.size())
            break; // never past the end
        probe.feed(asked.back(), disk.data() + std::size_t{asked.back()} * 512);
    }
    EXPECT_TRUE(probe.done());
    EXPECT_EQ(asked, GetParam().asked);
    EXPECT_EQ(probe.summary(), GetParam().summary);
}

// A table that points past the end of a 16-sector disk; a label with control characters;
// a blank disk.
bytes truncated_fat16()
{
    bytes disk = mbr_fat16_image();
    disk.resize(16 * 512);
    return disk;
}
bytes floppy_with_unprintable_label()
{
    bytes disk = floppy_fat12_image();
    disk[43] = 0x07;
    disk[44] = 0xFF;
    return disk;
}

INSTANTIATE_TEST_SUITE_P(Layouts, SimDiskProbeImage, ::testing::Values(
    image_case{"MbrFat16", mbr_fat16_image, {0, 2048}, "MBR, FAT16 \"TESSDISK\""},
    image_case{"FloppyFat12WithoutTable", floppy_fat12_image, {0}, "FAT12 \"FLOPPY\""},
    image_case{"Fat32InTheSecondMbrEntry", mbr_fat32_image, {0, 2048}, "MBR, FAT32 \"BIGDISK\""},
    image_case{"GptExt4", gpt_ext4_image, {0, 1, 2, 2048, 2050}, "GPT, ext4 \"rootfs\""},
    image_case{"Iso9660DescriptorAtSector64", iso9660_image, {0, 2, 64}, "ISO 9660 \"TESS_ISO\""},
    image_case{"ExfatLabelFromTheRootDirectory", exfat_image, {0, 144}, "exFAT \"USB42\""},
    image_case{"TableBeyondTheEnd", truncated_fat16, {0}, "MBR, unknown file system"},
    image_case{"UnprintableLabelCharactersCleaned", floppy_with_unprintable_label, {0}, "FAT12 \"??OPPY\""},
    image_case{"Blank", +[] { return bytes(128 * 512, 0); }, {0, 2, 64}, "unknown file system"}),
    [](const auto &param) { return std::string(param.param.name); });

} // namespace
