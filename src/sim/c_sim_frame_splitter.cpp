#include "c_sim_frame_splitter.h"


#include <algorithm>
#include <cstring>
#include <utility>

c_sim_frame_splitter::c_sim_frame_splitter(std::uint32_t maxWireLength,
                                           const std::uint8_t key[8])
    : m_maxWire(maxWireLength)
{
    std::memcpy(m_key, key, sizeof m_key);
}

void c_sim_frame_splitter::feed(const std::uint8_t *bytes, std::size_t count)
{
    if (m_broken || count == 0)
        return;
    compact();
    m_buffer.insert(m_buffer.end(), bytes, bytes + count);
}

void c_sim_frame_splitter::compact()
{
    // Drop consumed bytes once they are the larger part, so the buffer never grows with
    // the connection's lifetime.
    if (m_offset > 0 && m_offset * 2 >= m_buffer.size()) {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_offset));
        m_offset = 0;
    }
}

bool c_sim_frame_splitter::hunt()
{
    const auto begin = m_buffer.begin() + static_cast<std::ptrdiff_t>(m_offset);
    const auto magic = std::find(begin, m_buffer.end(), kFrameMagic);
    const auto skipped = static_cast<std::size_t>(magic - begin);
    m_skipped += skipped;
    m_offset += skipped;
    return magic != m_buffer.end();
}

c_sim_frame_splitter::status c_sim_frame_splitter::next()
{
    if (m_broken)
        return status::too_long;
    while (hunt()) {
        if (buffered() < 2)
            return status::need_more;
        const std::uint8_t *start = m_buffer.data() + m_offset;
        if (start[1] != kFrameVersion) {
            // A stray 0xA5 inside garbage: keep hunting after it.
            ++m_offset;
            ++m_skipped;
            continue;
        }
        if (buffered() < kFrameHeaderSize)
            return status::need_more;
        m_header = parse_frame_header(start);
        if (m_header.wireLength > m_maxWire) {
            m_broken = true;
            return status::too_long;
        }
        if (buffered() < kFrameHeaderSize + m_header.wireLength)
            return status::need_more;
        m_offset += kFrameHeaderSize + m_header.wireLength;
        if (m_header.wireLength == 0)
            continue; // a header without a body carries nothing
        return take_body(start + kFrameHeaderSize);
    }
    return status::need_more;
}

c_sim_frame_splitter::status c_sim_frame_splitter::take_body(const std::uint8_t *wire)
{
    const std::uint32_t wireLength = m_header.wireLength;
    if (sum8(wire, wireLength) != m_header.checksum)
        return status::bad_checksum;
    m_body.assign(wire, wire + wireLength);
    m_ciphered = m_header.ciphered();
    if (!m_ciphered)
        return status::frame;
    std::uint32_t length = wireLength;
    if (!decipher_frame_body(m_key, m_header, m_body.data(), length))
        return status::bad_cipher;
    m_body.resize(length);
    return status::frame;
}
