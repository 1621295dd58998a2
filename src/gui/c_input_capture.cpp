#include "c_input_capture.h"

#include "km/c_km_session.h"
#include "logging/log.h"
#include "protocol/c_net_syncer.h"
#include "protocol/km_frame.h"
#include "tools/key_mouse/c_key_translator.h"
#include "tools/key_mouse/scan_codes.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QWheelEvent>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace {

constexpr std::uint32_t kCapsLock = 0x01000024;
constexpr std::uint32_t kNumLock = 0x01000025;
constexpr std::uint32_t kScrollLock = 0x01000026;

constexpr std::uint8_t kCapsLockUsage = 57;
constexpr std::uint8_t kScrollLockUsage = 71;
constexpr std::uint8_t kNumLockUsage = 83;

bool is_lock_key(std::uint32_t key, std::uint8_t usage)
{
    return key == kCapsLock || key == kNumLock || key == kScrollLock || usage == kCapsLockUsage ||
           usage == kScrollLockUsage || usage == kNumLockUsage;
}

// X11 key events carry the modifier state from just before the key: a report bit whose
// modifier mask is missing there belongs to a key let go of where the window could not see
// it (a window manager's grab swallowed the release). AltGr is the right Alt key, which
// layouts put on Mod1 or Mod5.
struct modifier_rule {
    std::uint8_t reportBits;
    std::uint32_t x11Masks;
};
constexpr modifier_rule kModifierRules[] = {
    {0x01 | 0x10, 0x04},     // Control: ControlMask
    {0x02 | 0x20, 0x01},     // Shift: ShiftMask
    {0x04, 0x08},            // left Alt: Mod1
    {0x40, 0x08 | 0x80},     // right Alt: Mod1 or Mod5
    {0x08 | 0x80, 0x40},     // GUI: Mod4
};

// "keyPress2,<key>,keyBuf=b0,...,b7". These lines record every key the user types,
// passwords included, so they go out at trace level, which a normal log leaves out.
void log_key(const char *what, std::uint32_t key, const std::uint8_t report[8])
{
    TLOG_TRACE << what << key << ",keyBuf=" << report[0] << "," << report[1] << "," << report[2]
               << "," << report[3] << "," << report[4] << "," << report[5] << "," << report[6]
               << "," << report[7];
}

} // namespace

c_input_capture::c_input_capture(c_km_session &session, c_key_translator *translator,
                                 QWidget *window, QWidget *screen, QObject *parent)
    : QObject(parent), m_session(session), m_translator(translator), m_window(window),
      m_screen(screen)
{
    setObjectName(QStringLiteral("input capture"));
    const QString platform = QGuiApplication::platformName();
    m_evdevKeys = platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland"));
    m_nativeModifiers = platform == QLatin1String("xcb");
    // Moves without a button held must reach the filter too.
    m_screen->setMouseTracking(true);
    install_pointer();
}

c_input_capture::~c_input_capture()
{
    if (m_keyboardGrabbed && m_window->windowHandle())
        m_window->windowHandle()->setKeyboardGrabEnabled(false);
    restore_cursor();
    m_session.mouse().set_pointer({});
}

// Where the mouse part finds the cursor: label pixels minus the picture's origin.
void c_input_capture::install_pointer()
{
    c_km_mouse::pointer_access pointer;
    pointer.local_position = [this] {
        return m_screen->mapFromGlobal(QCursor::pos()) - m_session.mouse().origin();
    };
    pointer.clamped_local_position = [this] {
        QPoint p = m_screen->mapFromGlobal(QCursor::pos());
        p.setX(std::clamp(p.x(), 0, std::max(0, m_screen->width() - 1)));
        p.setY(std::clamp(p.y(), 0, std::max(0, m_screen->height() - 1)));
        return p - m_session.mouse().origin();
    };
    pointer.move_to_label_origin = [this] { QCursor::setPos(m_screen->mapToGlobal(QPoint(0, 0))); };
    pointer.window_active = [this] { return m_window->isActiveWindow(); };
    m_session.mouse().set_pointer(std::move(pointer));
}

bool c_input_capture::eventFilter(QObject *watched, QEvent *event)
{
    return filter_event(watched, event) || QObject::eventFilter(watched, event);
}

