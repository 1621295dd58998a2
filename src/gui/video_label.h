#pragma once

#include "video/display_geometry.h"

#include <QColor>
#include <QImage>
#include <QLabel>

#include <atomic>
#include <cstdint>

// The remote screen: a label that shows the newest picture scaled to the size and at the
// offset of its display geometry (fast nearest-pixel scaling, or smooth scaling when chosen),
// the margins around it in the margin colour. The geometry may place the picture partly
// outside the label (actual size, panned): only what falls inside is drawn.
//
// The picture is drawn straight into the window's paint: no label-sized canvas is drawn first
// and copied again, and no background is filled under it (the picture and its margins cover
// every pixel). The label holds the picture, and with it the picture's pooled buffer, until
// the next one. Before the first it is a plain label.
class c_video_label : public QLabel {
    Q_OBJECT
public:
    explicit c_video_label(QWidget *parent = nullptr);

    // Shows `picture` at `geometry` (computed for this label's size) and repaints.
    void show_picture(const QImage &picture, const display_geometry &geometry);
    void set_margin_colour(const QColor &colour) { m_margin = colour; }
    // Smooth scaling instead of the fast nearest-pixel one; repaints. Down to a third of the
    // picture's size the paint filters between neighbouring pixels (bilinear); shrunk
    // further, that would skip whole pixels (thin strokes of text vanish), so the picture is
    // averaged down once per picture instead (QImage's smooth scaling, several times dearer).
    // Thresholds: kBilinearShrinkLimit.
    void set_smooth_scaling(bool smooth);
    bool smooth_scaling() const { return m_smooth; }

    static constexpr double kBilinearShrinkLimit = 3.0;

    const QImage &picture() const { return m_picture; }
    const display_geometry &geometry() const { return m_geometry; }
    // Pictures shown so far.
    std::uint64_t pictures_shown() const { return m_shown; }
    // The longest paint of a picture so far, in microseconds. Any thread.
    std::int64_t slowest_paint_us() const { return m_slowestPaintUs.load(std::memory_order_relaxed); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // The smooth copy at the shown size, made at the first paint of a picture shrunk beyond
    // kBilinearShrinkLimit; null otherwise.
    const QImage &averaged_picture(const QSize &shown);

    QImage m_picture;
    QImage m_averaged;
    display_geometry m_geometry;
    QColor m_margin;
    bool m_smooth = false;
    std::uint64_t m_shown = 0;
    std::atomic<std::int64_t> m_slowestPaintUs{0};
};
