#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What the simulated remote computer does with a freshly attached USB disk: it reads the
// partition table and the first partition's boot sector and recognises the file system.
// The probe asks for one 512-byte sector at a time; the caller fetches it from the viewer
// (a read instruction of one sector) and feeds it back. Pure logic, one thread.
class c_disk_probe {
public:
    static constexpr std::uint32_t kSectorSize = 512;

    explicit c_disk_probe(std::uint64_t sectorCount);

    // The next sector wanted, or nothing once the probe has finished.
    std::optional<std::uint32_t> next_sector() const;
    // Hands over the contents of the sector asked for; other sectors are ignored.
    void feed(std::uint32_t sector, const std::uint8_t *data);
    bool done() const { return m_state == state::done; }

    const std::string &table() const { return m_table; }        // "MBR", "GPT" or "none"
    const std::string &file_system() const { return m_fs; }     // "FAT32", "ext4", ...
    const std::string &label() const { return m_label; }        // printable ASCII, may be empty
    std::uint64_t volume_start() const { return m_volume; }
    // One line for the status bar, e.g. "MBR, FAT32 \"TESSDISK\"".
    std::string summary() const;

private:
    enum class state { sector0, gpt_header, gpt_entries, boot, exfat_root, ext, iso, done };

    void on_sector0(const std::uint8_t *s);
    void on_gpt_header(const std::uint8_t *s);
    void on_gpt_entries(const std::uint8_t *s);
    void on_boot(const std::uint8_t *s);
    void on_exfat_root(const std::uint8_t *s);
    void on_ext(const std::uint8_t *s);
    void on_iso(const std::uint8_t *s);
    bool recognise_fat(const std::uint8_t *s);
    void go(state next, std::uint64_t sector);
    void finish(const std::string &fs);

    std::uint64_t m_sectors;
    state m_state = state::sector0;
    std::uint64_t m_want = 0;
    std::uint64_t m_volume = 0;
    std::string m_table = "none";
    std::string m_fs;
    std::string m_label;
};
