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

namespace {

// One side of the actual-size view: the offset of the picture in the area.
int actual_offset(int pictureSide, int areaSide, int &scroll)
{
    if (pictureSide <= areaSide) {
        scroll = 0;
        return (areaSide - pictureSide) / 2;
    }
    scroll = qBound(0, scroll, pictureSide - areaSide);
    return -scroll;
}

} // namespace

std::optional<display_geometry> compute_actual_geometry(int pictureWidth, int pictureHeight,
                                                        int areaWidth, int areaHeight,
                                                        int &scrollX, int &scrollY)
{
    if (pictureWidth <= 0 || pictureHeight <= 0 || areaWidth <= 0 || areaHeight <= 0)
        return std::nullopt;
    display_geometry g;
    g.shownWidth = pictureWidth;
    g.shownHeight = pictureHeight;
    g.offsetX = actual_offset(pictureWidth, areaWidth, scrollX);
    g.offsetY = actual_offset(pictureHeight, areaHeight, scrollY);
    g.xRatio = 1.0f;
    g.yRatio = 1.0f;
    return g;
}

std::optional<display_geometry> compute_view_geometry(view_mode mode, int pictureWidth,
                                                      int pictureHeight, int areaWidth,
                                                      int areaHeight, int &scrollX, int &scrollY)
{
    if (mode == view_mode::actual)
        return compute_actual_geometry(pictureWidth, pictureHeight, areaWidth, areaHeight,
                                       scrollX, scrollY);
    return compute_display_geometry(pictureWidth, pictureHeight, areaWidth, areaHeight);
}

int edge_pan_step(int position, int areaSide, int band, int maxStep)
{
    if (band <= 0 || areaSide <= 0)
        return 0;
    // Depth into the band: 1 on the edge pixel (or past it), `band` on the innermost one.
    const int towardStart = band - position;
    const int towardEnd = position - (areaSide - 1 - band);
    const auto step = [&](int depth) { return (qMin(depth, band) * maxStep + band - 1) / band; };
    if (towardStart > 0)
        return -step(towardStart);
    if (towardEnd > 0)
        return step(towardEnd);
    return 0;
}
