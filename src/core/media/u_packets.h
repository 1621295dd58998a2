#pragma once

#include "protocol/message_types.h"
#include "tools/socket/mt_queue.h"

#include <cstdint>

// Builders of the messages the viewer sends on the virtual media channel. Each returns a
// queue record that owns its complete frame (never ciphered: both length fields agree).
// Bodies (big-endian numbers):
//   mapOrUnmap   07 unit flags count:u32            flags 00 unmap, 01 map, 81 read-only map
//   pak_ask      08 unit zero
//   pak_readData 09 unit start:u32 index:u16 data[512]
//   pak10        0A unit index:u16                  asks for the data of one written sector
// Pure apart from the clock read by make_u_pak10's label; callable from any thread.

inline constexpr std::uint8_t kUMapFlagMap = 0x01;
inline constexpr std::uint8_t kUMapFlagReadOnly = 0x80;

inline constexpr std::uint32_t kUSectorSize = 512;

// Label "notU", last-of-batch false.
CQUEUE_MESSAGE make_u_map_pak(std::uint8_t unit, std::uint8_t flags, std::uint32_t sectorCount);
// Label "noUse", last-of-batch false.
CQUEUE_MESSAGE make_u_ask_pak(std::uint8_t unit, std::uint8_t zero);
// Label "noUse"; `last` marks the final sector of a read instruction. dataLength bytes are
// copied (callers pass 512); more than 512 is cut to 512, fewer are padded with zeros, so
// the body is always 520 bytes.
CQUEUE_MESSAGE make_u_read_data_pak(std::uint8_t unit, std::uint32_t start, std::uint16_t index,
                                    const std::uint8_t *data, std::uint32_t dataLength, bool last);
// Label "pak10_" + local time "ss_zzz"; `last` marks the final sector of a write instruction.
CQUEUE_MESSAGE make_u_pak10(std::uint8_t unit, std::uint16_t index, bool last);

// Body type of a queued media frame (byte 11), 0 when the frame is too short to hold one.
std::uint8_t u_frame_type(const CQUEUE_MESSAGE &message);
