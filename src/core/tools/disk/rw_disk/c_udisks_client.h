#pragma once

#include <QString>

// Why a call to the service failed: its D-Bus error name and message.
struct udisks_error {
    QString name;
    QString message;
    // polkit refused the action, or the user dismissed its prompt.
    bool not_authorized() const;
    // The device or file system is in use (a busy mount, another claim).
    bool busy() const;
    QString text() const { return name + QStringLiteral(": ") + message; }
};

// Asks the system's disk manager service (udisks2, on the D-Bus system bus) to unmount a
// file system, hand out a descriptor of a block device, or re-read a partition table on
// behalf of a user without root rights. Every call blocks the calling thread until the
// service answers (a polkit prompt may appear when `interactive` is true) and returns
// false, with the reason in `error`, when the bus or the service is absent or refuses.
// Stateless; callable from any thread.
class c_udisks_client {
public:
    explicit c_udisks_client(bool interactive) : m_interactive(interactive) {}

    // Filesystem.Unmount of /dev/<blockName>; never forced (a busy file system fails).
    bool unmount(const QString &blockName, udisks_error &error) const;
    // Block.OpenDevice of /dev/<blockName> with the extra open(2) flags (O_EXCL, O_SYNC).
    // Returns a descriptor the caller owns, or -1.
    int openDevice(const QString &blockName, bool readOnly, int flags, udisks_error &error) const;
    // Block.Rescan of /dev/<blockName>: the kernel re-reads its partition table.
    bool rescan(const QString &blockName, udisks_error &error) const;

    // The service's object path of a block device ("sdb" -> .../block_devices/sdb).
    static QString objectPath(const QString &blockName);

private:
    bool m_interactive;
};
