#include "protocol/frame.h"

#include "encrypt/frame_cipher.h"

#include <cstring>

frame_header parse_frame_header(const std::uint8_t *header)
{
    frame_header h;
    h.checksum = header[2];
    h.plainLength = read_be32(header + 3);
    h.wireLength = read_be32(header + 7);
    std::memcpy(&h.rawPlainLength, header + 3, sizeof h.rawPlainLength);
    return h;
}

std::uint32_t deciphered_length(const frame_header &header)
{
    constexpr std::uint32_t kBlock = 8;
    const std::uint32_t wire = header.wireLength;
    const std::uint32_t plain = header.plainLength;
    if (wire == 0 || wire % kBlock != 0 || plain == 0 || plain > wire || wire - plain >= kBlock)
        return 0;
    return plain;
}

bool decipher_frame_body(const std::uint8_t key[8], const frame_header &header,
                         std::uint8_t *body, std::uint32_t &length)
{
    const std::uint32_t plain = deciphered_length(header);
    if (plain == 0 || length != header.wireLength)
        return false;
    std::uint32_t stripped = length;
    if (!des_decrypt_unpadded(key, body, body, stripped))
        return false;
    length = plain;
    return true;
}

std::uint32_t read_be32(const std::uint8_t *p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
           (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
}

std::uint16_t read_be16(const std::uint8_t *p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

void write_be32(std::uint8_t *p, std::uint32_t value)
{
    p[0] = static_cast<std::uint8_t>(value >> 24);
    p[1] = static_cast<std::uint8_t>(value >> 16);
    p[2] = static_cast<std::uint8_t>(value >> 8);
    p[3] = static_cast<std::uint8_t>(value);
}

void write_be16(std::uint8_t *p, std::uint16_t value)
{
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}

std::uint8_t sum8(const std::uint8_t *bytes, std::size_t count)
{
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum = static_cast<std::uint8_t>(sum + bytes[i]);
    return sum;
}

bool build_frame(std::initializer_list<frame_field> fields, std::uint8_t *out,
                 std::uint32_t &outLength, bool /*encipher*/)
{
    // The header is written afresh on every call, so builders on different threads never
    // share a template.
    out[0] = kFrameMagic;
    out[1] = kFrameVersion;
    std::uint32_t length = kFrameHeaderSize;
    for (const frame_field &field : fields) {
        if (field.length != 0)
            std::memcpy(out + length, field.data, field.length);
        length += field.length;
    }
    const std::uint32_t bodyLength = length - static_cast<std::uint32_t>(kFrameHeaderSize);
    write_be32(out + 3, bodyLength);
    write_be32(out + 7, bodyLength);
    out[2] = sum8(out + kFrameHeaderSize, bodyLength);
    outLength = length;
    return true;
}

bool build_frame(std::initializer_list<frame_field> fields, std::uint8_t *out,
                 std::uint32_t capacity, std::uint32_t &outLength)
{
    std::uint64_t total = kFrameHeaderSize;
    for (const frame_field &field : fields)
        total += field.length;
    if (total > capacity)
        return false;
    return build_frame(fields, out, outLength, false);
}
