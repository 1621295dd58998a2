#include "tools/disk/rw_disk/list_removable_drives.h"

#include <QFileInfo>

QStringList images_from_environment()
{
    return QString::fromLocal8Bit(qgetenv("TESSARACT_IMAGES")).split(u':', Qt::SkipEmptyParts);
}

namespace {

QString block_text(const drive_entry &entry)
{
    QString text = entry.source + QStringLiteral("  ");
    if (!entry.model.isEmpty())
        text += entry.model + u' ';
    return text + u'(' + format_size(entry.sizeBytes) + u')';
}

QString image_text(const drive_entry &entry)
{
    return entry.source + QStringLiteral("  image file (") +
           (entry.readOnly ? QStringLiteral("read-only, ") : QString()) +
           format_size(entry.sizeBytes) + u')';
}

void add_block_devices(const block_paths &paths, drive_list &drives)
{
    const std::vector<mount_entry> mounts = read_mounts(paths.mountInfo);
    for (const block_disk &disk : read_block_disks(paths)) {
        // A card reader without a card reports size 0: nothing to map. Optical drives
        // report removable media but are no USB disk.
        if (!(disk.removable || disk.onUsb) || disk.optical || disk.sizeBytes == 0)
            continue;
        drive_entry entry;
        entry.type = drive_entry::kind::block_device;
        entry.source = disk.devicePath;
        entry.model = disk.model;
        entry.sizeBytes = disk.sizeBytes;
        entry.partitions = disk.partitions;
        entry.mountPoints = disk_mount_points(disk, mounts);
        drives.emplace(block_text(entry), std::move(entry));
    }
}

void add_images(const QStringList &images, drive_list &drives)
{
    for (const QString &image : images) {
        const QFileInfo info(image);
        if (!info.isFile())
            continue;
        drive_entry entry;
        entry.type = drive_entry::kind::image_file;
        entry.source = info.absoluteFilePath();
        entry.sizeBytes = static_cast<std::uint64_t>(info.size());
        entry.readOnly = (info.permissions() & (QFileDevice::WriteOwner | QFileDevice::WriteGroup |
                                                QFileDevice::WriteOther)) == 0;
        drives.emplace(image_text(entry), std::move(entry));
    }
}

} // namespace

drive_list list_removable_drives(const QStringList &images, const block_paths &paths)
{
    drive_list drives;
    add_block_devices(paths, drives);
    add_images(images + images_from_environment(), drives);
    return drives;
}
