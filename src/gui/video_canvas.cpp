#include "video_canvas.h"

#include <QPainter>

#include <memory>

namespace {

using shared_pixels = std::shared_ptr<std::uint8_t>;

void release_pixels(void *holder)
{
    delete static_cast<shared_pixels *>(holder);
}

} // namespace

QImage video_picture_image(const video_picture &picture)
{
    if (picture.empty())
        return QImage();
    auto holder = std::make_unique<shared_pixels>(picture.pixels);
    // The const-data form: Qt never writes into it, a non-const access detaches a copy.
    QImage image(static_cast<const uchar *>(picture.data()), picture.width, picture.height,
                 picture.stride, QImage::Format_RGB32, release_pixels, holder.get());
    if (!image.isNull())
        holder.release(); // now released by the image's last copy
    return image;
}

QImage &c_video_canvas::next_canvas(QSize area)
{
    m_current = 1 - m_current;
    QImage &canvas = m_canvas[m_current];
    if (canvas.size() != area || canvas.format() != QImage::Format_RGB32 || !canvas.isDetached())
        canvas = QImage(area, QImage::Format_RGB32);
    return canvas;
}

std::optional<display_geometry> c_video_canvas::render(const QImage &picture, QSize area,
                                                       const QColor &margin)
{
    const auto geometry =
        compute_display_geometry(picture.width(), picture.height(), area.width(), area.height());
    if (!geometry)
        return std::nullopt;
    QImage &canvas = next_canvas(area);
    const QRect shown(geometry->offsetX, geometry->offsetY, geometry->shownWidth,
                      geometry->shownHeight);
    QPainter painter(&canvas);
    // Margins only: the picture covers the rest. Halving may leave one more margin column
    // or row on the right or bottom.
    painter.fillRect(QRect(0, 0, area.width(), shown.top()), margin);
    painter.fillRect(QRect(0, shown.bottom() + 1, area.width(), area.height() - shown.bottom() - 1),
                     margin);
    painter.fillRect(QRect(0, shown.top(), shown.left(), shown.height()), margin);
    painter.fillRect(QRect(shown.right() + 1, shown.top(), area.width() - shown.right() - 1,
                           shown.height()),
                     margin);
    painter.drawImage(shown, picture);
    return geometry;
}
