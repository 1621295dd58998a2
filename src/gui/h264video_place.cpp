// The window's size and place: a minimum at which every toolbar button shows, and the last
// size and position, remembered per user.

#include "h264video.h"
#include "ui_H264Video.h"

#include "launch/program_paths.h"
#include "logging/log.h"

#include <QMessageBox>
#include <QSettings>
#include <QStatusBar>

namespace {

constexpr int kMinimumPictureWidth = 160;
const QString kPlaceKey = QStringLiteral("window/geometry");

QString place_file()
{
    const std::string dir = user_config_dir();
    return dir.empty() ? QString() : QString::fromStdString(dir) + QStringLiteral("/window.conf");
}

} // namespace

void H264Video::settle_window()
{
    int height = ui->toolBar->sizeHint().height();
    if (const QStatusBar *status = findChild<QStatusBar *>())
        height += status->sizeHint().height();
    setMinimumSize(ui->toolBar->width() + kMinimumPictureWidth, height);

    const QString file = place_file();
    if (file.isEmpty())
        return;
    const QByteArray place = QSettings(file, QSettings::IniFormat).value(kPlaceKey).toByteArray();
    if (!place.isEmpty() && !restoreGeometry(place))
        TLOG_WARN << "the window place stored in " << file << " is unusable";
}

void H264Video::save_window_place()
{
    const QString file = place_file();
    if (file.isEmpty() || !make_writable_dir(user_config_dir()))
        return;
    QSettings settings(file, QSettings::IniFormat);
    settings.setValue(kPlaceKey, saveGeometry());
}

void H264Video::tell_not_saved(const QString &what, const QString &path)
{
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Settings not saved"),
                                QStringLiteral("%1 could not be saved to %2.").arg(what, path),
                                QMessageBox::Ok, this);
    box->setInformativeText(
        QStringLiteral("The change applies until the viewer closes; the log says why."));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
