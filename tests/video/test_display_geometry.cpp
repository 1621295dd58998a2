#include "video/display_geometry.h"

#include <QImage>

#include <gtest/gtest.h>

// The picture fits by its relatively longer side, centred (an odd margin halved toward
// zero), and is as large as QImage's fast scaling of it, which is what is drawn.
TEST(DisplayGeometry, FitsByTheRelativelyLongerSideAsQImageScales)
{
    const struct { int pw, ph, aw, ah; display_geometry expected; } cases[] = {
        {1920, 1080, 960, 800, {960, 540, 0, 130, 2.0f, 2.0f}},
        {1024, 768, 1600, 900, {1200, 900, 200, 0, float(1024.0 / 1200.0), float(768.0 / 900.0)}},
        {1280, 720, 1920, 1080, {1920, 1080, 0, 0, float(1280.0 / 1920.0), float(720.0 / 1080.0)}},
        {100, 100, 101, 50, {50, 50, 25, 0, 2.0f, 2.0f}},
        {1366, 768, 1301, 903, {1301, 731, 0, 86, float(1366.0 / 1301.0), float(768.0 / 731.0)}},
        {1280, 1024, 578, 1135, {578, 462, 0, 336, float(1280.0 / 578.0), float(1024.0 / 462.0)}},
        {720, 400, 1686, 436, {785, 436, 450, 0, float(720.0 / 785.0), float(400.0 / 436.0)}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.pw << "x" << c.ph << " in " << c.aw << "x" << c.ah);
        const auto g = compute_display_geometry(c.pw, c.ph, c.aw, c.ah);
        ASSERT_TRUE(g);
        EXPECT_EQ(g->shownWidth, c.expected.shownWidth);
        EXPECT_EQ(g->shownHeight, c.expected.shownHeight);
        EXPECT_EQ(g->offsetX, c.expected.offsetX);
        EXPECT_EQ(g->offsetY, c.expected.offsetY);
        EXPECT_FLOAT_EQ(g->xRatio, c.expected.xRatio);
        EXPECT_FLOAT_EQ(g->yRatio, c.expected.yRatio);
        const QImage picture(c.pw, c.ph, QImage::Format_RGB32);
        const QImage drawn = double(c.pw) / c.ph < double(c.aw) / c.ah
            ? picture.scaledToHeight(c.ah, Qt::FastTransformation)
            : picture.scaledToWidth(c.aw, Qt::FastTransformation);
        EXPECT_EQ(QSize(g->shownWidth, g->shownHeight), drawn.size());
    }
    // An empty picture or area shows nothing, nor does a very tall picture in a 1-pixel-high
    // area (its width rounds to nothing).
    for (const auto &[pw, ph, aw, ah] : {std::array{0, 1080, 960, 800}, {1920, 0, 960, 800},
                                         {1920, 1080, 0, 800}, {1920, 1080, 960, -1}, {1, 4000, 1000, 1}})
        EXPECT_FALSE(compute_display_geometry(pw, ph, aw, ah)) << pw << "x" << ph << " in " << aw << "x" << ah;
}
