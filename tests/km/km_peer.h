#pragma once

#include "protocol/c_net_syncer.h" // the syncer whose frames the peer reads, for its users

#include <array>
#include <cstdint>
#include <vector>

// The device end of a keyboard/mouse channel on 127.0.0.1, for tests and the input
// benchmark: accepts one connection, sends device messages (ciphered under the inbound key,
// or plain) and reads the viewer's frames back as plain bodies. Blocking, so a thread of its
// own may play the device; every wait is bounded.
class km_peer {
public:
    using key_type = std::array<std::uint8_t, 8>;
    using bytes = std::vector<std::uint8_t>;
    static constexpr int kWaitMs = 5000;

    km_peer(const key_type &inboundKey, const key_type &outboundKey);
    ~km_peer();

    std::uint16_t port() const { return m_port; }
    bool accept_client();
    // One device message, body [type, ...]; `badChecksum` spoils the checksum byte.
    bytes frame_of(const bytes &body, bool cipher = true, bool badChecksum = false) const;
    bool send_raw(const bytes &wire);
    bool send(const bytes &body, bool cipher = true) { return send_raw(frame_of(body, cipher)); }
    // The next frame from the viewer (zero fill between frames skipped) as its plain body;
    // false on timeout, close or a bad checksum.
    bool read_frame(bytes &body);
    void close_client();

private:
    bool read_exact(std::uint8_t *out, std::size_t length);

    key_type m_inboundKey;
    key_type m_outboundKey;
    int m_listen = -1;
    int m_client = -1;
    std::uint16_t m_port = 0;
};
