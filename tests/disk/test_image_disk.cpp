#include "../media/media_test_support.h"

#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"

#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

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

// Writes land on their sectors only; a write running past the end is refused whole and the
// file never grows.
TEST(ImageDisk, WritesLandOnlyOnTheRequestedSectors)
{
    test_image image(10);
    const int refused = log_lines_with("write dist error, error code is28 (");
    const bytes data = random_bytes(1024, 9);
    {
        disk d;
        ASSERT_TRUE(d.openDisk(image.path()));
        const struct { std::uint32_t sector, length; bool ok; } writes[] = {{6, 1024, true}, {10, 512, false}, {9, 1024, false}};
        for (const auto &[sector, length, ok] : writes) {
            std::uint32_t written = 7;
            ASSERT_TRUE(d.setPoint(sector));
            EXPECT_EQ(d.writeDisk(data.data(), length, written), ok) << sector;
            EXPECT_EQ(written, ok ? length : 0u) << sector;
        }
    }
    image.write_model(6, data); // sectors 6 and 7
    EXPECT_TRUE(image.file_equals_model());
    EXPECT_EQ(QFile(image.path()).size(), 10 * 512);
    EXPECT_EQ(log_lines_with("write dist error, error code is28 ("), refused + 2);
}

// Asked for, or an image nobody may write: opened read-only, writes refused.
TEST(ImageDisk, ReadOnlySourcesRefuseWrites)
{
    test_image image(4);
    const bytes data(512, 0x11);
    const int refused = log_lines_with("write dist error, error code is30 (");
    for (const bool asked : {true, false}) {
        if (!asked) {
            ASSERT_EQ(::chmod(QFile::encodeName(image.path()).constData(), 0444), 0);
        }
        disk d;
        ASSERT_TRUE(d.openDisk(image.path(), asked));
        EXPECT_TRUE(d.isReadOnly());
        std::uint32_t written = 0;
        ASSERT_TRUE(d.setPoint(1));
        EXPECT_FALSE(d.writeDisk(data.data(), 512, written));
    }
    EXPECT_EQ(log_lines_with("write dist error, error code is30 ("), refused + 2);
    EXPECT_TRUE(image.file_equals_model());
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
