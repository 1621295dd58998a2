#pragma once

#include "protocol/c_abs_net_handler.h"
#include "protocol/c_net_syncer.h"
#include "settings/config_file.h"
#include "settings/system_key.h"
#include "tools/key_mouse/c_key_translator.h"
#include "video/display_geometry.h"

#include <QDialog>
#include <QMainWindow>
#include <QMap>
#include <QImage>

#include <memory>
#include <vector>

namespace Ui {
class H264VideoClass;
}
class QAction;
class QTimer;
class QToolButton;
class c_channel_keeper;
class c_tcp_sock;
class c_connection_banner;
class c_stats_overlay;
class c_status_line;
class c_input_capture;
class c_km_session;
class c_ui_u_setting_dlg;
class c_video_session;
class sysKeyConfig;

// The main window: shows the remote screen, captures input for it while this viewer holds
// the write privilege, and owns the device channels. It handles the messages of the
// keyboard/mouse channel (HandleMsg, on its receive thread) and holds the keyboard/mouse
// outgoing list (c_net_syncer); the video channel is a c_video_session whose pictures it
// shows. Apart from HandleMsg and the LED reports of the video channel, everything here runs
// on the GUI thread.
class H264Video : public QMainWindow, public c_abs_net_handler, public c_net_syncer {
    Q_OBJECT

public:
    // Exit status of a program whose device connection failed at start-up or whose login
    // the device refused.
    static constexpr int kStartFailedStatus = 3;

