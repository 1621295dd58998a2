#pragma once

#include "protocol/message_types.h"

#include <cstdint>
#include <vector>

// The device's write privilege among the keyboard/mouse sessions of several viewers.
// Viewers are identified by their keyboard/mouse connection number (> 0). Each operation
// returns the messages [type, value] the device sends, to whom, in order. Pure logic, one
// thread (the device's event loop).
//
//   query (23)        -> 23 value 1 to the holder (the first viewer to ask becomes it),
//                        23 value 0 to everybody else
//   request (20)      -> free privilege: 22 value 0 (granted at once)
//                        held by another: 20 value 1 to the requester, 21 value 0 to the holder
//                        another request pending: 20 value 2 (busy, ask again later)
//   holder answer (21) value 0 -> 22 value 0 to the requester, 23 value 0 to the old holder
//                      value 1 -> 22 value 1, then 20 value 0 to the requester
//   disconnect        -> a holder frees the privilege; a pending requester then gets it
class c_privilege_arbiter {
public:
    static constexpr std::uint8_t kRequest = kKmControlRequest;
    static constexpr std::uint8_t kAsk = kKmPrivilegeAnswerAsk;
    static constexpr std::uint8_t kGrab = kKmPrivilegeAnswerGrab;
    static constexpr std::uint8_t kState = kKmPrivilegeQuery;

    static constexpr std::uint8_t kRequestRefused = 0; // 20: you may ask again
    static constexpr std::uint8_t kRequestForwarded = 1;
    static constexpr std::uint8_t kRequestBusy = 2;

    struct message {
        int viewer;
        std::uint8_t type;
        std::uint8_t value;
        bool operator==(const message &) const = default;
    };

    std::vector<message> on_query(int viewer);
    std::vector<message> on_request(int viewer);
    std::vector<message> on_answer(int viewer, std::uint8_t value);
    std::vector<message> on_disconnect(int viewer);

    int holder() const { return m_holder; }       // 0: nobody
    int requester() const { return m_requester; } // 0: no request pending
    bool may_write(int viewer) const { return viewer != 0 && viewer == m_holder; }

private:
    int m_holder = 0;
    int m_requester = 0;
};
