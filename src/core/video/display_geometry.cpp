#include "video/display_geometry.h"

#include <QtGlobal>

std::optional<display_geometry> compute_display_geometry(int pictureWidth, int pictureHeight,
                                                         int areaWidth, int areaHeight)
{
    if (pictureWidth <= 0 || pictureHeight <= 0 || areaWidth <= 0 || areaHeight <= 0)
        return std::nullopt;
    const double pictureRatio = double(pictureWidth) / double(pictureHeight);
    const double areaRatio = double(areaWidth) / double(areaHeight);
    const bool fitHeight = pictureRatio < areaRatio;
    // QImage scales both sides by one factor and rounds each (fast transformation).
    const double factor = fitHeight ? double(areaHeight) / double(pictureHeight)
                                    : double(areaWidth) / double(pictureWidth);
    display_geometry g;
    g.shownWidth = qRound(factor * pictureWidth);
    g.shownHeight = qRound(factor * pictureHeight);
    if (g.shownWidth <= 0 || g.shownHeight <= 0)
        return std::nullopt;
    if (fitHeight)
        g.offsetX = (areaWidth - g.shownWidth) / 2;
    else
        g.offsetY = (areaHeight - g.shownHeight) / 2;
    g.xRatio = float(double(pictureWidth) / double(g.shownWidth));
    g.yRatio = float(double(pictureHeight) / double(g.shownHeight));
    return g;
}