    // Builds the shell, loads "config.xml" and "key.xml" and connects to the device
    // (keyboard/mouse, media, video). When the keyboard/mouse or video connection fails,
    // start_failed() is true and start_failure() holds the text for the user (nothing has
    // been shown yet): the program shows it and ends with kStartFailedStatus. A login that
    // the device refuses later is shown by the window itself, which then ends the event loop
    // with kStartFailedStatus and reports start_failed() from then on.
    explicit H264Video(QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    // The same with "config.xml" and "key.xml" read from and written to `settingsDir`
    // instead of settings_folder()'s choice.
    H264Video(QWidget *parent, Qt::WindowFlags flags, const QString &settingsDir);
    ~H264Video() override;

    bool start_failed() const { return !m_startFailure.isEmpty(); }
    const QString &start_failure() const { return m_startFailure; }

    // Keyboard/mouse channel messages; runs on its receive thread.
    std::uint8_t HandleMsg(c_socket_thread *sender, const std::uint8_t *body,
                           std::uint32_t lengthField, std::uint32_t bodyLength) override;

    // "config.xml" beside the program: the mouse sample rate.
    void load_settings();
    void save_settings();
    // Refills the system key menu from the table.
    void rebuild_syskey_menu();

    // Where the remote picture lies in the video label, and how label pixels map to remote
    // pixels (the last picture shown; empty before the first).
    const display_geometry &shown_geometry() const { return m_geometry; }
    QSize remote_size() const { return m_remoteSize; }

    // Queues one video channel body (type byte first), framed plain, tagged "notU".
    void queue_video_body(const std::vector<std::uint8_t> &body);

public:
    // Connected by address, so not declared as slots: the form's connect-by-name would
    // otherwise look for signals to match the on_ names and warn at every start.
    void HandleKMData(const void *sender, const unsigned char *body, uint lengthField,
                      uint bodyLength);
    void onToolbarMenu(QAction *action);
    void onKeySetting();
    void on_updateSyskey(QMap<QString, std::vector<SYSTEMKEYINFO>> &table);
    void on_full_screen();
    void on_slot_show_video_seting();
    void on_slot_mouse_align();
    void on_slot_mouseShow();
    void on_slot_grabPriv();
    void on_slot_u_setting_show();
    void on_slot_decode_one_frame(QImage picture);

    // "Paste as keystrokes": types the clipboard's text on the remote computer.
    void on_slot_paste();
    // "Statistics": shows or hides the video figures over the picture.
    void on_slot_statistics(bool shown);
    // "Screenshot": saves the last remote picture at its own size as PNG in the user's
    // pictures folder (the home folder when there is none), under a new name made of the
    // date and time; the status line tells where, or why not.
    void on_slot_screenshot();

    // The view: fitted to the window (the default) or at actual size, panned by the pointer
    // near the label's edges; smooth or fast scaling when fitted. Each choice is saved in
    // "config.xml" when it changes.
    void set_view_mode(view_mode mode);
    view_mode current_view_mode() const { return m_viewMode; }
    void set_smooth_scaling(bool smooth);
    // Actual size: moves the view by (dx, dy) label pixels, kept within the picture.
    void pan_view(int dx, int dy);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    // With a disk mapped, asks before a close from the window system (closing unmaps it).
    void closeEvent(QCloseEvent *event) override;
    // Focus changes are handled through window activation only.
    void focusInEvent(QFocusEvent *) override {}
    void focusOutEvent(QFocusEvent *) override {}

private:
    void build_shell();
    // The minimum size at which every toolbar button shows, then the size and place the
    // user left the window at last (per user). save_window_place() keeps them.
    void settle_window();
    void save_window_place();
    // A save of `what` to `path` failed: says so, without waiting for an answer.
    void tell_not_saved(const QString &what, const QString &path);
    // The "Paste as keystrokes" action on the toolbar, with its shortcut Ctrl+Alt+V.
    void add_paste_action();
    // "Statistics" (Ctrl+Alt+I) and "Screenshot" (Ctrl+Alt+P) at the end of the toolbar,
    // and the statistics panel.
    void add_status_actions();
    // The status line's privilege and disk from the sessions' state.
    void update_status_line();
    // "Actual size" (Ctrl+Alt+0) and "Smooth scaling" (Ctrl+Alt+S), checked as "config.xml"
    // says, and the pointer watch that pans the actual-size view.
    void add_view_actions();
    // While the pointer is near an edge of the label in actual size, the view follows it.
    void pan_view_tick();
    void connect_actions();
    void apply_resize_rule();
    QSize video_area() const;
    // Device channels, in the order they are opened.
    bool start_device_session();
    bool open_km();
    void open_media();
    void set_privilege_actions();
    void update_mouse_geometry();
    // Shows `picture` in the video label at the geometry for the label's size, and records
    // that geometry for the mouse.
    void show_picture(const QImage &picture);
    void mark_window_resized();
    void restart_mouse_sampling();
    bool open_video();
    void stop_video();
    // Starts the video session on a connection made again.
    void restart_video(std::shared_ptr<c_tcp_sock> socket);
    // Records why a channel could not be opened, for start_failure().
    void set_start_failure(const char *firstLine, const char *channel, std::uint16_t port,
                           const std::string &cause);
    // The device refused the login of a channel: tells the user, then ends the program.
    void on_login_refused(const char *firstLine, const char *channel, std::uint16_t port);
    // Once the start has succeeded: the keyboard/mouse, video and media channels are
    // connected again when the device drops them (unless "config.xml" turns that off).
    void start_keepers();
    void wire_km_keeper(bool reconnect);
    void wire_video_keeper(bool reconnect);
    void wire_media_keeper(bool reconnect);
    // Shows what is down in the banner, or hides it.
    void update_banner();
    // The keyboard/mouse channel is connected (or never dropped).
    bool input_path_up() const;

    std::unique_ptr<Ui::H264VideoClass> ui;
    QString m_settingsDir; // holds "config.xml" and "key.xml"
    sysKeyConfig *m_sysKeyConfig = nullptr;
    QAction *m_sysKeyAction = nullptr; // carries the system key menu button
    system_key_table m_sysKeys;
    c_key_translator m_translator;
    key_mapping m_keyMapping = key_mapping::physical; // "config.xml"'s keyMapping

    bool m_fullScreen = false;
    bool m_realignPending = true;
    QColor m_marginColour;
    QString m_startFailure; // empty while the start has not failed

    // Keyboard/mouse channel, input capture and the virtual media dialog.
    std::unique_ptr<c_km_session> m_km;
    std::unique_ptr<c_input_capture> m_capture;
    std::unique_ptr<c_ui_u_setting_dlg> m_media;

    // Video channel.
    std::unique_ptr<c_video_session> m_video;

    // Channels brought back after a drop, and the banner that says so.
    std::unique_ptr<c_channel_keeper> m_kmKeeper;
    std::unique_ptr<c_channel_keeper> m_videoKeeper;
    std::unique_ptr<c_channel_keeper> m_mediaKeeper;
    c_connection_banner *m_banner = nullptr;
    c_status_line *m_status = nullptr;
    c_stats_overlay *m_statsOverlay = nullptr;
    QTimer *m_statusTimer = nullptr;
    bool m_kmLoggedIn = false;    // the device accepted a keyboard/mouse login once
    bool m_videoLoggedIn = false; // ... and a video login

    // Display.
    display_geometry m_geometry;
    QSize m_remoteSize;
    view_mode m_viewMode = view_mode::fit;
    int m_scrollX = 0; // actual size: the label's top-left corner in picture pixels
    int m_scrollY = 0;
    QAction *m_actualSizeAction = nullptr;
    QAction *m_smoothAction = nullptr;
    QTimer *m_panTimer = nullptr; // runs while the pointer is in an edge band

    // The paste dialog while it is open. Last, so that it goes first: a typist stopped by the
    // window's end still releases its key through the keyboard/mouse session.
    std::unique_ptr<QDialog> m_pasteDialog;
};
