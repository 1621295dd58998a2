#include "c_privilege_arbiter.h"

std::vector<c_privilege_arbiter::message> c_privilege_arbiter::on_query(int viewer)
{
    if (m_holder == 0)
        m_holder = viewer;
    return {{viewer, kState, static_cast<std::uint8_t>(viewer == m_holder ? 1 : 0)}};
}

std::vector<c_privilege_arbiter::message> c_privilege_arbiter::on_request(int viewer)
{
    if (m_holder == 0 || m_holder == viewer) {
        // Nobody to ask (or the viewer lost track of holding it): granted at once.
        m_holder = viewer;
        if (m_requester == viewer)
            m_requester = 0;
        return {{viewer, kGrab, 0}};
    }
    if (m_requester == viewer)
        return {{viewer, kRequest, kRequestForwarded}}; // already forwarded; ask only once
    if (m_requester != 0)
        return {{viewer, kRequest, kRequestBusy}};
    m_requester = viewer;
    return {{viewer, kRequest, kRequestForwarded}, {m_holder, kAsk, 0}};
}

std::vector<c_privilege_arbiter::message> c_privilege_arbiter::on_answer(int viewer,
                                                                         std::uint8_t value)
{
    // Only the holder's answer to a pending request counts.
    if (viewer != m_holder || m_requester == 0)
        return {};
    const int requester = m_requester;
    m_requester = 0;
    if (value == 0) {
        const int oldHolder = m_holder;
        m_holder = requester;
        return {{requester, kGrab, 0}, {oldHolder, kState, 0}};
    }
    return {{requester, kGrab, 1}, {requester, kRequest, kRequestRefused}};
}

std::vector<c_privilege_arbiter::message> c_privilege_arbiter::on_disconnect(int viewer)
{
    if (viewer == m_requester) {
        m_requester = 0;
        return {};
    }
    if (viewer != m_holder)
        return {};
    m_holder = 0;
    if (m_requester == 0)
        return {};
    // The holder left while being asked: the waiting requester takes over.
    m_holder = m_requester;
    m_requester = 0;
    return {{m_holder, kGrab, 0}};
}
