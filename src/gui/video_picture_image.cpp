#include "video_picture_image.h"

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
