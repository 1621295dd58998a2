#include "tools/disk/rw_disk/block_devices.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace {

QString read_text(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.read(4096)).trimmed();
}

// mountinfo escapes blanks, tabs, newlines and backslashes as three octal digits.
QString unescape_mount_point(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\' && i + 3 < text.size()) {
            bool ok = false;
            const int code = text.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out += QChar(code);
                i += 3;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

bool under_usb_bus(const QString &canonicalPath)
{
    static const QRegularExpression usbBus(QStringLiteral("^usb\\d+$"));
    const QStringList parts = canonicalPath.split(u'/', Qt::SkipEmptyParts);
    return std::any_of(parts.begin(), parts.end(),
                       [](const QString &part) { return usbBus.match(part).hasMatch(); });
}

void read_partitions(const QString &diskDir, block_disk &disk)
{
    QDir dir(diskDir);
    const QStringList entries = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &entry : entries) {
        if (!QFileInfo::exists(diskDir + u'/' + entry + QStringLiteral("/partition")))
            continue;
        disk.partitions << entry;
        disk.partitionDevs << read_text(diskDir + u'/' + entry + QStringLiteral("/dev"));
    }
}

} // namespace

bool is_virtual_block_name(const QString &name)
{
    static const QStringList prefixes = {QStringLiteral("loop"), QStringLiteral("ram"),
                                         QStringLiteral("zram"), QStringLiteral("dm-"),
                                         QStringLiteral("md")};
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [&](const QString &prefix) { return name.startsWith(prefix); });
}

bool read_block_disk(const block_paths &paths, const QString &name, block_disk &out)
{
    const QString link = paths.sysRoot + QStringLiteral("/block/") + name;
    const QFileInfo info(link);
    if (!info.exists())
        return false;
    out = block_disk{};
    out.name = name;
    // Kernel names use '!' where the device node lies in a subfolder of /dev.
    out.devicePath = paths.devRoot + u'/' + QString(name).replace(u'!', u'/');
    out.majorMinor = read_text(link + QStringLiteral("/dev"));
    const QString vendor = read_text(link + QStringLiteral("/device/vendor"));
    const QString model = read_text(link + QStringLiteral("/device/model"));
    out.model = (vendor + u' ' + model).simplified();
    out.sizeBytes = read_text(link + QStringLiteral("/size")).toULongLong() * 512u;
    out.removable = read_text(link + QStringLiteral("/removable")) == QStringLiteral("1");
    out.onUsb = under_usb_bus(info.canonicalFilePath());
    out.optical = name.startsWith(QStringLiteral("sr")) ||
                  read_text(link + QStringLiteral("/device/type")) == QStringLiteral("5");
    read_partitions(link, out);
    return true;
}

std::vector<block_disk> read_block_disks(const block_paths &paths)
{
    std::vector<block_disk> disks;
    const QDir dir(paths.sysRoot + QStringLiteral("/block"));
    const QStringList names =
        dir.entryList(QDir::Dirs | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names) {
        block_disk disk;
        if (!is_virtual_block_name(name) && read_block_disk(paths, name, disk))
            disks.push_back(std::move(disk));
    }
    return disks;
}

std::vector<mount_entry> read_mounts(const QString &mountInfoPath)
{
    std::vector<mount_entry> mounts;
    QFile file(mountInfoPath);
    if (!file.open(QIODevice::ReadOnly))
        return mounts;
    // /proc files report size 0: read to the end rather than asking atEnd().
    const QList<QByteArray> lines = file.readAll().split('\n');
    // Fields: id parent major:minor root mount-point options ... - type source super.
    for (const QByteArray &line : lines) {
        const QStringList fields = QString::fromUtf8(line).split(u' ', Qt::SkipEmptyParts);
        if (fields.size() < 5)
            continue;
        mounts.push_back({fields[2], unescape_mount_point(fields[4])});
    }
    return mounts;
}

QStringList disk_mount_points(const block_disk &disk, const std::vector<mount_entry> &mounts)
{
    QStringList points;
    for (const mount_entry &mount : mounts) {
        if (mount.majorMinor == disk.majorMinor || disk.partitionDevs.contains(mount.majorMinor))
            points << mount.mountPoint;
    }
    return points;
}

QString whole_disk_name(const block_paths &paths, unsigned major, unsigned minor)
{
    const QString link =
        paths.sysRoot + QStringLiteral("/dev/block/%1:%2").arg(major).arg(minor);
    const QFileInfo info(link);
    if (!info.exists())
        return {};
    const QString canonical = info.canonicalFilePath();
    if (QFileInfo::exists(canonical + QStringLiteral("/partition")))
        return QFileInfo(QFileInfo(canonical).absolutePath()).fileName();
    return QFileInfo(canonical).fileName();
}

QString format_size(std::uint64_t bytes)
{
    static const char *const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024.0 && unit < 4) {
        value /= 1024.0;
        ++unit;
    }
    if (unit == 0)
        return QStringLiteral("%1 B").arg(bytes);
    return QStringLiteral("%1 %2").arg(value, 0, 'f', 1).arg(QLatin1String(units[unit]));
}
