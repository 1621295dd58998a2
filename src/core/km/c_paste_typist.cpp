#include "km/c_paste_typist.h"

#include "logging/log.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

namespace {

using clock_type = std::chrono::steady_clock;

constexpr c_paste_typist::report kAllUp{};

c_paste_typist::report press_report(hid_keystroke key)
{
    c_paste_typist::report r{};
    r[0] = key.modifiers;
    r[2] = key.usage;
    return r;
}

// Half the time one key press takes: the press goes out on one tick, its release half a
// period later, so the remote computer sees the key down for a moment however fast it reads.
std::chrono::microseconds half_period(int rate)
{
    return std::chrono::microseconds(500000 / rate);
}

} // namespace

c_paste_typist::c_paste_typist(QObject *parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    // The coarse default timer may fire up to 5 % late, which at a few milliseconds a step
    // would slow typing noticeably.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &c_paste_typist::on_tick);
}

c_paste_typist::~c_paste_typist()
{
    // A typist destroyed mid-press (its dialog closed with the window) still lets the key go.
    if (m_running && m_keyDown)
        send_report(kAllUp);
    if (m_running && caps_off_by_typing()) {
        send_report(press_report({0, kCapsLockUsage}));
        send_report(kAllUp);
    }
}

void c_paste_typist::plan(const QString &text, keyboard_layout_id layout)
{
    if (running())
        return;
    m_steps.clear();
    m_untypable.clear();
    m_total = 0;
    m_layout = layout;
    const QList<uint> codes = text.toUcs4();
    // A long text in a script the layout lacks has thousands of distinct characters.
    std::unordered_set<char32_t> listed;
    for (qsizetype i = 0; i < codes.size(); ++i) {
        auto c = static_cast<char32_t>(codes[i]);
        // Text from Windows and old Mac programs ends its lines differently; the remote
        // computer gets one Enter per line whichever it is.
        if (c == U'\r') {
            if (i + 1 < codes.size() && codes[i + 1] == U'\n')
                ++i;
            c = U'\n';
        }
        const std::vector<hid_keystroke> keys = keystrokes_for(layout, c);
        if (keys.empty()) {
            if (listed.insert(c).second)
                m_untypable.push_back(c);
            continue;
        }
        for (std::size_t k = 0; k < keys.size(); ++k)
            m_steps.push_back({keys[k], k + 1 == keys.size()});
        ++m_total;
    }
}

std::vector<c_paste_typist::report> c_paste_typist::planned_reports() const
{
    std::vector<report> reports;
    reports.reserve(m_steps.size() * 2);
    for (const step &s : m_steps) {
        reports.push_back(press_report(s.key));
        reports.push_back(kAllUp);
    }
    return reports;
}

void c_paste_typist::set_rate(int charactersPerSecond)
{
    m_rate = std::clamp(charactersPerSecond, kMinRate, kMaxRate);
}

bool c_paste_typist::start(sink out, bool skipUntypable)
{
    if (running() || !out.send || m_total == 0)
        return false;
    if (!m_untypable.empty() && !skipUntypable)
        return false;
    m_sink = std::move(out);
    m_capsToggled = m_sink.caps_lock && m_sink.caps_lock();
    m_run.clear();
    if (m_capsToggled)
        m_run.push_back({{0, kCapsLockUsage}, false});
    m_run.insert(m_run.end(), m_steps.begin(), m_steps.end());
    if (m_capsToggled)
        m_run.push_back({{0, kCapsLockUsage}, false});
    m_cancelling = false;
    m_running = true;
    m_keyDown = false;
    m_next = 0;
    m_typed = 0;
    m_started = clock_type::now();
    m_due = m_started;
    if (!m_sink.may_write || m_sink.may_write())
        send_report(kAllUp);
    emit signal_progress(0, m_total);
    schedule_next(true);
    return true;
}

