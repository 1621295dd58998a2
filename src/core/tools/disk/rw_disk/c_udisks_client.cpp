#include "tools/disk/rw_disk/c_udisks_client.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QFileInfo>
#include <QVariantMap>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
const QString kBlockInterface = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString kFilesystemInterface = QStringLiteral("org.freedesktop.UDisks2.Filesystem");

// Long enough for a user to answer a polkit prompt; short when nobody is asked.
constexpr int kInteractiveTimeoutMs = 120000;
constexpr int kQuietTimeoutMs = 10000;

QDBusMessage call_service(const QString &blockName, const QString &interface,
                                 const QString &method, const QVariantList &arguments,
                                 bool interactive)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return QDBusMessage::createError(QStringLiteral("org.freedesktop.DBus.Error.NoServer"),
                                         QStringLiteral("no system bus"));
    QDBusMessage message = QDBusMessage::createMethodCall(
        kService, c_udisks_client::objectPath(blockName), interface, method);
    message.setArguments(arguments);
    message.setInteractiveAuthorizationAllowed(interactive);
    return bus.call(message, QDBus::Block, interactive ? kInteractiveTimeoutMs : kQuietTimeoutMs);
}

QVariantMap base_options(bool interactive)
{
    QVariantMap options;
    options.insert(QStringLiteral("auth.no_user_interaction"), !interactive);
    return options;
}

bool succeeded(const QDBusMessage &reply, udisks_error &error)
{
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    error = {reply.errorName(), reply.errorMessage()};
    return false;
}

} // namespace

bool udisks_error::not_authorized() const
{
    // NotAuthorized, NotAuthorizedCanObtain and NotAuthorizedDismissed alike.
    return name.startsWith(QStringLiteral("org.freedesktop.UDisks2.Error.NotAuthorized"));
}

bool udisks_error::busy() const
{
    return name == QStringLiteral("org.freedesktop.UDisks2.Error.DeviceBusy");
}

QString c_udisks_client::objectPath(const QString &blockName)
{
    QString path = QStringLiteral("/org/freedesktop/UDisks2/block_devices/");
    const QByteArray utf8 = blockName.toUtf8();
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9'))
            path += QChar(byte);
        else
            path += QStringLiteral("_%1").arg(byte, 2, 16, QChar(u'0'));
    }
    return path;
}

bool c_udisks_client::unmount(const QString &blockName, udisks_error &error) const
{
    const QDBusMessage reply =
        call_service(blockName, kFilesystemInterface, QStringLiteral("Unmount"),
                     {base_options(m_interactive)}, m_interactive);
    return succeeded(reply, error);
}

int c_udisks_client::openDevice(const QString &blockName, bool readOnly, int flags,
                                udisks_error &error) const
{
    QVariantMap options = base_options(m_interactive);
    options.insert(QStringLiteral("flags"), flags);
    const QDBusMessage reply = call_service(
        blockName, kBlockInterface, QStringLiteral("OpenDevice"),
        {readOnly ? QStringLiteral("r") : QStringLiteral("rw"), options}, m_interactive);
    if (!succeeded(reply, error))
        return -1;
    if (reply.arguments().isEmpty()) {
        error = {QStringLiteral("OpenDevice"), QStringLiteral("answered without a descriptor")};
        return -1;
    }
    const auto descriptor = reply.arguments().at(0).value<QDBusUnixFileDescriptor>();
    if (!descriptor.isValid()) {
        error = {QStringLiteral("OpenDevice"), QStringLiteral("answered with an invalid descriptor")};
        return -1;
    }
    // The message keeps its own copy, closed with it.
    return ::fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
}

bool c_udisks_client::rescan(const QString &blockName, udisks_error &error) const
{
    const QDBusMessage reply = call_service(blockName, kBlockInterface, QStringLiteral("Rescan"),
                                            {base_options(m_interactive)}, m_interactive);
    return succeeded(reply, error);
}
