#include "c_ui_u_setting_dlg.h"

#include "ui_c_ui_u_setting_dlg.h"

#include "launch/LaunchParams.h"
#include "logging/log.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimerEvent>

namespace {

constexpr int kEnumIntervalMs = 1000;
constexpr int kProgressIntervalMs = 300;
constexpr int kAskIntervalMs = 50;

const QString kProgressText = QStringLiteral("Progress");
// Wide enough for a device path with its model, or an image path, before it is elided.
constexpr int kPathChars = 40;

QString cause_text(map_error why)
{
    switch (why) {
    case map_error::none: break;
    case map_error::nothing_chosen:
        return QStringLiteral("No drive or image file is selected. Choose one in the list, or "
                              "add one with \"Image file...\".");
    case map_error::already_mapped: return QStringLiteral("A disk is mapped already.");
    case map_error::not_connected:
        return QStringLiteral("The device is not connected.");
    case map_error::not_found: return QStringLiteral("It no longer exists.");
    case map_error::not_a_disk: return QStringLiteral("It is neither a disk nor an image file.");
    case map_error::permission:
        return QStringLiteral("Permission denied: you may not open it.");
    case map_error::busy:
        return QStringLiteral("It is busy: a program has files open on it, or another program "
                              "has claimed it.");
    case map_error::not_authorized:
        return QStringLiteral("The system refused access to it (udisks2 / polkit "
                              "authorisation refused).");
    case map_error::too_large:
        return QStringLiteral("It is too large: the device takes disks up to 2 TiB.");
    case map_error::failed: return QStringLiteral("It could not be opened (the log says why).");
    case map_error::refused_by_device:
        return QStringLiteral("The device refused the disk.");
    }
    return {};
}

} // namespace

c_ui_u_setting_dlg::options c_ui_u_setting_dlg::launch_options()
{
    options config;
    config.ip = para.ip;
    config.port = static_cast<std::uint16_t>(para.portMedia);
    config.userID = para.userID;
    return config;
}

c_ui_u_setting_dlg::c_ui_u_setting_dlg(QWidget *parent)
    : c_ui_u_setting_dlg(launch_options(), parent)
{
}

c_ui_u_setting_dlg::c_ui_u_setting_dlg(const options &config, QWidget *parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::uSetingDialog>()),
      m_session(std::make_unique<c_u_media_session>(config.session))
{
    m_ui->setupUi(this);
    connect(m_ui->mapButton, &QPushButton::clicked, this, &c_ui_u_setting_dlg::on_slot_map);
    connect(m_ui->unmapButton, &QPushButton::clicked, this, &c_ui_u_setting_dlg::on_slot_unmap);
    connect(m_ui->imageButton, &QPushButton::clicked, this,
            &c_ui_u_setting_dlg::on_slot_add_image);
    // The list shows paths elided; the whole entry is the tool tip.
    connect(m_ui->comboBox, &QComboBox::currentIndexChanged, this,
            [this] { m_ui->comboBox->setToolTip(m_ui->comboBox->currentData().toString()); });
    on_slot_enum_device();
    apply_texts();
    show_mapped(false);
    // The form's 284 x 152 was drawn for drive letters; device paths, the image button and
    // the style sheet's padding need more, and a squeezed button clips its text.
    ensurePolished();
    resize(size().expandedTo(sizeHint()));
    m_userID = config.userID;
    m_session->set_on_closed([this] {
        QMetaObject::invokeMethod(this, &c_ui_u_setting_dlg::on_channel_closed,
                                  Qt::QueuedConnection);
    });
    m_session->set_on_map_refused([this] {
        QMetaObject::invokeMethod(this, &c_ui_u_setting_dlg::on_map_refused,
                                  Qt::QueuedConnection);
    });
    m_session->set_on_login_answer([this](bool accepted) {
        QMetaObject::invokeMethod(
            this, [this, accepted] { emit signal_login_answer(accepted); }, Qt::QueuedConnection);
    });
    open_channel(config);
    m_enumTimer = startTimer(kEnumIntervalMs);
}

c_ui_u_setting_dlg::~c_ui_u_setting_dlg()
{
    stop_timer(m_enumTimer);
    stop_timer(m_progressTimer);
    stop_timer(m_askTimer);
    m_session->shutdown();
}

