#include "../media/media_test_support.h"

#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"

#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace media_test;
using socket_test::log_lines_with;
using disk = c_read_write_disk_sector_win;

namespace {

bytes read_at(disk &d, std::uint32_t sector, std::uint32_t length, std::uint32_t &got)
{
    bytes out(length);
    EXPECT_TRUE(d.setPoint(sector));
    EXPECT_TRUE(d.readDisk(out.data(), length, got));
    out.resize(got);
    return out;
}

} // namespace

TEST(ImageDisk, OpensWithItsSizeAndReadsTheSectorsAsked)
{
    test_image image(10);
    disk d;
    ASSERT_TRUE(d.openDisk(image.path()));
    EXPECT_TRUE(d.isOpen());
    EXPECT_FALSE(d.isReadOnly());
    EXPECT_EQ(d.kind(), disk::source_kind::image_file);
    EXPECT_EQ(d.sectorCount(), 10u);
    std::uint32_t got = 0;
    const bytes two = read_at(d, 3, 1024, got);
    EXPECT_EQ(got, 1024u);
    EXPECT_EQ(d.curSector(), 3u);
    bytes expected = image.sector(3);
    const bytes fourth = image.sector(4);
    expected.insert(expected.end(), fourth.begin(), fourth.end());
    EXPECT_EQ(two, expected);
    // A read that runs into the end comes back short, and says so by its count.
    read_at(d, 9, 1024, got);
    EXPECT_EQ(got, 512u);
    read_at(d, 12, 512, got);
    EXPECT_EQ(got, 0u);
}

TEST(ImageDisk, WritesLandOnlyOnTheRequestedSectors)
{
    test_image image(10);
    {
        disk d;
        ASSERT_TRUE(d.openDisk(image.path()));
        const bytes data = random_bytes(1024, 9);
        std::uint32_t written = 0;
        ASSERT_TRUE(d.setPoint(6));
        ASSERT_TRUE(d.writeDisk(data.data(), 1024, written));
        EXPECT_EQ(written, 1024u);
        image.write_model(6, bytes(data.begin(), data.begin() + 512));
        image.write_model(7, bytes(data.begin() + 512, data.end()));
    }
    EXPECT_EQ(image.file_hash(), image.model_hash());
}

TEST(ImageDisk, WritesPastTheEndAreRefusedAndTheFileNeverGrows)
{
    test_image image(10);
    const QByteArray before = image.file_hash();
    disk d;
    ASSERT_TRUE(d.openDisk(image.path()));
    const int refused = log_lines_with("write dist error, error code is28 (");
    const bytes data(1024, 0xAB);
    std::uint32_t written = 7;
    ASSERT_TRUE(d.setPoint(10));
    EXPECT_FALSE(d.writeDisk(data.data(), 512, written));
    EXPECT_EQ(written, 0u);
    ASSERT_TRUE(d.setPoint(9)); // half inside: nothing of it is written
    EXPECT_FALSE(d.writeDisk(data.data(), 1024, written));
    EXPECT_EQ(log_lines_with("write dist error, error code is28 ("), refused + 2);
    d.closeDisk();
    EXPECT_EQ(QFile(image.path()).size(), 10 * 512);
    EXPECT_EQ(image.file_hash(), before);
}

TEST(ImageDisk, ReadOnlySourcesRefuseWrites)
{
    test_image image(4);
    const QByteArray before = image.file_hash();
    const bytes data(512, 0x11);
    std::uint32_t written = 0;
    const int refused = log_lines_with("write dist error, error code is30 (");
    {
        disk d;
        ASSERT_TRUE(d.openDisk(image.path(), true));
        EXPECT_TRUE(d.isReadOnly());
        ASSERT_TRUE(d.setPoint(0));
        EXPECT_FALSE(d.writeDisk(data.data(), 512, written));
    }
    // An image nobody may write opens read-only even when writing was asked for.
    ASSERT_EQ(::chmod(QFile::encodeName(image.path()).constData(), 0444), 0);
    {
        disk d;
        ASSERT_TRUE(d.openDisk(image.path(), false));
        EXPECT_TRUE(d.isReadOnly());
        ASSERT_TRUE(d.setPoint(1));
        EXPECT_FALSE(d.writeDisk(data.data(), 512, written));
    }
    EXPECT_EQ(log_lines_with("write dist error, error code is30 ("), refused + 2);
    EXPECT_EQ(image.file_hash(), before);
}

TEST(ImageDisk, AnImageInUseCannotBeLockedAndLeavesNothingHeld)
{
    test_image image(4);
    disk first;
    ASSERT_TRUE(first.openDisk(image.path()));
    const int fds = socket_test::open_fd_count();
    const int lockFailures = log_lines_with("FSCTL_LOCK_VOLUME failed! (");
    disk second;
    EXPECT_FALSE(second.openDisk(image.path()));
    EXPECT_FALSE(second.isOpen());
    EXPECT_EQ(log_lines_with("FSCTL_LOCK_VOLUME failed! ("), lockFailures + 1);
    EXPECT_EQ(socket_test::open_fd_count(), fds);
    // Opening another source releases the first one.
    test_image other(2, 5, "other.img");
    ASSERT_TRUE(first.openDisk(other.path()));
    EXPECT_TRUE(second.openDisk(image.path()));
}

TEST(ImageDisk, MissingSourcesFailAndClosedObjectsRefuseEverything)
{
    QTemporaryDir dir;
    const int failed = log_lines_with("open disk failed! (");
    const int closing = log_lines_with("closing disk! (");
    disk d;
    EXPECT_FALSE(d.openDisk(dir.path() + "/missing.img"));
    EXPECT_FALSE(d.openDisk(dir.path())); // a folder is no disk
    EXPECT_FALSE(d.openDisk(QString()));
    EXPECT_EQ(log_lines_with("open disk failed! ("), failed + 3);
    EXPECT_EQ(log_lines_with((dir.path() + "/missing.img (").toStdString()), 1);
    EXPECT_FALSE(d.isOpen());
    bytes buffer(512);
    std::uint32_t count = 5;
    EXPECT_FALSE(d.setPoint(0));
    EXPECT_FALSE(d.readDisk(buffer.data(), 512, count));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(d.writeDisk(buffer.data(), 512, count));
    EXPECT_TRUE(d.closeDisk());
    EXPECT_TRUE(d.closeDisk());
    // Each open first closes, and so do the two explicit calls.
    EXPECT_EQ(log_lines_with("closing disk! ("), closing + 5);
}

// 2 TiB + 1 MiB: its sector count does not fit the 32 bits the device is told.
TEST(ImageDisk, DisksTooLargeToAnnounceAreRefused)
{
    QTemporaryDir dir;
    QFile file(dir.path() + "/huge.img");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    if (!file.resize((qint64{1} << 41) + (qint64{1} << 20))) // sparse: nothing is allocated
        GTEST_SKIP() << "the temporary file system refuses a 2 TiB sparse file";
    file.close();
    const int fds = socket_test::open_fd_count();
    const int refused = log_lines_with("huge.img holds 4294969344 sectors, at most 4294967295 can be announced (");
    disk d;
    EXPECT_FALSE(d.openDisk(file.fileName()));
    EXPECT_FALSE(d.isOpen());
    EXPECT_EQ(socket_test::open_fd_count(), fds);
    EXPECT_EQ(log_lines_with("huge.img holds 4294969344 sectors, at most 4294967295 can be announced ("), refused + 1);
}
