#include "km/c_led_sync.h"

#include "logging/log.h"

#include <QDateTime>
#include <QProcess>

#include <algorithm>

c_led_sync::c_led_sync(clock_fn clock, start_fn start)
    : m_clock(clock ? std::move(clock) : [] { return QDateTime::currentMSecsSinceEpoch(); }),
      m_start(start ? std::move(start) : &c_led_sync::start_detached)
{
}

void c_led_sync::hold_off()
{
    m_holdOffUntil.store(m_clock() + kHoldOffMs);
    m_wanted.store(kUnknown);
    m_applied.store(kUnknown);
}

bool c_led_sync::held_off() const
{
    const std::int64_t until = m_holdOffUntil.load();
    return until != 0 && m_clock() <= until;
}

std::uint8_t c_led_sync::handle_led_report(const std::uint8_t *body, std::uint32_t length)
{
    if (body == nullptr || length != 2)
        return 3;
    apply_led_bits(body[1]);
    return 0;
}

void c_led_sync::apply_led_bits(std::uint8_t bits)
{
    const int state = bits & (kNumLockBit | kCapsLockBit | kScrollLockBit);
    m_reported.store(state);
    if (held_off())
        return;
    m_wanted.store(state);
    // One request in flight at a time; the state it applies is whatever is latest then.
    if (m_scheduled.exchange(true))
        return;
    if (!m_schedule) {
        apply_pending();
        return;
    }
    m_schedule(std::max<std::int64_t>(0, m_nextApplyMs.load() - m_clock()));
}

void c_led_sync::apply_pending()
{
    const std::int64_t now = m_clock();
    const std::int64_t next = m_nextApplyMs.load();
    if (now < next && m_schedule) {
        m_schedule(next - now);
        return;
    }
    // Cleared before the state is read: a report after this point asks again.
    m_scheduled.store(false);
    const int wanted = m_wanted.load();
    if (wanted == kUnknown || held_off())
        return;
    const int applied = m_applied.exchange(wanted);
    bool started = false;
    for (int led = 1; led <= 3; ++led) {
        const int state = (wanted >> (led - 1)) & 1;
        if (applied != kUnknown && ((applied >> (led - 1)) & 1) == state)
            continue;
        sync_led(led, state);
        started = true;
    }
    if (started)
        m_nextApplyMs.store(now + kMinApplyIntervalMs);
}

void c_led_sync::sync_led(int index, int state)
{
    const QStringList args{QString::number(index), QString::number(state)};
    if (!m_start(QString::fromLatin1(kProgram), args))
        TLOG_WARN << "sync_led: cannot start " << kProgram << " " << index << " " << state;
}

bool c_led_sync::start_detached(const QString &program, const QStringList &args)
{
    return QProcess::startDetached(program, args);
}