bool c_input_capture::filter_event(QObject *watched, QEvent *event)
{
    if (event == nullptr)
        return false;
    if (watched == m_window)
        return window_event(event);
    if (watched == m_screen)
        return screen_event(event);
    return false;
}

bool c_input_capture::window_event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::WindowActivate:
        m_session.mouse().on_window_activated();
        update_keyboard_grab();
        return false;
    case QEvent::WindowDeactivate:
        release_held_input(true);
        update_keyboard_grab();
        return true;
    case QEvent::WindowStateChange:
        // Entering or leaving full screen: keys pressed before may be released after it,
        // where a window manager or the grab decides who sees them.
        release_held_input(false);
        update_keyboard_grab();
        return false;
    default:
        return false;
    }
}

void c_input_capture::release_held_input(bool evenIfNothingHeld)
{
    if (m_translator == nullptr)
        return;
    const std::uint8_t *held = m_translator->report();
    if (evenIfNothingHeld || std::any_of(held, held + c_key_translator::kReportSize,
                                         [](std::uint8_t b) { return b != 0; })) {
        m_translator->release_all();
        TLOG_INFO << "all key release when qt lost focus";
        const std::uint8_t zero[c_key_translator::kReportSize] = {};
        log_key("keyRelease2,", 0, zero);
        send_keyboard_report(zero);
    }
    m_session.mouse().release_buttons();
}

void c_input_capture::update_keyboard_grab()
{
    const bool wanted = m_window->isFullScreen() && m_window->isActiveWindow();
    QWindow *handle = m_window->windowHandle();
    if (wanted == m_keyboardGrabbed || handle == nullptr)
        return;
    if (wanted) {
        m_keyboardGrabbed = handle->setKeyboardGrabEnabled(true);
        if (m_keyboardGrabbed)
            TLOG_INFO << "keyboard grabbed in full screen; " << kFullScreenShortcut << " leaves it";
        else
            TLOG_WARN << "the desktop refused to give the full-screen viewer the keyboard";
        return;
    }
    handle->setKeyboardGrabEnabled(false);
    m_keyboardGrabbed = false;
    TLOG_INFO << "keyboard grab released";
}

bool c_input_capture::screen_event(QEvent *event)
{
    // The cursor shape is ours to undo whatever the privilege did meanwhile.
    if (event->type() == QEvent::Leave)
        restore_cursor();
    if (!m_session.privilege().writing())
        return false;
    // A menu, a dialog or another widget took the keys: what is held would stay held.
    if (event->type() == QEvent::FocusOut) {
        release_held_input(false);
        return false;
    }

    c_km_mouse &mouse = m_session.mouse();
    switch (event->type()) {
    case QEvent::KeyPress:
        return key_event(static_cast<QKeyEvent *>(event), true);
    case QEvent::KeyRelease:
        return key_event(static_cast<QKeyEvent *>(event), false);
    case QEvent::MouseMove:
        mouse.on_move();
        return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
        return mouse_button_event(static_cast<QMouseEvent *>(event));
    case QEvent::Wheel: {
        const QPoint delta = static_cast<QWheelEvent *>(event)->angleDelta();
        mouse.on_wheel(delta.y() != 0 ? delta.y() : delta.x());
        return true;
    }
    case QEvent::Enter:
        override_cursor();
        return true;
    case QEvent::Leave:
        mouse.on_leave();
        return true;
    default:
        return false;
    }
}

bool c_input_capture::key_event(QKeyEvent *event, bool pressed)
{
    if (m_translator == nullptr)
        return true;
    // The remote computer repeats a held key by itself; a repeat's release would let go of it.
    if (!pressed && event->isAutoRepeat())
        return true;
    const auto key = static_cast<std::uint32_t>(event->key());
    const std::uint8_t usage = physical_usage(event);
    const bool dropped = drop_released_modifiers(event, usage, key);
    std::uint8_t report[c_key_translator::kReportSize];
    int length = 0;
    const bool translated = usage != 0 ? m_translator->translate_usage(usage, pressed, report, length)
                                       : m_translator->translate_key(key, pressed, report, length);
    if (!translated) {
        if (dropped)
            send_keyboard_report(m_translator->report());
        return false; // no usage: Qt handles the key here
    }
    log_key(pressed ? "keyPress2," : "keyRelease2,", key, report);
    send_keyboard_report(report);
    if (pressed && is_lock_key(key, usage)) {
        TLOG_WARN << "I click led";
        m_session.led().hold_off();
    }
    return true;
}