void c_ui_u_setting_dlg::apply_texts()
{
    setWindowTitle(QStringLiteral("Virtual Media Setting"));
    m_ui->label->setText(QStringLiteral("Map Drive"));
    m_ui->label_2->setText(QStringLiteral("Map Mode"));
    m_ui->checkBox->setText(QStringLiteral("Read Only"));
    m_ui->mapButton->setText(QStringLiteral("Map"));
    m_ui->unmapButton->setText(QStringLiteral("Unmap"));
    m_ui->label_3->setText(kProgressText + u':');
}

void c_ui_u_setting_dlg::open_channel(const options &config)
{
    m_modalNotices = config.modalNotices;
    if (m_session->open_channel(config.ip, config.port, config.userID))
        return;
    show_notice(QMessageBox::Information, QStringLiteral("提示"),
                QStringLiteral("虚拟媒体服务器连接出错.\nThe device's virtual media service cannot be reached."));
}

void c_ui_u_setting_dlg::show_notice(QMessageBox::Icon icon, const QString &title,
                                     const QString &text, const QString &toolTip)
{
    auto *box = new QMessageBox(icon, title, text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setToolTip(toolTip);
    if (m_modalNotices)
        box->exec();
    else
        box->open();
}

QString c_ui_u_setting_dlg::elided(const QString &path) const
{
    return fontMetrics().elidedText(path, Qt::ElideMiddle,
                                    fontMetrics().averageCharWidth() * kPathChars);
}

void c_ui_u_setting_dlg::show_map_error(map_error why, const QString &source)
{
    TLOG_WARN << "map failed: " << cause_text(why) << (source.isEmpty() ? "" : " ") << source;
    const QString what = source.isEmpty() ? QString() : elided(source) + QStringLiteral("\n\n");
    show_notice(QMessageBox::Warning, QStringLiteral("Map failed"),
                QStringLiteral("The disk could not be mapped.\n\n") + what + cause_text(why),
                source);
}

void c_ui_u_setting_dlg::on_map_refused()
{
    if (!m_session->is_mapped())
        return;
    // The remote computer will not see the disk: keep it no longer claimed here.
    const QString source = m_mappedSource;
    on_slot_unmap();
    show_map_error(map_error::refused_by_device, source);
}

void c_ui_u_setting_dlg::show_missing_images(const QStringList &paths)
{
    QStringList shown;
    for (const QString &path : paths)
        shown << elided(path);
    m_ui->noticeLabel->setText(QStringLiteral("Not found (TESSARACT_IMAGES): ") +
                               shown.join(QStringLiteral(", ")));
    m_ui->noticeLabel->setToolTip(paths.join(u'\n'));
    m_ui->noticeLabel->setVisible(true);
}

void c_ui_u_setting_dlg::on_channel_closed()
{
    TLOG_WARN << "vm socket closed by the device" << (m_session->is_mapped() ? ", disk lost" : "");
    m_session->channel_lost();
    if (m_session->is_mapped())
        m_ui->label_3->setText(QStringLiteral("Disk lost: the device dropped the connection"));
    emit signal_channel_closed();
}

void c_ui_u_setting_dlg::reopen_channel(std::shared_ptr<c_tcp_sock> socket)
{
    m_session->reopen_channel(std::move(socket), m_userID);
    m_ui->label_3->setText(kProgressText + u':');
}

void c_ui_u_setting_dlg::set_net_syncer(c_net_syncer *syncer)
{
    m_session->set_syncer(syncer);
}

std::uint8_t c_ui_u_setting_dlg::HandleMsg(c_socket_thread *sender, const std::uint8_t *body,
                                           std::uint32_t lengthField, std::uint32_t bodyLength)
{
    return m_session->HandleMsg(sender, body, lengthField, bodyLength);
}

void c_ui_u_setting_dlg::enqueue_request_status()
{
    m_session->enqueue_request_status();
}

void c_ui_u_setting_dlg::request_read(std::uint32_t start, std::uint16_t count)
{
    m_session->request_read(start, count);
}

void c_ui_u_setting_dlg::on_slot_enum_device()
{
    QStringList missing;
    const drive_list &drives = m_session->refresh_drives(&missing);
    if (!missing.isEmpty())
        show_missing_images(missing);
    // Items carry the whole entry text as data (and tool tip); they show it with the path
    // elided in its middle, so the file name and the size stay in view.
    QComboBox *box = m_ui->comboBox;
    for (int i = box->count() - 1; i >= 0; --i) {
        if (drives.find(box->itemData(i).toString()) == drives.end())
            box->removeItem(i);
    }
    // New drives go after those already listed: the list is not re-sorted under the user.
    for (const auto &[text, entry] : drives) {
        if (box->findData(text) >= 0)
            continue;
        const QString rest = text.mid(entry.source.size());
        box->addItem(elided(entry.source) + rest, text);
        box->setItemData(box->count() - 1, text, Qt::ToolTipRole);
    }
}

void c_ui_u_setting_dlg::add_image_file(const QString &path)
{
    m_session->add_image(path);
    on_slot_enum_device();
    if (m_session->is_mapped())
        return;
    const drive_list &drives = m_session->drives();
    for (const auto &entry : drives) {
        if (entry.second.source == QFileInfo(path).absoluteFilePath()) {
            m_ui->comboBox->setCurrentIndex(m_ui->comboBox->findData(entry.first));
            break;
        }
    }
}

void c_ui_u_setting_dlg::on_slot_add_image()
{
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Image file"), QDir::homePath(),
        QStringLiteral("Disk images (*.img *.iso *.bin *.raw *.dd);;All files (*)"));
    if (!path.isEmpty())
        add_image_file(path);
}

