#pragma once

#include "km/c_mouse_sampler.h"
#include "km/mouse_math.h"

#include <QPoint>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

class c_key_translator;
class c_net_syncer;

// The mouse side of the keyboard/mouse session, free of widgets: turns pointer events and
// sample ticks into relative (type 5) or absolute (type 44) reports in the outgoing list.
// Movement is sampled by the timer; buttons and the wheel go at once. Main thread only.
//
// Positions are "local": label pixels relative to the picture's top-left corner. The GUI
// side supplies them through a pointer_access.
class c_km_mouse {
public:
    enum class mode { relative, absolute };
    // Qt's mouse event kinds as the capture passes them on.
    enum event_kind { kPress = 2, kRelease = 3, kDoubleClick = 4 };
    enum qt_button { kLeft = 1, kRight = 2, kMiddle = 4 };

    struct pointer_access {
        // The cursor mapped into the screen label, minus the picture's origin.
        std::function<QPoint()> local_position;
        // The same, first clamped into the label's rectangle.
        std::function<QPoint()> clamped_local_position;
        // Puts the local cursor on the label's top-left corner.
        std::function<void()> move_to_label_origin;
        // The window is the active one; unset counts as active. The local pointer is the
        // user's: it is moved only while they work in this window.
        std::function<bool()> window_active;
    };

    // `translator` keeps the relative mode's button bits; both must outlive this object.
    c_km_mouse(c_net_syncer &syncer, c_key_translator &translator, mode m);

    void set_pointer(pointer_access pointer) { m_pointer = std::move(pointer); }
    void set_mode(mode m) { m_mode = m; }
    mode current_mode() const { return m_mode; }

    // Where the picture lies in the label and how it maps to the remote screen (display).
    void set_geometry(QPoint origin, const picture_geometry &geometry);
    QPoint origin() const { return m_origin; }
    const picture_geometry &geometry() const { return m_geometry; }

    // Events on the screen label while writing.
    void on_move();
    void on_button(int qtButton, int kind);
    void on_wheel(int delta);
    void on_leave();
    // Lets go of the buttons held on the remote computer (focus lost): one report when one
    // was held. forget_buttons() only clears them here (the device already let go).
    void release_buttons();
    void forget_buttons();

    // The next move aligns first (start-up, every window resize).
    void request_align() { m_alignPending.store(1); }
    bool align_pending() const { return m_alignPending.load() != 0; }
    // The window became the active one: an alignment put off while it was not runs now.
    void on_window_activated();

    // Relative mode only (absolute positions need no alignment): twenty (-127, -127)
    // reports drive the remote pointer into its top-left corner, the local cursor goes to
    // the label's corner and the relative memory starts from 0, 0. A view panned past that
    // corner (a negative origin) keeps the cursor where it is instead, and the next sample
    // moves the remote pointer from the corner to the pixel under it. While the window is not
    // active nothing is sent or moved; it aligns once the window is active again (or at the
    // next move in it).
    void align_mouse();

    // Samples the cursor (nothing outside the picture or before the remote size is known)
    // and sends a type-44 report with this wheel value, in order with buttons and keys.
    void send_absolute_mouse(int wheel);
    // Queues the movement from the last position to `position` as relative motion (sent in
    // type-5 steps of <= 127, joined with motion still waiting).
    void send_relative_mouse(QPoint position);

    // Timer side: the sampler calls sample_tick() every 1000 / rate ms once started.
    c_mouse_sampler &sampler() { return m_sampler; }
    void start_sampling() { m_sampler.start(); }
    void stop_sampling() { m_sampler.stop(); }
    void sample_tick();

    int absolute_buttons() const { return m_absoluteButtons; }

private:
    std::optional<QPoint> local_position() const;
    bool window_active() const;
    // The sample's position as a type-44 payload; false when nothing may be sent.
    bool absolute_sample(int wheel, std::uint8_t payload[kAbsolutePayloadSize]) const;
    void send_relative_button(int qtButton, int kind);

    c_net_syncer &m_syncer;
    c_key_translator &m_translator;
    mode m_mode;
    pointer_access m_pointer;
    QPoint m_origin;
    picture_geometry m_geometry;
    relative_tracker m_relative;
    int m_absoluteButtons = 0; // 0 none, 1 left, 2 right
    std::atomic<std::uint8_t> m_alignPending{1};
    std::atomic<bool> m_alignDeferred{false}; // align_mouse() came while inactive
    c_mouse_sampler m_sampler;
};
