#include "../media/media_test_support.h"

#include "tools/disk/rw_disk/block_devices.h"
#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace media_test;

namespace {

bool run(const QString &program, const QStringList &args, QString *out = nullptr)
{
    QProcess process;
    process.start(program, args);
    const bool ok = process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (ok && out)
        *out = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    return ok;
}

bool mounted_at(const QString &dir)
{
    const auto mounts = read_mounts(QStringLiteral("/proc/self/mountinfo"));
    return std::any_of(mounts.begin(), mounts.end(), [&](const mount_entry &m) { return m.mountPoint == dir; });
}

int open_exclusive(const QString &path)
{
    return ::open(QFile::encodeName(path).constData(), O_RDONLY | O_EXCL | O_CLOEXEC);
}

// A loop device over an 8 MiB image holding an ext4 file system (a "superfloppy" stick),
// mounted on a temporary folder. Everything is undone on destruction, whatever happened.
struct LoopDevice : ::testing::Test {
    void SetUp() override
    {
        if (::geteuid() != 0 || !run("losetup", {"-f", "--show", image.path()}, &device) || !run("mkfs.ext4", {"-q", "-F", device}))
            GTEST_SKIP() << "block device path untested: needs root, losetup and mkfs.ext4";
        ASSERT_TRUE(QDir().mkpath(mountDir) && run("mount", {device, mountDir}));
        disk.setInteractiveAuth(false);
    }
    void TearDown() override
    {
        disk.closeDisk();
        while (mounted_at(mountDir) && run("umount", {mountDir})) {
        }
        if (!device.isEmpty())
            run("losetup", {"-d", device});
    }

    test_image image{16384, 3};
    QString device, mountDir = image.dir() + "/mnt";
    c_read_write_disk_sector_win disk;
};

} // namespace

TEST_F(LoopDevice, MappingUnmountsClaimsWritesAndReleases)
{
    ASSERT_TRUE(disk.openDisk(device));
    EXPECT_EQ(disk.kind(), c_read_write_disk_sector_win::source_kind::block_device);
    EXPECT_EQ(disk.sectorCount(), 16384u);
    EXPECT_FALSE(mounted_at(mountDir));
    EXPECT_LT(open_exclusive(device), 0); // the disk is ours alone while mapped
    EXPECT_EQ(errno, EBUSY);
    const bytes data = random_bytes(1024, 77);
    std::uint32_t count = 0;
    ASSERT_TRUE(disk.setPoint(16000));
    ASSERT_TRUE(disk.writeDisk(data.data(), 1024, count));
    EXPECT_EQ(count, 1024u);
    ASSERT_TRUE(disk.setPoint(16384)); // past the end: refused, nothing written
    EXPECT_FALSE(disk.writeDisk(data.data(), 512, count));
    disk.closeDisk();
    const int other = open_exclusive(device);
    EXPECT_GE(other, 0);
    if (other >= 0)
        ::close(other);
    QFile file(image.path());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly) && file.seek(16000 * 512));
    const QByteArray written = file.read(1024);
    EXPECT_EQ(bytes(written.begin(), written.end()), data);
}
