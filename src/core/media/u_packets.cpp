#include "media/u_packets.h"

#include "protocol/frame.h"


#include <algorithm>
#include <array>
#include <chrono>

namespace {

constexpr std::uint32_t kSmallFrameBuffer = 512;
constexpr std::uint32_t kReadDataFrameBuffer = 800;

CQUEUE_MESSAGE finish(std::shared_ptr<std::uint8_t[]> buffer, std::uint32_t length, bool last,
                      QString tag)
{
    return CQUEUE_MESSAGE(length, std::move(buffer), 0, last ? 1 : 0, std::move(tag));
}

// "ss_zzz" of the local time. Time zones differ from UTC by whole minutes, so seconds and
// milliseconds come straight from the system clock, without the time zone look-up (and the
// lock inside it) that a local time conversion costs on every sector.
QString seconds_label()
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    return QStringLiteral("%1_%2")
        .arg(static_cast<int>(ms / 1000 % 60), 2, 10, QChar(u'0'))
        .arg(static_cast<int>(ms % 1000), 3, 10, QChar(u'0'));
}

} // namespace

CQUEUE_MESSAGE make_u_map_pak(std::uint8_t unit, std::uint8_t flags, std::uint32_t sectorCount)
{
    std::uint8_t body[7] = {kUTypeMap, unit, flags};
    write_be32(body + 3, sectorCount);
    auto buffer = std::make_shared<std::uint8_t[]>(kSmallFrameBuffer);
    std::uint32_t length = 0;
    build_frame({{sizeof body, body}}, buffer.get(), length);
    return finish(std::move(buffer), length, false, QStringLiteral("notU"));
}

CQUEUE_MESSAGE make_u_ask_pak(std::uint8_t unit, std::uint8_t zero)
{
    const std::uint8_t body[3] = {kUTypeAsk, unit, zero};
    auto buffer = std::make_shared<std::uint8_t[]>(kSmallFrameBuffer);
    std::uint32_t length = 0;
    build_frame({{sizeof body, body}}, buffer.get(), length);
    return finish(std::move(buffer), length, false, QStringLiteral("noUse"));
}

CQUEUE_MESSAGE make_u_read_data_pak(std::uint8_t unit, std::uint32_t start, std::uint16_t index,
                                    const std::uint8_t *data, std::uint32_t dataLength, bool last)
{
    std::uint8_t head[8] = {kUTypeReadData, unit};
    write_be32(head + 2, start);
    write_be16(head + 6, index);
    std::array<std::uint8_t, kUSectorSize> sector{};
    if (data != nullptr)
        std::copy_n(data, std::min(dataLength, kUSectorSize), sector.begin());
    auto buffer = std::make_shared<std::uint8_t[]>(kReadDataFrameBuffer);
    std::uint32_t length = 0;
    build_frame({{sizeof head, head}, {kUSectorSize, sector.data()}}, buffer.get(), length);
    return finish(std::move(buffer), length, last, QStringLiteral("noUse"));
}

CQUEUE_MESSAGE make_u_pak10(std::uint8_t unit, std::uint16_t index, bool last)
{
    std::uint8_t body[4] = {kUTypePak10, unit};
    write_be16(body + 2, index);
    auto buffer = std::make_shared<std::uint8_t[]>(kSmallFrameBuffer);
    std::uint32_t length = 0;
    build_frame({{sizeof body, body}}, buffer.get(), length);
    return finish(std::move(buffer), length, last, QStringLiteral("pak10_") + seconds_label());
}

std::uint8_t u_frame_type(const CQUEUE_MESSAGE &message)
{
    if (!message.buffer || message.length <= kFrameHeaderSize)
        return 0;
    return message.buffer[kFrameHeaderSize];
}
