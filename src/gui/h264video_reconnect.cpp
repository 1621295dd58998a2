// The main window's channels after a drop: connected again on their own, with a banner over
// the picture while any is down.

#include "h264video.h"
#include "ui_H264Video.h"

#include "c_connection_banner.h"
#include "c_status_line.h"
#include "c_ui_u_setting_dlg.h"
#include "km/c_km_session.h"
#include "launch/LaunchParams.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "settings/config_file.h"
#include "tools/socket/c_channel_keeper.h"
#include "video/c_video_session.h"

#include <cctype>
#include <vector>

void H264Video::start_keepers()
{
    bool reconnect = true;
    load_config_reconnect(config_file_path(m_settingsDir), reconnect);
    m_banner = new c_connection_banner(ui->label);
    connect(m_banner, &c_connection_banner::signal_close, this, &QWidget::close);
    connect(m_banner, &c_connection_banner::signal_reconnect_now, this, [this] {
        for (c_channel_keeper *keeper : {m_kmKeeper.get(), m_videoKeeper.get(), m_mediaKeeper.get()})
            keeper->reconnect_now();
    });
    wire_km_keeper(reconnect);
    wire_video_keeper(reconnect);
    wire_media_keeper(reconnect);
}

void H264Video::wire_km_keeper(bool reconnect)
{
    m_kmKeeper = std::make_unique<c_channel_keeper>(
        "keyboard and mouse", para.ip, static_cast<std::uint16_t>(para.portKM), reconnect);
    connect(m_kmKeeper.get(), &c_channel_keeper::signal_state_changed, this,
            &H264Video::update_banner);
    connect(m_km.get(), &c_km_session::signal_km_closed, this, [this, reconnect] {
        // The device frees the privilege of a viewer that left; the connection made again
        // asks for it anew. Without reconnecting the state stays as the device last told it.
        if (reconnect)
            m_km->privilege().on_channel_lost();
        m_kmKeeper->channel_down();
    });
    // As at start-up: the login, then the privilege query; input typed meanwhile is gone.
    m_kmKeeper->set_starter([this](std::shared_ptr<c_tcp_sock> socket) {
        m_km->start_on(std::move(socket), this);
        m_km->start_keep_alive();
    });
}

void H264Video::wire_video_keeper(bool reconnect)
{
    m_videoKeeper = std::make_unique<c_channel_keeper>(
        "video", para.ip, static_cast<std::uint16_t>(para.portV), reconnect);
    connect(m_videoKeeper.get(), &c_channel_keeper::signal_state_changed, this,
            &H264Video::update_banner);
    connect(m_video.get(), &c_video_session::closed, m_videoKeeper.get(),
            &c_channel_keeper::channel_down);
    // The device starts a new connection with a key frame.
    m_videoKeeper->set_starter(
        [this](std::shared_ptr<c_tcp_sock> socket) { restart_video(std::move(socket)); });
}

void H264Video::wire_media_keeper(bool reconnect)
{
    m_mediaKeeper = std::make_unique<c_channel_keeper>(
        "virtual disk", para.ip, static_cast<std::uint16_t>(para.portMedia), reconnect);
    connect(m_mediaKeeper.get(), &c_channel_keeper::signal_state_changed, this,
            &H264Video::update_banner);
    connect(m_media.get(), &c_ui_u_setting_dlg::signal_channel_closed, m_mediaKeeper.get(),
            &c_channel_keeper::channel_down);
    connect(m_media.get(), &c_ui_u_setting_dlg::signal_login_answer, this, [this](bool accepted) {
        if (accepted) {
            m_mediaKeeper->login_accepted();
            return;
        }
        // Nothing is asked of a device that refused us; the keyboard/mouse frames the send
        // thread carries still go out.
        m_media->session().channel_lost();
        m_mediaKeeper->login_refused();
    });
    m_mediaKeeper->set_starter(
        [this](std::shared_ptr<c_tcp_sock> socket) { m_media->reopen_channel(std::move(socket)); });
}

bool H264Video::input_path_up() const
{
    return !m_kmKeeper || m_kmKeeper->current() == c_channel_keeper::state::up;
}

// One line, so that the banner stays within the margin below a picture of the usual shape:
// the one channel down as its keeper says, or the channels down and what the first of them
// is doing ("Video and virtual disk channels lost. Reconnecting in 2 s").
void H264Video::update_banner()
{
    std::vector<const c_channel_keeper *> down;
    for (const c_channel_keeper *keeper :
         {m_kmKeeper.get(), m_videoKeeper.get(), m_mediaKeeper.get()}) {
        if (keeper && keeper->current() != c_channel_keeper::state::up)
            down.push_back(keeper);
    }
    std::string text;
    if (down.size() == 1)
        text = down.front()->describe();
    if (down.size() > 1) {
        for (std::size_t i = 0; i < down.size(); ++i)
            text += (i == 0 ? "" : i + 1 == down.size() ? " and " : ", ") + down[i]->channel();
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
        text += " channels lost. " + down.front()->action();
    }
    if (m_status) {
        m_status->show_connection(QString::fromStdString(text));
        update_status_line();
    }
    if (m_banner)
        m_banner->show_text(QString::fromStdString(text));
}
