#pragma once

#include "tools/socket/Win32Event.h"

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>

// Hands a request from a receive thread to the thread this object lives on (the main
// thread) and blocks the caller until it has been handled there: the request handler may
// touch widgets and ask the user, and the receive thread reads nothing meanwhile.
//
// The hand-over is a queued call on the main thread's event loop; the caller waits on the
// done event in 100 ms slices and gives up only when its stop check says so, so that a
// stopping channel never hangs on a main thread that is busy or already gone.
class c_main_request : public QObject {
    Q_OBJECT
public:
    enum Code : std::int32_t {
        kPrivilegeState = 15201,
        kGiveUpQuestion = 15202,
        kGrabResult = 15203,
    };
    static constexpr int kWaitSliceMs = 100;

    using handler_fn = std::function<void(std::int32_t code, std::int32_t value)>;

    // `handler` runs on this object's thread.
    explicit c_main_request(handler_fn handler, QObject *parent = nullptr);
    ~c_main_request() override;

    // Posts (code, value) and waits until the handler has run: true. False when
    // `stopRequested` turned true first (checked every 100 ms; the request is then
    // withdrawn and will not run) or the object is shutting down. Called on this object's
    // own thread, the handler runs at once. One caller at a time (the receive thread).
    bool post_main_request(std::int32_t code, std::int32_t value,
                           const std::function<bool()> &stopRequested = {});

    // Withdraws a waiting request and makes every later post return false at once.
    // Any thread; the owner calls it before stopping the receive thread.
    void shut_down();
    // Takes requests again after shut_down(), for a channel connected anew. The receive
    // thread of the old connection has stopped by then (its posts give up on their own).
    void open_again() { m_shutDown.store(false); }

    bool pending() const { return m_pending.load() != 0; }
    std::int32_t code() const { return m_code.load(); }
    std::int32_t value() const { return m_value.load(); }

private:
    void run_on_main(std::uint32_t ticket);

    handler_fn m_handler;
    std::atomic<std::int32_t> m_code{0};
    std::atomic<std::int32_t> m_value{0};
    std::atomic<std::uint8_t> m_pending{0};
    std::atomic<std::uint32_t> m_ticket{0};
    std::atomic<bool> m_shutDown{false};
    Win32Event m_done;
};
