#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Turns one encoded picture into the type-6 frames of the video channel, for one viewer
// (video head, then data). A picture longer than the fragment size goes out as several
// frames (last = 0 ... 1). Every Nth frame of the connection has its head enciphered with
// the device's send key ("desEncode").
// One instance per video connection; one thread (the device's event loop).
class c_video_framer {
public:
    // fragmentSize: most data bytes per frame (0 = never split); cipherEvery: cipher the
    // head of every Nth frame (0 = never; 1 = all).
    c_video_framer(std::size_t fragmentSize, unsigned cipherEvery, const std::uint8_t key[8]);

    // Appends the frames of one picture to `out` (which the caller clears and reuses).
    void append_picture(const std::uint8_t *data, std::size_t length, std::vector<std::uint8_t> &out);

    std::uint64_t frames_sent() const { return m_frames; }

private:
    void append_frame(const std::uint8_t *data, std::size_t length, bool last,
                      std::vector<std::uint8_t> &out);

    std::size_t m_fragment;
    unsigned m_cipherEvery;
    std::uint8_t m_key[8];
    std::uint64_t m_frames = 0;
};
