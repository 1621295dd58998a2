// The remote screen label: the picture drawn scaled at its geometry, margins around it.
#include "video/display_geometry.h"
#include "video_label.h"

#include <QImage>

#include <gtest/gtest.h>

TEST(VideoLabel, ShowsThePictureAsScaledWithFastTransformationAmidMargins)
{
    const QColor margin(10, 20, 30);
    c_video_label label;
    label.set_margin_colour(margin);
    EXPECT_FALSE(label.testAttribute(Qt::WA_OpaquePaintEvent)) << "a plain label before a picture";
    const struct {
        QSize picture, area;
    } cases[] = {{{1920, 1080}, {960, 800}}, {{1024, 768}, {1600, 900}}, {{1280, 1024}, {1237, 771}}};
    for (const auto &c : cases) {
        QImage picture(c.picture, QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixel(x, y, qRgb(x / 8, y / 5, (x ^ y) & 0xFF));
        label.resize(c.area);
        const auto g = compute_display_geometry(c.picture.width(), c.picture.height(),
                                                c.area.width(), c.area.height());
        ASSERT_TRUE(g);
        label.show_picture(picture, *g);
        EXPECT_TRUE(label.testAttribute(Qt::WA_OpaquePaintEvent)) << "no fill under the picture";

        // What the window shows is the picture scaled by QImage itself, placed at the offset.
        const QImage shown = label.grab().toImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(shown.size(), c.area);
        const QImage scaled = picture.scaled(g->shownWidth, g->shownHeight, Qt::IgnoreAspectRatio,
                                             Qt::FastTransformation);
        const QRect inside(g->offsetX, g->offsetY, g->shownWidth, g->shownHeight);
        int wrong = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                wrong += shown.pixel(x, y) != (inside.contains(x, y)
                                                   ? scaled.pixel(x - g->offsetX, y - g->offsetY)
                                                   : margin.rgb());
        EXPECT_EQ(wrong, 0) << c.picture.width() << " wide in " << c.area.width() << "x"
                            << c.area.height();
    }
    EXPECT_EQ(label.pictures_shown(), 3u);
}
