#pragma once

#include <optional>

// When a device channel that went down is connected again: after a pause that starts at
// 0.5 s and doubles with every failed attempt up to 10 s, back to 0.5 s once a connection
// is logged in again. A login the device refused is not retried on its own (it would only
// be refused again, once per pause, for as long as the viewer runs); nor is anything when
// reconnecting is turned off, which leaves a dropped channel down. Pure: the caller owns the
// clock and the timer. One object per channel, used on one thread.
class reconnect_policy {
public:
    static constexpr int kFirstPauseMs = 500;
    static constexpr int kLongestPauseMs = 10000;

    enum class setback {
        dropped,        // the connection was up and the device closed it, or it failed
        connect_failed, // an attempt could not connect (refused, unreachable, timed out)
        login_refused,  // an attempt connected, but the device refused the login
    };

    explicit reconnect_policy(bool enabled = true) : m_enabled(enabled) {}

    // The pause in ms before the next attempt after `what`, or nothing when no attempt is
    // to be made on its own (reconnecting off, or a refused login).
    std::optional<int> after(setback what);
    // An attempt connected and logged in: the next drop starts again at the first pause.
    void connected();
    // The user asked to reconnect now: an attempt follows at once, also after a refused
    // login, and the pauses start again from the first.
    void reconnect_now();

    bool enabled() const { return m_enabled; }
    // A refused login stopped the attempts until reconnect_now().
    bool stopped_by_refusal() const { return m_refused; }

private:
    bool m_enabled;
    bool m_refused = false;
    int m_nextPauseMs = kFirstPauseMs;
};
