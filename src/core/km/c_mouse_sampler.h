#pragma once

#include <QBasicTimer>
#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>

// The mouse sample timer: movement is not sent per event but once per tick, every
// 1000 / rate ms (the process-wide rate, mouse_rate.h). A rate change takes effect at the
// next tick, which restarts the timer with the new interval. Lives on the main thread;
// start/stop/tick there only. mark_moved() and take_moved() may be called from any thread.
class c_mouse_sampler : public QObject {
    Q_OBJECT
public:
    // `onTick` runs on every tick, before a pending restart.
    explicit c_mouse_sampler(std::function<void()> onTick, QObject *parent = nullptr);

    // Starts (or restarts) the timer at the current rate's interval.
    void start();
    void stop();
    bool is_active() const { return m_timer.isActive(); }
    // The interval the timer runs at (0 when stopped).
    int interval_ms() const { return m_timer.isActive() ? m_intervalMs : 0; }

    // A mouse move event happened since the last tick.
    void mark_moved() { m_moved.store(1); }
    // Returns and clears the moved flag.
    bool take_moved() { return m_moved.exchange(0) != 0; }
    void clear_moved() { m_moved.store(0); }

    // One tick as the timer runs it: onTick, then restart when the rate changed.
    void tick();

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    std::function<void()> m_onTick;
    QBasicTimer m_timer;
    int m_intervalMs = 0;
    std::uint32_t m_generation = 0;
    std::atomic<std::int32_t> m_moved{0};
};
