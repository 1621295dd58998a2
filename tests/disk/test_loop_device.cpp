#include "../media/media_test_support.h"

#include "tools/disk/rw_disk/block_devices.h"
#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"

#include <QFile>
#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace media_test;
using socket_test::log_lines_with;

namespace {

bool run(const QString &program, const QStringList &args, QString *out = nullptr)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return false;
    if (out)
        *out = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    return true;
}

bool mounted_at(const QString &dir)
{
    for (const mount_entry &mount : read_mounts(QStringLiteral("/proc/self/mountinfo")))
        if (mount.mountPoint == dir)
            return true;
    return false;
}

// A loop device over an 8 MiB image holding an ext4 file system (a "superfloppy" stick),
// mounted on a temporary folder. Everything is undone on destruction, whatever happened.
class loop_device {
public:
    loop_device() : m_image(16384, 3)
    {
        m_mountDir = m_image.dir() + "/mnt";
        QDir().mkpath(m_mountDir);
        if (::geteuid() != 0) {
            m_why = "needs root";
            return;
        }
        if (!run("losetup", {"-f", "--show", m_image.path()}, &m_device)) {
            m_why = "losetup does not work here";
            return;
        }
        if (!run("mkfs.ext4", {"-q", "-F", m_device}))
            m_why = "mkfs.ext4 failed";
    }
    ~loop_device()
    {
        while (mounted_at(m_mountDir) && run("umount", {m_mountDir})) {
        }
        if (!m_device.isEmpty())
            run("losetup", {"-d", m_device});
    }
    QString why() const { return m_why; }
    const QString &device() const { return m_device; }
    const QString &mount_dir() const { return m_mountDir; }
    bool mount() { return run("mount", {m_device, m_mountDir}); }
    test_image &image() { return m_image; }

private:
    test_image m_image;
    QString m_device;
    QString m_mountDir;
    QString m_why;
};

#define NEED_LOOP(loop)                                                                    \
    if (!(loop).why().isEmpty())                                                          \
    GTEST_SKIP() << "block device path untested: " << (loop).why().toStdString()

} // namespace

TEST(LoopDevice, MappingUnmountsClaimsWritesAndReleases)
{
    loop_device loop;
    NEED_LOOP(loop);
    ASSERT_TRUE(loop.mount());
    c_read_write_disk_sector_win disk;
    disk.setInteractiveAuth(false);
    ASSERT_TRUE(disk.openDisk(loop.device()));
    EXPECT_EQ(disk.kind(), c_read_write_disk_sector_win::source_kind::block_device);
    EXPECT_EQ(disk.sectorCount(), 16384u);
    EXPECT_FALSE(mounted_at(loop.mount_dir()));
    // The disk is ours alone while mapped.
    const QByteArray node = QFile::encodeName(loop.device());
    int other = ::open(node.constData(), O_RDONLY | O_EXCL | O_CLOEXEC);
    EXPECT_LT(other, 0);
    EXPECT_EQ(errno, EBUSY);

    const bytes data = random_bytes(1024, 77);
    std::uint32_t count = 0;
    ASSERT_TRUE(disk.setPoint(16000));
    ASSERT_TRUE(disk.writeDisk(data.data(), 1024, count));
    EXPECT_EQ(count, 1024u);
    bytes back(1024);
    ASSERT_TRUE(disk.readDisk(back.data(), 1024, count));
    EXPECT_EQ(back, data);
    ASSERT_TRUE(disk.setPoint(16384)); // past the end: refused, nothing written
    EXPECT_FALSE(disk.writeDisk(data.data(), 512, count));
    disk.closeDisk();

    other = ::open(node.constData(), O_RDONLY | O_EXCL | O_CLOEXEC);
    EXPECT_GE(other, 0);
    if (other >= 0)
        ::close(other);
    QFile file(loop.image().path());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    ASSERT_TRUE(file.seek(16000 * 512));
    const QByteArray written = file.read(1024);
    EXPECT_EQ(bytes(written.begin(), written.end()), data);
}

TEST(LoopDevice, BusyFileSystemFailsToLockAndStaysMounted)
{
    loop_device loop;
    NEED_LOOP(loop);
    ASSERT_TRUE(loop.mount());
    const QByteArray inside = QFile::encodeName(loop.mount_dir() + "/open.txt");
    const int fd = ::open(inside.constData(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    const int lockFailures = log_lines_with("FSCTL_LOCK_VOLUME failed! (");
    c_read_write_disk_sector_win disk;
    disk.setInteractiveAuth(false);
    EXPECT_FALSE(disk.openDisk(loop.device()));
    ::close(fd);
    EXPECT_FALSE(disk.isOpen());
    EXPECT_TRUE(mounted_at(loop.mount_dir())); // never detached lazily
    EXPECT_EQ(log_lines_with("FSCTL_LOCK_VOLUME failed! ("), lockFailures + 1);
}

TEST(LoopDevice, DiskClaimedElsewhereFailsToLock)
{
    loop_device loop;
    NEED_LOOP(loop);
    const int holder =
        ::open(QFile::encodeName(loop.device()).constData(), O_RDONLY | O_EXCL | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    const int lockFailures = log_lines_with("FSCTL_LOCK_VOLUME failed! (");
    c_read_write_disk_sector_win disk;
    disk.setInteractiveAuth(false);
    EXPECT_FALSE(disk.openDisk(loop.device()));
    ::close(holder);
    EXPECT_EQ(log_lines_with("FSCTL_LOCK_VOLUME failed! ("), lockFailures + 1);
    EXPECT_TRUE(disk.openDisk(loop.device(), true)); // free again: opens, read-only as asked
    EXPECT_TRUE(disk.isReadOnly());
}
