#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>

// Mirrors the remote keyboard's lock LEDs on the local keyboard by starting the sibling
// program "ledsync" once per LED, and ignores the device's LED reports for a while after
// the user pressed a lock key here, so that a report the device sent before it saw that key
// does not undo it.
//
// hold_off() runs on the main thread; handle_led_report() on the video receive thread.
// The hold-off time is one atomic millisecond timestamp, so neither side sees half a value.
class c_led_sync {
public:
    // Milliseconds since the epoch.
    using clock_fn = std::function<std::int64_t()>;
    // Starts a program detached; true when it started.
    using start_fn = std::function<bool(const QString &program, const QStringList &args)>;

    static constexpr std::int64_t kHoldOffMs = 3000;
    static constexpr const char *kProgram = "ledsync";

    // Without arguments: the wall clock and a detached start found on PATH.
    explicit c_led_sync(clock_fn clock = {}, start_fn start = {});

    // Main thread, on a local Caps, Num or Scroll Lock press: reports are ignored until
    // now + 3 s.
    void hold_off();
    // True while reports are ignored (the current time is not later than the hold-off
    // time). Before the first hold_off() it is false. Any thread.
    bool held_off() const;

    // A device LED report (body [4, LED bits]): 3 (refused) unless exactly 2 bytes; else 0,
    // and, unless held off, sync_led for LEDs 1, 2 and 3 from bits 0, 1 and 2. Any thread.
    std::uint8_t handle_led_report(const std::uint8_t *body, std::uint32_t length);
    // The same for a report whose length the caller has checked: LED bits = body byte 1.
    void apply_led_bits(std::uint8_t bits);

    // Starts "ledsync INDEX STATE" detached, by bare name (PATH decides). A failed start is
    // logged and otherwise ignored: the local LEDs then stay as they are.
    void sync_led(int index, int state);

    static bool start_detached(const QString &program, const QStringList &args);

private:
    clock_fn m_clock;
    start_fn m_start;
    // 0 = unset, which counts as earlier than any time.
    std::atomic<std::int64_t> m_holdOffUntil{0};
};
