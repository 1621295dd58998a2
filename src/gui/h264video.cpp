#include "h264video.h"
#include "ui_H264Video.h"

#include "c_input_capture.h"
#include "c_status_line.h"
#include "c_ui_u_setting_dlg.h"
#include "c_ui_video_setting_dlg.h"
#include "km/c_km_session.h"
#include "launch/LaunchParams.h"
#include "logging/log.h"
#include "km/mouse_rate.h"
#include "settings/config_file.h"
#include "settings/key_file.h"
#include "settings/settings_folder.h"
#include "sysKeyConfig.h"
#include "video/c_video_session.h"

#include "tools/socket/c_channel_keeper.h"
#include "tools/socket/connect_failure.h"

#include <QCoreApplication>
#include <QLayout>
#include <QMenu>
#include <QMessageBox>
#include <QResizeEvent>
#include <QToolButton>

H264Video::H264Video(QWidget *parent, Qt::WindowFlags flags)
    : H264Video(parent, flags, settings_folder(QCoreApplication::applicationDirPath()))
{
}

H264Video::H264Video(QWidget *parent, Qt::WindowFlags flags, const QString &settingsDir)
    : QMainWindow(parent, flags), ui(std::make_unique<Ui::H264VideoClass>()),
      m_settingsDir(settingsDir), m_video(std::make_unique<c_video_session>())
{
    build_shell();
    connect_actions();

    m_sysKeyConfig = new sysKeyConfig(this);
    m_sysKeyConfig->setWindowFlags(Qt::Window);
    load_system_keys(key_file_path(m_settingsDir), m_sysKeys);
    connect(m_sysKeyConfig, &sysKeyConfig::updateSysKeyMap, this, &H264Video::on_updateSyskey);
    rebuild_syskey_menu();
    add_paste_action(); // last: the toolbar's other buttons keep their places
    add_view_actions();
    add_status_actions();

    start_device_session();

    if (para.mouseMode == 1)
        ui->actionAlign->setVisible(false);
    settle_window();
}

H264Video::~H264Video()
{
    save_window_place();
    // Nothing connects again from here on; then the channels, whose threads call back into
    // this window.
    m_kmKeeper.reset();
    m_videoKeeper.reset();
    m_mediaKeeper.reset();
    stop_video();
    m_media.reset();
    m_capture.reset();
    if (m_km)
        m_km->stop();
}

void H264Video::set_start_failure(const char *firstLine, const char *channel,
                                  std::uint16_t port, const std::string &cause)
{
    m_startFailure = QString::fromStdString(start_failure_text(firstLine, channel, para.ip, port, cause));
    TLOG_ERROR << channel << " channel to " << para.ip << ":" << port << " failed: " << cause;
}

// GUI thread, from the event loop. The box is shown without a nested loop, so that a
// termination signal still ends the program, with the failure status either way.
void H264Video::on_login_refused(const char *firstLine, const char *channel, std::uint16_t port)
{
    if (start_failed())
        return; // told once
    set_start_failure(firstLine, channel, port, "login refused by the device");
    auto *box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Error"), m_startFailure,
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this,
            [] { QCoreApplication::exit(kStartFailedStatus); });
    box->open();
}

void H264Video::build_shell()
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose, false);
    ui->label->setText(QString());

    connect(ui->actFullScreen, &QAction::triggered, this, &H264Video::on_full_screen);
    ui->label->setMouseTracking(true);
    installEventFilter(this);
    ui->label->installEventFilter(this);

    load_settings();
    // The style sheet colours the label; its palette shows that only once polished.
    ui->label->ensurePolished();
    m_marginColour = ui->label->palette().window().color();
    ui->label->set_margin_colour(m_marginColour);
    m_status = new c_status_line(this);
    setStatusBar(m_status);

    // The toolbar's width is known only once the style sheet and the layout have sized it;
    // before that it is a default 100 pixels and the label would come out too narrow.
    ensurePolished();
    if (layout() != nullptr)
        layout()->activate();
    // The picture keeps its 800 x 600 start; the status line comes below it. Its height is
    // fixed so that the picture's area is known before the first layout.
    m_status->setFixedHeight(m_status->sizeHint().height());
    resize(ui->toolBar->width() + 800, 600 + m_status->height());
    ui->label->resize(800, 600);
    apply_resize_rule();
    m_realignPending = true;
    m_fullScreen = false;
    ui->toolBar->setOrientation(Qt::Vertical);
    ui->actionGrab->setEnabled(false);
    // Keys are captured on the label only: it holds the keyboard focus from the start, so
    // typing reaches the remote computer before the user has clicked into the picture.
    ui->label->setFocus(Qt::OtherFocusReason);
}

