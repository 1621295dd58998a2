#include "km/c_led_sync.h"

#include "logging/log.h"

#include <QDateTime>
#include <QProcess>

c_led_sync::c_led_sync(clock_fn clock, start_fn start)
    : m_clock(clock ? std::move(clock) : [] { return QDateTime::currentMSecsSinceEpoch(); }),
      m_start(start ? std::move(start) : &c_led_sync::start_detached)
{
}

void c_led_sync::hold_off()
{
    m_holdOffUntil.store(m_clock() + kHoldOffMs);
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
    if (held_off())
        return;
    for (int led = 1; led <= 3; ++led)
        sync_led(led, (bits >> (led - 1)) & 1);
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
