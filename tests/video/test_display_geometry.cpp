#include "video/display_geometry.h"
#include "video_picture_image.h"

#include <QImage>

#include <gtest/gtest.h>

#include <ostream>

std::ostream &operator<<(std::ostream &os, const display_geometry &g)
{
    return os << g.shownWidth << "x" << g.shownHeight << " at (" << g.offsetX << ", "
              << g.offsetY << ") ratios " << g.xRatio << ", " << g.yRatio;
}

TEST(DisplayGeometry, FitsByTheRelativelyLongerSide)
{
    // Wide picture in a taller area: full width, centred down.
    EXPECT_EQ(compute_display_geometry(1920, 1080, 960, 800),
              (display_geometry{960, 540, 0, 130, 2.0f, 2.0f}));
    // Taller picture in a wide area: full height, centred across.
    const auto tall = compute_display_geometry(1024, 768, 1600, 900);
    ASSERT_TRUE(tall);
    EXPECT_EQ(tall->shownWidth, 1200);
    EXPECT_EQ(tall->shownHeight, 900);
    EXPECT_EQ(tall->offsetX, 200);
    EXPECT_EQ(tall->offsetY, 0);
    EXPECT_FLOAT_EQ(tall->xRatio, float(1024.0 / 1200.0));
    EXPECT_FLOAT_EQ(tall->yRatio, float(768.0 / 900.0));
    // Equal ratios: full width, no offset.
    EXPECT_EQ(compute_display_geometry(1280, 720, 1920, 1080),
              (display_geometry{1920, 1080, 0, 0, float(1280.0 / 1920.0),
                                float(720.0 / 1080.0)}));
    // An odd margin is halved toward zero.
    EXPECT_EQ(compute_display_geometry(100, 100, 101, 50)->offsetX, 25);
}

TEST(DisplayGeometry, EmptyPictureOrAreaShowsNothing)
{
    EXPECT_FALSE(compute_display_geometry(0, 1080, 960, 800));
    EXPECT_FALSE(compute_display_geometry(1920, 0, 960, 800));
    EXPECT_FALSE(compute_display_geometry(1920, 1080, 0, 800));
    EXPECT_FALSE(compute_display_geometry(1920, 1080, 960, -1));
    // A 1-pixel-high area for a very tall picture rounds its width to nothing.
    EXPECT_FALSE(compute_display_geometry(1, 4000, 1000, 1));
}

TEST(DisplayGeometry, ShownSizeIsWhatQImageScalingGives)
{
    const int pictures[][2] = {{1920, 1080}, {1024, 768}, {1280, 1024}, {1366, 768},
                               {800, 600},   {1440, 900}, {3840, 2160}, {720, 400}};
    QImage picture;
    for (const auto &p : pictures) {
        picture = QImage(p[0], p[1], QImage::Format_RGB32);
        for (int aw = 301; aw < 2000; aw += 277) {
            for (int ah = 203; ah < 1300; ah += 233) {
                const auto g = compute_display_geometry(p[0], p[1], aw, ah);
                ASSERT_TRUE(g);
                const bool taller = double(p[0]) / p[1] < double(aw) / ah;
                const QImage scaled = taller
                                          ? picture.scaledToHeight(ah, Qt::FastTransformation)
                                          : picture.scaledToWidth(aw, Qt::FastTransformation);
                ASSERT_EQ(g->shownWidth, scaled.width()) << p[0] << "x" << p[1] << " in " << aw
                                                         << "x" << ah;
                ASSERT_EQ(g->shownHeight, scaled.height()) << p[0] << "x" << p[1] << " in "
                                                           << aw << "x" << ah;
            }
        }
    }
}

TEST(VideoPictureImage, SharesThePooledBufferWithoutCopy)
{
    c_picture_pool pool(2);
    {
        video_picture picture = pool.acquire(4, 2);
        ASSERT_FALSE(picture.empty());
        std::fill_n(picture.pixels.get(), picture.stride * picture.height, 0x40);
        const QImage image = video_picture_image(picture);
        EXPECT_EQ(image.constBits(), picture.data());
        EXPECT_EQ(image.format(), QImage::Format_RGB32);
        EXPECT_EQ(image.pixel(3, 1), qRgb(0x40, 0x40, 0x40));
        picture = video_picture{};
        // The image alone keeps the buffer: the pool must hand out another one.
        const video_picture other = pool.acquire(4, 2);
        EXPECT_NE(other.data(), image.constBits());
        EXPECT_EQ(pool.buffers_allocated(), 2u);
    }
    // Both came back; no new allocation.
    const video_picture again = pool.acquire(4, 2);
    EXPECT_EQ(pool.buffers_allocated(), 2u);
    EXPECT_TRUE(video_picture_image(video_picture{}).isNull());
}
