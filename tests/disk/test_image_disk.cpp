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
