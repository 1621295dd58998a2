#pragma once

#include "c_screen_state.h"

#include <QByteArray>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

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

// The remote screen's stream: at the frame rate it renders the screen state and encodes it
// as H.264, then hands the picture to the device's event loop by the queued signal
// signal_picture. It never waits on the event loop: when pictures pile up undelivered it
// leaves ticks out instead of queueing more (skipping an encode never breaks the stream).
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
    // The event loop calls this once per signal_picture it has handled.
    void picture_done() { m_pending.fetch_sub(1); }
    // Figures since the previous call. Any thread.
    stream_stats take_stats();
    // False when the encoder could not be opened (run() ended at once).
    bool encoder_ok() const { return m_encoderOk.load(); }

signals:
    // One encoded picture (Annex B), on the device's event loop through a queued connection.
    void signal_picture(QByteArray picture, bool keyFrame, quint64 number);

protected:
    void run() override;

private:
    bool wait_until(std::chrono::steady_clock::time_point deadline);

    const config m_config;
    c_screen_state &m_state;
    std::atomic<bool> m_running{true};
    std::atomic<bool> m_keyWanted{false};
    std::atomic<int> m_pending{0};
    std::atomic<int> m_viewers{0};
    std::atomic<bool> m_encoderOk{true};
    std::mutex m_wakeLock;
    std::condition_variable m_wake;
    std::mutex m_statsLock;
    stream_stats m_stats;
};
