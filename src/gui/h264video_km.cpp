// The keyboard/mouse side of the main window: session set-up, privilege, input capture.

#include "h264video.h"
#include "ui_H264Video.h"

#include "c_input_capture.h"
#include "c_ui_u_setting_dlg.h"
#include "km/c_km_session.h"
#include "launch/LaunchParams.h"
#include "logging/log.h"
#include "tools/socket/c_channel_keeper.h"
#include "tools/socket/connect_failure.h"

#include <QMessageBox>

#include <algorithm>

namespace {

// The launch parameters name the keys from the device's side: it ciphers with
// "desEncode", so the viewer deciphers with it.
km_session_options km_options_of(const LaunchParams &launch)
{
    km_session_options options;
    std::copy_n(launch.desEncodeKey.key, options.inboundKey.size(), options.inboundKey.begin());
    std::copy_n(launch.desDecodeKey.key, options.outboundKey.size(), options.outboundKey.begin());
    options.userID = launch.userID;
    options.mouseMode = launch.mouseMode == 0 ? c_km_mouse::mode::relative
                                              : c_km_mouse::mode::absolute;
    return options;
}

} // namespace

// Keyboard/mouse first (its failure ends the program), then the media dialog, which opens
// the media channel whose send thread carries the keyboard/mouse frames, then video.
bool H264Video::start_device_session()
{
    if (!open_km())
        return false;
    open_media();
    if (!open_video())
        return false;
    m_km->start_keep_alive();
    start_keepers();
    return true;
}

bool H264Video::open_km()
{
    m_km = std::make_unique<c_km_session>(km_options_of(para), *this, m_translator, this);
    set_privilege_actions();
    m_capture = std::make_unique<c_input_capture>(*m_km, &m_translator, this, ui->label);
    m_capture->set_key_mapping(m_keyMapping);
    connect(m_capture.get(), &c_input_capture::signal_mouse_show_changed, this, [this](bool shown) {
        ui->actionMouseHide->setIcon(QIcon(c_input_capture::mouse_show_icon(shown)));
        ui->actionMouseHide->setToolTip(c_input_capture::mouse_show_tip(shown));
    });
    const auto port = static_cast<std::uint16_t>(para.portKM);
    connect(m_km.get(), &c_km_session::signal_login_refused, this, [this, port] {
        // At start-up the program cannot work without the channel; later the banner says so.
        if (!m_kmLoggedIn) {
            on_login_refused("KM connect error.", "keyboard and mouse", port);
        } else if (m_kmKeeper) {
            // A connection the device refused holds nothing; left open it could even be
            // given the privilege this viewer asked for on it.
            m_km->stop();
            m_km->privilege().on_channel_lost();
            m_kmKeeper->login_refused();
        }
    });
    connect(m_km.get(), &c_km_session::signal_login_accepted, this, [this] {
        m_kmLoggedIn = true;
        if (m_kmKeeper)
            m_kmKeeper->login_accepted();
    });
    if (!m_km->create_km_socket(para.ip, port, this)) {
        set_start_failure("KM connect error.", "keyboard and mouse", port,
                          connect_failure_cause(m_km->connect_error()));
        return false;
    }
    return true;
}

void H264Video::set_privilege_actions()
{
    c_km_privilege::actions actions;
    actions.set_grab_icon = [this](bool canGrab) {
        // The grab button is usable once the device has told us where we stand.
        ui->actionGrab->setEnabled(true);
        ui->actionGrab->setIcon(QIcon(canGrab ? QStringLiteral(":/image/Resources/privCanGrab.png")
                                              : QStringLiteral(":/image/Resources/privCannotGrab.png")));
        update_status_line();
    };
    actions.ask_give_up = [this] {
        QMessageBox box(QMessageBox::Question, QString(),
                        QStringLiteral("do you want to giveUp privWrite"),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setInformativeText(QStringLiteral(
            "Another viewer asks for the keyboard and mouse of the remote computer. Yes hands "
            "them over and this viewer only watches; No keeps them."));
        box.setDefaultButton(QMessageBox::No);
        const auto answer = static_cast<QMessageBox::StandardButton>(box.exec());
        if (answer == QMessageBox::Yes)
            return c_km_privilege::give_up_answer::yes;
        if (answer == QMessageBox::No)
            return c_km_privilege::give_up_answer::no;
        return c_km_privilege::give_up_answer::closed;
    };
    m_km->set_privilege_actions(std::move(actions));
}

void H264Video::open_media()
{
    m_media = std::make_unique<c_ui_u_setting_dlg>(this);
    m_media->set_net_syncer(this);
    connect(m_media.get(), &c_ui_u_setting_dlg::signal_mapping_changed, this,
            &H264Video::update_status_line);
}

std::uint8_t H264Video::HandleMsg(c_socket_thread *sender, const std::uint8_t *body,
                                  std::uint32_t lengthField, std::uint32_t bodyLength)
{
    HandleKMData(sender, body, lengthField, bodyLength);
    return kHandled;
}

void H264Video::HandleKMData(const void *sender, const unsigned char *body, uint lengthField,
                             uint bodyLength)
{
    m_km->HandleKMData(sender, body, lengthField, bodyLength);
}

bool H264Video::eventFilter(QObject *watched, QEvent *event)
{
    // While the keyboard/mouse channel is down, input goes nowhere (nothing waits to be
    // replayed on the next connection). The media send thread that carries the frames runs
    // on while its own channel is down.
    if (m_capture && input_path_up() && m_capture->filter_event(watched, event))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

void H264Video::on_slot_mouse_align()
{
    if (m_km)
        m_km->mouse().align_mouse();
}

void H264Video::on_slot_mouseShow()
{
    if (m_capture)
        m_capture->toggle_mouse_show();
}

void H264Video::on_slot_grabPriv()
{
    if (m_km)
        m_km->on_slot_grabPriv();
}

void H264Video::on_slot_u_setting_show()
{
    if (!m_media)
        return;
    m_media->show();
    m_media->raise();
    m_media->activateWindow();
}

void H264Video::update_mouse_geometry()
{
    if (!m_km)
        return;
    ::picture_geometry geometry;
    geometry.imageWidth = m_geometry.shownWidth;
    geometry.imageHeight = m_geometry.shownHeight;
    geometry.scaleX = m_geometry.xRatio;
    geometry.scaleY = m_geometry.yRatio;
    geometry.remoteWidth = m_remoteSize.width();
    geometry.remoteHeight = m_remoteSize.height();
    m_km->mouse().set_geometry(QPoint(m_geometry.offsetX, m_geometry.offsetY), geometry);
}

void H264Video::mark_window_resized()
{
    if (m_km)
        m_km->mouse().request_align();
}

void H264Video::restart_mouse_sampling()
{
    if (m_km && m_km->mouse().sampler().is_active())
        m_km->mouse().start_sampling();
}
