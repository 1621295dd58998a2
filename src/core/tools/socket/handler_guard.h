#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

class c_abs_net_handler;

// The handler of one worker thread, with an end to its use: after detach() returns, no new
// call to the handler starts, and a call in progress has ended unless the bounded wait ran
// out (then detach() says so). The handler is not owned; its owner may destroy it once
// detach() returned true. Any thread.
class handler_guard {
public:
    explicit handler_guard(c_abs_net_handler *handler = nullptr) : m_handler(handler) {}
    handler_guard(const handler_guard &) = delete;
    handler_guard &operator=(const handler_guard &) = delete;

    // Sets the handler when none is set and the guard was never detached; false otherwise.
    bool attach(c_abs_net_handler *handler);
    bool attached() const;

    // Calls fn(handler) unless detached or unset; false when it was not called.
    template <typename F>
    bool call(F &&fn)
    {
        c_abs_net_handler *handler = enter();
        if (handler == nullptr)
            return false;
        const struct leaver {
            handler_guard *guard;
            ~leaver() { guard->leave(); }
        } scope{this};
        fn(*handler);
        return true;
    }

    // Cuts the handler off and waits up to timeoutMs for a call in progress on another
    // thread (a call on the calling thread itself is not waited for: it is the caller).
    // True when no call is in progress on another thread when it returns.
    bool detach(int timeoutMs);

private:
    c_abs_net_handler *enter();
    void leave();

    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    c_abs_net_handler *m_handler;
    bool m_detached = false;
    int m_calls = 0;          // calls in progress (0 or 1: one thread calls)
    std::thread::id m_caller; // the thread of the call in progress
};
