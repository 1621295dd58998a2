#pragma once

#include <optional>

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
};

// Pure; any thread. A picture relatively taller than the area (aspect ratios compared in
// double precision) fills the area's height and is centred across; otherwise it fills the
// width and is centred down. Offsets halve the margin, truncating toward zero. Nothing
// (std::nullopt) for an empty picture or area, or when the picture would shrink to nothing.
std::optional<display_geometry> compute_display_geometry(int pictureWidth, int pictureHeight,
                                                         int areaWidth, int areaHeight);
