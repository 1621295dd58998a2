#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

// An auto-reset event, initially not signalled: set() wakes one wait(), which consumes it.
// Any thread may call any operation.
class Win32Event {
public:
    void set()
    {
        {
            std::lock_guard lock(m_mutex);
            m_signalled = true;
        }
        m_cond.notify_one();
    }

    void reset()
    {
        std::lock_guard lock(m_mutex);
        m_signalled = false;
    }

    // True when the event was signalled within timeoutMs; the signal is consumed.
    bool wait(int timeoutMs)
    {
        std::unique_lock lock(m_mutex);
        if (timeoutMs <= 0)
            return std::exchange(m_signalled, false);
        const bool signalled = m_cond.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                               [this] { return m_signalled; });
        m_signalled = false;
        return signalled;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_signalled = false;
};
