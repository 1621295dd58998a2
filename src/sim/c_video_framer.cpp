#include "c_video_framer.h"

#include "protocol/frame.h"
#include "protocol/video_head.h"

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
    std::uint8_t head[kVideoHeadSize];
    write_video_head(head, last, static_cast<std::uint32_t>(length));
    const bool cipher = m_cipherEvery != 0 && m_frames % m_cipherEvery == 0;

    const std::size_t start = out.size();
    const std::size_t headOnWire = cipher ? kVideoCipheredHeadSize : kVideoHeadSize;
    out.resize(start + kFrameHeaderSize + headOnWire + length);
    std::uint8_t *frame = out.data() + start;
    if (!cipher) {
        std::uint32_t frameLength = 0;
        build_frame({{kVideoHeadSize, head}, {static_cast<std::uint32_t>(length), data}},
                    frame, frameLength);
        return;
    }
    std::uint8_t *body = frame + kFrameHeaderSize;
    encipher_video_head(m_key, head, body);
    if (length != 0)
        std::memcpy(body + kVideoCipheredHeadSize, data, length);
    const auto wireLength = static_cast<std::uint32_t>(kVideoCipheredHeadSize + length);
    frame[0] = kFrameMagic;
    frame[1] = kFrameVersion;
    frame[2] = sum8(body, wireLength);
    write_be32(frame + 3, static_cast<std::uint32_t>(kVideoHeadSize + length)); // plain length
    write_be32(frame + 7, wireLength);
}
