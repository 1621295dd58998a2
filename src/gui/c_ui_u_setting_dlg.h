#pragma once

#include "media/c_u_media_session.h"
#include "protocol/c_abs_net_handler.h"

#include <QDialog>
#include <QMessageBox>

#include <cstdint>
#include <memory>
#include <string>

namespace Ui {
class uSetingDialog;
}
class c_net_syncer;

// The virtual media window: the user maps a removable drive or a disk image as the remote
// computer's USB disk. The window is a view; the channel, the protocol and the disk belong to
// its c_u_media_session, which keeps mapping, polling and transferring whether the window is
// shown or hidden, until Unmap or destruction.
//
// Use (main window, GUI thread), after the keyboard/mouse channel exists:
//     m_uDialog = new c_ui_u_setting_dlg(this);   // connects to para.ip : para.portMedia
//     m_uDialog->set_net_syncer(this);            // keyboard/mouse frames ride its sender
//     ...show()/activateWindow() from the toolbar...
// Destroy the dialog (or call set_net_syncer(nullptr)) before the syncer is destroyed: with
// the window as both parent and syncer, delete the dialog in the window's own destructor.
class c_ui_u_setting_dlg : public QDialog, public c_abs_net_handler {
    Q_OBJECT
public:
    // Where the media channel goes and how the session behaves; the default is the launch
    // parameters' device.
    struct options {
        std::string ip;
        std::uint16_t port = 0;
        std::uint32_t userID = 0;
        u_media_settings session;
        bool modalNotices = true; // false: notices and map errors do not block (tests)
    };
    static options launch_options();

    // Builds the window, fills the drive list, connects the media channel (an information
    // box when the device cannot be reached; the channel is created all the same), queues
    // userID and starts the 1 s drive list refresh. GUI thread.
    explicit c_ui_u_setting_dlg(QWidget *parent = nullptr);
    c_ui_u_setting_dlg(const options &config, QWidget *parent);
    // Sends the final unmap, stops the channel and the reader, closes the disk.
    ~c_ui_u_setting_dlg() override;

    // Hands the keyboard/mouse syncer to the media send thread (null detaches it).
    void set_net_syncer(c_net_syncer *syncer);

    // Media receive thread: the device's messages (see c_u_media_session::HandleMsg).
    std::uint8_t HandleMsg(c_socket_thread *sender, const std::uint8_t *body,
                           std::uint32_t lengthField, std::uint32_t bodyLength) override;
    void enqueue_request_status();
    void request_read(std::uint32_t start, std::uint16_t count);

    // Adds an image file to the drive list (what the "Image file..." button does after its
    // file dialog) and selects it when nothing is mapped.
    void add_image_file(const QString &path);

    c_u_media_session &session() { return *m_session; }
    // The device path or image file of the mapped disk; empty while nothing is mapped.
    QString mapped_source() const;
    // A disk is mapped (closing the viewer would unmap it).
    bool mapped() const { return m_session->is_mapped(); }

    // The media channel on a connection made again after a drop (see
    // c_u_media_session::reopen_channel); the dialog no longer shows the disk as lost.
    void reopen_channel(std::shared_ptr<c_tcp_sock> socket);

signals:
    // The device closed the media channel; a mapped disk is shown as lost until
    // reopen_channel. GUI thread.
    void signal_channel_closed();
    // The device answered the media channel's login. GUI thread.
    void signal_login_answer(bool accepted);
    // A disk was mapped or unmapped here. GUI thread.
    void signal_mapping_changed();

public:
    // Map: every failure (nothing chosen, the source gone, no permission, in use, udisks2 /
    // polkit refused, the device away or refusing the map) is shown in a warning box on this
    // dialog that names the cause. Read Only then shows the mode the disk is mapped in (a
    // source the user may not write is mapped read-only) and stays fixed until Unmap, which
    // gives the box back the user's own choice.
    // Connected by address, so not declared as slots: the form's connect-by-name would
    // otherwise look for signals to match the on_ names and warn at every start.
    void on_slot_map();
    void on_slot_unmap();
    void on_slot_enum_device();
    void on_slot_add_image();
    // The bodies of the 300 ms progress timer and the 50 ms ask timer.
    void on_slot_progress_tick();
    void on_slot_ask_tick();

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    void apply_texts();
    void open_channel(const options &config);
    void show_mapped(bool mapped);
    void stop_timer(int &id);
    void on_channel_closed();
    void on_map_refused();
    void show_notice(QMessageBox::Icon icon, const QString &title, const QString &text,
                     const QString &toolTip = {});
    void show_map_error(map_error why, const QString &source);
    void show_missing_images(const QStringList &paths);
    // `path` elided in its middle to the width paths get in this dialog.
    QString elided(const QString &path) const;

    std::unique_ptr<Ui::uSetingDialog> m_ui;
    std::unique_ptr<c_u_media_session> m_session;
    std::uint32_t m_userID = 0;
    int m_enumTimer = 0;
    int m_progressTimer = 0;
    int m_askTimer = 0;
    bool m_modalNotices = true;
    bool m_userReadOnly = false;  // the Read Only box as the user left it before the map
    QString m_mappedSource;       // what is mapped, for the device's refusal
};
