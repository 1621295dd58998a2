#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

// Pure arithmetic of the mouse modes. Positions are "local": label pixels relative to the
// top-left corner of the remote picture shown in it.

// Where the remote picture lies and what it maps to. Scale: label pixels to remote pixels.
struct picture_geometry {
    int imageWidth = 0;
    int imageHeight = 0;
    float scaleX = 1.0f;
    float scaleY = 1.0f;
    int remoteWidth = 0;
    int remoteHeight = 0;
};

// The absolute mode's coordinate space, whatever the remote resolution.
inline constexpr int kAbsoluteWidth = 1920;
inline constexpr int kAbsoluteHeight = 1200;
inline constexpr int kAbsolutePayloadSize = 6;
// Largest movement of one relative report per axis.
inline constexpr int kMaxRelativeStep = 127;
// Relative reports of (-127, -127) that drive the remote pointer into its top-left corner.
inline constexpr int kAlignReports = 20;

// 0 <= x <= width and 0 <= y <= height (both edges count as inside).
bool inside_picture(const picture_geometry &geometry, int x, int y);

// The position in the 1920 x 1200 space: remote pixel = local x scale (truncated to signed
// 16 bits), then remote x 1920 / remote width (truncated to unsigned 16 bits). False when
// the position is outside the picture, a remote coordinate is negative, or the remote size
// is not yet known (0): nothing may be sent then.
bool absolute_position(const picture_geometry &geometry, int x, int y, std::uint16_t &outX,
                       std::uint16_t &outY);

// [buttons, X low, X high, Y low, Y high, wheel]: X and Y little-endian.
void absolute_payload(std::uint8_t buttons, std::uint16_t x, std::uint16_t y, int wheel,
                      std::uint8_t out[kAbsolutePayloadSize]);

struct mouse_step {
    int dx = 0;
    int dy = 0;
    friend bool operator==(const mouse_step &, const mouse_step &) = default;
    friend std::ostream &operator<<(std::ostream &os, const mouse_step &s)
    {
        return os << '(' << s.dx << ',' << s.dy << ')';
    }
};

// The relative mode's memory: the last local position sent and the fractions of scaled
// movement not yet sent, so that nothing is lost or invented over many small moves.
class relative_tracker {
public:
    // Whole remote pixels to move from the last position to (x, y) at this scale; the
    // position becomes the last one and the fractions stay below 1 in size.
    mouse_step move_to(int x, int y, float scaleX, float scaleY);
    // Back to position (0, 0) with no fractions (after the remote pointer was aligned).
    void reset();

    int last_x() const { return m_lastX; }
    int last_y() const { return m_lastY; }

private:
    static int take_whole(float &remainder);

    int m_lastX = 0;
    int m_lastY = 0;
    float m_remainderX = 0.0f;
    float m_remainderY = 0.0f;
};
