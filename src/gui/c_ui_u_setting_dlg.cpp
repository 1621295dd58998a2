#include "c_ui_u_setting_dlg.h"

#include "ui_c_ui_u_setting_dlg.h"

#include "launch/LaunchParams.h"
#include "logging/log.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimerEvent>

namespace {

constexpr int kEnumIntervalMs = 1000;
constexpr int kProgressIntervalMs = 300;
constexpr int kAskIntervalMs = 50;

const QString kProgressText = QStringLiteral("Progress");

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
    if (m_session->open_channel(config.ip, config.port, config.userID))
        return;
    auto *box = new QMessageBox(QMessageBox::Information, QStringLiteral("提示"),
                                QStringLiteral("虚拟媒体服务器连接出错."), QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (config.modalNotices)
        box->exec();
    else
        box->open();
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
    const drive_list &drives = m_session->refresh_drives();
    QComboBox *box = m_ui->comboBox;
    for (int i = box->count() - 1; i >= 0; --i) {
        if (drives.find(box->itemText(i)) == drives.end())
            box->removeItem(i);
    }
    // New drives go after those already listed: the list is not re-sorted under the user.
    for (const auto &entry : drives) {
        if (box->findText(entry.first, Qt::MatchExactly) < 0)
            box->addItem(entry.first);
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
            m_ui->comboBox->setCurrentIndex(m_ui->comboBox->findText(entry.first));
            break;
        }
    }
}

void c_ui_u_setting_dlg::on_slot_add_image()
{
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Image file"), QString(),
        QStringLiteral("Disk images (*.img *.iso *.bin *.raw *.dd);;All files (*)"));
    if (!path.isEmpty())
        add_image_file(path);
}

void c_ui_u_setting_dlg::on_slot_map()
{
    QComboBox *box = m_ui->comboBox;
    if (box->currentIndex() < 0)
        return;
    const QString text = box->currentText();
    QString source;
    if (!text.isEmpty()) {
        const auto found = m_session->drives().find(text);
        if (found == m_session->drives().end()) {
            TLOG_ERROR << "err onMap_openLocalDisk " << text;
            return;
        }
        source = found->second.source;
    }
    if (!m_session->map(source, m_ui->checkBox->isChecked()))
        return;
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
    m_ui->checkBox->setEnabled(true);
    m_ui->progPercent->setEnabled(mapped);
    if (!mapped)
        m_ui->progPercent->setValue(0);
}

void c_ui_u_setting_dlg::on_slot_progress_tick()
{
    if (!m_session->progress_tick())
        return;
    m_ui->progPercent->setValue(m_session->progress());
    m_ui->label_3->setText(kProgressText + QStringLiteral("(%1S）:").arg(m_session->seconds_since_map()));
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
