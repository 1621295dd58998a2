#pragma once

#include "tools/disk/rw_disk/unique_fd.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <shared_mutex>

struct udisks_error;

// Raw, sector-addressed access to the disk the remote computer sees as its USB disk. The
// source is either a whole block device ("/dev/sdb"; a partition path maps its whole disk)
// or a disk image file. Opening a block device unmounts its mounted partitions first and
// then claims it exclusively, so the local system stops using it; closing re-reads its
// partition table so the desktop sees what the remote computer wrote. A sector is always
// 512 bytes; sector numbers are absolute on the whole disk.
//
// Threads: open and close run on the GUI thread; the disk reader thread reads and the media
// receive thread writes, each naming its sector (readDiskAt/writeDiskAt): a device may send
// write data while a read is still being served, so the stored position of setPoint is not
// shared between them. An internal lock keeps close from releasing the descriptor under a
// transfer in flight: the transfer finishes first.
class c_read_write_disk_sector_win {
public:
    enum class source_kind { none, block_device, image_file };
    // Why the last openDisk failed, for the user: the source is gone, is neither a disk nor a
    // file, may not be opened by this user, is in use (mounted and busy, claimed or locked by
    // another program), udisks2 / polkit refused access, or is larger than 2^32 sectors.
    // `failed` covers the rest (the log says what).
    enum class open_error { none, not_found, not_a_disk, permission, busy, not_authorized,
                            too_large, failed };

    c_read_write_disk_sector_win() = default;
    ~c_read_write_disk_sector_win(); // closeDisk()
    c_read_write_disk_sector_win(const c_read_write_disk_sector_win &) = delete;
    c_read_write_disk_sector_win &operator=(const c_read_write_disk_sector_win &) = delete;

    // Closes any earlier source, then opens `source` for sector access. readOnly opens it
    // without write access; a source the user may not write (an image file without write
    // permission, a write-protected card) is opened read-only as well (see isReadOnly).
    // False, with one of the log lines "open disk failed!", "IOCTL_STORAGE_GET_DEVICE_NUMBER
    // failed!", "FSCTL_LOCK_VOLUME failed!" (mounted and busy, claimed or locked by another
    // program), "open phyHandle failed!", "IOCTL_DISK_GET_LENGTH_INFO failed!" or "disk too
    // large to map" (its sector count does not fit the 32 bits the device is told), leaves
    // the object Closed with nothing held, and the cause in lastOpenError().
    bool openDisk(const QString &source, bool readOnly = false);
    // none after a successful openDisk (and before the first).
    open_error lastOpenError() const { return m_openError; }
    // Releases everything; harmless when nothing is open. Always true.
    bool closeDisk();
    bool isOpen() const { return m_opened.load(); }
    bool isReadOnly() const { return m_readOnly.load(); }
    source_kind kind() const { return m_kind; }

    // Stores the position for the next transfer: byte offset sector x 512. False when
    // Closed. A sector past the end is accepted; the transfer then comes up short.
    bool setPoint(std::uint32_t sector);
    // Reads `length` bytes at the stored position. False when Closed or when the read fails;
    // `bytesRead` then holds what arrived. A read that reaches the end of the disk returns
    // true with the smaller count: callers compare it with what they asked for.
    bool readDisk(std::uint8_t *buffer, std::uint32_t length, std::uint32_t &bytesRead);
    // Writes `length` bytes at the stored position. False, logged with "write dist error,
    // error code is" and the system error code, when the write fails, when the object is
    // read-only (EROFS) or when the range would run past the end of the disk (ENOSPC, nothing
    // written). False without a log line when Closed.
    bool writeDisk(const std::uint8_t *buffer, std::uint32_t length, std::uint32_t &bytesWritten);

    // The same at `sector`, without the stored position: for the media receive thread and
    // the disk reader, which transfer at the same time when the device does not wait for a
    // read to finish before it sends write data. Each transfer lands where it was asked to.
    bool readDiskAt(std::uint32_t sector, std::uint8_t *buffer, std::uint32_t length,
                    std::uint32_t &bytesRead);
    bool writeDiskAt(std::uint32_t sector, const std::uint8_t *buffer, std::uint32_t length,
                     std::uint32_t &bytesWritten);

    // Disk length / 512 (openDisk refuses a disk whose count does not fit 32 bits).
    std::uint32_t sectorCount() const { return m_sectorCount.load(); }
    std::uint32_t curSector() const { return m_curSector.load(); }
    std::uint64_t sizeBytes() const { return m_sizeBytes.load(); }

    // Whether udisks2 may show a polkit prompt (the viewer: yes; tests: no). Default true.
    void setInteractiveAuth(bool interactive) { m_interactiveAuth = interactive; }

private:
    struct opened_source {
        unique_fd fd;
        bool readOnly = false;
        std::uint64_t sizeBytes = 0;
        QString wholeDisk; // kernel name of a block device, for the rescan on close
    };

    // Records the cause of a failing openDisk; false, for `return fail(...)`.
    bool fail(open_error cause);
    bool fail_errno(int error);
    bool fail_udisks(const udisks_error &error);
    bool openBlockDevice(const QString &source, unsigned major, unsigned minor, bool readOnly,
                         opened_source &out);
    bool openImageFile(const QString &source, bool readOnly, opened_source &out);
    bool unmountPartitions(const QString &wholeDisk);
    unique_fd openWholeDisk(const QString &wholeDisk, bool &readOnly, bool &busy);
    void rescanPartitions(const QString &wholeDisk);
    void closeLocked();

    mutable std::shared_mutex m_lock; // transfers shared, open and close exclusive
    unique_fd m_fd;
    source_kind m_kind = source_kind::none;
    QString m_wholeDisk;
    bool m_interactiveAuth = true;
    open_error m_openError = open_error::none; // GUI thread, like open and close
    std::atomic<bool> m_opened{false};
    std::atomic<bool> m_readOnly{false};
    std::atomic<std::uint32_t> m_curSector{0};
    std::atomic<std::uint32_t> m_sectorCount{0};
    std::atomic<std::uint64_t> m_sizeBytes{0};
};
