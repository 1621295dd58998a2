#pragma once

#include <condition_variable>
#include <mutex>

// What a send thread sleeps on while its queue is empty. Producers need not touch it: the
// send thread registers a queue callback that wakes it on every append. An owner that must
// not race the send thread's take of the queue head holds `mutex` (QMutexLocker or
// std::lock_guard both work).
//
// Standard types rather than QWaitCondition: the thread sanitizer cannot see the mutex
// hand-over inside Qt's uninstrumented wait and reports false double locks.
struct c_wait_object {
    std::mutex mutex;
    std::condition_variable cond;

    // Wakes every thread sleeping on the object. Any thread.
    void wake_all()
    {
        std::lock_guard lock(mutex);
        cond.notify_all();
    }
};
