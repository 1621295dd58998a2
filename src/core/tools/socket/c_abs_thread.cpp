#include "tools/socket/c_abs_thread.h"

#include "logging/log.h"

#include <QDeadlineTimer>

#include <thread>

c_abs_thread::c_abs_thread(QObject *parent) : QThread(parent)
{
    // QThread::wait synchronises inside Qt, where the thread sanitizer cannot see it; this
    // flag, set on the ending thread after run(), gives the waiting side a visible edge.
    connect(this, &QThread::finished, this,
            [this] { m_ended.store(true, std::memory_order_release); }, Qt::DirectConnection);
}

bool c_abs_thread::wait_ended(int timeoutMs)
{
    if (!wait(QDeadlineTimer(timeoutMs)))
        return false;
    m_ended.load(std::memory_order_acquire);
    return true;
}

void c_abs_thread::stop()
{
    m_running.store(false);
    wake();
}

void thread_deleter::operator()(c_abs_thread *thread) const
{
    if (!thread)
        return;
    if (thread->wait_ended(0)) {
        delete thread;
        return;
    }
    thread->stop();
    TLOG_WARN << "thread " << thread->objectName()
              << " still running when released, deleted once it ends";
    std::thread([thread] {
        thread->wait_ended(-1);
        delete thread;
    }).detach();
}
