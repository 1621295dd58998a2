#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"

#include "logging/log.h"
#include "tools/disk/rw_disk/block_devices.h"
#include "tools/disk/rw_disk/c_udisks_client.h"
#include "utils.h"

#include <QFile>

#include <cerrno>
#include <limits>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr std::uint64_t kSector = 512;

QByteArray device_node(const QString &wholeDisk)
{
    return QFile::encodeName(QStringLiteral("/dev/") + QString(wholeDisk).replace(u'!', u'/'));
}

void log_system_error(const char *function)
{
    std::string text;
    get_error_info(function, false, text);
    TLOG_WARN << text;
}

// Block names (the disk itself or its partitions) that carry a mounted file system.
QStringList mounted_block_names(const block_disk &disk, const std::vector<mount_entry> &mounts)
{
    QStringList names;
    auto mounted = [&](const QString &majorMinor) {
        for (const mount_entry &mount : mounts)
            if (mount.majorMinor == majorMinor)
                return true;
        return false;
    };
    if (mounted(disk.majorMinor))
        names << disk.name;
    for (qsizetype i = 0; i < disk.partitions.size(); ++i)
        if (mounted(disk.partitionDevs.value(i)))
            names << disk.partitions[i];
    return names;
}

} // namespace

c_read_write_disk_sector_win::~c_read_write_disk_sector_win()
{
    closeDisk();
}

bool c_read_write_disk_sector_win::fail(open_error cause)
{
    m_openError = cause;
    return false;
}

bool c_read_write_disk_sector_win::fail_errno(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
        return fail(open_error::not_found);
    case EACCES:
    case EPERM:
        return fail(open_error::permission);
    case EBUSY:
    case EWOULDBLOCK:
        return fail(open_error::busy);
    default:
        return fail(open_error::failed);
    }
}

bool c_read_write_disk_sector_win::fail_udisks(const udisks_error &error)
{
    if (error.not_authorized())
        return fail(open_error::not_authorized);
    return fail(error.busy() ? open_error::busy : open_error::failed);
}

bool c_read_write_disk_sector_win::openDisk(const QString &source, bool readOnly)
{
    closeDisk();
    m_openError = open_error::none;
    TLOG_INFO << "try open disk!";
    struct stat st {};
    const QByteArray path = QFile::encodeName(source);
    const bool found = !source.isEmpty() && ::stat(path.constData(), &st) == 0;
    const int statError = source.isEmpty() ? ENOENT : errno;
    if (!found || !(S_ISBLK(st.st_mode) || S_ISREG(st.st_mode))) {
        TLOG_ERROR << source;
        TLOG_ERROR << "open disk failed!";
        return found ? fail(open_error::not_a_disk) : fail_errno(statError);
    }
    opened_source opened;
    const bool block = S_ISBLK(st.st_mode);
    const bool ok = block ? openBlockDevice(source, major(st.st_rdev), minor(st.st_rdev),
                                            readOnly, opened)
                          : openImageFile(source, readOnly, opened);
    if (!ok)
        return false;
    // The device learns the disk's size as a 32-bit sector count: a larger disk would be
    // announced with a wrapped, far smaller count.
    const std::uint64_t sectors = opened.sizeBytes / kSector;
    if (sectors > std::numeric_limits<std::uint32_t>::max()) {
        TLOG_ERROR << "disk too large to map: " << source << " holds " << sectors
                   << " sectors, at most " << std::numeric_limits<std::uint32_t>::max()
                   << " can be announced";
        opened.fd.reset();
        if (block)
            rescanPartitions(opened.wholeDisk);
        return fail(open_error::too_large);
    }

    std::unique_lock lock(m_lock);
    m_fd = std::move(opened.fd);
    m_kind = block ? source_kind::block_device : source_kind::image_file;
    m_wholeDisk = opened.wholeDisk;
    m_readOnly = opened.readOnly;
    m_sizeBytes = opened.sizeBytes;
    m_sectorCount = static_cast<std::uint32_t>(opened.sizeBytes / kSector);
    m_curSector = 0;
    m_opened = true;
    TLOG_INFO << "have open disk!";
    return true;
}

