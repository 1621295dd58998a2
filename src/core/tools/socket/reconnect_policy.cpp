#include "tools/socket/reconnect_policy.h"

#include <algorithm>

std::optional<int> reconnect_policy::after(setback what)
{
    if (!m_enabled)
        return std::nullopt;
    if (what == setback::login_refused) {
        m_refused = true;
        return std::nullopt;
    }
    if (what == setback::dropped)
        m_nextPauseMs = kFirstPauseMs;
    const int pause = m_nextPauseMs;
    m_nextPauseMs = std::min(m_nextPauseMs * 2, kLongestPauseMs);
    return pause;
}

void reconnect_policy::connected()
{
    m_refused = false;
    m_nextPauseMs = kFirstPauseMs;
}

void reconnect_policy::reconnect_now()
{
    m_refused = false;
    m_nextPauseMs = kFirstPauseMs;
}
