#include "media_support.h"

#include "tools/disk/rw_disk/block_devices.h"
#include "tools/disk/rw_disk/list_removable_drives.h"

#include <QDir>
#include <QFile>

#include <array>
#include <map>

#include <gtest/gtest.h>

using namespace media_test;

namespace {

// A sysfs and mountinfo laid out like the kernel's, in a temporary folder: a SATA disk, a
// USB disk with two partitions (one mounted twice), an SD card, a card reader without a
// medium, a DVD drive and the virtual devices.
struct DriveList : ::testing::Test {
    void SetUp() override
    {
        qunsetenv("TESSARACT_IMAGES");
        paths.sysRoot = dir.path() + "/sys";
        paths.mountInfo = dir.path() + "/mountinfo";
        const QString usb = "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0";
        // parent device, name, major:minor, sectors, removable, vendor and model, SCSI type
        const std::array<QString, 7> disks[] = {
            {"pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0", "sda", "8:0", "1000000", "0", "ATA Fixed"},
            {usb, "sdb", "8:16", "2000000", "0", "WD Passport"}, {"platform/mmc/mmc0/mmc0:0001", "mmcblk0", "179:0", "30000", "1"},
            {usb + "/more", "sdc", "8:32", "0", "1", "Card Reader"},
            {"pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0", "sr0", "11:0", "4000", "1", "HL DVD", "5"},
            {"virtual", "loop0", "7:0", "100", "1"}, {"virtual", "ram0", "1:0", "100", "1"}, {"virtual", "zram0", "252:0", "100", "1"},
            {"virtual", "dm-0", "253:0", "100", "1"}, {"virtual", "md0", "9:0", "100", "1"}};
        std::map<QString, QString> at;
        for (const auto &[parent, name, dev, sectors, removable, model, type] : disks) {
            at[name] = paths.sysRoot + "/devices/" + parent + "/block/" + name;
            const std::pair<const char *, QString> files[] = {{"dev", dev}, {"size", sectors}, {"removable", removable},
                {"device/vendor", model.section(' ', 0, 0) + "    "}, {"device/model", model.section(' ', 1) + "  "}, {"device/type", type}};
            for (const auto &[file, text] : files)
                if (!text.trimmed().isEmpty())
                    write(at[name] + '/' + file, text);
            link(at[name], "/block/" + name);
            link(at[name], "/dev/block/" + dev);
        }
        const std::array<QString, 3> partitions[] = {{"sda", "sda1", "8:1"}, {"sdb", "sdb1", "8:17"}, {"sdb", "sdb2", "8:18"}};
        for (const auto &[disk, name, dev] : partitions) {
            write(at[disk] + '/' + name + "/dev", dev);
            write(at[disk] + '/' + name + "/partition", "1");
            link(at[disk] + '/' + name, "/dev/block/" + dev);
        }
        write(paths.mountInfo, "22 1 8:1 / / rw,relatime - ext4 /dev/sda1 rw\n"
                               "36 22 8:17 / /media/u/MY\\040KEY rw,relatime - vfat /dev/sdb1 rw\n"
                               "37 36 8:17 / /mnt/again rw,relatime - vfat /dev/sdb1 rw");
    }
    static void write(const QString &path, const QString &text)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8() + '\n');
    }
    void link(const QString &target, const QString &under)
    {
        QDir().mkpath(QFileInfo(paths.sysRoot + under).absolutePath());
        ASSERT_TRUE(QFile::link(target, paths.sysRoot + under)) << under.toStdString();
    }

    QTemporaryDir dir;
    block_paths paths;
};

} // namespace

TEST_F(DriveList, OffersRemovableAndUsbDisksOnly)
{
    const drive_list drives = list_removable_drives({}, paths);
    std::vector<QString> keys;
    for (const auto &entry : drives)
        keys.push_back(entry.first);
    EXPECT_EQ(keys, (std::vector<QString>{"/dev/mmcblk0  (14.6 MiB)", "/dev/sdb  WD Passport (976.6 MiB)"}));
    const drive_entry &usb = drives.at("/dev/sdb  WD Passport (976.6 MiB)");
    EXPECT_EQ(usb.type, drive_entry::kind::block_device);
    EXPECT_EQ(usb.source, "/dev/sdb");
    EXPECT_EQ(usb.partitions, (QStringList{"sdb1", "sdb2"}));
    EXPECT_EQ(usb.mountPoints, (QStringList{"/media/u/MY KEY", "/mnt/again"}));
    EXPECT_EQ(usb.sizeBytes, 2000000u * 512u);
    // A partition resolves to its whole disk.
    EXPECT_EQ(whole_disk_name(paths, 8, 17), "sdb");
    EXPECT_EQ(whole_disk_name(paths, 8, 16), "sdb");
    EXPECT_EQ(whole_disk_name(paths, 9, 9), "");
    EXPECT_FALSE(is_virtual_block_name("nvme0n1"));
    EXPECT_TRUE(is_virtual_block_name("md127"));
}

TEST_F(DriveList, ImagesComeFromTheEnvironmentAndTheCaller)
{
    test_image fromEnv(4, 1, "env.img"), added(8, 2, "added.img");
    qputenv("TESSARACT_IMAGES", (fromEnv.path() + ":" + fromEnv.dir() + "/missing.img:").toLocal8Bit());
    const drive_list drives = list_removable_drives({added.path()}, paths);
    qunsetenv("TESSARACT_IMAGES");
    EXPECT_EQ(drives.size(), 4u);
    const QString key = fromEnv.path() + "  image file (2.0 KiB)";
    ASSERT_EQ(drives.count(key), 1u);
    EXPECT_EQ(drives.at(key).type, drive_entry::kind::image_file);
    EXPECT_EQ(drives.at(key).source, fromEnv.path());
    EXPECT_EQ(drives.count(added.path() + "  image file (4.0 KiB)"), 1u);
    QFile::setPermissions(added.path(), QFileDevice::ReadOwner);
    EXPECT_EQ(list_removable_drives({added.path()}, paths).count(added.path() + "  image file (read-only, 4.0 KiB)"), 1u);
}
