#include "../media/media_test_support.h"

#include "tools/disk/rw_disk/block_devices.h"
#include "tools/disk/rw_disk/c_udisks_client.h"
#include "tools/disk/rw_disk/list_removable_drives.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace media_test;

namespace {

// A sysfs and mountinfo laid out like the kernel's, in a temporary folder.
class fake_sysfs {
public:
    fake_sysfs()
    {
        m_paths.sysRoot = m_dir.path() + "/sys";
        m_paths.mountInfo = m_dir.path() + "/mountinfo";
        m_paths.devRoot = QStringLiteral("/dev");
    }
    const block_paths &paths() const { return m_paths; }

    // A disk at devices/<parent>/block/<name>, linked from block/<name> and dev/block/M:m.
    void add_disk(const QString &parent, const QString &name, const QString &dev,
                  std::uint64_t sectors, bool removable, const QString &model = {},
                  const QString &scsiType = {})
    {
        const QString dir = m_paths.sysRoot + "/devices/" + parent + "/block/" + name;
        write(dir + "/dev", dev);
        write(dir + "/size", QString::number(sectors));
        write(dir + "/removable", removable ? "1" : "0");
        if (!model.isEmpty()) {
            write(dir + "/device/vendor", model.section(' ', 0, 0) + "    ");
            write(dir + "/device/model", model.section(' ', 1) + "  ");
        }
        if (!scsiType.isEmpty())
            write(dir + "/device/type", scsiType);
        link(dir, m_paths.sysRoot + "/block/" + name);
        link(dir, m_paths.sysRoot + "/dev/block/" + dev);
        m_disks[name] = dir;
    }
    void add_partition(const QString &disk, const QString &name, const QString &dev)
    {
        const QString dir = m_disks[disk] + '/' + name;
        write(dir + "/dev", dev);
        write(dir + "/partition", "1");
        link(dir, m_paths.sysRoot + "/dev/block/" + dev);
    }
    void set_mounts(const QString &text) { write(m_paths.mountInfo, text); }

private:
    static void write(const QString &path, const QString &text)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8() + '\n');
    }
    static void link(const QString &target, const QString &at)
    {
        QDir().mkpath(QFileInfo(at).absolutePath());
        ASSERT_TRUE(QFile::link(target, at)) << at.toStdString();
    }

    QTemporaryDir m_dir;
    block_paths m_paths;
    std::map<QString, QString> m_disks;
};

const QString kUsb = QStringLiteral("pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0");
const QString kSata = QStringLiteral("pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0");

struct DriveList : ::testing::Test {
    void SetUp() override
    {
        qunsetenv("TESSARACT_IMAGES");
        sys.add_disk(kSata, "sda", "8:0", 1000000, false, "ATA Fixed");
        sys.add_partition("sda", "sda1", "8:1");
        sys.add_disk(kUsb, "sdb", "8:16", 2000000, false, "WD Passport");
        sys.add_partition("sdb", "sdb1", "8:17");
        sys.add_partition("sdb", "sdb2", "8:18");
        sys.add_disk("platform/mmc/mmc0/mmc0:0001", "mmcblk0", "179:0", 30000, true);
        sys.add_disk(kUsb + "/more", "sdc", "8:32", 0, true, "Card Reader"); // no medium
        sys.add_disk("pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0", "sr0", "11:0",
                     4000, true, "HL DVD", "5");
        for (const char *name : {"loop0", "ram0", "zram0", "dm-0", "md0"})
            sys.add_disk("virtual", name, QString("200:%1").arg(int(name[1])), 100, true);
        sys.set_mounts("22 1 8:1 / / rw,relatime - ext4 /dev/sda1 rw\n"
                       "36 22 8:17 / /media/u/MY\\040KEY rw,relatime - vfat /dev/sdb1 rw\n"
                       "37 36 8:17 / /mnt/again rw,relatime - vfat /dev/sdb1 rw");
    }
    fake_sysfs sys;
};

} // namespace

