#pragma once

#include <cstdint>

// Message types: byte 0 of every frame body, per channel. Where a type travels both ways the
// device's answer carries the type of the request it answers.

// Every channel: the login (user identifier, u32 BE) and its acknowledgement.
inline constexpr std::uint8_t kMsgLogin = 50;

// Video channel.
inline constexpr std::uint8_t kMsgLedState = 4;  // device: keyboard LED bits in byte 1
inline constexpr std::uint8_t kMsgVideo = 6;     // device: one fragment of a picture
inline constexpr std::uint8_t kMsgVideoBeginSet = 30;      // acknowledgement only
inline constexpr std::uint8_t kMsgVideoResetPosition = 31; // viewer: target; "endSet" ack
inline constexpr std::uint8_t kMsgVideoSetPosition = 32;   // viewer: target, direction, 1

// Keyboard/mouse channel.
inline constexpr std::uint8_t kKmKeyboard = 3;
inline constexpr std::uint8_t kKmMouseRelative = 5;
inline constexpr std::uint8_t kKmKeepAlive = 11;
inline constexpr std::uint8_t kKmControlRequest = 20;
inline constexpr std::uint8_t kKmPrivilegeAnswerAsk = 21;
inline constexpr std::uint8_t kKmPrivilegeAnswerGrab = 22;
inline constexpr std::uint8_t kKmPrivilegeQuery = 23;
inline constexpr std::uint8_t kKmMouseAbsolute = 44;
inline constexpr std::uint8_t kKmLogin = kMsgLogin;

// Virtual media channel (never ciphered).
inline constexpr std::uint8_t kUTypeMap = 0x07;      // mapOrUnmap
inline constexpr std::uint8_t kUTypeAsk = 0x08;      // pak_ask and the device's instruction
inline constexpr std::uint8_t kUTypeReadData = 0x09; // pak_readData
inline constexpr std::uint8_t kUTypePak10 = 0x0A;    // pak10 and the data it asks for
inline constexpr std::uint8_t kUTypeUserId = kMsgLogin;
