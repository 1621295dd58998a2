#include "km/c_main_request.h"

#include "logging/log.h"

#include <QThread>

c_main_request::c_main_request(handler_fn handler, QObject *parent)
    : QObject(parent), m_handler(std::move(handler))
{
}

c_main_request::~c_main_request()
{
    shut_down();
}

bool c_main_request::post_main_request(std::int32_t code, std::int32_t value,
                                       const std::function<bool()> &stopRequested)
{
    if (m_shutDown.load())
        return false;
    if (QThread::currentThread() == thread()) {
        if (m_handler)
            m_handler(code, value);
        return true;
    }

    m_code.store(code);
    m_value.store(value);
    m_done.reset();
    const std::uint32_t ticket = m_ticket.fetch_add(1) + 1;
    m_pending.store(1);
    // Queued: runs when the main thread's event loop gets to it, even inside a modal dialog.
    QMetaObject::invokeMethod(this, [this, ticket] { run_on_main(ticket); },
                              Qt::QueuedConnection);

    while (!m_done.wait(kWaitSliceMs)) {
        if (m_shutDown.load() || (stopRequested && stopRequested())) {
            // Withdraw: a run_on_main that has not started yet sees another ticket.
            m_ticket.fetch_add(1);
            m_pending.store(0);
            TLOG_WARN << "main thread request " << code << " withdrawn, the channel stops";
            return false;
        }
    }
    return true;
}

// Main thread.
void c_main_request::run_on_main(std::uint32_t ticket)
{
    if (ticket != m_ticket.load() || m_pending.load() == 0)
        return;
    if (m_handler)
        m_handler(m_code.load(), m_value.load());
    m_pending.store(0);
    m_done.set();
}

void c_main_request::shut_down()
{
    m_shutDown.store(true);
}
