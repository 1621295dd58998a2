#pragma once

#include "tools/socket/reconnect_policy.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>
#include <memory>
#include <string>
#include <thread>

class c_tcp_sock;

// Brings one device channel back after the device dropped it: waits the pause that
// reconnect_policy gives, connects on a thread of its own (a connect may take its whole 2 s
// timeout, which the GUI thread must not wait), and hands the connected socket to the
// channel's session. The session reports the channel's fate back: down, login accepted,
// login refused. What the keeper is doing is state(); every change is announced once.
//
// Lives on the GUI thread; every method is called there, and the hand-over runs there.
class c_channel_keeper : public QObject {
    Q_OBJECT
public:
    static constexpr int kConnectTimeoutMs = 2000;

    enum class state {
        up,         // connected (or never dropped)
        waiting,    // down, the next attempt after the pause (seconds_left())
        connecting, // an attempt runs
        refused,    // the device refused the login: waits for reconnect_now()
        off,        // down, reconnecting turned off
    };

    // `channel` names the channel in log lines ("video", "keyboard and mouse", ...).
    c_channel_keeper(std::string channel, std::string ip, std::uint16_t port, bool reconnect,
                     QObject *parent = nullptr);
    // Waits for an attempt in progress (at most kConnectTimeoutMs).
    ~c_channel_keeper() override;

    // The session to start on a socket connected again. The session then reports
    // login_accepted() or login_refused(); it must not block.
    void set_starter(std::function<void(std::shared_ptr<c_tcp_sock>)> start) { m_start = std::move(start); }

    // The session's reports.
    void channel_down();
    void login_accepted();
    void login_refused();
    // The user's "Reconnect now": an attempt at once, unless one runs already.
    void reconnect_now();

    state current() const { return m_state; }
    const std::string &channel() const { return m_channel; }
    // Whole seconds, rounded up, until the next attempt while waiting; else 0.
    int seconds_left() const;
    // What the user is told while the channel is down, e.g. "Video channel lost.
    // Reconnecting in 4 s"; empty while it is up.
    std::string describe() const;
    // Its second half alone: "Reconnecting in 4 s", "Reconnecting...", "The device refused
    // the login.", "Reconnecting is turned off."; empty while up.
    std::string action() const;

signals:
    // The state changed, or (while waiting) the seconds left did.
    void signal_state_changed();

private:
    void set_state(state next);
    void schedule(std::optional<int> pauseMs);
    void attempt();
    void attempt_done(std::shared_ptr<c_tcp_sock> socket, int error);
    void join_attempt();

    const std::string m_channel;
    const std::string m_ip;
    const std::uint16_t m_port;
    reconnect_policy m_policy;
    std::function<void(std::shared_ptr<c_tcp_sock>)> m_start;
    state m_state = state::up;
    QTimer m_pause;   // single shot: the next attempt
    QTimer m_seconds; // ticks the countdown while waiting
    std::thread m_attempt;
    int m_failures = 0;      // failed attempts since the drop, for the log
    bool m_confirmed = true; // the connection's login was answered (or it is the first one)
};
