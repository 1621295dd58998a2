// The simulated remote computer recognising a freshly attached disk, one sector at a time.
// The rest of the simulator (splitter, privilege arbiter, keyboard, media exchange, control
// commands) is exercised through it by the viewer's tests and the end-to-end scenarios.
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

// A table that points past the end of a 16-sector disk; a label with control characters.
bytes truncated_fat16()
{
    bytes disk = mbr_fat16_image();
    disk.resize(16 * 512);
    return disk;
}
bytes fat16_with_unprintable_label()
{
    bytes disk = mbr_fat16_image();
    disk[2048 * 512 + 43] = 0x07;
    disk[2048 * 512 + 44] = 0xFF;
    return disk;
}

INSTANTIATE_TEST_SUITE_P(Layouts, SimDiskProbeImage, ::testing::Values(
    image_case{"MbrFat16", mbr_fat16_image, {0, 2048}, "MBR, FAT16 \"TESSDISK\""},
    image_case{"Fat32InTheSecondMbrEntry", mbr_fat32_image, {0, 2048}, "MBR, FAT32 \"BIGDISK\""},
    image_case{"TableBeyondTheEnd", truncated_fat16, {0}, "MBR, unknown file system"},
    image_case{"UnprintableLabelCharactersCleaned", fat16_with_unprintable_label, {0, 2048}, "MBR, FAT16 \"??SSDISK\""},
    image_case{"Blank", +[] { return bytes(128 * 512, 0); }, {0, 2, 64}, "unknown file system"}),
    [](const auto &param) { return std::string(param.param.name); });

} // namespace
