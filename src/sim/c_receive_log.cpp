#include "c_receive_log.h"

#include "logging/log.h"

#include <QTime>

namespace {

// Media sectors are long: the in-memory record keeps the head only.
constexpr std::size_t kMaxPayloadHex = 2048;

std::string hex(const std::uint8_t *bytes, std::size_t count)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(digits[bytes[i] >> 4]);
        out.push_back(digits[bytes[i] & 15]);
    }
    return out;
}

// Wall-clock time of day, so records line up with the log files.
std::string time_field()
{
    return ",\"time\":\"" + QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")).toStdString() + "\"";
}

std::string json_text(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '"' || c == '\\')
            out.push_back('\\');
        if (static_cast<unsigned char>(c) >= 0x20)
            out.push_back(c);
    }
    return out;
}

} // namespace

c_receive_log::c_receive_log()
{
    m_clock.start();
}

c_receive_log::~c_receive_log() = default;

bool c_receive_log::open_file(const std::string &path)
{
    m_file.reset(std::fopen(path.c_str(), "a"));
    if (!m_file) {
        TLOG_ERROR << "cannot open the JSON log " << path;
        return false;
    }
    return true;
}

void c_receive_log::frame(const char *channel, int viewer, const std::uint8_t *body,
                          std::size_t length)
{
    const std::string head = "{\"ms\":" + std::to_string(m_clock.elapsed()) + time_field() +
                             ",\"channel\":\"" +
                             channel + "\",\"viewer\":" + std::to_string(viewer) +
                             ",\"type\":" + std::to_string(length ? body[0] : -1) +
                             ",\"payload\":\"";
    const std::size_t payload = length > 0 ? length - 1 : 0;
    const std::string full = hex(body + (length > 0 ? 1 : 0), payload);
    if (m_file) {
        std::fprintf(m_file.get(), "%s%s\"}\n", head.c_str(), full.c_str());
        std::fflush(m_file.get());
    }
    add(head + (full.size() > kMaxPayloadHex ? full.substr(0, kMaxPayloadHex) + "..." : full) + "\"}");
}

void c_receive_log::dropped(const char *channel, int viewer, const std::string &reason)
{
    const std::string record = "{\"ms\":" + std::to_string(m_clock.elapsed()) + time_field() +
                               ",\"channel\":\"" + channel + "\",\"viewer\":" +
                               std::to_string(viewer) + ",\"type\":-1,\"error\":\"" +
                               json_text(reason) + "\"}";
    if (m_file) {
        std::fprintf(m_file.get(), "%s\n", record.c_str());
        std::fflush(m_file.get());
    }
    add(record);
}

void c_receive_log::add(std::string record)
{
    m_records.push_back(std::move(record));
    if (m_records.size() > kKept)
        m_records.pop_front();
}

std::string c_receive_log::last(std::size_t count) const
{
    const std::size_t first = m_records.size() > count ? m_records.size() - count : 0;
    std::string out = "[";
    for (std::size_t i = first; i < m_records.size(); ++i) {
        if (i != first)
            out.push_back(',');
        out += m_records[i];
    }
    return out + "]";
}