TEST_F(DriveList, OffersRemovableAndUsbDisksOnly)
{
    const drive_list drives = list_removable_drives({}, sys.paths());
    std::vector<QString> keys;
    for (const auto &entry : drives)
        keys.push_back(entry.first);
    EXPECT_EQ(keys, (std::vector<QString>{"/dev/mmcblk0  (14.6 MiB)",
                                          "/dev/sdb  WD Passport (976.6 MiB)"}));
    const drive_entry &usb = drives.at("/dev/sdb  WD Passport (976.6 MiB)");
    EXPECT_EQ(usb.type, drive_entry::kind::block_device);
    EXPECT_EQ(usb.source, "/dev/sdb");
    EXPECT_EQ(usb.partitions, (QStringList{"sdb1", "sdb2"}));
    EXPECT_EQ(usb.mountPoints, (QStringList{"/media/u/MY KEY", "/mnt/again"}));
    EXPECT_EQ(usb.sizeBytes, 2000000u * 512u);
}

TEST_F(DriveList, ImagesComeFromTheEnvironmentAndTheCaller)
{
    test_image fromEnv(4, 1, "env.img");
    test_image added(8, 2, "added.img");
    qputenv("TESSARACT_IMAGES",
            (fromEnv.path() + ":" + fromEnv.dir() + "/missing.img:").toLocal8Bit());
    const drive_list drives = list_removable_drives({added.path()}, sys.paths());
    qunsetenv("TESSARACT_IMAGES");
    EXPECT_EQ(drives.size(), 4u);
    const QString key = fromEnv.path() + "  image file (2.0 KiB)";
    ASSERT_EQ(drives.count(key), 1u);
    EXPECT_EQ(drives.at(key).type, drive_entry::kind::image_file);
    EXPECT_EQ(drives.at(key).source, fromEnv.path());
    EXPECT_EQ(drives.count(added.path() + "  image file (4.0 KiB)"), 1u);
    QFile::setPermissions(added.path(), QFileDevice::ReadOwner);
    const drive_list again = list_removable_drives({added.path()}, sys.paths());
    EXPECT_EQ(again.count(added.path() + "  image file (read-only, 4.0 KiB)"), 1u);
}

TEST_F(DriveList, PartitionsResolveToTheirWholeDisk)
{
    EXPECT_EQ(whole_disk_name(sys.paths(), 8, 17), "sdb");
    EXPECT_EQ(whole_disk_name(sys.paths(), 8, 16), "sdb");
    EXPECT_EQ(whole_disk_name(sys.paths(), 179, 0), "mmcblk0");
    EXPECT_EQ(whole_disk_name(sys.paths(), 9, 9), "");
}

TEST(BlockNames, VirtualDevicesAreNeverOffered)
{
    for (const char *name : {"loop7", "ram15", "zram0", "dm-3", "md127"})
        EXPECT_TRUE(is_virtual_block_name(name)) << name;
    for (const char *name : {"sda", "mmcblk0", "nvme0n1", "vda"})
        EXPECT_FALSE(is_virtual_block_name(name)) << name;
    EXPECT_EQ(format_size(512), "512 B");
    EXPECT_EQ(format_size(1536), "1.5 KiB");
}

TEST(UdisksClient, NamesObjectsAndFailsCleanlyWithoutTheService)
{
    EXPECT_EQ(c_udisks_client::objectPath("sdb1"), "/org/freedesktop/UDisks2/block_devices/sdb1");
    EXPECT_EQ(c_udisks_client::objectPath("cciss!c0d0"),
              "/org/freedesktop/UDisks2/block_devices/cciss_21c0d0");
    // Here either no system bus or no disk manager answers for a disk that does not exist:
    // every call reports a failure with a reason and never hands out a descriptor.
    const c_udisks_client client(false);
    QString error;
    EXPECT_FALSE(client.unmount("tessaract-none", error));
    EXPECT_FALSE(error.isEmpty());
    error.clear();
    EXPECT_EQ(client.openDevice("tessaract-none", true, 0, error), -1);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(client.rescan("tessaract-none", error));
}
