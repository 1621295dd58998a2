#include "disk_images.h"

#include <cstring>
#include <string>

namespace {

constexpr std::size_t kSector = 512;

void le16(std::uint8_t *p, unsigned v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void le32(std::uint8_t *p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void text(std::uint8_t *p, const std::string &s, std::size_t width)
{
    std::memset(p, ' ', width);
    std::memcpy(p, s.data(), s.size() < width ? s.size() : width);
}
void boot_signature(std::uint8_t *sector)
{
    sector[510] = 0x55;
    sector[511] = 0xAA;
}
void mbr_entry(std::uint8_t *disk, int index, std::uint8_t type, std::uint32_t start, std::uint32_t count)
{
    std::uint8_t *e = disk + 446 + 16 * index;
    e[4] = type;
    le32(e + 8, start);
    le32(e + 12, count);
    boot_signature(disk);
}

// A FAT12/16 BIOS parameter block with an extended boot record.
void fat16_boot(std::uint8_t *s, std::uint32_t total, unsigned rootEntries, unsigned fatSize,
                const std::string &label, const char *type)
{
    s[0] = 0xEB; s[1] = 0x3C; s[2] = 0x90;
    text(s + 3, "MSDOS5.0", 8);
    le16(s + 11, 512);
    s[13] = 1;          // sectors per cluster
    le16(s + 14, 1);    // reserved
    s[16] = 2;          // FATs
    le16(s + 17, rootEntries);
    if (total < 65536)
        le16(s + 19, total);
    else
        le32(s + 32, total);
    s[21] = 0xF8;
    le16(s + 22, fatSize);
    s[38] = 0x29;
    le32(s + 39, 0x12345678);
    text(s + 43, label, 11);
    text(s + 54, type, 8);
    boot_signature(s);
}

} // namespace

std::vector<std::uint8_t> mbr_fat16_image()
{
    std::vector<std::uint8_t> disk(8192 * kSector, 0);
    mbr_entry(disk.data(), 0, 0x06, 2048, 6144);
    fat16_boot(disk.data() + 2048 * kSector, 6144, 512, 24, "TESSDISK", "FAT16");
    return disk;
}

std::vector<std::uint8_t> mbr_fat32_image()
{
    std::vector<std::uint8_t> disk(4096 * kSector, 0);
    mbr_entry(disk.data(), 1, 0x0C, 2048, 2048); // the second entry: the first is empty
    std::uint8_t *s = disk.data() + 2048 * kSector;
    s[0] = 0xEB; s[1] = 0x58; s[2] = 0x90;
    text(s + 3, "mkfs.fat", 8);
    le16(s + 11, 512);
    s[13] = 1;
    le16(s + 14, 32);
    s[16] = 2;
    le32(s + 32, 2048);
    le32(s + 36, 16); // sectors per FAT (FAT32 field); the FAT16 field stays 0
    le32(s + 44, 2);  // root cluster
    s[66] = 0x29;
    text(s + 71, "BIGDISK", 11);
    text(s + 82, "FAT32", 8);
    boot_signature(s);
    return disk;
}
