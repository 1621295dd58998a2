#pragma once

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
class c_input_capture : public QObject {
    Q_OBJECT
public:
    static constexpr const char *kCrossCursor = ":/image/Resources/cross.png";

    // `translator` may be null until the window has created it (keys are then swallowed
    // and nothing is sent). session, window and screen outlive this object.
    c_input_capture(c_km_session &session, c_key_translator *translator, QWidget *window,
                    QWidget *screen, QObject *parent = nullptr);
    ~c_input_capture() override;

    void set_translator(c_key_translator *translator) { m_translator = translator; }

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
    bool mouse_button_event(QMouseEvent *event);
    void release_all_keys();
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
};
