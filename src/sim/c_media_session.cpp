#include "c_media_session.h"

#include "logging/log.h"
#include "protocol/frame.h"

#include <cstdio>
#include <cstring>

namespace {

// Sectors kept for the control interface to show; past this the store starts afresh.
constexpr std::size_t kMaxStoredSectors = 8192;

c_media_session::body answer_ask(std::uint8_t mode, std::uint32_t start, std::uint16_t count)
{
    c_media_session::body b(8, 0);
    b[0] = c_media_session::kAsk;
    b[1] = mode;
    write_be32(b.data() + 2, start);
    write_be16(b.data() + 6, count);
    return b;
}

} // namespace

void c_media_session::handle(const std::uint8_t *m, std::size_t length, clock::time_point now,
                             std::vector<body> &answers)
{
    if (length == 0)
        return;
    if (now < m_silentUntil) {
        TLOG_INFO << "media: silent, type " << unsigned{m[0]} << " left unanswered";
        return;
    }
    switch (m[0]) {
    case kUserId:
        if (length < 5) {
            TLOG_WARN << "media: userID body of " << length << " bytes ignored";
            return;
        }
        TLOG_INFO << "media: userID " << read_be32(m + 1);
        answers.push_back({kUserId, 0});
        return;
    case kMap: on_map(m, length, answers); return;
    case kAsk: on_ask(answers); return;
    case kReadData: on_read_data(m, length, answers); return;
    case kWriteData: on_write_request(m, length, answers); return;
    default:
        TLOG_WARN << "media: unknown type " << unsigned{m[0]} << " (" << length << " bytes) ignored";
        return;
    }
}

void c_media_session::on_map(const std::uint8_t *m, std::size_t length, std::vector<body> &answers)
{
    if (length < 7) {
        TLOG_WARN << "media: mapOrUnmap body of " << length << " bytes ignored";
        return;
    }
    const std::uint8_t flags = m[2];
    const std::uint32_t count = read_be32(m + 3);
    m_active.reset();
    if ((flags & 0x01) != 0) {
        m_mapped = true;
        m_readOnly = (flags & 0x80) != 0;
        m_sectorCount = count;
        m_probe = std::make_unique<c_disk_probe>(count);
        TLOG_INFO << "media: map, " << count << " sectors" << (m_readOnly ? ", read-only" : "");
    } else {
        if (m_mapped)
            TLOG_INFO << "media: unmap";
        m_mapped = false;
        m_probe.reset();
    }
    answers.push_back({kMap, 1, 0});
}

c_media_session::instruction c_media_session::next_instruction()
{
    if (m_probe && !m_probe->done()) {
        instruction probe;
        probe.kind = kRead;
        probe.start = *m_probe->next_sector();
        probe.count = 1;
        probe.probe = true;
        return probe;
    }
    if (m_script.empty())
        return {};
    instruction next = m_script.front();
    m_script.pop_front();
    return next;
}

void c_media_session::on_ask(std::vector<body> &answers)
{
    if (m_active) {
        TLOG_WARN << "media: pak_ask before the instruction at " << m_active->start << " was done ("
                  << m_active->remaining << " sectors left); dropped";
        m_active.reset();
    }
    instruction next = m_mapped ? next_instruction() : instruction{};
    answers.push_back(answer_ask(next.kind, next.start, next.count));
    if (next.kind == kNothing)
        return;
    ++m_instructions;
    TLOG_INFO << "media: instruction " << (next.kind == kRead ? "read " : "write ") << next.count
              << " sectors from " << next.start << (next.probe ? " (probe)" : "");
    if (next.count == 0)
        return;
    next.done.assign(next.count, false);
    next.remaining = next.count;
    m_active = std::move(next);
}

void c_media_session::on_read_data(const std::uint8_t *m, std::size_t length,
                                   std::vector<body> &answers)
{
    if (length < 8 + kSectorSize) {
        TLOG_WARN << "media: pak_readData body of " << length << " bytes ignored";
        return;
    }
    if (m_refuseNext) {
        m_refuseNext = false;
        TLOG_INFO << "media: pak_readData refused as asked";
        answers.push_back({kReadData, 1, 1});
        return;
    }
    const std::uint32_t start = read_be32(m + 2);
    const std::uint16_t index = read_be16(m + 6);
    answers.push_back({kReadData, 1, 0});
    if (!m_active || m_active->kind != kRead || start != m_active->start || index >= m_active->count) {
        TLOG_WARN << "media: unexpected sector data " << start << "+" << index << " accepted";
        return;
    }
    const std::uint32_t number = start + index;
    store_sector(number, m + 8);
    if (m_active->probe && m_probe)
        m_probe->feed(number, m + 8);
    if (!m_active->done[index]) {
        m_active->done[index] = true;
        ++m_sectorsRead;
        if (--m_active->remaining == 0) {
            if (m_active->probe && m_probe && m_probe->done())
                TLOG_INFO << "media: disk recognised: " << m_probe->summary();
            m_active.reset();
        }
    }
}

