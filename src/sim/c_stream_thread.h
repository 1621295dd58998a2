#pragma once

#include "c_screen_state.h"

#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

// Encoding figures since the last take_stats().
struct stream_stats {
    std::uint64_t pictures = 0;
    std::uint64_t keyFrames = 0;
    std::uint64_t skipped = 0; // ticks without a picture (behind, or the loop not keeping up)
    std::uint64_t bytes = 0;
    double renderMsTotal = 0;
    double encodeMsTotal = 0;
    double encodeMsMax = 0;
    double cpuMsTotal = 0; // this thread's CPU time for rendering and encoding (wall time
                           // above also counts waiting for a core on a busy machine)
    double keyMsTotal = 0;
};

// One encoded picture (Annex B bytes).
struct encoded_picture {
    std::vector<std::uint8_t> bytes;
    bool keyFrame = false;
    std::uint64_t number = 0;
};

// The remote screen's stream: at the frame rate it renders the screen state and encodes it
// as H.264, queues the picture and makes ready_fd() readable (an eventfd: the event loop
// watches it with a socket notifier, and no Qt event crosses between the threads). It never
// waits on the event loop: when pictures pile up untaken it leaves ticks out instead of
// queueing more (skipping an encode never breaks the stream). Picture buffers go round
// between the thread and the taker and are reused.
class c_stream_thread : public QThread {
    Q_OBJECT
public:
    struct config {
        int width = 1920;
        int height = 1080;
        int fps = 30;
        int gopSeconds = 2;
        int threads = 1;
    };

    // `state` must outlive the thread.
    c_stream_thread(const config &settings, c_screen_state &state, QObject *parent = nullptr);
    // Stops and waits for the thread.
    ~c_stream_thread() override;

    // Ends run() within one picture's work and waits for it. Any thread but this one.
    void stop();
    // Next picture is a key frame. Any thread.
    void request_key_frame() { m_keyWanted.store(true); }
    // Logged-in video viewers; with none the thread renders and encodes nothing. Any thread.
    void set_viewers(int count) { m_viewers.store(count); }
    // Readable while pictures are queued; take them all with take_picture, which also
    // drains the descriptor.
    int ready_fd() const { return m_readyFd; }
    // Takes the oldest queued picture into `out`; `out`'s previous buffer goes back to the
    // thread for reuse. False when none is queued. Any thread.
    bool take_picture(encoded_picture &out);
    // Figures since the previous call. Any thread.
    stream_stats take_stats();
    // False when the encoder could not be opened (run() ended at once).
    bool encoder_ok() const { return m_encoderOk.load(); }

protected:
    void run() override;

private:
    bool wait_until(std::chrono::steady_clock::time_point deadline);
    bool queue_full();
    void queue_picture(std::vector<std::uint8_t> &bytes, bool keyFrame, std::uint64_t number);

    const config m_config;
    c_screen_state &m_state;
    std::atomic<bool> m_running{true};
    std::atomic<bool> m_keyWanted{false};
    std::atomic<int> m_viewers{0};
    std::atomic<bool> m_encoderOk{true};
    std::mutex m_wakeLock;
    std::condition_variable m_wake;
    int m_readyFd = -1;
    std::mutex m_queueLock;
    std::deque<encoded_picture> m_ready;
    std::vector<std::vector<std::uint8_t>> m_spare;
    std::mutex m_statsLock;
    stream_stats m_stats;
};
