#pragma once

#include <cstdint>
#include <memory>

// Puts the fragments of one encoded picture back together.
//
// A fragment that completes a picture while nothing is held is the picture itself: it is
// passed on without a copy. Otherwise fragments are appended to the buffer, and the picture
// is complete with the fragment whose last flag is 1.
//
// The buffer grows with the pictures it is given, up to `capacity` bytes, and keeps its size
// for the pictures that follow: a stream of small pictures never holds the whole capacity.
// Key frames of a detailed 2160p desktop run well past a megabyte.
//
// A picture that does not fit the buffer is dropped whole: the part held is discarded, one
// error line is logged, and the picture's remaining fragments are skipped up to and
// including its last one, so no tail of it is decoded as a picture of its own.
//
// Used by one thread (the video receive thread).
class FrameAssembler {
public:
    static constexpr std::uint32_t kDefaultCapacity = 16u << 20;
    static constexpr std::uint32_t kFirstAllocation = 512u << 10;

    enum class status {
        incomplete, // fragment taken (or skipped); no picture yet
        complete,   // `picture` describes a whole picture
        dropped,    // the picture did not fit and was dropped
    };

    struct picture {
        const std::uint8_t *data = nullptr; // valid until the next push() or discard()
        std::uint32_t size = 0;
        bool copied = false; // false: `data` is the fragment's own bytes
    };

    explicit FrameAssembler(std::uint32_t capacity = kDefaultCapacity);

    // Takes one fragment's H.264 bytes; `last` = the fragment completes its picture.
    status push(const std::uint8_t *data, std::uint32_t size, bool last, picture &out);

    // Discards the partial picture held (a fragment of it was refused or lost).
    void discard() { m_fill = 0; }

    // The largest picture taken, and the bytes allocated so far to hold pictures.
    std::uint32_t capacity() const { return m_capacity; }
    std::uint32_t allocated() const { return m_allocated; }
    std::uint32_t fill() const { return m_fill; }
    bool holds_partial() const { return m_fill > 0; }
    bool skipping() const { return m_skipping; }

private:
    // Room for `needed` bytes in all, keeping what is held; false when memory is exhausted.
    bool make_room(std::uint32_t needed);
    status drop(std::uint32_t size, bool last, const char *why);

    std::uint32_t m_capacity;
    std::unique_ptr<std::uint8_t[]> m_buffer;
    std::uint32_t m_allocated = 0;
    std::uint32_t m_fill = 0;
    bool m_skipping = false; // the rest of an oversize picture is being passed over
};
