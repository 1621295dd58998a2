#pragma once

#include "protocol/c_net_syncer.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

// The device end of a keyboard/mouse channel on 127.0.0.1, for tests: accepts one
// connection, sends device messages (ciphered under the inbound key, or plain) and reads the
// viewer's frames back as plain bodies. Every wait is bounded.
class km_peer {
public:
    using key_type = std::array<std::uint8_t, 8>;
    static constexpr int kWaitMs = 5000;

    km_peer(const key_type &inboundKey, const key_type &outboundKey);
    ~km_peer();

    std::uint16_t port() const { return m_port; }
    // Waits for the viewer to connect.
    bool accept_client();

    // One device message: body [type, ...]; ciphered bodies carry the plain length in the
    // header. `badChecksum` spoils the checksum byte. Several may go in one write (raw).
    std::vector<std::uint8_t> frame_of(const std::vector<std::uint8_t> &body, bool cipher,
                                       bool badChecksum = false) const;
    bool send_raw(const std::vector<std::uint8_t> &bytes);
    bool send(const std::vector<std::uint8_t> &body, bool cipher = true)
    {
        return send_raw(frame_of(body, cipher));
    }

    // The next frame from the viewer (zero fill between frames skipped): its plain body,
    // and its size on the wire. False on timeout or close.
    bool read_frame(std::vector<std::uint8_t> &body, std::size_t *wireSize = nullptr);
    void close_client();

private:
    bool read_exact(std::uint8_t *out, std::size_t length);

    key_type m_inboundKey;
    key_type m_outboundKey;
    int m_listen = -1;
    int m_client = -1;
    std::uint16_t m_port = 0;
};

// A syncer for tests: answer waits end at once (or after a set time), and the outgoing list
// can be read back through a peer.
class test_syncer : public c_net_syncer {
public:
    std::atomic<int> answerWaitMs{0};
    std::atomic<int> answersSeen{0};

protected:
    bool wait_for_answer(int) override;
};

// Sends every queued frame to `peer` and returns their plain bodies in order.
std::vector<std::vector<std::uint8_t>> drain(test_syncer &syncer, km_peer &peer);

std::string hex(const std::vector<std::uint8_t> &bytes);
