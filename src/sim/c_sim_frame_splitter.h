#pragma once

#include "protocol/frame.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

// The device's receive side of one channel connection: bytes arrive in pieces from the
// event loop; whole frames come out. It hunts the 0xA5 magic (skipping garbage and the zero
// fill after keyboard/mouse frames), checks the version byte, bounds the wire length,
// verifies the checksum and deciphers ciphered bodies with the device's receive key
// ("desDecode"). One thread (the connection's event loop).
class c_sim_frame_splitter {
public:
    enum class status {
        need_more,    // no whole frame buffered
        frame,        // body() holds a frame's plain body (type byte first)
        bad_checksum, // a frame was dropped
        bad_cipher,   // a ciphered frame was dropped: length not a multiple of 8, or plain
                      // length not within the last block
        too_long,     // the wire length is over the limit: the stream cannot be trusted
    };

    // maxWireLength bounds one body; key is the 8-byte key ciphered bodies are read with.
    c_sim_frame_splitter(std::uint32_t maxWireLength, const std::uint8_t key[8]);

    void feed(const std::uint8_t *bytes, std::size_t count);
    // Cuts the next frame. After too_long the splitter stays in that state.
    status next();

    const std::vector<std::uint8_t> &body() const { return m_body; }
    const frame_header &header() const { return m_header; }
    bool was_ciphered() const { return m_ciphered; }
    // Bytes skipped while hunting for a frame start since the last call (for the log).
    std::size_t take_skipped() { return std::exchange(m_skipped, 0); }
    std::size_t buffered() const { return m_buffer.size() - m_offset; }

private:
    bool hunt();
    status take_body(const std::uint8_t *wire);
    void compact();

    std::uint32_t m_maxWire;
    std::uint8_t m_key[8];
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_offset = 0;
    std::size_t m_skipped = 0;
    bool m_broken = false;
    frame_header m_header;
    std::vector<std::uint8_t> m_body;
    bool m_ciphered = false;
};
