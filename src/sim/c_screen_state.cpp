#include "c_screen_state.h"

#include <algorithm>

c_screen_state::c_screen_state(int width, int height) : m_width(width), m_height(height)
{
    m_state.pointerX = width / 2;
    m_state.pointerY = height / 2;
    m_state.holder = "nobody";
    m_state.disk = "no disk";
}

void c_screen_state::set_console(const std::string &text)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (text == m_state.console)
        return;
    m_state.console = text;
    ++m_state.consoleVersion;
}

void c_screen_state::move_pointer_by(int dx, int dy, int &x, int &y)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_state.pointerX = std::clamp(m_state.pointerX + dx, 0, m_width - 1);
    m_state.pointerY = std::clamp(m_state.pointerY + dy, 0, m_height - 1);
    x = m_state.pointerX;
    y = m_state.pointerY;
}

void c_screen_state::set_pointer(int x, int y)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_state.pointerX = std::clamp(x, 0, m_width - 1);
    m_state.pointerY = std::clamp(y, 0, m_height - 1);
}

void c_screen_state::pointer(int &x, int &y) const
{
    std::lock_guard<std::mutex> hold(m_lock);
    x = m_state.pointerX;
    y = m_state.pointerY;
}

void c_screen_state::set_leds(std::uint8_t leds)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_state.leds = leds;
}

void c_screen_state::set_holder(const std::string &text)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_state.holder = text;
}

void c_screen_state::set_disk(const std::string &text)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_state.disk = text;
}

void c_screen_state::set_offset(int x, int y)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_state.offsetX = x;
    m_state.offsetY = y;
}

void c_screen_state::snapshot(screen_snapshot &out) const
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (out.consoleVersion != m_state.consoleVersion) {
        out.console = m_state.console;
        out.consoleVersion = m_state.consoleVersion;
    }
    out.pointerX = m_state.pointerX;
    out.pointerY = m_state.pointerY;
    out.leds = m_state.leds;
    out.holder = m_state.holder;
    out.disk = m_state.disk;
    out.offsetX = m_state.offsetX;
    out.offsetY = m_state.offsetY;
}
