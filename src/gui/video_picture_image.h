#pragma once

#include "video/c_picture_pool.h"

#include <QImage>

// A QImage (Format_RGB32) over a decoded picture's pooled buffer, without a copy. The image
// and all its copies keep the buffer from going back to the pool; the buffer is read-only
// through them (a writer gets its own copy). Null image for an empty picture. Any thread.
QImage video_picture_image(const video_picture &picture);