bool c_read_write_disk_sector_win::openBlockDevice(const QString &source, unsigned major,
                                                   unsigned minor, bool readOnly,
                                                   opened_source &out)
{
    const QString disk = whole_disk_name({}, major, minor);
    if (disk.isEmpty()) {
        TLOG_WARN << "no whole disk known for " << source;
        TLOG_ERROR << "IOCTL_STORAGE_GET_DEVICE_NUMBER failed!";
        return fail(open_error::failed);
    }
    if (!unmountPartitions(disk)) {
        TLOG_ERROR << "FSCTL_LOCK_VOLUME failed!";
        rescanPartitions(disk); // let the desktop mount again what was unmounted
        return false;
    }
    bool busy = false;
    out.readOnly = readOnly;
    out.fd = openWholeDisk(disk, out.readOnly, busy);
    if (!out.fd) {
        TLOG_ERROR << (busy ? "FSCTL_LOCK_VOLUME failed!" : "open phyHandle failed!");
        rescanPartitions(disk);
        return false; // openWholeDisk recorded why
    }
    std::uint64_t length = 0;
    if (::ioctl(out.fd.get(), BLKGETSIZE64, &length) != 0) {
        log_system_error("ioctl(BLKGETSIZE64)");
        TLOG_ERROR << "IOCTL_DISK_GET_LENGTH_INFO failed!";
        out.fd.reset();
        rescanPartitions(disk);
        return fail(open_error::failed);
    }
    out.sizeBytes = length;
    out.wholeDisk = disk;
    return true;
}

bool c_read_write_disk_sector_win::unmountPartitions(const QString &wholeDisk)
{
    block_disk disk;
    if (!read_block_disk({}, wholeDisk, disk))
        return fail(open_error::not_found);
    const std::vector<mount_entry> mounts = read_mounts(block_paths{}.mountInfo);
    if (::geteuid() == 0) {
        // Stacked mounts come off in reverse order; never detach lazily: a busy file
        // system must make the map fail, not vanish with its data still unwritten.
        const QStringList points = disk_mount_points(disk, mounts);
        for (qsizetype i = points.size() - 1; i >= 0; --i) {
            TLOG_INFO << "unmounting " << points[i];
            if (::umount2(QFile::encodeName(points[i]).constData(), 0) != 0) {
                const int error = errno;
                log_system_error("umount2");
                return fail_errno(error);
            }
        }
        return true;
    }
    const c_udisks_client udisks(m_interactiveAuth);
    for (const QString &name : mounted_block_names(disk, mounts)) {
        udisks_error error;
        TLOG_INFO << "unmounting /dev/" << name;
        if (!udisks.unmount(name, error)) {
            TLOG_WARN << "udisks2 unmount of " << name << " failed: " << error.text();
            return fail_udisks(error);
        }
    }
    return true;
}

unique_fd c_read_write_disk_sector_win::openWholeDisk(const QString &wholeDisk, bool &readOnly,
                                                      bool &busy)
{
    const QByteArray node = device_node(wholeDisk);
    const int extra = O_EXCL | O_SYNC | O_CLOEXEC;
    unique_fd fd(::open(node.constData(), (readOnly ? O_RDONLY : O_RDWR) | extra));
    if (!fd && !readOnly && errno == EROFS) {
        readOnly = true; // write-protected medium: serve it read-only
        fd.reset(::open(node.constData(), O_RDONLY | extra));
    }
    if (fd)
        return fd;
    const int error = errno;
    busy = error == EBUSY;
    log_system_error("open");
    fail_errno(error);
    if (busy || (error != EACCES && error != EPERM) || ::geteuid() == 0)
        return fd;
    udisks_error reason;
    fd.reset(c_udisks_client(m_interactiveAuth)
                 .openDevice(wholeDisk, readOnly, O_EXCL | O_SYNC, reason));
    if (!fd) {
        TLOG_WARN << "udisks2 open of " << wholeDisk << " failed: " << reason.text();
        // Without the service (or with a failure of its own) the permission error stands.
        if (reason.not_authorized() || reason.busy())
            fail_udisks(reason);
        busy = reason.busy();
    }
    return fd;
}

