#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

// The frame every device channel carries, both ways:
//   0xA5, 0x01, checksum (8-bit sum of the body as sent), plain length (u32 BE),
//   wire length (u32 BE), then wire-length body bytes; body byte 0 is the message type.
// Plain length != wire length means the body (or its head, on video) is ciphered.

constexpr std::uint8_t kFrameMagic = 0xA5;
constexpr std::uint8_t kFrameVersion = 0x01;
constexpr std::size_t kFrameHeaderSize = 11;

struct frame_header {
    std::uint8_t checksum = 0;
    std::uint32_t plainLength = 0;
    std::uint32_t wireLength = 0;
    // The plain-length field as its four bytes arrived, read as a native u32 (handlers get
    // it unconverted).
    std::uint32_t rawPlainLength = 0;

    bool ciphered() const { return plainLength != wireLength; }
};

// Reads the fields of an 11-byte header (magic and version are not checked here).
frame_header parse_frame_header(const std::uint8_t *header);

// A wholly ciphered body (keyboard/mouse channel; video ciphers only its head) is whole
// 8-byte blocks of which at most the last holds padding, so its plain length falls inside
// the last block. That plain length, or 0 when the header's two lengths cannot describe
// such a body.
std::uint32_t deciphered_length(const frame_header &header);
// Deciphers a wholly ciphered body in place under `key` and sets `length` to its plain
// length from the header (the cipher's own padding strip would also eat trailing zeros of
// the message). False, with nothing changed, when deciphered_length() refuses the header or
// `length` is not the header's wire length.
bool decipher_frame_body(const std::uint8_t key[8], const frame_header &header,
                         std::uint8_t *body, std::uint32_t &length);

std::uint32_t read_be32(const std::uint8_t *p);
std::uint16_t read_be16(const std::uint8_t *p);
void write_be32(std::uint8_t *p, std::uint32_t value);
void write_be16(std::uint8_t *p, std::uint16_t value);

// 8-bit wrap-around sum.
std::uint8_t sum8(const std::uint8_t *bytes, std::size_t count);

// One piece of a body: the builder copies the pieces one after another.
struct frame_field {
    std::uint32_t length;
    const void *data;
};

// Builds header and body into `out` (room for 11 + the fields' total); `outLength` gets the
// frame length. The encipher switch is kept for callers' symmetry; bodies are built plain.
bool build_frame(std::initializer_list<frame_field> fields, std::uint8_t *out,
                 std::uint32_t &outLength, bool encipher = false);
// The same, bounded: false, with nothing written, when the frame would not fit in `capacity`
// bytes.
bool build_frame(std::initializer_list<frame_field> fields, std::uint8_t *out,
                 std::uint32_t capacity, std::uint32_t &outLength);
