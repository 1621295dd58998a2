#include "video/c_picture_pool.h"

#include "logging/log.h"
#include "video/ffmpeg_ptr.h"

#include <mutex>
#include <vector>

struct c_picture_pool::state {
    std::mutex lock;
    std::vector<av_buffer_ptr> free; // buffers of `bufferBytes` bytes nobody holds
    std::size_t bufferBytes = 0;
    std::size_t keep = 0;
    std::atomic<std::uint64_t> allocated{0};

    // Any thread: a buffer came back from its last holder.
    void give_back(std::uint8_t *bytes, std::size_t size)
    {
        av_buffer_ptr owned(bytes);
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
    if (width <= 0 || height <= 0) {
        TLOG_ERROR << "c_picture_pool: no picture of " << width << "x" << height;
        return picture;
    }
    const std::size_t bytes = std::size_t(width) * std::size_t(height) * 4;
    av_buffer_ptr buffer;
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
        buffer.reset(static_cast<std::uint8_t *>(av_malloc(bytes)));
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
    picture.stride = width * 4;
    return picture;
}
