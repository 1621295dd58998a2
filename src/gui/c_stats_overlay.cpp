#include "c_stats_overlay.h"

#include <QEvent>

namespace {

constexpr int kEdge = 8; // gap to the parent's top and right edges

QString bit_rate_text(double bitsPerSecond)
{
    if (bitsPerSecond >= 1e6)
        return QStringLiteral("%1 Mbit/s").arg(bitsPerSecond / 1e6, 0, 'f', 2);
    return QStringLiteral("%1 kbit/s").arg(bitsPerSecond / 1e3, 0, 'f', 1);
}

} // namespace

c_stats_overlay::c_stats_overlay(source figures, QWidget *parent)
    : QLabel(parent), m_figures(std::move(figures))
{
    setObjectName(QStringLiteral("statsOverlay"));
    // Readable over any picture while the picture still shows through; the application's
    // style sheet must not give it the label's colours.
    setStyleSheet(QStringLiteral("#statsOverlay { background-color: rgba(0, 0, 0, 160);"
                                 " color: #ffffff; padding: 6px; border-radius: 4px; }"));
    setTextFormat(Qt::PlainText);
    // The picture's mouse handling sees the pointer as if the panel were not there.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    m_timer.setInterval(kRefreshMs);
    connect(&m_timer, &QTimer::timeout, this, &c_stats_overlay::refresh);
    parent->installEventFilter(this);
    hide();
}

void c_stats_overlay::set_visible_stats(bool shown)
{
    if (!shown) {
        m_timer.stop();
        hide();
        return;
    }
    m_last = m_figures();
    m_clock.start();
    setText(text_of({}, m_last));
    place();
    show();
    raise();
    m_timer.start();
}

void c_stats_overlay::refresh()
{
    const video_statistics now = m_figures();
    const video_rates rates = video_rates_between(m_last, now, m_clock.restart());
    m_last = now;
    setText(text_of(rates, now));
    place();
}

void c_stats_overlay::place()
{
    adjustSize();
    if (const QWidget *parent = parentWidget())
        move(parent->width() - width() - kEdge, kEdge);
}

bool c_stats_overlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize && isVisible())
        place();
    return QLabel::eventFilter(watched, event);
}

QString c_stats_overlay::text_of(const video_rates &rates, const video_statistics &totals)
{
    return QStringLiteral("Received %1 pictures/s\n"
                          "Shown %2 pictures/s\n"
                          "Decode %3 ms/picture\n"
                          "Display %4 ms/picture\n"
                          "Bit rate %5\n"
                          "Skipped %6, dropped %7")
        .arg(rates.receivedPerSecond, 0, 'f', 1)
        .arg(rates.shownPerSecond, 0, 'f', 1)
        .arg(rates.decodeMs, 0, 'f', 2)
        .arg(rates.displayMs, 0, 'f', 2)
        .arg(bit_rate_text(rates.bitsPerSecond))
        .arg(totals.picturesSkipped)
        .arg(totals.picturesDropped);
}
