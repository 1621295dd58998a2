#include "tools/socket/c_abs_thread.h"

#include "logging/log.h"

#include <QDeadlineTimer>

#include <thread>

void c_abs_thread::stop()
{
    m_running.store(false);
    wake();
}

void thread_deleter::operator()(c_abs_thread *thread) const
{
    if (!thread)
        return;
    if (thread->wait(QDeadlineTimer(0))) {
        delete thread;
        return;
    }
    thread->stop();
    TLOG_WARN << "thread " << thread->objectName()
              << " still running when released, deleted once it ends";
    std::thread([thread] {
        thread->wait();
        delete thread;
    }).detach();
}
