#include "km/c_mouse_sampler.h"

#include "km/mouse_rate.h"

#include <QTimerEvent>

c_mouse_sampler::c_mouse_sampler(std::function<void()> onTick, QObject *parent)
    : QObject(parent), m_onTick(std::move(onTick))
{
    setObjectName(QStringLiteral("mouse sampler"));
}

void c_mouse_sampler::start()
{
    m_generation = mouse_rate_generation();
    m_intervalMs = mouse_sample_interval_ms();
    // Coarse timers may fire 5 % early or late; at 20 ms that is a visible jitter.
    m_timer.start(m_intervalMs, Qt::PreciseTimer, this);
}

void c_mouse_sampler::stop()
{
    m_timer.stop();
}

void c_mouse_sampler::tick()
{
    if (m_onTick)
        m_onTick();
    if (m_timer.isActive() && m_generation != mouse_rate_generation())
        start();
}

void c_mouse_sampler::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_timer.timerId())
        tick();
    else
        QObject::timerEvent(event);
}
