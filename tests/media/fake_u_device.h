#pragma once

#include "../socket/test_support.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace media_test {

using socket_test::bytes;
using namespace std::chrono_literals;

// A minimal media master on 127.0.0.1: accepts one viewer connection and answers every
// frame the way the device does, from a script the test sets. It records each frame it
// receives (header and body) with its arrival time.
class fake_u_device {
public:
    struct instruction {
        std::uint8_t mode; // 1 read, 2 write, other: nothing to do
        std::uint32_t start;
        std::uint16_t count;
    };
    struct received {
        bytes frame; // header and body
        std::chrono::steady_clock::time_point when;
        std::uint8_t type() const { return frame.size() > 11 ? frame[11] : 0; }
        bytes body() const { return bytes(frame.begin() + 11, frame.end()); }
    };
    // The 512 bytes the device writes for sector (start + index).
    using write_source = std::function<bytes(std::uint32_t start, std::uint16_t index)>;

    fake_u_device();
    ~fake_u_device();

    std::uint16_t port() const { return m_listener.port(); }

    // Answers to the viewer's pak_ask, in order; with none left: nothing to do.
    void push_instruction(instruction in);
    void set_write_source(write_source source);
    // The next n pak_readData are refused (result 1).
    void refuse_reads(int n);
    // The next n pak10 are answered with start 0xFFFFFFFF.
    void answer_no_data(int n);
    // The next n frames of this type get no answer at all.
    void stay_silent(std::uint8_t type, int n);
    // pak_readData number n (counted from 1) and later are not answered until release_reads.
    void hold_reads_from(int n);
    void release_reads();
    // Sends a frame with this body that answers nothing.
    void send_unsolicited(bytes body);
    // Ends the connection from the device side.
    void close_connection();

    std::vector<received> frames() const;
    std::vector<received> frames_of(std::uint8_t type) const;
    // Waits (bounded) until pred holds for the frames received so far.
    bool wait_for(const std::function<bool(const std::vector<received> &)> &pred,
                  std::chrono::milliseconds timeout = 5000ms) const;
    bool wait_count(std::uint8_t type, std::size_t n,
                    std::chrono::milliseconds timeout = 5000ms) const;

private:
    void run();
    bool read_frame(int fd, bytes &frame);
    void answer(int fd, const bytes &body);
    bytes answer_ask();
    bytes answer_read_data();
    bytes answer_pak10(const bytes &body);

    socket_test::loopback_listener m_listener;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_close{false};
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    std::vector<received> m_frames;
    std::deque<instruction> m_script;
    std::deque<bytes> m_unsolicited;
    write_source m_writeSource;
    std::uint32_t m_writeStart = 0;
    int m_refuseReads = 0;
    int m_noData = 0;
    std::uint8_t m_silentType = 0;
    int m_silentCount = 0;
    int m_holdFrom = 0;
    int m_readsSeen = 0;
    bool m_held = false;
    std::thread m_thread;
};

// Frame bytes of a media body as the device sends it.
bytes device_frame(const bytes &body);
std::uint32_t be32(const bytes &b, std::size_t at);
std::uint16_t be16(const bytes &b, std::size_t at);
bytes random_bytes(std::size_t n, unsigned seed);

} // namespace media_test
