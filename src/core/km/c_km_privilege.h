#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

class c_net_syncer;

// The keyboard/mouse write privilege of this viewer, free of widgets. The device arbitrates
// one writer among the viewers of a computer; this object keeps the two flags and runs the
// transitions, and asks its owner (the window) for everything visible through callbacks.
//
//   state       write flag  request allowed  input captured
//   Read-only   0           1                no
//   Waiting     0           0                no
//   Writing     1           any              yes
//
// Threads: the write flag and request-allowed flag are atomics read anywhere. The device
// side (on_control_answer, on_privilege_state) runs on the keyboard/mouse receive thread;
// everything else, callbacks included, on the main thread.
class c_km_privilege {
public:
    enum class give_up_answer { yes, no, closed };

    // What the window does for the privilege. Unset callbacks do nothing (the question then
    // counts as closed).
    struct actions {
        std::function<void(bool canGrab)> set_grab_icon; // privCanGrab / privCannotGrab
        std::function<void()> start_sampling;            // mouse sample timer
        std::function<void()> stop_sampling;
        // Modal "do you want to giveUp privWrite", Yes/No, default No.
        std::function<give_up_answer()> ask_give_up;
        std::function<void()> align_mouse;
    };

    // Frames go to `syncer`'s outgoing list (built under its outbound key).
    explicit c_km_privilege(c_net_syncer &syncer) : m_syncer(syncer) {}

    // Main thread, before the channel starts.
    void set_actions(actions a) { m_actions = std::move(a); }

    // 1 while this viewer holds the privilege.
    std::int32_t write_flag() const { return m_writeFlag.load(); }
    bool writing() const { return m_writeFlag.load() == 1; }
    bool request_allowed() const { return m_requestAllowed.load() != 0; }
    // The device has said where this viewer stands since the channel came up; while it has
    // not, nobody is known to hold the privilege.
    bool device_answered() const { return m_answered.load() != 0; }

    // The grab button (main thread): sends one control request (20) when read-only and
    // allowed, and waits for the device. True when a request went out.
    bool on_slot_grabPriv();

    // Receive thread. Type 20: a value other than 1 allows a new request.
    void on_control_answer(std::uint8_t value);
    // Receive thread. Type 22 answers this viewer's own request: true, once per request,
    // when a request went out and its grab result has not come yet. A grab result nobody
    // asked for changes nothing here, sends nothing and moves no pointer.
    bool take_grab_request() { return m_grabAsked.exchange(0) != 0; }
    // Receive thread. Type 23: the write flag follows the device at once, before the main
    // thread hears of it (then request 15201).
    void on_privilege_state(std::uint8_t value);

    // Main thread: the requests the keyboard/mouse handler posts (15201 privilege state,
    // 15202 give-up question, 15203 grab result).
    void handle_request(std::int32_t code, std::int32_t value);

    // Main thread: the channel is down. This viewer holds nothing any more (the device frees
    // the privilege of a viewer that left): sampling stops and no input is sent; a request
    // in flight is forgotten.
    void on_channel_lost();

private:
    void handle_state(std::int32_t value);
    void handle_give_up();
    void handle_grab_result(std::int32_t value);
    void give_up_locally();
    void send_byte(std::uint8_t type, std::uint8_t value);

    c_net_syncer &m_syncer;
    actions m_actions;
    std::atomic<std::int32_t> m_writeFlag{0};
    std::atomic<std::uint8_t> m_requestAllowed{1};
    std::atomic<std::uint8_t> m_grabAsked{0}; // a request (20) awaits its grab result (22)
    std::atomic<std::uint8_t> m_answered{0};  // a 20, 22 or 23 came since the channel came up
};
