#pragma once

#include "c_sim_options.h"
#include "protocol/frame.h"

#include <QTcpSocket>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

// Options for a device on free ports with a small, slow screen (cheap for the tests) and
// fixed keys.
c_sim_options test_sim_options();

// The fixed keys of test_sim_options(): the device sends with kSendKey and receives with
// kReceiveKey.
extern const std::uint8_t kSendKey[8];
extern const std::uint8_t kReceiveKey[8];

// One frame as a viewer's receive loop delivers it.
struct received_frame {
    frame_header header;
    std::vector<std::uint8_t> body; // deciphered where the channel deciphers
    bool headCiphered = false;      // video: the head was ciphered on the wire
};

// A blocking client on one channel, written as a viewer's receive side reads: it hunts the
// 0xA5, reads the header and wire-length body, verifies the checksum and deciphers (km: the
// whole body; video: the 16-byte head, delivering from byte 4). Every wait is bounded.
// Used on the test thread only.
class sim_client {
public:
    enum class channel { km, video, media };

    explicit sim_client(channel kind, const std::uint8_t inboundKey[8] = kSendKey);
    bool connect_to(std::uint16_t port, int timeoutMs = 2000);

    void send_raw(const std::vector<std::uint8_t> &bytes);
    // A plain frame with this body.
    void send_body(const std::vector<std::uint8_t> &body);
    // A keyboard/mouse frame built as the viewer builds it (ciphered under kReceiveKey
    // unless `key` says otherwise).
    void send_km(std::uint8_t type, const std::vector<std::uint8_t> &payload,
                 const std::uint8_t key[8] = kReceiveKey);
    void send_login(std::uint32_t userID = 7);

    // The next frame within timeoutMs; false on timeout or close.
    bool next(received_frame &out, int timeoutMs = 3000);
    // The next frame of this type (others are skipped); false on timeout or close.
    bool next_of_type(std::uint8_t type, received_frame &out, int timeoutMs = 3000);
    // Nothing but frames of other types arrives within timeoutMs.
    bool quiet_of_type(std::uint8_t type, int timeoutMs);
    // The device closed the connection within timeoutMs.
    bool closed_by_peer(int timeoutMs = 3000);
    void close();

    std::uint64_t bad_checksums() const { return m_badChecksums; }
    QTcpSocket &socket() { return *m_socket; }

private:
    bool read_exact(std::uint8_t *out, std::size_t count, int timeoutMs);

    channel m_kind;
    std::uint8_t m_key[8];
    std::unique_ptr<QTcpSocket> m_socket;
    std::uint64_t m_badChecksums = 0;
};

// The keyboard report for a set of usages with modifier bits.
std::vector<std::uint8_t> key_report(std::uint8_t modifiers, std::initializer_list<std::uint8_t> keys);
