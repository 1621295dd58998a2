#include "c_status_line.h"

#include "km/c_led_sync.h"
#include "tools/disk/rw_disk/block_devices.h"

#include <QLabel>
#include <QStringList>

c_status_line::holder c_status_line::holder_of(bool channelUp, bool answered, bool writing,
                                               bool requestAllowed)
{
    // A viewer without its channel holds nothing (the device frees it), and cannot learn
    // who else does.
    if (!channelUp || !answered)
        return holder::nobody;
    if (writing)
        return holder::this_viewer;
    return requestAllowed ? holder::other_viewer : holder::other_viewer_asked;
}

QString c_status_line::connection_text(const QString &down)
{
    return down.isEmpty() ? QStringLiteral("Connected") : down;
}

QString c_status_line::holder_text(holder who)
{
    switch (who) {
    case holder::this_viewer:
        return QStringLiteral("Control: this viewer");
    case holder::other_viewer:
        return QStringLiteral("Control: another viewer");
    case holder::other_viewer_asked:
        return QStringLiteral("Control: another viewer (asked to hand over)");
    case holder::nobody:
        break;
    }
    return QStringLiteral("Control: nobody");
}

QString c_status_line::disk_text(const disk_info &disk)
{
    if (disk.name.isEmpty())
        return QStringLiteral("Disk: none");
    return QStringLiteral("Disk: %1, %2, %3")
        .arg(disk.name, format_size(disk.sizeBytes),
             disk.readOnly ? QStringLiteral("read-only") : QStringLiteral("read-write"));
}

QString c_status_line::locks_text(int ledBits)
{
    if (ledBits < 0)
        return QString();
    QStringList on;
    if (ledBits & c_led_sync::kNumLockBit)
        on << QStringLiteral("NUM");
    if (ledBits & c_led_sync::kCapsLockBit)
        on << QStringLiteral("CAPS");
    if (ledBits & c_led_sync::kScrollLockBit)
        on << QStringLiteral("SCRL");
    return on.join(QLatin1Char(' '));
}

c_status_line::c_status_line(QWidget *parent)
    : QStatusBar(parent), m_result(new QLabel(this)), m_connection(new QLabel(this)),
      m_holder(new QLabel(this)), m_locks(new QLabel(this)), m_disk(new QLabel(this))
{
    setObjectName(QStringLiteral("statusLine"));
    m_connection->setObjectName(QStringLiteral("statusConnection"));
    m_holder->setObjectName(QStringLiteral("statusHolder"));
    m_locks->setObjectName(QStringLiteral("statusLocks"));
    m_locks->setToolTip(QStringLiteral("The remote keyboard's lock lights that are on"));
    m_disk->setObjectName(QStringLiteral("statusDisk"));
    // The window is not resized by hand from here; the grip would only take room.
    setSizeGripEnabled(false);
    setFocusPolicy(Qt::NoFocus);
    m_result->setObjectName(QStringLiteral("statusResult"));
    // A set minimum overrides the text's width in the layout: cut rather than widened.
    for (QLabel *label : {m_result, m_connection, m_holder, m_locks, m_disk}) {
        label->setMinimumWidth(1);
        label->setContentsMargins(6, 0, 6, 0); // the style draws no separators
    }
    addWidget(m_result, 1);
    for (QLabel *label : {m_connection, m_holder, m_locks, m_disk})
        addPermanentWidget(label);
    m_resultTimer.setSingleShot(true);
    connect(&m_resultTimer, &QTimer::timeout, this, [this] { show_result_text(QString()); });
    show_connection(QString());
    show_holder(holder::nobody);
    show_disk({});
    show_locks(-1);
}

void c_status_line::show_connection(const QString &down)
{
    m_connection->setText(connection_text(down));
}

void c_status_line::show_holder(holder who)
{
    m_holder->setText(holder_text(who));
}

void c_status_line::show_disk(const disk_info &disk)
{
    m_disk->setText(disk_text(disk));
}

void c_status_line::show_locks(int ledBits)
{
    const QString text = locks_text(ledBits);
    m_locks->setText(text);
    m_locks->setVisible(!text.isEmpty());
}

void c_status_line::show_result(const QString &text)
{
    show_result_text(text);
    m_resultTimer.start(kResultMs);
}

void c_status_line::show_result_text(const QString &text)
{
    // Cut in the middle, so that a long path still shows the file's name; the tip holds it
    // all.
    const int room = m_result->contentsRect().width();
    m_result->setText(m_result->fontMetrics().elidedText(text, Qt::ElideMiddle, room));
    m_result->setToolTip(text);
}

QString c_status_line::result() const
{
    return m_result->toolTip();
}
