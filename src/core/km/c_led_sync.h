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
// A report only records the state; the programs are started later on the applying thread
// (the main thread, through the scheduler), only for LEDs whose state changed, and at most
// once per kMinApplyIntervalMs, so a device repeating or flickering its reports neither
// floods the machine with processes nor stalls the thread that reads them. The last state
// reported is always the one applied in the end.
//
// hold_off() and apply_pending() run on the applying thread; handle_led_report() and
// apply_led_bits() on any thread (the video receive thread). The hold-off time is one
// atomic millisecond timestamp, so neither side sees half a value.
class c_led_sync {
public:
    // Milliseconds since the epoch.
    using clock_fn = std::function<std::int64_t()>;
    // Starts a program detached; true when it started.
    using start_fn = std::function<bool(const QString &program, const QStringList &args)>;
    // Asks for apply_pending() on the applying thread after `delayMs` (any thread).
    using schedule_fn = std::function<void(std::int64_t delayMs)>;

    static constexpr std::int64_t kHoldOffMs = 3000;
    static constexpr int kUnknown = -1; // an LED state nobody has reported or set
    // The LED bits of a report, as USB keyboards number their lights.
    static constexpr int kNumLockBit = 0x01, kCapsLockBit = 0x02, kScrollLockBit = 0x04;
    static constexpr std::int64_t kMinApplyIntervalMs = 250;
    static constexpr const char *kProgram = "ledsync";

    // Without arguments: the wall clock and a detached start found on PATH. Without a
    // scheduler a report is applied at once on the caller's thread.
    explicit c_led_sync(clock_fn clock = {}, start_fn start = {});

    // Before reports arrive.
    void set_scheduler(schedule_fn schedule) { m_schedule = std::move(schedule); }

    // On a local Caps, Num or Scroll Lock press: reports are ignored until now + 3 s, a state
    // still waiting is dropped, and the local LEDs count as unknown (the key changed one).
    void hold_off();
    // True while reports are ignored (the current time is not later than the hold-off
    // time). Before the first hold_off() it is false. Any thread.
    bool held_off() const;

    // A device LED report (body [4, LED bits]): 3 (refused) unless exactly 2 bytes; else 0,
    // and, unless held off, the state of LEDs 1, 2 and 3 (bits 0, 1 and 2) waits to be
    // applied. Any thread.
    std::uint8_t handle_led_report(const std::uint8_t *body, std::uint32_t length);
    // The same for a report whose length the caller has checked: LED bits = body byte 1.
    void apply_led_bits(std::uint8_t bits);

    // The LED bits of the device's latest report, held off or not (the remote keyboard's
    // state as last heard; a report sent just before a lock key reached the device is
    // corrected by the next one); kUnknown before the first. Any thread.
    int reported() const { return m_reported.load(); }
    // Caps Lock is on in that report (false before the first).
    bool caps_lock_reported() const
    {
        const int bits = reported();
        return bits != kUnknown && (bits & kCapsLockBit) != 0;
    }

    // Applying thread: starts sync_led for each LED whose waiting state differs from the
    // one last set (all three the first time), or asks to be called again when the last
    // start was less than kMinApplyIntervalMs ago.
    void apply_pending();

    // Starts "ledsync INDEX STATE" detached, by bare name (PATH decides). A failed start is
    // logged and otherwise ignored: the local LEDs then stay as they are.
    void sync_led(int index, int state);

    static bool start_detached(const QString &program, const QStringList &args);

private:
    clock_fn m_clock;
    start_fn m_start;
    schedule_fn m_schedule;
    // 0 = unset, which counts as earlier than any time.
    std::atomic<std::int64_t> m_holdOffUntil{0};
    std::atomic<int> m_reported{kUnknown};
    std::atomic<int> m_wanted{kUnknown};  // the latest state reported, three bits
    std::atomic<int> m_applied{kUnknown}; // the state last set locally
    std::atomic<bool> m_scheduled{false};
    std::atomic<std::int64_t> m_nextApplyMs{0};
};
