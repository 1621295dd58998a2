#pragma once

#include "video/c_picture_pool.h"
#include "video/display_geometry.h"

#include <QColor>
#include <QImage>
#include <QSize>

#include <optional>

// A QImage (Format_RGB32) over a decoded picture's pooled buffer, without a copy. The image
// and all its copies keep the buffer from going back to the pool; the buffer is read-only
// through them (a writer gets its own copy). Null image for an empty picture. Any thread.
QImage video_picture_image(const video_picture &picture);

// Renders the remote picture into a canvas the size of the video area: margins in the
// margin colour, the picture scaled (fast, no smoothing) to the size and at the offset that
// compute_display_geometry() gives.
//
// Two canvases are used in turn, so a canvas is reused only once whoever showed it (a pixmap
// made from it with QPixmap::fromImage shares its buffer) has let it go; when it is still
// held, a new one is made rather than drawing over what is on screen.
//
// GUI thread only.
class c_video_canvas {
public:
    // Draws `picture` for an area of `area`; returns its geometry, or nothing (and draws
    // nothing) for an empty picture or area.
    std::optional<display_geometry> render(const QImage &picture, QSize area,
                                           const QColor &margin);

    // The canvas last drawn (shares its buffer; null before the first picture).
    const QImage &canvas() const { return m_canvas[m_current]; }

private:
    QImage &next_canvas(QSize area);

    QImage m_canvas[2];
    int m_current = 0;
};
