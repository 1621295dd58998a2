#include "c_disk_probe.h"

#include <cstring>

namespace {

std::uint16_t le16(const std::uint8_t *p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t le32(const std::uint8_t *p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint64_t le64(const std::uint8_t *p)
{
    return le32(p) | static_cast<std::uint64_t>(le32(p + 4)) << 32;
}

bool has_boot_signature(const std::uint8_t *s) { return s[510] == 0x55 && s[511] == 0xAA; }

// Labels come from the disk: keep printable ASCII only, drop trailing blanks.
std::string clean_label(const char *text, std::size_t length)
{
    std::string out;
    for (std::size_t i = 0; i < length && text[i] != '\0'; ++i) {
        const char c = text[i];
        out.push_back(c >= 0x20 && c <= 0x7E ? c : '?');
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

std::string label_at(const std::uint8_t *s, std::size_t offset, std::size_t length)
{
    return clean_label(reinterpret_cast<const char *>(s + offset), length);
}

bool is_power_of_two(unsigned v) { return v != 0 && (v & (v - 1)) == 0; }

} // namespace

c_disk_probe::c_disk_probe(std::uint64_t sectorCount) : m_sectors(sectorCount)
{
    if (m_sectors == 0)
        finish("");
}

std::optional<std::uint32_t> c_disk_probe::next_sector() const
{
    if (m_state == state::done)
        return std::nullopt;
    return static_cast<std::uint32_t>(m_want);
}

void c_disk_probe::feed(std::uint32_t sector, const std::uint8_t *s)
{
    if (m_state == state::done || sector != m_want)
        return;
    switch (m_state) {
    case state::sector0: on_sector0(s); break;
    case state::gpt_header: on_gpt_header(s); break;
    case state::gpt_entries: on_gpt_entries(s); break;
    case state::boot: on_boot(s); break;
    case state::exfat_root: on_exfat_root(s); break;
    case state::ext: on_ext(s); break;
    case state::iso: on_iso(s); break;
    case state::done: break;
    }
}

std::string c_disk_probe::summary() const
{
    if (m_state != state::done)
        return "probing";
    std::string text = m_table == "none" ? std::string() : m_table + ", ";
    text += m_fs.empty() ? "unknown file system" : m_fs;
    if (!m_label.empty())
        text += " \"" + m_label + "\"";
    return text;
}

void c_disk_probe::go(state next, std::uint64_t sector)
{
    // A disk too small for the structure asked for ends the probe.
    if (sector >= m_sectors || sector > 0xFFFFFFFFu) {
        finish(m_fs);
        return;
    }
    m_state = next;
    m_want = sector;
}

void c_disk_probe::finish(const std::string &fs)
{
    m_fs = fs;
    m_state = state::done;
}

void c_disk_probe::on_sector0(const std::uint8_t *s)
{
    if (!has_boot_signature(s)) {
        go(state::ext, 2); // a file system on the whole disk, or an ISO 9660 image
        return;
    }
    // A volume boot sector at sector 0: a "superfloppy" without a partition table.
    if (std::memcmp(s + 3, "EXFAT   ", 8) == 0 || std::memcmp(s + 3, "NTFS    ", 8) == 0 ||
        recognise_fat(s)) {
        m_fs.clear();
        m_label.clear();
        on_boot(s);
        return;
    }
    m_table = "MBR";
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t *entry = s + 446 + 16 * i;
        if (entry[4] == 0xEE) {
            m_table = "GPT";
            go(state::gpt_header, 1);
            return;
        }
    }
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t *entry = s + 446 + 16 * i;
        if (entry[4] != 0 && le32(entry + 12) != 0) {
            m_volume = le32(entry + 8);
            go(state::boot, m_volume);
            return;
        }
    }
    go(state::ext, 2); // an empty table: look at the whole disk
}

void c_disk_probe::on_gpt_header(const std::uint8_t *s)
{
    if (std::memcmp(s, "EFI PART", 8) != 0) {
        finish("");
        return;
    }
    go(state::gpt_entries, le64(s + 72));
}

void c_disk_probe::on_gpt_entries(const std::uint8_t *s)
{
    // The first used entry of the first sector of the array (entries are 128 bytes).
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t *entry = s + 128 * i;
        bool used = false;
        for (int b = 0; b < 16; ++b)
            used = used || entry[b] != 0;
        if (used) {
            m_volume = le64(entry + 32);
            go(state::boot, m_volume);
            return;
        }
    }
    finish("");
}

bool c_disk_probe::recognise_fat(const std::uint8_t *s)
{
    const bool jump = s[0] == 0xE9 || (s[0] == 0xEB && s[2] == 0x90);
    const unsigned bytesPerSector = le16(s + 11);
    const unsigned perCluster = s[13];
    const unsigned reserved = le16(s + 14);
    const unsigned fats = s[16];
    return jump && bytesPerSector == kSectorSize && is_power_of_two(perCluster) &&
           reserved != 0 && fats != 0 && has_boot_signature(s);
}

void c_disk_probe::on_boot(const std::uint8_t *s)
{
    if (std::memcmp(s + 3, "NTFS    ", 8) == 0) {
        finish("NTFS");
        return;
    }
    if (std::memcmp(s + 3, "EXFAT   ", 8) == 0) {
        m_fs = "exFAT";
        if (s[108] != 9) { // sectors of other sizes: no label lookup
            finish(m_fs);
            return;
        }
        const std::uint64_t heap = le32(s + 88);
        const std::uint64_t root = le32(s + 96);
        const unsigned shift = s[109];
        if (root < 2 || shift > 25) {
            finish(m_fs);
            return;
        }
        go(state::exfat_root, m_volume + heap + ((root - 2) << shift));
        return;
    }
    if (!recognise_fat(s)) {
        go(state::ext, m_volume + 2);
        return;
    }
    const unsigned fatSize16 = le16(s + 22);
    if (fatSize16 == 0) {
        m_label = s[66] == 0x29 ? label_at(s, 71, 11) : std::string();
        finish("FAT32");
    } else {
        const std::uint64_t total = le16(s + 19) != 0 ? le16(s + 19) : le32(s + 32);
        const std::uint64_t rootSectors = (le16(s + 17) * 32u + kSectorSize - 1) / kSectorSize;
        const std::uint64_t meta = le16(s + 14) + static_cast<std::uint64_t>(s[16]) * fatSize16 +
                                   rootSectors;
        const std::uint64_t clusters = total > meta ? (total - meta) / s[13] : 0;
        m_label = s[38] == 0x29 ? label_at(s, 43, 11) : std::string();
        finish(clusters < 4085 ? "FAT12" : "FAT16");
    }
    if (m_label == "NO NAME")
        m_label.clear();
}

void c_disk_probe::on_exfat_root(const std::uint8_t *s)
{
    for (unsigned offset = 0; offset < kSectorSize; offset += 32) {
        const std::uint8_t *entry = s + offset;
        if (entry[0] == 0x00)
            break; // end of directory
        if (entry[0] != 0x83)
            continue;
        const unsigned count = entry[1] > 11 ? 11 : entry[1];
        std::string text;
        for (unsigned i = 0; i < count; ++i) {
            const std::uint16_t unit = le16(entry + 2 + 2 * i);
            text.push_back(unit >= 0x20 && unit <= 0x7E ? static_cast<char>(unit) : '?');
        }
        m_label = clean_label(text.c_str(), text.size());
        break;
    }
    finish("exFAT");
}

void c_disk_probe::on_ext(const std::uint8_t *s)
{
    // The superblock starts at byte 1024 of the volume: sector 2, magic at its byte 56.
    if (le16(s + 56) != 0xEF53) {
        go(state::iso, m_volume + 64);
        return;
    }
    const std::uint32_t compat = le32(s + 92);
    const std::uint32_t incompat = le32(s + 96);
    const bool ext4 = (incompat & (0x40 | 0x80 | 0x200)) != 0; // extents, 64bit, flex_bg
    const bool journal = (compat & 0x4) != 0;
    m_label = label_at(s, 120, 16);
    finish(ext4 ? "ext4" : journal ? "ext3" : "ext2");
}

void c_disk_probe::on_iso(const std::uint8_t *s)
{
    // 2048-byte sector 16 = 512-byte sector 64: the primary volume descriptor.
    if (s[0] == 1 && std::memcmp(s + 1, "CD001", 5) == 0) {
        m_label = label_at(s, 40, 32);
        finish("ISO 9660");
        return;
    }
    finish("");
}
