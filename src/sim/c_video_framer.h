#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Turns one encoded picture into the type-6 frames of the video channel, for one viewer:
//   body = [6, last, 6 reserved zero bytes, data length (u32 BE), data]
// A picture longer than the fragment size goes out as several frames (last = 0 ... 1).
// Every Nth frame of the connection has its head ciphered: the first 12 body bytes, padded
// to 16 (0x80, zeros), are enciphered with the device's send key ("desEncode") and replace
// them, so the wire body is 4 bytes longer than the plain length in the header.
// One instance per video connection; one thread (the device's event loop).
class c_video_framer {
public:
    static constexpr std::uint8_t kVideoType = 6;
    static constexpr std::size_t kHeadSize = 12;
    static constexpr std::size_t kCipheredHeadSize = 16;

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
