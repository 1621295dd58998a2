// The remote screen label: the picture drawn scaled at its geometry, margins around it.
#include "video/display_geometry.h"
#include "video_label.h"

#include <QImage>

#include <gtest/gtest.h>

#include <string>

namespace {

QImage test_picture(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y, qRgb(x / 8, y / 5, (x ^ y) & 0xFF));
    return picture;
}

} // namespace

TEST(VideoLabel, ShowsThePictureAsScaledWithFastTransformationAmidMargins)
{
    const QColor margin(10, 20, 30);
    c_video_label label;
    label.set_margin_colour(margin);
    const struct {
        QSize picture, area;
    } cases[] = {{{1920, 1080}, {960, 800}}, {{1024, 768}, {1600, 900}}, {{1280, 1024}, {1237, 771}}};
    for (const auto &c : cases) {
        const QImage picture = test_picture(c.picture.width(), c.picture.height());
        label.resize(c.area);
        const auto g = compute_display_geometry(picture.width(), picture.height(),
                                                c.area.width(), c.area.height());
        ASSERT_TRUE(g);
        label.show_picture(picture, *g);
        EXPECT_TRUE(label.testAttribute(Qt::WA_OpaquePaintEvent)) << "no fill under the picture";

        // What the window shows is the picture scaled by QImage itself, placed at the offset.
        const QImage shown = label.grab().toImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(shown.size(), c.area);
        const QImage scaled = picture.scaled(g->shownWidth, g->shownHeight, Qt::IgnoreAspectRatio,
                                             Qt::FastTransformation);
        int marginsWrong = 0;
        int differing = 0;
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                const bool inside = x >= g->offsetX && x < g->offsetX + g->shownWidth &&
                                    y >= g->offsetY && y < g->offsetY + g->shownHeight;
                if (!inside)
                    marginsWrong += shown.pixel(x, y) != margin.rgb();
                else
                    differing += shown.pixel(x, y) != scaled.pixel(x - g->offsetX, y - g->offsetY);
            }
        }
        const std::string what = std::to_string(c.picture.width()) + "x" +
                                 std::to_string(c.picture.height()) + " in " +
                                 std::to_string(c.area.width()) + "x" +
                                 std::to_string(c.area.height());
        EXPECT_EQ(marginsWrong, 0) << what;
        EXPECT_EQ(differing, 0) << what;
    }
    EXPECT_EQ(label.pictures_shown(), 3u);
}

TEST(VideoLabel, WithoutAPictureIsAPlainLabel)
{
    c_video_label label;
    label.setText(QStringLiteral("waiting"));
    label.resize(200, 100);
    EXPECT_FALSE(label.testAttribute(Qt::WA_OpaquePaintEvent));
    EXPECT_TRUE(label.picture().isNull());
    EXPECT_FALSE(label.grab().isNull());
}
