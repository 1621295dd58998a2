#pragma once

#include <optional>
#include <ostream>

// Where a remote picture of width x height is shown in an area of the window: scaled to fit
// while keeping its aspect ratio, centred, margins around it. The sizes are those
// QImage::scaledToHeight / scaledToWidth give with Qt::FastTransformation (the other side is
// the scale factor times the picture's side, rounded to nearest), so the geometry recorded
// for the mouse matches the picture drawn.
struct display_geometry {
    int shownWidth = 0;
    int shownHeight = 0;
    int offsetX = 0; // top-left corner of the shown picture inside the area
    int offsetY = 0;
    float xRatio = 0; // remote picture width / shown width
    float yRatio = 0; // remote picture height / shown height

    bool operator==(const display_geometry &) const = default;
    friend std::ostream &operator<<(std::ostream &os, const display_geometry &g)
    {
        return os << g.shownWidth << 'x' << g.shownHeight << " at " << g.offsetX << ','
                  << g.offsetY << " ratio " << g.xRatio << ',' << g.yRatio;
    }
};

// Pure; any thread. A picture relatively taller than the area (aspect ratios compared in
// double precision) fills the area's height and is centred across; otherwise it fills the
// width and is centred down. Offsets halve the margin, truncating toward zero. Nothing
// (std::nullopt) for an empty picture or area, or when the picture would shrink to nothing.
std::optional<display_geometry> compute_display_geometry(int pictureWidth, int pictureHeight,
                                                         int areaWidth, int areaHeight);

// How the remote picture is shown: fitted to the area, or at its own size (1:1) and panned
// when it is larger than the area.
enum class view_mode { fit, actual };

// Pure; any thread. Actual size: ratios 1, shown size the picture's. Along a side where the
// picture is no larger than the area it is centred (margin halved toward zero); along a side
// where it is larger, the area starts `scroll` pixels into the picture: `scroll` is clamped to
// 0 .. picture - area there (0 elsewhere) and written back, and the offset is its negation.
// Nothing for an empty picture or area.
std::optional<display_geometry> compute_actual_geometry(int pictureWidth, int pictureHeight,
                                                        int areaWidth, int areaHeight,
                                                        int &scrollX, int &scrollY);

// Either of the above; in fit mode the scroll is left alone (it is kept for the next switch).
std::optional<display_geometry> compute_view_geometry(view_mode mode, int pictureWidth,
                                                      int pictureHeight, int areaWidth,
                                                      int areaHeight, int &scrollX, int &scrollY);

// Pure. How far to pan (pixels, each axis) for a pointer at (x, y) in an area of the given
// size: 0 outside the `band` pixels along each edge, toward the edge inside it, growing
// linearly to `maxStep` at the edge and beyond it.
int edge_pan_step(int position, int areaSide, int band, int maxStep);