void H264Video::connect_actions()
{
    connect(ui->actionFullScreen, &QAction::triggered, this, &H264Video::on_full_screen);
    // The shortcut works while the keyboard is grabbed in full screen, the one way out
    // that needs no mouse.
    const QKeySequence fullScreenKeys(QString::fromLatin1(c_input_capture::kFullScreenShortcut));
    ui->actionFullScreen->setShortcut(fullScreenKeys);
    ui->actionFullScreen->setToolTip(QStringLiteral("FullScreen (%1)\nThe remote computer gets the whole keyboard")
                                         .arg(fullScreenKeys.toString(QKeySequence::NativeText)));
    connect(ui->actionAlign, &QAction::triggered, this, &H264Video::on_slot_mouse_align);
    connect(ui->actionGrab, &QAction::triggered, this, &H264Video::on_slot_grabPriv);
    connect(ui->actionVideo_Config, &QAction::triggered, this,
            &H264Video::on_slot_show_video_seting);
    connect(ui->actionMedia, &QAction::triggered, this, &H264Video::on_slot_u_setting_show);
    connect(ui->actionMouseHide, &QAction::triggered, this, &H264Video::on_slot_mouseShow);
    connect(ui->actionSetKey, &QAction::triggered, this, &H264Video::onKeySetting);
}

void H264Video::load_settings()
{
    int rate = mouse_sample_rate();
    if (load_config_rate(config_file_path(m_settingsDir), rate))
        set_mouse_sample_rate(rate);
    load_config_key_mapping(config_file_path(m_settingsDir), m_keyMapping);
}

void H264Video::save_settings()
{
    const QString path = config_file_path(m_settingsDir);
    if (!save_config_rate(path, mouse_sample_rate()))
        tell_not_saved(QStringLiteral("The mouse sample rate"), path);
}

void H264Video::rebuild_syskey_menu()
{
    QMenu *menu = nullptr;
    if (m_sysKeyAction) {
        auto *button = qobject_cast<QToolButton *>(ui->toolBar->widgetForAction(m_sysKeyAction));
        menu = button ? button->menu() : nullptr;
    }
    if (!menu) {
        menu = new QMenu(this);
        connect(menu, &QMenu::triggered, this, &H264Video::onToolbarMenu);
        auto *button = new QToolButton(this);
        // Like the toolbar's own buttons: never takes the keyboard focus from the label.
        button->setFocusPolicy(Qt::NoFocus);
        button->setIcon(QIcon(QStringLiteral(":/image/Resources/win.png")));
        button->setToolTip(QStringLiteral("System keys\nKey combinations the local desktop would keep to itself"));
        button->setMenu(menu);
        button->setPopupMode(QToolButton::InstantPopup);
        m_sysKeyAction = ui->toolBar->addWidget(button);
    }
    menu->clear();
    for (auto group = m_sysKeys.cbegin(); group != m_sysKeys.cend(); ++group) {
        if (group.key().isEmpty())
            continue;
        menu->addAction(group.key())->setData(group.key());
    }
    menu->addAction(QStringLiteral("PrtScreen"))->setData(QStringLiteral("_printscreen"));
    QAction *setKey = menu->addAction(QIcon(QStringLiteral(":/image/setting_16px.png")),
                                      QStringLiteral("Set Key(&S)..."));
    setKey->setData(QStringLiteral("_setshortkey"));
    setKey->setIconVisibleInMenu(true);
}

void H264Video::onToolbarMenu(QAction *action)
{
    const QString name = action->data().toString();
    if (name == QLatin1String("_setshortkey")) {
        onKeySetting();
        return;
    }
    std::vector<std::uint32_t> keys;
    if (name == QLatin1String("_printscreen"))
        keys.push_back(c_key_translator::kPrintScreenKey);
    else
        keys = system_key_codes(m_sysKeys.value(name));
    if (m_capture)
        m_capture->send_combo(keys);
}

void H264Video::onKeySetting()
{
    m_sysKeyConfig->loadSysKeyMap(m_sysKeys);
    m_sysKeyConfig->show();
    m_sysKeyConfig->raise();
    m_sysKeyConfig->activateWindow();
}

void H264Video::on_updateSyskey(QMap<QString, std::vector<SYSTEMKEYINFO>> &table)
{
    m_sysKeys = table;
    const QString path = key_file_path(m_settingsDir);
    if (!save_system_keys(path, m_sysKeys))
        tell_not_saved(QStringLiteral("The key combinations"), path);
    rebuild_syskey_menu();
}

void H264Video::on_full_screen()
{
    m_fullScreen = !m_fullScreen;
    m_realignPending = true;
    setWindowState(m_fullScreen ? Qt::WindowFullScreen : Qt::WindowNoState);
}

void H264Video::on_slot_show_video_seting()
{
    c_ui_video_setting_dlg dialog(
        [this](const std::vector<std::uint8_t> &body) { queue_video_body(body); },
        static_cast<std::uint8_t>(para.dogID & 0xFF), this);
    dialog.setMouseSampleRate(mouse_sample_rate());
    dialog.exec();
    TLOG_INFO << "mouse sample interval:" << 1000 / mouse_sample_rate();
    restart_mouse_sampling();
    save_settings();
}

void H264Video::apply_resize_rule()
{
    const QSize area = video_area();
    ui->label->setGeometry(0, 0, area.width(), area.height());
    // The picture shown is fitted to the new size at once, not at the next picture.
    if (!ui->label->picture().isNull())
        show_picture(ui->label->picture());
    mark_window_resized();
    update_banner();
}

QSize H264Video::video_area() const
{
    const int statusHeight = m_status ? m_status->height() : 0;
    return {width() - ui->toolBar->width(), height() - statusHeight};
}

void H264Video::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    apply_resize_rule();
}