void c_paste_typist::cancel()
{
    if (!m_running || m_cancelling)
        return;
    if (!caps_off_by_typing() || (m_sink.may_write && !m_sink.may_write())) {
        finish(outcome::cancelled);
        return;
    }
    // Caps Lock goes back on as the last step, paced like any key.
    if (m_keyDown) {
        send_report(kAllUp);
        m_keyDown = false;
    }
    m_cancelling = true;
    m_next = m_run.size() - 1;
    m_due = clock_type::now();
    schedule_next(true);
}

QString c_paste_typist::outcome_text(outcome result)
{
    switch (result) {
    case outcome::cancelled: return QStringLiteral("Typing was cancelled.");
    case outcome::privilege_lost:
        return QStringLiteral("Typing stopped: this viewer no longer holds the write privilege.");
    case outcome::typed: break;
    }
    return QString();
}

// Timer tick: one half step, either the release of the key pressed last or the next press.
void c_paste_typist::on_tick()
{
    if (!m_running)
        return;
    if (m_sink.may_write && !m_sink.may_write()) {
        finish(outcome::privilege_lost);
        return;
    }
    if (m_keyDown) {
        release_key();
        if (m_next == m_run.size()) {
            finish(m_cancelling ? outcome::cancelled : outcome::typed);
            return;
        }
        schedule_next(true);
        return;
    }
    schedule_next(press_next());
}

bool c_paste_typist::press_next()
{
    if (m_sink.backlog && m_sink.backlog() > kMaxBacklog)
        return false;
    send_report(press_report(m_run[m_next].key));
    m_keyDown = true;
    return true;
}

void c_paste_typist::release_key()
{
    send_report(kAllUp);
    m_keyDown = false;
    const bool ends = m_run[m_next].endsCharacter;
    ++m_next;
    if (ends) {
        ++m_typed;
        emit signal_progress(m_typed, m_total);
    }
}

void c_paste_typist::schedule_next(bool stepped)
{
    const auto now = clock_type::now();
    const auto half = half_period(m_rate);
    if (stepped)
        m_due += half;
    // Behind (a busy event loop, a slow device): carry on from now rather than catch up in
    // a burst faster than the rate.
    if (!stepped || now - m_due > half)
        m_due = now;
    const auto wait = std::chrono::duration_cast<std::chrono::microseconds>(m_due - now);
    // Never 0: a press and its release must not go out in the same instant.
    const int waitMs = std::max(1, static_cast<int>(std::lround(static_cast<double>(wait.count()) / 1000.0)));
    m_timer.start(waitMs);
}

bool c_paste_typist::caps_off_by_typing() const
{
    if (!m_capsToggled)
        return false;
    const std::size_t pressed = m_next + (m_keyDown ? 1 : 0);
    return pressed >= 1 && pressed < m_run.size();
}

void c_paste_typist::finish(outcome result)
{
    // Only a lost privilege ends typing before Caps Lock is back on.
    const bool capsLeftOff = caps_off_by_typing();
    m_timer.stop();
    // Never leave a key held on the remote computer, whatever ended the typing.
    if (m_keyDown) {
        send_report(kAllUp);
        m_keyDown = false;
    }
    m_running = false;
    const double seconds =
        std::chrono::duration<double>(clock_type::now() - m_started).count();
    const double perSecond = seconds > 0 ? m_typed / seconds : 0.0;
    const char *how = result == outcome::typed       ? "done"
                      : result == outcome::cancelled ? "cancelled"
                                                     : "stopped, write privilege lost";
    TLOG_INFO << "paste as keystrokes " << how << ": " << m_typed << " of " << m_total
              << " characters typed in " << QString::number(seconds, 'f', 2) << " s ("
              << QString::number(perSecond, 'f', 1) << " characters per second), layout "
              << keyboard_layout_name(m_layout)
              << (capsLeftOff ? "; Caps Lock, turned off for typing, is left off" : "");
    emit signal_finished(result);
}

void c_paste_typist::send_report(const report &r)
{
    m_sink.send(r);
}
