// The main window's status line, statistics panel and screenshots.

#include "h264video.h"
#include "ui_H264Video.h"

#include "c_stats_overlay.h"
#include "c_status_line.h"
#include "c_ui_u_setting_dlg.h"
#include "km/c_km_session.h"
#include "logging/log.h"
#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"
#include "toolbar_action.h"
#include "video/c_video_session.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QStandardPaths>
#include <QTimer>

namespace {

// Device answers that change the privilege without a word to the GUI thread (a refused
// request allows a new one) are picked up this often.
constexpr int kStatusRefreshMs = 500;
// Screenshots taken within one second get "-2", "-3", ... after the time.
constexpr int kMaxSameSecond = 100;

// The user's pictures folder, made if missing; the home folder when there is none.
QString screenshot_folder()
{
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (!pictures.isEmpty() && QDir().mkpath(pictures))
        return pictures;
    return QDir::homePath();
}

// Writes `picture` as PNG into `folder` under a name no file has yet; the path, or empty
// with `error` set.
QString save_new_png(const QImage &picture, const QString &folder, const QDateTime &when,
                     QString &error)
{
    const QString stem =
        QDir(folder).filePath(QStringLiteral("tessaract-") + when.toString(QStringLiteral("yyyyMMdd-HHmmss")));
    for (int number = 1; number <= kMaxSameSecond; ++number) {
        const QString path =
            stem + (number == 1 ? QString() : QStringLiteral("-%1").arg(number)) + QStringLiteral(".png");
        QFile file(path);
        // NewOnly fails on an existing file: nothing is ever overwritten, even in a race.
        if (file.exists() || (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && file.exists()))
            continue;
        if (!file.isOpen()) {
            error = file.errorString();
            return {};
        }
        if (!picture.save(&file, "PNG")) {
            error = QStringLiteral("the picture could not be written");
            file.remove();
            return {};
        }
        return path;
    }
    error = QStringLiteral("too many screenshots in one second");
    return {};
}

} // namespace

void H264Video::add_status_actions()
{
    const QColor ink = palette().windowText().color();
    // The resources hold no icons for these two: bars and a camera.
    QAction *statistics = add_toolbar_action(
        ui->toolBar, this, drawn_icon(nullptr, ink, [](QPainter &p) {
            for (int bar = 0; bar < 3; ++bar) {
                const qreal height = 8 + bar * 7;
                p.fillRect(QRectF(6 + bar * 8, 27 - height, 5, height), p.pen().color());
            }
            p.drawLine(QPointF(4, 28), QPointF(28, 28));
        }),
        QStringLiteral("Statistics"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_I), "actionStatistics");
    statistics->setCheckable(true);
    connect(statistics, &QAction::toggled, this, &H264Video::on_slot_statistics);
    QAction *screenshot = add_toolbar_action(
        ui->toolBar, this, drawn_icon(nullptr, ink, [](QPainter &p) {
            p.drawRoundedRect(QRectF(4, 10, 24, 16), 3, 3);
            p.fillRect(QRectF(11, 6, 10, 4), p.pen().color());
            p.drawEllipse(QPointF(16, 18), 5, 5);
        }),
        QStringLiteral("Screenshot"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_P), "actionScreenshot");
    connect(screenshot, &QAction::triggered, this, &H264Video::on_slot_screenshot);

    m_statsOverlay = new c_stats_overlay([this] { return m_video->statistics(); }, ui->label);
    m_statusTimer = new QTimer(this);
    connect(m_statusTimer, &QTimer::timeout, this, &H264Video::update_status_line);
    m_statusTimer->start(kStatusRefreshMs);
}

void H264Video::update_status_line()
{
    if (m_km) {
        const c_km_privilege &privilege = m_km->privilege();
        m_status->show_holder(c_status_line::holder_of(
            input_path_up() && m_km->connected(), privilege.device_answered(),
            privilege.writing(), privilege.request_allowed()));
        m_status->show_locks(m_km->led().reported());
    }
    c_status_line::disk_info disk;
    const auto mapped = m_media ? m_media->session().disk() : nullptr;
    if (mapped) {
        disk.name = QFileInfo(m_media->mapped_source()).fileName();
        if (disk.name.isEmpty())
            disk.name = QStringLiteral("mapped disk");
        disk.sizeBytes = mapped->sizeBytes();
        disk.readOnly = mapped->isReadOnly();
    }
    m_status->show_disk(disk);
}

void H264Video::on_slot_statistics(bool shown)
{
    m_statsOverlay->set_visible_stats(shown);
}

void H264Video::on_slot_screenshot()
{
    // The label holds the last decoded picture at the remote screen's own size.
    const QImage picture = ui->label->picture();
    QString error = QStringLiteral("no picture from the remote computer yet");
    const QString path = picture.isNull()
                             ? QString()
                             : save_new_png(picture, screenshot_folder(), QDateTime::currentDateTime(), error);
    if (path.isEmpty()) {
        TLOG_WARN << "screenshot not saved: " << error;
        m_status->show_result(QStringLiteral("Screenshot failed: ") + error);
        return;
    }
    TLOG_INFO << "screenshot saved: " << path;
    m_status->show_result(QStringLiteral("Screenshot saved: ") + QDir::toNativeSeparators(path));
}
