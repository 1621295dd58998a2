#pragma once

#include "c_disk_probe.h"
#include "protocol/message_types.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The device's side of one virtual media connection: it is the master of the disk traffic.
// It answers the viewer's messages (userID, mapOrUnmap, pak_ask, pak_readData, pak10) and
// decides what each pak_ask gets: after a map, the reads of the disk probe (the remote
// computer looking at the new disk); then the instructions of the script the control
// interface queued; otherwise nothing to do. It writes only what a script tells it to.
// One thread (the device's event loop); time comes in as an argument.
class c_media_session {
public:
    using clock = std::chrono::steady_clock;
    using body = std::vector<std::uint8_t>;
    static constexpr std::uint32_t kSectorSize = 512;
    static constexpr std::uint32_t kNoData = 0xFFFFFFFF;

    // Message types of the channel.
    enum type : std::uint8_t { kMap = kUTypeMap, kAsk = kUTypeAsk, kReadData = kUTypeReadData,
                               kWriteData = kUTypePak10, kUserId = kUTypeUserId };
    // Modes of a pak_ask answer.
    enum mode : std::uint8_t { kNothing = 0, kRead = 1, kWrite = 2 };

    // What a write instruction writes: every byte `fill`, or (lba) each sector filled with
    // its own absolute sector number as u32 BE, repeated.
    struct pattern {
        bool lba = false;
        std::uint8_t fill = 0;
    };

    // Handles one body from the viewer and appends the device's answers (zero or one).
    void handle(const std::uint8_t *message, std::size_t length, clock::time_point now,
                std::vector<body> &answers);

    // Script, in order of pak_asks to come. Read and write need a mapped disk and a run
    // inside it; write needs a writable mapping. False with a reason otherwise.
    bool queue_read(std::uint32_t start, std::uint16_t count, std::string &error);
    bool queue_write(std::uint32_t start, std::uint16_t count, pattern fill, std::string &error);
    void queue_nothing();
    void refuse_next() { m_refuseNext = true; }   // next pak_readData answered with refusal
    void no_data_next() { m_noDataNext = true; }  // next pak10 answered with start 0xFFFFFFFF
    void silent_until(clock::time_point until) { m_silentUntil = until; }

    bool mapped() const { return m_mapped; }
    bool read_only() const { return m_readOnly; }
    std::uint32_t sector_count() const { return m_sectorCount; }
    // No instruction running, nothing queued, probe finished.
    bool idle() const;
    std::string disk_summary() const; // "no disk", "64.0 MiB, probing", "64.0 MiB, MBR, FAT32 ..."
    std::string describe() const;     // one line of key=value pairs for the control interface
    // The contents of a sector as the viewer last sent it, if held.
    std::optional<std::array<std::uint8_t, kSectorSize>> sector(std::uint32_t number) const;
    std::uint64_t sectors_read() const { return m_sectorsRead; }
    std::uint64_t sectors_written() const { return m_sectorsWritten; }

    static void fill_sector(const pattern &fill, std::uint32_t sector, std::uint8_t *out);

private:
    struct instruction {
        mode kind = kNothing;
        std::uint32_t start = 0;
        std::uint16_t count = 0;
        pattern fill;
        bool probe = false;
        std::vector<bool> done; // per index: received (read) or served (write)
        std::uint32_t remaining = 0;
    };

    void on_map(const std::uint8_t *m, std::size_t length, std::vector<body> &answers);
    void on_ask(std::vector<body> &answers);
    void on_read_data(const std::uint8_t *m, std::size_t length, std::vector<body> &answers);
    void on_write_request(const std::uint8_t *m, std::size_t length, std::vector<body> &answers);
    instruction next_instruction();
    void store_sector(std::uint32_t number, const std::uint8_t *data);
    bool check_run(std::uint32_t start, std::uint16_t count, std::string &error) const;

    bool m_mapped = false;
    bool m_readOnly = false;
    std::uint32_t m_sectorCount = 0;
    std::unique_ptr<c_disk_probe> m_probe;
    std::deque<instruction> m_script;
    std::optional<instruction> m_active;
    bool m_refuseNext = false;
    bool m_noDataNext = false;
    clock::time_point m_silentUntil{};
    std::map<std::uint32_t, std::array<std::uint8_t, kSectorSize>> m_sectors;
    std::uint64_t m_sectorsRead = 0;
    std::uint64_t m_sectorsWritten = 0;
    std::uint64_t m_instructions = 0;
};
