#include "tools/socket/handler_guard.h"

#include <chrono>

bool handler_guard::attach(c_abs_net_handler *handler)
{
    std::lock_guard lock(m_mutex);
    if (handler == nullptr || m_handler != nullptr || m_detached)
        return false;
    m_handler = handler;
    return true;
}

bool handler_guard::attached() const
{
    std::lock_guard lock(m_mutex);
    return m_handler != nullptr;
}

c_abs_net_handler *handler_guard::enter()
{
    std::lock_guard lock(m_mutex);
    if (m_handler == nullptr)
        return nullptr;
    ++m_calls;
    m_caller = std::this_thread::get_id();
    return m_handler;
}

void handler_guard::leave()
{
    {
        std::lock_guard lock(m_mutex);
        --m_calls;
    }
    m_idle.notify_all();
}

bool handler_guard::detach(int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    m_handler = nullptr;
    m_detached = true;
    // A handler that stops its own channel must not wait for itself.
    if (m_calls > 0 && m_caller == std::this_thread::get_id())
        return true;
    return m_idle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return m_calls == 0; });
}
