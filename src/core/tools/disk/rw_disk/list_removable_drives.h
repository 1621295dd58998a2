#pragma once

#include "tools/disk/rw_disk/block_devices.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>

// One source the user may map: a removable whole disk or a disk image file.
struct drive_entry {
    enum class kind { block_device, image_file };
    kind type = kind::block_device;
    QString source;            // what c_read_write_disk_sector_win::openDisk takes
    QString model;             // block devices: vendor and model
    std::uint64_t sizeBytes = 0;
    bool readOnly = false;     // image files nobody may write
    QStringList partitions;    // block devices: kernel names of the partitions
    QStringList mountPoints;   // block devices: where the disk or its partitions are mounted
};

// Display text (what the drive list shows) to entry, ordered by that text.
using drive_list = std::map<QString, drive_entry>;

// The colon-separated paths of the environment variable TESSARACT_IMAGES.
QStringList images_from_environment();

// The sources that may be mapped: every whole disk under <sysRoot>/block that is not a
// loop, ram, zram, device-mapper, RAID or optical device, holds a medium and is removable or
// sits on a USB bus; plus every existing regular file among `images` and TESSARACT_IMAGES. Block
// devices show as "/dev/sdb  <model> (<size>)", images as "<path>  image file (<size>)".
// Reads files only; callable from any thread.
drive_list list_removable_drives(const QStringList &images = {}, const block_paths &paths = {});
