#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

// One decoded picture: width x height pixels of 32-bit RGB (bytes B, G, R, A; the
// QImage::Format_RGB32 layout), rows `stride` bytes apart (picture_layout). The pixel buffer is shared: it
// goes back to its pool when the last copy of the picture (or of a QImage made over it) is
// gone, on whatever thread that happens.
struct video_picture {
    std::shared_ptr<std::uint8_t> pixels;
    int width = 0;
    int height = 0;
    int stride = 0;

    bool empty() const { return !pixels || width <= 0 || height <= 0; }
    const std::uint8_t *data() const { return pixels.get(); }
};

// Frame-sized pixel buffers for decoded pictures, reused instead of allocated per picture
// (the first touch of fresh pages costs milliseconds per 1080p picture).
//
// A buffer is handed out only while nobody else holds it: acquire() takes it off the free
// list, and it returns there only when the last holder drops it. So the decoder writes
// only into buffers that no consumer can still be reading. The pool state outlives the pool
// object while pictures are out. When consumers hold more pictures than the pool keeps,
// acquire() allocates more; surplus buffers are freed as they come back.
//
// acquire() is called by one thread (the video receive thread); pictures may be released on
// any thread.
class c_picture_pool {
public:
    // `keep`: free buffers kept for reuse.
    explicit c_picture_pool(std::size_t keep = 4);
    ~c_picture_pool();
    c_picture_pool(const c_picture_pool &) = delete;
    c_picture_pool &operator=(const c_picture_pool &) = delete;

    // A picture of width x height in a buffer of picture_layout::of(width, height).bytes
    // that nobody else holds; its content is whatever the buffer held before. An empty
    // picture (logged) when the size is not positive or memory is exhausted.
    video_picture acquire(int width, int height);

    // Buffers allocated so far (for tests and statistics).
    std::uint64_t buffers_allocated() const;

    struct state; // shared with the buffers that are out

private:
    std::shared_ptr<state> m_state;
};