void c_ui_u_setting_dlg::on_slot_map()
{
    QComboBox *box = m_ui->comboBox;
    const QString text = box->currentIndex() < 0 ? QString() : box->currentData().toString();
    if (text.isEmpty())
        return show_map_error(map_error::nothing_chosen, {});
    const auto found = m_session->drives().find(text);
    if (found == m_session->drives().end()) {
        TLOG_ERROR << "err onMap_openLocalDisk " << text;
        return show_map_error(map_error::not_found, text);
    }
    const QString source = found->second.source;
    const bool userReadOnly = m_ui->checkBox->isChecked();
    if (!m_session->map(source, userReadOnly))
        return show_map_error(m_session->last_map_error(), source);
    m_userReadOnly = userReadOnly;
    m_mappedSource = source;
    m_ui->checkBox->setChecked(m_session->mapped_read_only());
    show_mapped(true);
    m_ui->progPercent->setRange(0, 100);
    m_ui->progPercent->setValue(0);
    m_ui->label_3->setText(kProgressText + u':');
    m_progressTimer = startTimer(kProgressIntervalMs);
    m_askTimer = startTimer(kAskIntervalMs);
    emit signal_mapping_changed();
}

void c_ui_u_setting_dlg::on_slot_unmap()
{
    m_session->unmap();
    show_mapped(false);
    m_ui->checkBox->setChecked(m_userReadOnly);
    stop_timer(m_progressTimer);
    stop_timer(m_askTimer);
    m_ui->label_3->setText(kProgressText + u':');
    emit signal_mapping_changed();
}

QString c_ui_u_setting_dlg::mapped_source() const
{
    // The list is disabled while mapped, so its choice is the mapped disk.
    const auto found = m_session->drives().find(m_ui->comboBox->currentText());
    return m_session->is_mapped() && found != m_session->drives().end() ? found->second.source
                                                                         : QString();
}

void c_ui_u_setting_dlg::show_mapped(bool mapped)
{
    m_ui->comboBox->setEnabled(!mapped);
    m_ui->mapButton->setEnabled(!mapped);
    m_ui->unmapButton->setEnabled(mapped);
    m_ui->checkBox->setEnabled(!mapped);
    m_ui->progPercent->setEnabled(mapped);
    if (!mapped)
        m_ui->progPercent->setValue(0);
}

void c_ui_u_setting_dlg::on_slot_progress_tick()
{
    if (!m_session->progress_tick())
        return;
    m_ui->progPercent->setValue(m_session->progress());
    // An ASCII parenthesis: the full-width one of the original text is missing from the
    // Latin fonts a desktop usually has, and showed as a box.
    m_ui->label_3->setText(kProgressText + QStringLiteral("(%1S):").arg(m_session->seconds_since_map()));
}

void c_ui_u_setting_dlg::on_slot_ask_tick()
{
    m_session->ask_tick();
}

void c_ui_u_setting_dlg::timerEvent(QTimerEvent *event)
{
    const int id = event->timerId();
    if (id == m_progressTimer && id != 0)
        on_slot_progress_tick();
    else if (id == m_askTimer && id != 0)
        on_slot_ask_tick();
    else if (id == m_enumTimer && id != 0)
        on_slot_enum_device();
    else
        QDialog::timerEvent(event);
}

void c_ui_u_setting_dlg::stop_timer(int &id)
{
    if (id != 0)
        killTimer(id);
    id = 0;
}
