#pragma once

#include "km_peer.h"
#include "log_capture.h"
#include "protocol/c_net_syncer.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// Shared by the keyboard/mouse tests. A QApplication (offscreen unless the environment
// names another platform) exists for the whole test program.

using bytes = km_peer::bytes;
using key_type = km_peer::key_type;
using strings = std::vector<std::string>;

// A syncer for tests: answer waits end at once (or after a set time).
class test_syncer : public c_net_syncer {
public:
    std::atomic<int> answerWaitMs{0};
    std::atomic<int> answersSeen{0};

protected:
    bool wait_for_answer(int) override;
};

std::string hex(const bytes &body);
// Sends every queued frame to `peer` and returns their plain bodies in hex, in order.
std::vector<std::string> drain(test_syncer &syncer, km_peer &peer);
