#include "video/FrameAssembler.h"

#include "logging/log.h"

#include <algorithm>
#include <cstring>
#include <new>

FrameAssembler::FrameAssembler(std::uint32_t capacity) : m_capacity(capacity) {}

bool FrameAssembler::make_room(std::uint32_t needed)
{
    if (needed <= m_allocated)
        return true;
    // Doubling keeps the copies of a growing picture few; the first step covers the
    // pictures of most streams at once.
    const std::uint64_t doubled = std::uint64_t{m_allocated} * 2;
    const auto size = static_cast<std::uint32_t>(std::min<std::uint64_t>(
        m_capacity, std::max<std::uint64_t>({needed, doubled, kFirstAllocation})));
    std::unique_ptr<std::uint8_t[]> grown(new (std::nothrow) std::uint8_t[size]);
    if (!grown)
        return false;
    if (m_fill > 0)
        std::memcpy(grown.get(), m_buffer.get(), m_fill);
    m_buffer = std::move(grown);
    m_allocated = size;
    return true;
}

FrameAssembler::status FrameAssembler::drop(std::uint32_t size, bool last, const char *why)
{
    TLOG_ERROR << "FrameAssembler: picture " << why << " (held " << m_fill << ", fragment "
               << size << "); picture dropped";
    m_fill = 0;
    m_skipping = !last;
    return status::dropped;
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
    if (size > m_capacity - m_fill)
        return drop(size, last, "exceeds the limit");
    if (!make_room(m_fill + size))
        return drop(size, last, "finds no memory");
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