// The physical key's usage where the platform numbers keys as the kernel does (X11 and
// Wayland: evdev code + 8) and physical keys are wanted; 0 otherwise (the Qt key decides).
std::uint8_t c_input_capture::physical_usage(const QKeyEvent *event) const
{
    if (m_mapping != key_mapping::physical || event->nativeScanCode() == 0)
        return 0;
    return m_evdevKeys ? hid_usage_of_native_key(event->nativeScanCode()) : 0;
}

bool c_input_capture::drop_released_modifiers(const QKeyEvent *event, std::uint8_t usage,
                                              std::uint32_t key)
{
    if (!m_nativeModifiers || event->nativeScanCode() == 0)
        return false;
    // The event's own key changes its bit itself.
    std::uint8_t own = 0;
    if (is_modifier_usage(usage))
        own = modifier_bit(usage);
    else if (usage == 0 && c_key_translator::is_modifier(key))
        own = m_translator->usage_of(key);
    const std::uint32_t state = event->nativeModifiers();
    std::uint8_t released = 0;
    for (const modifier_rule &rule : kModifierRules) {
        if ((state & rule.x11Masks) == 0)
            released |= rule.reportBits;
    }
    return m_translator->drop_modifiers(static_cast<std::uint8_t>(released & ~own));
}

bool c_input_capture::mouse_button_event(QMouseEvent *event)
{
    int kind = c_km_mouse::kPress;
    if (event->type() == QEvent::MouseButtonRelease)
        kind = c_km_mouse::kRelease;
    else if (event->type() == QEvent::MouseButtonDblClick)
        kind = c_km_mouse::kDoubleClick;
    m_session.mouse().on_button(static_cast<int>(event->button()), kind);
    return true;
}

void c_input_capture::send_keyboard_report(const std::uint8_t report[8])
{
    m_session.syncer().send_km_data(kKmKeyboard, report, c_key_translator::kReportSize);
}

void c_input_capture::send_combo(const std::vector<std::uint32_t> &keys)
{
    std::uint8_t report[c_key_translator::kReportSize] = {};
    if (m_translator != nullptr) {
        m_translator->build_combo_report(keys, report);
    } else {
        c_key_translator lookup;
        lookup.build_combo_report(keys, report);
    }
    const std::uint8_t zero[c_key_translator::kReportSize] = {};
    send_keyboard_report(report);
    send_keyboard_report(zero);
}

QCursor c_input_capture::cross_cursor()
{
    const QPixmap cross(QString::fromLatin1(kCrossCursor));
    if (cross.isNull())
        return QCursor(Qt::CrossCursor);
    return QCursor(cross, cross.width() / 2, cross.height() / 2);
}

void c_input_capture::override_cursor()
{
    const QCursor shape = m_showCursor ? cross_cursor() : QCursor(Qt::BlankCursor);
    if (m_cursorOverridden) {
        QApplication::changeOverrideCursor(shape);
        return;
    }
    QApplication::setOverrideCursor(shape);
    m_cursorOverridden = true;
}

void c_input_capture::restore_cursor()
{
    if (!m_cursorOverridden)
        return;
    QApplication::restoreOverrideCursor();
    m_cursorOverridden = false;
}

void c_input_capture::toggle_mouse_show()
{
    m_showCursor = !m_showCursor;
    if (m_cursorOverridden)
        override_cursor();
    emit signal_mouse_show_changed(m_showCursor);
}

QString c_input_capture::mouse_show_icon(bool shown)
{
    return shown ? QStringLiteral(":/image/Resources/mouseHide.png")
                 : QStringLiteral(":/image/Resources/mouseShow.png");
}

QString c_input_capture::mouse_show_tip(bool shown)
{
    return shown ? QStringLiteral("Mouse Hide") : QStringLiteral("Mouse Show");
}
