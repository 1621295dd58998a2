#include "tools/socket/c_channel_keeper.h"

#include "logging/log.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "tools/socket/connect_failure.h"

#include <cctype>
#include <cmath>

c_channel_keeper::c_channel_keeper(std::string channel, std::string ip, std::uint16_t port,
                                   bool reconnect, QObject *parent)
    : QObject(parent), m_channel(std::move(channel)), m_ip(std::move(ip)), m_port(port),
      m_policy(reconnect)
{
    m_pause.setSingleShot(true);
    connect(&m_pause, &QTimer::timeout, this, &c_channel_keeper::attempt);
    m_seconds.setInterval(1000);
    connect(&m_seconds, &QTimer::timeout, this, [this] { emit signal_state_changed(); });
}

c_channel_keeper::~c_channel_keeper()
{
    join_attempt();
}

void c_channel_keeper::join_attempt()
{
    if (m_attempt.joinable())
        m_attempt.join();
}

int c_channel_keeper::seconds_left() const
{
    if (m_state != state::waiting)
        return 0;
    return static_cast<int>(std::ceil(m_pause.remainingTime() / 1000.0));
}

std::string c_channel_keeper::describe() const
{
    if (m_state == state::up)
        return {};
    std::string name = m_channel;
    if (!name.empty())
        name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    return name + " channel lost. " + action();
}

std::string c_channel_keeper::action() const
{
    switch (m_state) {
    case state::up: return {};
    case state::waiting: return "Reconnecting in " + std::to_string(seconds_left()) + " s";
    case state::connecting: return "Reconnecting...";
    case state::refused: return "The device refused the login.";
    case state::off: return "Reconnecting is turned off.";
    }
    return {};
}

void c_channel_keeper::set_state(state next)
{
    m_state = next;
    if (next == state::waiting)
        m_seconds.start();
    else
        m_seconds.stop();
    emit signal_state_changed();
}

void c_channel_keeper::schedule(std::optional<int> pauseMs)
{
    if (!pauseMs) {
        set_state(m_policy.enabled() ? state::refused : state::off);
        return;
    }
    m_pause.start(*pauseMs);
    set_state(state::waiting);
}

void c_channel_keeper::channel_down()
{
    if (m_state != state::up)
        return; // an attempt's connection that failed at once: attempt_done has seen to it
    // A connection dropped before its login was answered is a failed attempt, so that a
    // device that accepts and closes at once is tried ever more slowly, not every 0.5 s.
    if (!m_confirmed) {
        ++m_failures;
        const auto pause = m_policy.after(reconnect_policy::setback::connect_failed);
        TLOG_WARN << m_channel << " channel closed before its login was answered (attempt "
                  << m_failures << "), next in " << pause.value_or(0) << " ms";
        schedule(pause);
        return;
    }
    m_failures = 0;
    const auto pause = m_policy.after(reconnect_policy::setback::dropped);
    if (pause)
        TLOG_WARN << m_channel << " channel lost, reconnecting in " << *pause << " ms";
    else
        TLOG_WARN << m_channel << " channel lost; reconnecting is turned off";
    schedule(pause);
}

void c_channel_keeper::login_accepted()
{
    m_policy.connected();
    m_confirmed = true;
    if (m_failures > 0 || m_state != state::up)
        TLOG_INFO << m_channel << " channel back";
    m_failures = 0;
    set_state(state::up);
}

void c_channel_keeper::login_refused()
{
    TLOG_ERROR << m_channel << " channel: the device refused the login; not retried on its own";
    m_policy.after(reconnect_policy::setback::login_refused);
    m_pause.stop();
    set_state(m_policy.enabled() ? state::refused : state::off);
}

void c_channel_keeper::reconnect_now()
{
    if (m_state == state::connecting || m_state == state::up)
        return;
    m_policy.reconnect_now();
    m_pause.stop();
    attempt();
}

// The connect runs on a thread of its own; its result comes back to this thread queued.
void c_channel_keeper::attempt()
{
    join_attempt();
    set_state(state::connecting);
    m_attempt = std::thread([this, ip = m_ip, port = m_port] {
        auto socket = std::make_shared<c_tcp_sock>();
        socket->set_remote_addr(ip.c_str(), port);
        const bool ok = socket->create_sock(nullptr, 0, kConnectTimeoutMs) == 1;
        const int error = ok ? 0 : socket->last_connect_error();
        QMetaObject::invokeMethod(
            this, [this, socket = ok ? socket : nullptr, error] { attempt_done(socket, error); },
            Qt::QueuedConnection);
    });
}

void c_channel_keeper::attempt_done(std::shared_ptr<c_tcp_sock> socket, int error)
{
    join_attempt();
    if (m_state != state::connecting)
        return;
    if (!socket) {
        ++m_failures;
        const auto pause = m_policy.after(reconnect_policy::setback::connect_failed);
        TLOG_WARN << m_channel << " channel to " << m_ip << ":" << m_port
                  << " not back: " << connect_failure_cause(error) << " (attempt " << m_failures
                  << "), next in " << pause.value_or(0) << " ms";
        schedule(pause);
        return;
    }
    TLOG_INFO << m_channel << " channel connected again, logging in";
    // Up from here; a drop before the login's answer counts as a failed attempt.
    m_confirmed = false;
    set_state(state::up);
    if (m_start)
        m_start(std::move(socket));
}
