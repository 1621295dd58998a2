#pragma once

#include <QMutex>
#include <QWaitCondition>

// What a send thread sleeps on while its queue is empty. Producers need not touch it: the
// send thread registers a queue callback that wakes it on every append.
struct c_wait_object {
    QMutex mutex;
    QWaitCondition cond;

    // Wakes every thread sleeping on the object. Any thread.
    void wake_all()
    {
        QMutexLocker lock(&mutex);
        cond.wakeAll();
    }
};
