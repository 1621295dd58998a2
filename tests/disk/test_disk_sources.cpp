// The disk the remote computer is given: an image file, or a whole block device (a loop
// device over an image, when the test runs as root).
#include "media_support.h"

#include "tools/disk/rw_disk/block_devices.h"
#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace media_test;
using socket_test::log_lines_with;
using disk = c_read_write_disk_sector_win;

TEST(ImageDisk, ReadsTheSectorsAskedAndComesBackShortAtTheEnd)
{
    test_image image(10);
    disk d;
    ASSERT_TRUE(d.openDisk(image.path()));
    EXPECT_TRUE(d.isOpen() && !d.isReadOnly() && d.kind() == disk::source_kind::image_file);
    EXPECT_EQ(d.sectorCount(), 10u);
    const struct { std::uint32_t sector, length, expected; } reads[] = {{3, 1024, 1024}, {9, 1024, 512}, {12, 512, 0}};
    for (const auto &[sector, length, expected] : reads) {
        bytes out(length);
        std::uint32_t got = 7;
        ASSERT_TRUE(d.setPoint(sector));
        EXPECT_EQ(d.curSector(), sector);
        EXPECT_TRUE(d.readDisk(out.data(), length, got));
        ASSERT_EQ(got, expected) << sector;
        for (std::uint32_t n = 0; n < got / 512; ++n)
            EXPECT_EQ(bytes(out.begin() + n * 512, out.begin() + (n + 1) * 512), image.sector(sector + n));
    }
}

// Writes land on their sectors only. A write running past the end is refused whole (the
// file never grows), and so is any write to a source opened read-only: asked for, or an
// image nobody may write.
TEST(ImageDisk, WritesLandOnlyOnTheirSectorsAndOnlyWhereAllowed)
{
    test_image image(10);
    const bytes data = random_bytes(1024, 9);
    // opened as read-only, sector, length, error code when refused (0: written)
    const struct { bool readOnly; std::uint32_t sector, length; int error; } writes[] = {
        {false, 6, 1024, 0}, {false, 10, 512, 28}, {false, 9, 1024, 28}, {true, 1, 512, 30}, {false, 2, 512, 30}};
    for (const auto &[readOnly, sector, length, error] : writes) {
        if (error == 30 && !readOnly) {
            ASSERT_EQ(::chmod(QFile::encodeName(image.path()).constData(), 0444), 0);
        }
        disk d;
        ASSERT_TRUE(d.openDisk(image.path(), readOnly));
        EXPECT_EQ(d.isReadOnly(), error == 30) << sector;
        const std::string line = "write dist error, error code is" + std::to_string(error) + " (";
        const int before = log_lines_with(line);
        std::uint32_t written = 7;
        ASSERT_TRUE(d.setPoint(sector));
        EXPECT_EQ(d.writeDisk(data.data(), length, written), error == 0) << sector;
        EXPECT_EQ(written, error ? 0u : length) << sector;
        EXPECT_EQ(log_lines_with(line), before + (error ? 1 : 0)) << sector;
    }
    image.write_model(6, data); // sectors 6 and 7
    EXPECT_TRUE(image.file_equals_model());
    EXPECT_EQ(QFile(image.path()).size(), 10 * 512);
}

// Missing, a folder, nothing, an image in use (it cannot be locked), an image whose sector
// count does not fit the 32 bits the device is told: each fails with its line and leaves no
// descriptor open, and the object refuses everything until a source opens.
TEST(ImageDisk, SourcesThatCannotBeMappedFailAndLeaveNothingHeld)
{
    test_image image(4), other(2, 5, "other.img");
    QFile huge(image.dir() + "/huge.img"); // 2 TiB + 1 MiB, sparse: nothing is allocated
    const bool hugeMade = huge.open(QIODevice::WriteOnly) && huge.resize((qint64{1} << 41) + (qint64{1} << 20));
    huge.close();
    disk holder, d;
    ASSERT_TRUE(holder.openDisk(image.path()));
    const std::pair<QString, std::string> cases[] = {
        {image.dir() + "/missing.img", "open disk failed! ("}, {image.dir(), "open disk failed! ("}, {QString(), "open disk failed! ("},
        {image.path(), "FSCTL_LOCK_VOLUME failed! ("},
        {huge.fileName(), "huge.img holds 4294969344 sectors, at most 4294967295 can be announced ("}};
    const int fds = socket_test::open_fd_count();
    for (const auto &[source, line] : cases) {
        if (source == huge.fileName() && !hugeMade)
            continue; // the temporary file system refuses a 2 TiB sparse file
        const int before = log_lines_with(line);
        EXPECT_FALSE(d.openDisk(source)) << source.toStdString();
        EXPECT_FALSE(d.isOpen());
        EXPECT_EQ(log_lines_with(line), before + 1) << source.toStdString();
        EXPECT_EQ(socket_test::open_fd_count(), fds);
    }
    bytes buffer(512);
    std::uint32_t count = 5;
    EXPECT_FALSE(d.setPoint(0));
    EXPECT_FALSE(d.readDisk(buffer.data(), 512, count));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(d.writeDisk(buffer.data(), 512, count));
    EXPECT_TRUE(d.closeDisk());
    ASSERT_TRUE(holder.openDisk(other.path())); // opening another source releases the first
    EXPECT_TRUE(d.openDisk(image.path()));
}

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
        target.setInteractiveAuth(false);
    }
    void TearDown() override
    {
        target.closeDisk();
        while (mounted_at(mountDir) && run("umount", {mountDir})) {
        }
        if (!device.isEmpty())
            run("losetup", {"-d", device});
    }

    test_image image{16384, 3};
    QString device, mountDir = image.dir() + "/mnt";
    disk target;
};

} // namespace

TEST_F(LoopDevice, MappingUnmountsClaimsWritesAndReleases)
{
    ASSERT_TRUE(target.openDisk(device));
    EXPECT_EQ(target.kind(), disk::source_kind::block_device);
    EXPECT_EQ(target.sectorCount(), 16384u);
    EXPECT_FALSE(mounted_at(mountDir));
    EXPECT_LT(open_exclusive(device), 0); // the disk is ours alone while mapped
    EXPECT_EQ(errno, EBUSY);
    const bytes data = random_bytes(1024, 77);
    std::uint32_t count = 0;
    ASSERT_TRUE(target.setPoint(16000));
    ASSERT_TRUE(target.writeDisk(data.data(), 1024, count));
    EXPECT_EQ(count, 1024u);
    ASSERT_TRUE(target.setPoint(16384)); // past the end: refused, nothing written
    EXPECT_FALSE(target.writeDisk(data.data(), 512, count));
    target.closeDisk();
    const int other = open_exclusive(device);
    EXPECT_GE(other, 0);
    if (other >= 0)
        ::close(other);
    QFile file(image.path());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly) && file.seek(16000 * 512));
    const QByteArray written = file.read(1024);
    EXPECT_EQ(bytes(written.begin(), written.end()), data);
}