void c_media_session::on_write_request(const std::uint8_t *m, std::size_t length,
                                       std::vector<body> &answers)
{
    if (length < 4) {
        TLOG_WARN << "media: pak10 body of " << length << " bytes ignored";
        return;
    }
    const std::uint16_t index = read_be16(m + 2);
    body answer(8 + kSectorSize, 0);
    answer[0] = kWriteData;
    answer[1] = 1;
    write_be16(answer.data() + 6, index);
    if (m_noDataNext) {
        m_noDataNext = false;
        write_be32(answer.data() + 2, kNoData);
        TLOG_INFO << "media: pak10 " << index << " answered without data as asked";
        answers.push_back(std::move(answer));
        return;
    }
    if (!m_active || m_active->kind != kWrite || index >= m_active->count) {
        // Answering "no data" would make the viewer ask again at once, forever; silence
        // lets its answer timer pace the retries.
        TLOG_WARN << "media: pak10 " << index << " outside any write instruction, unanswered";
        return;
    }
    write_be32(answer.data() + 2, m_active->start);
    fill_sector(m_active->fill, m_active->start + index, answer.data() + 8);
    answers.push_back(std::move(answer));
    if (!m_active->done[index]) {
        m_active->done[index] = true;
        ++m_sectorsWritten;
        if (--m_active->remaining == 0)
            m_active.reset();
    }
}

void c_media_session::fill_sector(const pattern &fill, std::uint32_t sector, std::uint8_t *out)
{
    if (!fill.lba) {
        std::memset(out, fill.fill, kSectorSize);
        return;
    }
    for (std::uint32_t i = 0; i < kSectorSize; i += 4)
        write_be32(out + i, sector);
}

bool c_media_session::check_run(std::uint32_t start, std::uint16_t count, std::string &error) const
{
    if (!m_mapped) {
        error = "no disk mapped";
        return false;
    }
    if (count == 0 || static_cast<std::uint64_t>(start) + count > m_sectorCount) {
        error = "run outside the disk of " + std::to_string(m_sectorCount) + " sectors";
        return false;
    }
    return true;
}

bool c_media_session::queue_read(std::uint32_t start, std::uint16_t count, std::string &error)
{
    if (!check_run(start, count, error))
        return false;
    instruction read;
    read.kind = kRead;
    read.start = start;
    read.count = count;
    m_script.push_back(read);
    return true;
}

bool c_media_session::queue_write(std::uint32_t start, std::uint16_t count, pattern fill,
                                  std::string &error)
{
    if (!check_run(start, count, error))
        return false;
    if (m_readOnly) {
        error = "the disk is mapped read-only";
        return false;
    }
    instruction write;
    write.kind = kWrite;
    write.start = start;
    write.count = count;
    write.fill = fill;
    m_script.push_back(write);
    return true;
}

void c_media_session::queue_nothing()
{
    m_script.push_back(instruction{});
}

bool c_media_session::idle() const
{
    return !m_active && m_script.empty() && (!m_probe || m_probe->done());
}

void c_media_session::store_sector(std::uint32_t number, const std::uint8_t *data)
{
    if (m_sectors.size() >= kMaxStoredSectors && m_sectors.find(number) == m_sectors.end())
        m_sectors.clear();
    std::memcpy(m_sectors[number].data(), data, kSectorSize);
}

std::optional<std::array<std::uint8_t, c_media_session::kSectorSize>>
c_media_session::sector(std::uint32_t number) const
{
    const auto it = m_sectors.find(number);
    if (it == m_sectors.end())
        return std::nullopt;
    return it->second;
}

std::string c_media_session::disk_summary() const
{
    if (!m_mapped)
        return "no disk";
    char size[32];
    std::snprintf(size, sizeof size, "%.1f MiB", m_sectorCount / 2048.0);
    std::string text = size;
    if (m_readOnly)
        text += " read-only";
    return text + ", " + (m_probe ? m_probe->summary() : std::string("probing"));
}

std::string c_media_session::describe() const
{
    std::string text = "mapped=" + std::to_string(m_mapped ? 1 : 0) +
                       " sectors=" + std::to_string(m_sectorCount) +
                       " ro=" + std::to_string(m_readOnly ? 1 : 0) +
                       " idle=" + std::to_string(idle() ? 1 : 0) +
                       " queued=" + std::to_string(m_script.size()) +
                       " read=" + std::to_string(m_sectorsRead) +
                       " written=" + std::to_string(m_sectorsWritten);
    if (m_probe && m_probe->done()) {
        text += " table=" + m_probe->table();
        std::string fs = m_probe->file_system().empty() ? "unknown" : m_probe->file_system();
        for (char &c : fs)
            c = c == ' ' ? '_' : c; // keep the pairs blank-separated
        text += " fs=" + fs;
        text += " label=\"" + m_probe->label() + "\"";
    }
    return text;
}
