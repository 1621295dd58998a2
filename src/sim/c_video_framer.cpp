#include "c_video_framer.h"

#include "encrypt/frame_cipher.h"
#include "protocol/frame.h"

#include <cstring>

c_video_framer::c_video_framer(std::size_t fragmentSize, unsigned cipherEvery,
                               const std::uint8_t key[8])
    : m_fragment(fragmentSize), m_cipherEvery(cipherEvery)
{
    std::memcpy(m_key, key, sizeof m_key);
}

void c_video_framer::append_picture(const std::uint8_t *data, std::size_t length,
                                    std::vector<std::uint8_t> &out)
{
    const std::size_t step = m_fragment == 0 ? length : m_fragment;
    std::size_t offset = 0;
    do {
        const std::size_t piece = length - offset < step ? length - offset : step;
        append_frame(data + offset, piece, offset + piece >= length, out);
        offset += piece;
    } while (offset < length);
}

void c_video_framer::append_frame(const std::uint8_t *data, std::size_t length, bool last,
                                  std::vector<std::uint8_t> &out)
{
    ++m_frames;
    std::uint8_t head[kCipheredHeadSize] = {kVideoType, static_cast<std::uint8_t>(last ? 1 : 0)};
    write_be32(head + 8, static_cast<std::uint32_t>(length));
    const bool cipher = m_cipherEvery != 0 && m_frames % m_cipherEvery == 0;

    const std::size_t start = out.size();
    const std::size_t headOnWire = cipher ? kCipheredHeadSize : kHeadSize;
    out.resize(start + kFrameHeaderSize + headOnWire + length);
    std::uint8_t *frame = out.data() + start;
    if (!cipher) {
        std::uint32_t frameLength = 0;
        build_frame({{static_cast<std::uint32_t>(kHeadSize), head},
                     {static_cast<std::uint32_t>(length), data}},
                    frame, frameLength);
        return;
    }
    std::uint32_t headLength = kHeadSize;
    des_encrypt_padded_b(m_key, head, head, headLength); // 12 -> 16 bytes
    std::uint8_t *body = frame + kFrameHeaderSize;
    std::memcpy(body, head, kCipheredHeadSize);
    if (length != 0)
        std::memcpy(body + kCipheredHeadSize, data, length);
    const auto wireLength = static_cast<std::uint32_t>(kCipheredHeadSize + length);
    frame[0] = kFrameMagic;
    frame[1] = kFrameVersion;
    frame[2] = sum8(body, wireLength);
    write_be32(frame + 3, static_cast<std::uint32_t>(kHeadSize + length)); // plain length
    write_be32(frame + 7, wireLength);
}
