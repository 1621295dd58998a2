#pragma once

#include <cstdint>

class c_socket_thread;

// Receives the complete frames a receive thread cuts out of its channel's byte stream.
// Called on that receive thread, one frame at a time per channel.
class c_abs_net_handler {
public:
    enum Result : std::uint8_t { kHandled = 0, kRefused = 3, kResend = 5 };

    virtual ~c_abs_net_handler() = default;

    // body: the frame body, type byte first (deciphered where the channel deciphers);
    // lengthField: the header's plain-length field exactly as received (big-endian bytes,
    // not converted); bodyLength: bytes of body delivered.
    virtual std::uint8_t HandleMsg(c_socket_thread *sender, const std::uint8_t *body,
                                   std::uint32_t lengthField, std::uint32_t bodyLength) = 0;
};
