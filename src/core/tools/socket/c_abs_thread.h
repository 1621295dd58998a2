#pragma once

#include <QThread>

#include <atomic>
#include <memory>
#include <utility>

// Base of every worker thread: run() loops while running() is true and checks it at least
// every 100 ms. A stopped thread is never restarted.
class c_abs_thread : public QThread {
    Q_OBJECT
public:
    explicit c_abs_thread(QObject *parent = nullptr);

    // Asks run() to return soon; does not wait for it. Any thread; repeated calls are
    // harmless.
    void stop();
    // True from construction until stop() (or until the thread ends on its own).
    bool running() const { return m_running.load(); }
    // QThread::wait, plus a memory barrier against everything run() did, so the caller
    // may destroy what run() used. True when the thread has ended (or never started).
    bool wait_ended(int timeoutMs);

protected:
    // Called by stop() on the stopping thread, after the flag is cleared: lets a run()
    // that sleeps on a wait object wake at once.
    virtual void wake() {}
    // For run() when it ends on its own (the peer closed the connection).
    void clear_running() { m_running.store(false); }

private:
    std::atomic<bool> m_running{true};
    std::atomic<bool> m_ended{false}; // set on the thread itself once run() has returned
};

// Deleter for threads held by shared pointers. A thread that has ended (or never started)
// is deleted at once. One that still runs is asked to stop and deleted by a helper as soon
// as it ends, because destroying a running QThread aborts the process; the releasing
// thread does not wait.
struct thread_deleter {
    void operator()(c_abs_thread *thread) const;
};

// Creates a thread object owned through thread_deleter.
template <typename T, typename... Args>
std::shared_ptr<T> make_thread(Args &&...args)
{
    return std::shared_ptr<T>(new T(std::forward<Args>(args)...), thread_deleter{});
}