bool c_read_write_disk_sector_win::openImageFile(const QString &source, bool readOnly,
                                                 opened_source &out)
{
    const QByteArray path = QFile::encodeName(source);
    struct stat st {};
    // An image nobody may write is served read-only, for root as well.
    out.readOnly = readOnly || (::stat(path.constData(), &st) == 0 && (st.st_mode & 0222) == 0);
    out.fd.reset(::open(path.constData(), (out.readOnly ? O_RDONLY : O_RDWR) | O_SYNC | O_CLOEXEC));
    if (!out.fd && !out.readOnly && (errno == EACCES || errno == EROFS || errno == EPERM)) {
        out.readOnly = true;
        out.fd.reset(::open(path.constData(), O_RDONLY | O_CLOEXEC));
    }
    if (!out.fd) {
        const int error = errno;
        log_system_error("open");
        TLOG_ERROR << "open phyHandle failed!";
        return fail_errno(error);
    }
    if (::flock(out.fd.get(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        log_system_error("flock");
        TLOG_ERROR << "FSCTL_LOCK_VOLUME failed!";
        out.fd.reset();
        return fail_errno(error);
    }
    if (::fstat(out.fd.get(), &st) != 0) {
        log_system_error("fstat");
        TLOG_ERROR << "IOCTL_DISK_GET_LENGTH_INFO failed!";
        out.fd.reset();
        return fail(open_error::failed);
    }
    out.sizeBytes = static_cast<std::uint64_t>(st.st_size);
    return true;
}

void c_read_write_disk_sector_win::rescanPartitions(const QString &wholeDisk)
{
    if (::geteuid() == 0) {
        const unique_fd fd(::open(device_node(wholeDisk).constData(), O_RDONLY | O_CLOEXEC));
        if (!fd || ::ioctl(fd.get(), BLKRRPART) != 0)
            TLOG_INFO << "partition table of " << wholeDisk << " not re-read, errno " << errno;
        return;
    }
    udisks_error error;
    if (!c_udisks_client(m_interactiveAuth).rescan(wholeDisk, error))
        TLOG_INFO << "udisks2 rescan of " << wholeDisk << " failed: " << error.text();
}

bool c_read_write_disk_sector_win::closeDisk()
{
    TLOG_INFO << "closing disk!";
    QString rescan;
    {
        std::unique_lock lock(m_lock);
        if (m_kind == source_kind::block_device && !m_readOnly)
            rescan = m_wholeDisk;
        m_fd.reset();
        m_kind = source_kind::none;
        m_wholeDisk.clear();
        m_opened = false;
        m_readOnly = false;
    }
    // After the exclusive claim is gone, so the kernel may drop and re-create partitions.
    if (!rescan.isEmpty())
        rescanPartitions(rescan);
    return true;
}

bool c_read_write_disk_sector_win::setPoint(std::uint32_t sector)
{
    if (!m_opened)
        return false;
    m_curSector = sector;
    return true;
}

bool c_read_write_disk_sector_win::readDisk(std::uint8_t *buffer, std::uint32_t length,
                                            std::uint32_t &bytesRead)
{
    return readDiskAt(m_curSector.load(), buffer, length, bytesRead);
}

bool c_read_write_disk_sector_win::readDiskAt(std::uint32_t sector, std::uint8_t *buffer,
                                              std::uint32_t length, std::uint32_t &bytesRead)
{
    bytesRead = 0;
    std::shared_lock lock(m_lock);
    if (!m_opened)
        return false;
    const auto offset = static_cast<off_t>(std::uint64_t{sector} * kSector);
    while (bytesRead < length) {
        const ssize_t n = ::pread(m_fd.get(), buffer + bytesRead, length - bytesRead,
                                  offset + static_cast<off_t>(bytesRead));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break; // end of the disk
        bytesRead += static_cast<std::uint32_t>(n);
    }
    return true;
}

bool c_read_write_disk_sector_win::writeDisk(const std::uint8_t *buffer, std::uint32_t length,
                                             std::uint32_t &bytesWritten)
{
    return writeDiskAt(m_curSector.load(), buffer, length, bytesWritten);
}

bool c_read_write_disk_sector_win::writeDiskAt(std::uint32_t sector, const std::uint8_t *buffer,
                                               std::uint32_t length, std::uint32_t &bytesWritten)
{
    bytesWritten = 0;
    std::shared_lock lock(m_lock);
    if (!m_opened)
        return false;
    auto fail = [](int code) {
        TLOG_ERROR << "write dist error, error code is" << static_cast<unsigned long long>(code);
        errno = code; // for the caller's own log line, as after a failed write call
        return false;
    };
    const std::uint64_t offset = std::uint64_t{sector} * kSector;
    if (m_readOnly)
        return fail(EROFS);
    // An image file would silently grow; a device refuses anyway. Nothing outside the disk.
    if (offset + length > m_sizeBytes)
        return fail(ENOSPC);
    while (bytesWritten < length) {
        const ssize_t n = ::pwrite(m_fd.get(), buffer + bytesWritten, length - bytesWritten,
                                   static_cast<off_t>(offset + bytesWritten));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(errno);
        if (n == 0)
            break;
        bytesWritten += static_cast<std::uint32_t>(n);
    }
    return true;
}
