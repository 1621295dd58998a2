#pragma once

#include "settings/config_file.h"

#include <QCursor>
#include <QObject>
#include <QString>

#include <cstdint>
#include <vector>

class QEvent;
class QKeyEvent;
class QMouseEvent;
class QWidget;
class c_key_translator;
class c_km_session;

// Turns the main window's keyboard and mouse events into keyboard and mouse reports for the
// device, while this viewer holds the write privilege. The window's eventFilter hands every
// event to filter_event() first and passes those it does not consume to its base class.
//
// Watched objects: the main window (deactivation releases every key) and the label that
// shows the remote screen (keys, mouse, wheel, enter and leave). Main thread only.
//
// Keys go out as the physical key pressed where the platform names it (X11 and Wayland key
// codes), so the remote computer's layout decides the character; elsewhere, and when
// "config.xml" asks for it, as the Qt key through the US table. Whenever keys may stop
// reaching the label (the window deactivated, the label's focus lost to a menu, a dialog or
// a window manager's grab, a full-screen switch) everything held is released on the remote
// computer at once; on X11 a held modifier the key events say is up is let go too. In full
// screen the window grabs the keyboard, so the desktop's own shortcuts (Alt+Tab, the Super
// key) reach the remote computer; the full-screen action's shortcut (kFullScreenShortcut)
// leaves it, and the grab ends with full screen or when the window is deactivated.
class c_input_capture : public QObject {
    Q_OBJECT
public:
    static constexpr const char *kCrossCursor = ":/image/Resources/cross.png";
    // Enters and leaves full screen; stays with the viewer while the keyboard is grabbed.
    static constexpr const char *kFullScreenShortcut = "Ctrl+Alt+Return";

    // `translator` may be null until the window has created it (keys are then swallowed
    // and nothing is sent). session, window and screen outlive this object.
    c_input_capture(c_km_session &session, c_key_translator *translator, QWidget *window,
                    QWidget *screen, QObject *parent = nullptr);
    ~c_input_capture() override;

    void set_translator(c_key_translator *translator) { m_translator = translator; }
    void set_key_mapping(key_mapping mapping) { m_mapping = mapping; }

    // Releases every key and mouse button held on the remote computer: one report of each
    // kind when something of that kind was held, and the keyboard's always when asked.
    void release_held_input(bool evenIfNothingHeld);
    bool keyboard_grabbed() const { return m_keyboardGrabbed; }

    // True when the event was consumed (the window then returns true from its filter).
    bool filter_event(QObject *watched, QEvent *event);

    // A key combination from the system key menu: its press report, then all keys up. The
    // held keys of the session stay as they are.
    void send_combo(const std::vector<std::uint32_t> &keys);

    // "Mouse Hide"/"Mouse Show": whether the cross cursor (true, initially) or no cursor at
    // all shows over the remote screen.
    void toggle_mouse_show();
    bool mouse_shown() const { return m_showCursor; }
    // The toolbar action's icon and tool tip for a state of mouse_shown().
    static QString mouse_show_icon(bool shown);
    static QString mouse_show_tip(bool shown);

    // The cross cursor of the remote screen (Qt::CrossCursor when the image is missing).
    static QCursor cross_cursor();
    bool cursor_overridden() const { return m_cursorOverridden; }

signals:
    // After toggle_mouse_show(): the window updates the sixth toolbar action.
    void signal_mouse_show_changed(bool shown);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool window_event(QEvent *event);
    bool screen_event(QEvent *event);
    bool key_event(QKeyEvent *event, bool pressed);
    std::uint8_t physical_usage(const QKeyEvent *event) const;
    // True when a held modifier was let go of (the report changed without being sent).
    bool drop_released_modifiers(const QKeyEvent *event, std::uint8_t usage, std::uint32_t key);
    void update_keyboard_grab();
    bool mouse_button_event(QMouseEvent *event);
    void send_keyboard_report(const std::uint8_t report[8]);
    void override_cursor();
    void restore_cursor();
    void install_pointer();

    c_km_session &m_session;
    c_key_translator *m_translator;
    QWidget *m_window;
    QWidget *m_screen;
    bool m_showCursor = true;
    bool m_cursorOverridden = false;
    key_mapping m_mapping = key_mapping::physical;
    bool m_evdevKeys = false;       // the platform's key codes are the kernel's plus 8
    bool m_nativeModifiers = false; // its key events carry the X11 modifier state
    bool m_keyboardGrabbed = false;
};
