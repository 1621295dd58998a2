#pragma once

#include "c_screen_state.h"

#include <QFont>
#include <QImage>
#include <QRect>

#include <cstdint>
#include <string>

// Paints the simulated remote desktop into one reused RGB32 canvas: a static background
// painted once, a console window repainted only when its text changes, a status bar
// (lock LEDs, privilege holder, disk, frame counter) repainted every picture, and a pointer
// drawn over a saved patch that is put back before the next picture.
//
// The canvas has a black margin around the desktop; a picture shift (position commands)
// only moves the window handed to the encoder. Stream thread only.
class c_screen_renderer {
public:
    // Largest picture shift either way, in pixels.
    static constexpr int kMargin = 64;

    c_screen_renderer(int width, int height);

    // Brings the canvas up to date for picture `frameNumber`; returns the top-left pixel of
    // the visible picture (width x height pixels, rows stride() bytes apart).
    const std::uint8_t *render(const screen_snapshot &state, std::uint64_t frameNumber);
    int stride() const { return static_cast<int>(m_canvas.bytesPerLine()); }
    int width() const { return m_width; }
    int height() const { return m_height; }

private:
    void paint_background();
    void paint_console(const std::string &text);
    void paint_status(const screen_snapshot &state, std::uint64_t frameNumber);
    void restore_under_pointer();
    void paint_pointer(int x, int y);

    const int m_width;
    const int m_height;
    QImage m_canvas;
    QImage m_underPointer;
    QRect m_pointerRect; // in canvas coordinates; empty when no pointer is drawn
    QRect m_consoleRect; // the text area, in canvas coordinates
    QRect m_statusRect;
    QFont m_consoleFont;
    QFont m_statusFont;
    std::uint64_t m_consoleVersion = ~std::uint64_t{0};
};
