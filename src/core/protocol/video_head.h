#pragma once

#include <cstdint>

// The head of a video body (message type 6), 12 bytes:
//   [0] type 6, [1] last (1: this fragment completes a picture), [2..7] reserved (zero),
//   [8..11] data length (u32 BE); then data-length bytes of H.264.
// A frame may carry its head enciphered: the 12 bytes, padded to 16, enciphered in front of
// the plain data, so its wire length is 4 more than its plain length.
// Pure functions; any thread.

inline constexpr std::uint32_t kVideoHeadSize = 12;
inline constexpr std::uint32_t kVideoCipheredHeadSize = 16;
inline constexpr std::uint32_t kVideoDataLengthOffset = 8;

// Writes the 12 head bytes to `head`.
void write_video_head(std::uint8_t *head, bool last, std::uint32_t dataLength);
// The data length of a body of at least kVideoHeadSize bytes.
std::uint32_t video_data_length(const std::uint8_t *body);
bool video_fragment_is_last(const std::uint8_t *body);
// A body whose length is exactly its head plus the data length the head gives.
bool video_body_consistent(const std::uint8_t *body, std::uint32_t length);

// Enciphers a 12-byte head into the 16 bytes at `out`.
void encipher_video_head(const std::uint8_t key[8], const std::uint8_t *head, std::uint8_t *out);
// Deciphers the 16 ciphered bytes at the start of a body of `length` bytes and writes the
// plain head just in front of the data: the plain body starts at body + 4 and is 4 bytes
// shorter. False, with nothing changed, when the body is shorter than 16 bytes or the head
// does not decipher to type 6 (a wrong key or no video frame).
bool decipher_video_head(const std::uint8_t key[8], std::uint8_t *body, std::uint32_t length);
