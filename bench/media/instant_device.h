#pragma once

#include "tools/disk/rw_disk/unique_fd.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// What an instant_device asks of the viewer: `instructions` reads or writes of `count`
// sectors each, at seeded random places, every answer leaving `delay` after the frame it
// answers arrived (the round trip a real link adds; 0 for bare loopback).
struct instant_work {
    enum class kind { reads, writes };
    kind work = kind::reads;
    int instructions = 0;
    std::uint16_t count = 8;
    std::chrono::microseconds delay{0};
    unsigned seed = 11;
};

// A media master on 127.0.0.1 that answers every frame on its own thread, from a plain
// blocking socket, after the work's delay. Each pak_ask gets the next instruction while any
// are left, then nothing to do. Reads are served by acknowledging each pak_readData; writes
// by answering each pak10 with the sector's data (its number in every 4 bytes). It times,
// on its own clock, the whole work and, for reads, each instruction leaving and the first
// pak_readData of that instruction arriving.
class instant_device {
public:
    explicit instant_device(const instant_work &work);
    // Ends the thread once the viewer has closed the connection (or within the 5 s receive
    // time-out): destroy the viewer's session first.
    ~instant_device();
    instant_device(const instant_device &) = delete;
    instant_device &operator=(const instant_device &) = delete;

    std::uint16_t port() const { return m_port; }
    // True once every instruction was served and a nothing-to-do answer went out (bounded
    // wait).
    bool wait_done(int timeoutMs) const;
    // After wait_done: seconds from the pak_ask that got the first instruction arriving to
    // the pak_ask after the last one arriving, and the sectors served in that time
    // (pak_readData acknowledged or pak10 answered, repeats included).
    double work_seconds() const;
    std::uint32_t sectors_served() const { return m_served.load(); }
    // Read instruction sent -> its first pak_readData received, one figure per instruction.
    std::vector<double> latencies_us() const;

private:
    using steady = std::chrono::steady_clock;

    void run();
    bool answer(int fd, const std::vector<std::uint8_t> &frame, steady::time_point arrival);
    std::vector<std::uint8_t> instruction(steady::time_point arrival);
    std::vector<std::uint8_t> sector_data(const std::uint8_t *body, std::size_t length);
    void note_read_data(const std::uint8_t *body, std::size_t length, steady::time_point arrival);
    void finish(steady::time_point arrival);

    const instant_work m_work;
    std::uint16_t m_port = 0; // set by m_listener's initialiser
    unique_fd m_listener;
    int m_left;                   // instructions still to give; device thread only
    std::uint32_t m_sectors = 0;  // of the mapped disk; device thread only
    std::uint32_t m_start = 0;    // of the instruction in progress; device thread only
    unsigned m_seed;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    mutable std::mutex m_doneLock; // with m_doneSignal: wait_done sleeps instead of polling
    mutable std::condition_variable m_doneSignal;
    std::atomic<std::uint32_t> m_served{0};
    steady::time_point m_first; // device thread until m_done, then read-only
    steady::time_point m_last;
    steady::time_point m_sent;  // device thread only
    bool m_waitingFirst = false; // device thread only
    mutable std::mutex m_lock;
    std::vector<double> m_latencies;
    std::thread m_thread;
};
