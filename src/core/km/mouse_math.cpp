#include "km/mouse_math.h"

#include <algorithm>
#include <cmath>

namespace {

// Float to integer by truncation toward zero, saturated to the int range first: a cast of
// an out-of-range float is undefined.
std::int64_t truncate(double value)
{
    if (!(value == value))
        return 0;
    return static_cast<std::int64_t>(std::clamp(value, -2147483648.0, 2147483647.0));
}

} // namespace

bool inside_picture(const picture_geometry &geometry, int x, int y)
{
    return x >= 0 && x <= geometry.imageWidth && y >= 0 && y <= geometry.imageHeight;
}

bool absolute_position(const picture_geometry &geometry, int x, int y, std::uint16_t &outX,
                       std::uint16_t &outY)
{
    if (!inside_picture(geometry, x, y))
        return false;
    const auto rx = static_cast<std::int16_t>(truncate(double(float(x) * geometry.scaleX)));
    const auto ry = static_cast<std::int16_t>(truncate(double(float(y) * geometry.scaleY)));
    if (rx < 0 || ry < 0 || geometry.remoteWidth < 1 || geometry.remoteHeight <= 0)
        return false;
    outX = static_cast<std::uint16_t>(truncate(rx * double(kAbsoluteWidth) / geometry.remoteWidth));
    outY = static_cast<std::uint16_t>(
        truncate(ry * double(kAbsoluteHeight) / geometry.remoteHeight));
    return true;
}

void absolute_payload(std::uint8_t buttons, std::uint16_t x, std::uint16_t y, int wheel,
                      std::uint8_t out[kAbsolutePayloadSize])
{
    out[0] = buttons;
    out[1] = static_cast<std::uint8_t>(x & 0xFF);
    out[2] = static_cast<std::uint8_t>(x >> 8);
    out[3] = static_cast<std::uint8_t>(y & 0xFF);
    out[4] = static_cast<std::uint8_t>(y >> 8);
    out[5] = static_cast<std::uint8_t>(static_cast<std::int8_t>(wheel));
}

int relative_tracker::take_whole(float &remainder)
{
    const float whole = std::trunc(remainder);
    remainder -= whole;
    return static_cast<int>(whole);
}

mouse_step relative_tracker::move_to(int x, int y, float scaleX, float scaleY)
{
    const float fx = float(x - m_lastX) * scaleX;
    const float fy = float(y - m_lastY) * scaleY;
    m_lastX = x;
    m_lastY = y;
    // Positions are label pixels, so the scaled movement stays far inside the int range.
    int ix = static_cast<int>(truncate(fx));
    int iy = static_cast<int>(truncate(fy));
    m_remainderX += fx - float(ix);
    m_remainderY += fy - float(iy);
    ix += take_whole(m_remainderX);
    iy += take_whole(m_remainderY);
    return {ix, iy};
}

void relative_tracker::reset()
{
    m_lastX = 0;
    m_lastY = 0;
    m_remainderX = 0.0f;
    m_remainderY = 0.0f;
}
