#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// Reading the kernel's view of block devices: /sys/block, /sys/dev/block and
// /proc/self/mountinfo. The roots are parameters so that tests can lay out a fake tree.
// Pure file reads; callable from any thread.

struct block_paths {
    QString sysRoot = QStringLiteral("/sys");
    QString mountInfo = QStringLiteral("/proc/self/mountinfo");
    QString devRoot = QStringLiteral("/dev");
};

// One mounted file system: its device numbers as "major:minor" and where it is mounted.
struct mount_entry {
    QString majorMinor;
    QString mountPoint;
};

// One whole disk as /sys/block describes it.
struct block_disk {
    QString name;          // kernel name, "sdb"
    QString devicePath;    // "/dev/sdb"
    QString majorMinor;    // "8:16"
    QString model;         // vendor and model, blanks collapsed; may be empty
    std::uint64_t sizeBytes = 0;
    bool removable = false;
    bool onUsb = false;    // its sysfs path lies under a USB bus
    bool optical = false;  // a CD/DVD drive (SCSI type 5, or named sr*)
    QStringList partitions;    // kernel names, "sdb1"
    QStringList partitionDevs; // "major:minor" of each partition, same order
};

// Kernel names never offered: loop, ram, zram, device-mapper and software RAID devices.
bool is_virtual_block_name(const QString &name);

// Every disk listed in <sysRoot>/block that is not virtual, sorted by name.
std::vector<block_disk> read_block_disks(const block_paths &paths = {});
// One disk by kernel name; false when <sysRoot>/block/<name> does not exist.
bool read_block_disk(const block_paths &paths, const QString &name, block_disk &out);

// The mounts of /proc/self/mountinfo in file order; mount points are unescaped (\040 ...).
std::vector<mount_entry> read_mounts(const QString &mountInfoPath);
// Mount points of the disk itself and of its partitions, in mount order.
QStringList disk_mount_points(const block_disk &disk, const std::vector<mount_entry> &mounts);

// The kernel name of the whole disk that holds the block device with these numbers
// ("sdb" for the numbers of sdb or of sdb1); empty when sysfs does not know them.
QString whole_disk_name(const block_paths &paths, unsigned major, unsigned minor);

// "14.9 GiB"-style size text.
QString format_size(std::uint64_t bytes);
