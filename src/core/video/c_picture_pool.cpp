#include "video/c_picture_pool.h"

#include "video/picture_layout.h"

#include "logging/log.h"

#include <cstdlib>
#include <mutex>
#include <vector>

#include <sys/mman.h>

namespace {

struct free_deleter {
    void operator()(std::uint8_t *bytes) const { std::free(bytes); }
};
using pixel_buffer = std::unique_ptr<std::uint8_t, free_deleter>;

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kVectorAlignment = 64; // enough for every vector unit the converter uses

// A buffer of at least `bytes` bytes. A frame-sized one starts on a 2 MiB boundary and asks
// for huge pages: the conversion writes, and the display's scaling reads, a whole picture
// per frame, and in 4 KiB pages a 2160p picture spans 8,100 of them; the page-table misses
// cost about a fifth of the conversion at 2160p on these machines. Null when out of memory.
pixel_buffer allocate_pixels(std::size_t bytes)
{
    const std::size_t alignment = bytes >= kHugePage ? kHugePage : kVectorAlignment;
    const std::size_t rounded = (bytes + alignment - 1) / alignment * alignment;
    pixel_buffer buffer(static_cast<std::uint8_t *>(std::aligned_alloc(alignment, rounded)));
    if (buffer && alignment == kHugePage)
        ::madvise(buffer.get(), rounded, MADV_HUGEPAGE); // a hint: ignored where unsupported
    return buffer;
}

} // namespace

struct c_picture_pool::state {
    std::mutex lock;
    std::vector<pixel_buffer> free; // buffers of `bufferBytes` bytes nobody holds
    std::size_t bufferBytes = 0;
    std::size_t keep = 0;
    std::atomic<std::uint64_t> allocated{0};

    // Any thread: a buffer came back from its last holder.
    void give_back(std::uint8_t *bytes, std::size_t size)
    {
        pixel_buffer owned(bytes);
        std::lock_guard<std::mutex> guard(lock);
        if (size == bufferBytes && free.size() < keep)
            free.push_back(std::move(owned));
    }
};

namespace {

// Deleter of a picture's shared buffer: returns it to the pool state it came from.
struct return_to_pool {
    std::shared_ptr<c_picture_pool::state> pool;
    std::size_t size;
    void operator()(std::uint8_t *bytes) const { pool->give_back(bytes, size); }
};

} // namespace

c_picture_pool::c_picture_pool(std::size_t keep) : m_state(std::make_shared<state>())
{
    m_state->keep = keep;
}

c_picture_pool::~c_picture_pool() = default;

std::uint64_t c_picture_pool::buffers_allocated() const
{
    return m_state->allocated.load();
}

video_picture c_picture_pool::acquire(int width, int height)
{
    video_picture picture;
    const picture_layout layout = picture_layout::of(width, height);
    if (layout.bytes == 0) {
        TLOG_ERROR << "c_picture_pool: no picture of " << width << "x" << height;
        return picture;
    }
    const std::size_t bytes = layout.bytes;
    pixel_buffer buffer;
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        if (bytes != m_state->bufferBytes) {
            m_state->free.clear(); // buffers of the old size come back and are freed
            m_state->bufferBytes = bytes;
        }
        if (!m_state->free.empty()) {
            buffer = std::move(m_state->free.back());
            m_state->free.pop_back();
        }
    }
    if (!buffer) {
        buffer = allocate_pixels(bytes);
        if (!buffer) {
            TLOG_ERROR << "c_picture_pool: out of memory for a " << width << "x" << height
                       << " picture";
            return picture;
        }
        m_state->allocated.fetch_add(1);
    }
    // std::shared_ptr's constructor frees the buffer with the deleter should it throw.
    picture.pixels = std::shared_ptr<std::uint8_t>(buffer.release(),
                                                   return_to_pool{m_state, bytes});
    picture.width = width;
    picture.height = height;
    picture.stride = layout.stride;
    return picture;
}
