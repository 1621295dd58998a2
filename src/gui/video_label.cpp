#include "video_label.h"

#include <QImage>
#include <QLabel>
#include <QPixmap>

void show_canvas(QLabel &label, const QImage &canvas)
{
    label.setPixmap(QPixmap::fromImage(canvas));
    label_covered_changed(label);
}

void label_covered_changed(QLabel &label)
{
    const QPixmap pixmap = label.pixmap();
    label.setAttribute(Qt::WA_OpaquePaintEvent,
                       !pixmap.isNull() && label.contentsRect() == label.rect() &&
                           pixmap.size() == label.size());
}
