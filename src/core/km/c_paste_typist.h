#pragma once

#include "tools/key_mouse/keyboard_layout.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

// Types a text on the remote computer as USB keyboard reports ("paste as keystrokes"), as a
// computer set to a given keyboard layout reads them. plan() works out the key presses and
// the characters the layout cannot type; start() sends them, paced by a timer, each press
// followed by a report with no key held. The text is never logged: it may be a password.
//
// Lives on the thread whose event loop runs its timer (the GUI thread in the viewer); every
// call and every signal happens there.
class c_paste_typist : public QObject {
    Q_OBJECT
public:
    using report = std::array<std::uint8_t, 8>;

    // Characters per second: the default, and the bounds any rate is clamped to.
    static constexpr int kDefaultRate = 100;
    static constexpr int kMinRate = 5;
    static constexpr int kMaxRate = 1000;
    // Frames that may wait in the outgoing list before the next key is pressed: a slow device
    // holds typing back instead of a growing queue that Cancel could not call back.
    static constexpr int kMaxBacklog = 4;

    // How the reports leave. `send` is required; `may_write` (unset: always) is asked before
    // every report and typing stops when it says no; `backlog` (unset: 0) is the number of
    // frames still waiting to be sent; `caps_lock` (unset: off) says, when typing starts,
    // whether the remote computer has Caps Lock on.
    struct sink {
        std::function<void(const report &)> send;
        std::function<bool()> may_write;
        std::function<int()> backlog;
        std::function<bool()> caps_lock;
    };

    // HID usage of Caps Lock.
    static constexpr std::uint8_t kCapsLockUsage = 0x39;

    enum class outcome { typed, cancelled, privilege_lost };
    Q_ENUM(outcome)

    explicit c_paste_typist(QObject *parent = nullptr);
    ~c_paste_typist() override;

    // Works out what typing `text` on `layout` takes. "\r\n", a lone "\r" and "\n" are one
    // Enter each, "\t" is Tab. Not while running (ignored then).
    void plan(const QString &text, keyboard_layout_id layout);
    keyboard_layout_id layout() const { return m_layout; }
    // Characters that will be typed (each Enter counts as one).
    int total() const { return m_total; }
    // Characters the layout cannot type, each once, in order of first appearance; they are
    // left out when typing.
    const std::vector<char32_t> &untypable() const { return m_untypable; }
    // Every report typing sends, in order: each press, then all zeros.
    std::vector<report> planned_reports() const;

    // Characters per second, clamped to kMinRate..kMaxRate; takes effect at the next start().
    void set_rate(int charactersPerSecond);
    int rate() const { return m_rate; }

    // Starts typing through `out`: a report with no key held first (keys the user still
    // holds, such as the shortcut's, must not change what is typed), then the plan. Caps Lock
    // on would swap the case of letters (and, on some layouts, more keys): it is turned off
    // for the typing and on again after it, also when typing is cancelled. When the
    // layout cannot type some characters, `skipUntypable` is the user's agreement to type
    // the rest; without it nothing is sent and false returned. False too when already
    // running, when there is nothing to type or when `out` cannot send.
    bool start(sink out, bool skipUntypable);
    // Stops typing; a key pressed is released first, and Caps Lock turned back on when typing
    // turned it off. signal_finished(cancelled) follows.
    void cancel();
    bool running() const { return m_running; }
    // Characters typed so far in this run.
    int typed() const { return m_typed; }

    // The text for an outcome, for people ("" for typed).
    static QString outcome_text(outcome result);

signals:
    void signal_progress(int typed, int total);
    // Typing has ended: every key is up. Emitted once per start() that returned true.
    void signal_finished(c_paste_typist::outcome result);

private:
    // One key press of the plan; the last press of a character completes it.
    struct step {
        hid_keystroke key;
        bool endsCharacter = true;
    };

    void on_tick();
    bool press_next();
    void release_key();
    void schedule_next(bool stepped);
    // Caps Lock was on, and typing has turned it off and not yet on again.
    bool caps_off_by_typing() const;
    void finish(outcome result);
    void send_report(const report &r);

    std::vector<step> m_steps; // the plan
    std::vector<char32_t> m_untypable;
    keyboard_layout_id m_layout = keyboard_layout_id::us;
    int m_total = 0;
    int m_rate = kDefaultRate;

    // A run: the plan's steps, between two Caps Lock presses when Caps Lock was on.
    std::vector<step> m_run;
    bool m_capsToggled = false;
    bool m_cancelling = false; // cancelled; the last step turns Caps Lock back on
    sink m_sink;
    QTimer m_timer;
    bool m_running = false;
    bool m_keyDown = false;
    std::size_t m_next = 0;
    int m_typed = 0;
    std::chrono::steady_clock::time_point m_started;
    std::chrono::steady_clock::time_point m_due; // when the next half step falls due
};
