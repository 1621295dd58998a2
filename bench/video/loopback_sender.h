#pragma once

#include "tools/disk/rw_disk/unique_fd.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

// The device side of the video benchmark: listens on 127.0.0.1, accepts the viewer's video
// connection and writes pre-framed pictures to it from its own thread, paced at a picture
// rate or as fast as the socket takes them. Every wait is bounded (accept 5 s, each write
// 5 s); a stalled viewer ends the run with ok() false.
class loopback_sender {
public:
    using clock = std::chrono::steady_clock;

    // Listens on a port the system picks (port() is 0 on failure).
    loopback_sender();
    ~loopback_sender();
    loopback_sender(const loopback_sender &) = delete;
    loopback_sender &operator=(const loopback_sender &) = delete;

    std::uint16_t port() const { return m_port; }

    // Starts the thread: accept, then write wire[i % wire.size()] for i < count, picture i
    // at start + i / fps (fps 0: no pacing). `wire` must outlive join().
    void start(const std::vector<std::vector<std::uint8_t>> &wire, int count, int fps);
    // Waits for the thread; the connection stays open until close().
    void join();
    void close();

    bool done() const { return m_done.load(); }
    bool ok() const { return m_ok; }
    clock::time_point started() const { return m_started; }
    // CPU time of the sender thread (its own clock), kernel time of the writes included.
    double cpu_seconds() const { return m_cpuSeconds; }

private:
    void run(const std::vector<std::vector<std::uint8_t>> &wire, int count, int fps);

    unique_fd m_listener;
    unique_fd m_connection;
    std::uint16_t m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_done{false};
    bool m_ok = false;
    clock::time_point m_started;
    double m_cpuSeconds = 0;
};
