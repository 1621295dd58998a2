#include "video_label.h"

#include <QPainter>
#include <QPaintEvent>
#include <QRegion>

#include <chrono>

c_video_label::c_video_label(QWidget *parent) : QLabel(parent)
{
    m_margin = palette().color(backgroundRole());
}

void c_video_label::show_picture(const QImage &picture, const display_geometry &geometry)
{
    m_picture = picture;
    m_averaged = QImage();
    m_geometry = geometry;
    ++m_shown;
    setAttribute(Qt::WA_OpaquePaintEvent, !m_picture.isNull());
    update();
}

void c_video_label::set_smooth_scaling(bool smooth)
{
    m_smooth = smooth;
    m_averaged = QImage();
    update();
}

const QImage &c_video_label::averaged_picture(const QSize &shown)
{
    const bool beyondBilinear =
        m_smooth && !shown.isEmpty() &&
        (m_picture.width() > kBilinearShrinkLimit * shown.width() ||
         m_picture.height() > kBilinearShrinkLimit * shown.height());
    if (!beyondBilinear)
        m_averaged = QImage();
    else if (m_averaged.size() != shown)
        m_averaged = m_picture.scaled(shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return m_averaged;
}

void c_video_label::paintEvent(QPaintEvent *event)
{
    if (m_picture.isNull()) {
        QLabel::paintEvent(event);
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    const QRect shown(m_geometry.offsetX, m_geometry.offsetY, m_geometry.shownWidth,
                      m_geometry.shownHeight);
    QPainter painter(this);
    // Margins first, only where the picture does not go (halving may leave one more margin
    // column or row on the right or bottom).
    for (const QRect &margin : QRegion(rect()).subtracted(shown))
        painter.fillRect(margin, m_margin);
    const QImage &averaged = averaged_picture(shown.size());
    if (!averaged.isNull()) {
        painter.drawImage(shown.topLeft(), averaged);
    } else {
        // Filtering costs time only where the picture is scaled; 1:1 is a plain copy.
        painter.setRenderHint(QPainter::SmoothPixmapTransform,
                              m_smooth && shown.size() != m_picture.size());
        painter.drawImage(shown, m_picture);
    }
    const std::int64_t took = std::chrono::duration_cast<std::chrono::microseconds>(
                                  std::chrono::steady_clock::now() - start)
                                  .count();
    if (took > m_slowestPaintUs.load(std::memory_order_relaxed))
        m_slowestPaintUs.store(took, std::memory_order_relaxed);
}
