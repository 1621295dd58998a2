#pragma once

#include "tools/disk/rw_disk/unique_fd.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// A media master on 127.0.0.1 that answers every frame at once on its own thread. Each
// pak_ask gets a read of `count` sectors at a seeded random place while reads are left,
// then nothing to do. It times, on its own clock, each read instruction leaving and the
// first pak_readData of that instruction arriving.
class instant_device {
public:
    instant_device(int reads, std::uint16_t count, unsigned seed);
    // Ends the thread once the viewer has closed the connection (or within the 5 s receive
    // time-out): destroy the viewer's session first.
    ~instant_device();
    instant_device(const instant_device &) = delete;
    instant_device &operator=(const instant_device &) = delete;

    std::uint16_t port() const { return m_port; }
    // True once every read was served and a nothing-to-do answer went out (bounded wait).
    bool wait_done(int timeoutMs) const;
    // Instruction sent -> first pak_readData received, one figure per read instruction.
    std::vector<double> latencies_us() const;

private:
    void run();
    bool answer(int fd, const std::vector<std::uint8_t> &frame);

    const std::uint16_t m_count;
    std::uint16_t m_port = 0; // set by m_listener's initialiser
    unique_fd m_listener;
    int m_readsLeft;
    std::uint32_t m_sectors = 0;
    unsigned m_seed;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::chrono::steady_clock::time_point m_sent; // device thread only
    bool m_waitingFirst = false;                  // device thread only
    mutable std::mutex m_lock;
    std::vector<double> m_latencies;
    std::thread m_thread;
};
