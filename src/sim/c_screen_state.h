#pragma once

#include <cstdint>
#include <mutex>
#include <string>

// What the remote screen shows, as the device's event loop last set it.
struct screen_snapshot {
    std::string console;
    std::uint64_t consoleVersion = 0;
    int pointerX = 0;
    int pointerY = 0;
    std::uint8_t leds = 0;
    std::string holder; // who holds the write privilege
    std::string disk;   // the virtual disk
    int offsetX = 0;    // picture shift in pixels (position commands)
    int offsetY = 0;
};

// The hand-over between the device's event loop (writer) and the stream thread (reader).
// Every operation takes the lock briefly; any thread.
class c_screen_state {
public:
    c_screen_state(int width, int height);

    void set_console(const std::string &text);
    // Moves the pointer, clamped to the screen; returns the clamped position.
    void move_pointer_by(int dx, int dy, int &x, int &y);
    void set_pointer(int x, int y);
    void pointer(int &x, int &y) const;
    void set_leds(std::uint8_t leds);
    void set_holder(const std::string &text);
    void set_disk(const std::string &text);
    void set_offset(int x, int y);

    // Brings `out` up to date; the console text is copied only when it changed since `out`
    // was last filled.
    void snapshot(screen_snapshot &out) const;

    int width() const { return m_width; }
    int height() const { return m_height; }

private:
    const int m_width;
    const int m_height;
    mutable std::mutex m_lock;
    screen_snapshot m_state;
};
