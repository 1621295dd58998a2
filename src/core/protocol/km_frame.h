#pragma once

#include "protocol/message_types.h"

#include <cstdint>
#include <vector>

// Frames of the keyboard/mouse channel, client to device. Pure functions; any thread.
//
// Layout: 0xA5, 0x01, checksum, plain length (1 + payload, BE), wire length (BE), body.
// The body [type][payload] is DES-enciphered (set B, padded to whole blocks) under the
// outbound key for every type except the login (50), which travels plain. A body that is
// already a whole number of blocks also travels plain: enciphered it would keep its length,
// and a receiver takes equal plain and wire lengths to mean a plain body. The checksum is
// the 8-bit sum of every byte from offset 11 to the end of the frame. When the plain body is
// already a whole number of blocks the frame ends with 8 zero bytes after the body; the
// device skips them while it hunts for the next 0xA5.

// Longest payload accepted; the channel's messages carry at most a few bytes.
constexpr std::uint32_t kKmMaxPayload = 4096;

// Frame buffer size for a payload of n bytes: 12 + n for the login, else
// 20 + n - ((n + 1) mod 8).
std::uint32_t km_frame_size(std::uint8_t type, std::uint32_t payloadLength);

// Builds the frame into `frame` (resized). False, with `frame` emptied and an error logged,
// when the payload is too long, the key is missing (every type but 50 needs it) or the enciphered body fails its decipher check three times.
bool build_km_frame(const std::uint8_t outboundKey[8], std::uint8_t type,
                    const std::uint8_t *payload, std::uint32_t payloadLength,
                    std::vector<std::uint8_t> &frame);

// The login: type 50 with the user identifier big-endian, plain.
std::vector<std::uint8_t> build_km_login_frame(std::uint32_t userID);

// A frame whose payload is the single byte 0x00 (keep-alive 11, privilege query 23, grab
// acknowledgement 22, ...). Empty when building failed.
std::vector<std::uint8_t> build_km_byte_frame(const std::uint8_t outboundKey[8],
                                              std::uint8_t type);
