#include "video/FrameAssembler.h"

#include "logging/log.h"

#include <cstring>
#include <new>

FrameAssembler::FrameAssembler(std::uint32_t capacity)
    : m_capacity(capacity), m_buffer(new (std::nothrow) std::uint8_t[capacity])
{
    if (!m_buffer) {
        TLOG_ERROR << "FrameAssembler: out of memory for " << capacity
                   << " bytes; fragmented pictures will be dropped";
        m_capacity = 0;
    }
}

FrameAssembler::status FrameAssembler::push(const std::uint8_t *data, std::uint32_t size,
                                            bool last, picture &out)
{
    out = picture{};
    if (m_skipping) {
        if (last)
            m_skipping = false;
        return status::incomplete;
    }
    if (m_fill == 0 && last) {
        out.data = data;
        out.size = size;
        return status::complete;
    }
    if (size > m_capacity - m_fill) {
        TLOG_ERROR << "FrameAssembler: picture exceeds " << m_capacity << " bytes (held "
                   << m_fill << ", fragment " << size << "); picture dropped";
        m_fill = 0;
        m_skipping = !last;
        return status::dropped;
    }
    if (size > 0)
        std::memcpy(m_buffer.get() + m_fill, data, size);
    m_fill += size;
    if (!last)
        return status::incomplete;
    out.data = m_buffer.get();
    out.size = m_fill;
    out.copied = true;
    m_fill = 0;
    return status::complete;
}
