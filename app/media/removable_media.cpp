#include "removable_media.h"

namespace media {

namespace {
const QString kUdisksError = QStringLiteral("org.freedesktop.UDisks2.Error.");
}

bool MediaError::isBusy() const { return name == kUdisksError + QStringLiteral("DeviceBusy"); }

bool MediaError::isDismissed() const { return name == kUdisksError + QStringLiteral("NotAuthorizedDismissed"); }

bool MediaError::isAuthorization() const
{
    return name.startsWith(kUdisksError + QStringLiteral("NotAuthorized")) ||
           name == QStringLiteral("org.freedesktop.PolicyKit.Error.NotAuthorized") ||
           name == QStringLiteral("org.freedesktop.DBus.Error.AccessDenied");
}

bool MediaError::isServiceUnreachable() const
{
    static const QStringList names = {
        QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"),
        QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner"),
        QStringLiteral("org.freedesktop.DBus.Error.NoServer"),
        QStringLiteral("org.freedesktop.DBus.Error.NoReply"),
        QStringLiteral("org.freedesktop.DBus.Error.Disconnected"),
        QStringLiteral("org.freedesktop.DBus.Error.Timeout"),
        QStringLiteral("org.freedesktop.DBus.Error.TimedOut"),
        QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"),
        QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
        QStringLiteral("org.freedesktop.DBus.Error.SpawnServiceNotFound"),
    };
    return names.contains(name);
}

QStringList RemovableDrive::mountPoints() const
{
    QStringList out;
    for (const MediaFilesystem& fs : filesystems) out << fs.mountPoints;
    return out;
}

QString RemovableDrive::name() const
{
    const QStringList points = mountPoints();
    if (!points.isEmpty()) return points.first();
    return device.isEmpty() ? id : device;
}

}  // namespace media
