#include "udisks2_media.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QMap>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <climits>

namespace media {

namespace {

using InterfaceMap = QMap<QString, QVariantMap>;
using ManagedObjects = QMap<QDBusObjectPath, InterfaceMap>;

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
const QString kManagerPath = QStringLiteral("/org/freedesktop/UDisks2");
const QString kObjectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");
const QString kDrive = QStringLiteral("org.freedesktop.UDisks2.Drive");
const QString kBlock = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString kPartition = QStringLiteral("org.freedesktop.UDisks2.Partition");
const QString kFilesystem = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString kEncrypted = QStringLiteral("org.freedesktop.UDisks2.Encrypted");
const QString kNoObject = QStringLiteral("/");

// Listing answers at once; a service that does not is not worth a frozen window.
constexpr int kListTimeoutMs = 10000;
// Unmounting flushes the card and a password prompt waits for the user: no limit.
constexpr int kActionTimeoutMs = INT_MAX;

void registerTypes()
{
    static const bool done = [] {
        qDBusRegisterMetaType<QVariantMap>();
        qDBusRegisterMetaType<InterfaceMap>();
        qDBusRegisterMetaType<ManagedObjects>();
        qDBusRegisterMetaType<QList<QByteArray>>();
        return true;
    }();
    Q_UNUSED(done);
}

bool isDbusArgument(const QVariant& v) { return v.metaType() == QMetaType::fromType<QDBusArgument>(); }

// udisks sends paths as byte strings ending in NUL.
QString pathFromBytes(QByteArray bytes)
{
    while (bytes.endsWith('\0')) bytes.chop(1);
    return QString::fromLocal8Bit(bytes);
}

QString objectPath(const QVariant& v)
{
    if (v.canConvert<QDBusObjectPath>()) return v.value<QDBusObjectPath>().path();
    if (isDbusArgument(v)) return qdbus_cast<QDBusObjectPath>(v).path();
    return v.toString();
}

QByteArray byteString(const QVariant& v)
{
    if (isDbusArgument(v)) return qdbus_cast<QByteArray>(v);
    return v.toByteArray();
}

QStringList mountPointsOf(const QVariant& v)
{
    QList<QByteArray> raw;
    if (isDbusArgument(v))
        raw = qdbus_cast<QList<QByteArray>>(v);
    else
        raw = v.value<QList<QByteArray>>();
    QStringList out;
    for (const QByteArray& bytes : raw)
        if (const QString path = pathFromBytes(bytes); !path.isEmpty()) out << path;
    return out;
}

bool flag(const QVariantMap& props, const char* name, bool fallback = false)
{
    const auto it = props.constFind(QLatin1String(name));
    return it == props.cend() ? fallback : it->toBool();
}

MediaFilesystem filesystemOf(const QString& path, const InterfaceMap& interfaces)
{
    return {path, mountPointsOf(interfaces.value(kFilesystem).value(QStringLiteral("MountPoints")))};
}

// A card is a medium that comes out of its drive (a reader), or a drive on the
// SD/MMC bus (a built-in slot, where the card is the drive). Drive.Removable
// alone is no sign of one: it marks every drive on a hot-pluggable bus, USB
// hard disks among them, and those must never be emptied or switched off here.
bool isCard(const QVariantMap& props)
{
    const bool onSdBus = props.value(QStringLiteral("ConnectionBus")).toString() == QLatin1String("sdio");
    if (!flag(props, "MediaRemovable") && !onSdBus) return false;
    // Nothing larger than SDXC allows is a card, whatever the bus says.
    constexpr qulonglong kLargestCard = 2ULL << 40;  // 2 TiB
    return props.value(QStringLiteral("Size")).toULongLong() <= kLargestCard;
}

std::optional<RemovableDrive> driveFrom(const QString& drivePath, const QVariantMap& props,
                                        const ManagedObjects& objects)
{
    if (!isCard(props)) return std::nullopt;
    // A reader without a card has nothing to remove.
    if (flag(props, "MediaRemovable") && !flag(props, "MediaAvailable", true)) return std::nullopt;

    QList<QString> blocks;
    for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
        const auto block = it->constFind(kBlock);
        if (block == it->cend() || objectPath(block->value(QStringLiteral("Drive"))) != drivePath) continue;
        if (flag(*block, "HintSystem") || flag(*block, "HintIgnore")) return std::nullopt;
        blocks << it.key().path();
    }
    if (blocks.isEmpty()) return std::nullopt;

    RemovableDrive drive;
    drive.id = drivePath;
    drive.mediaRemovable = flag(props, "MediaRemovable");
    drive.canPowerOff = flag(props, "CanPowerOff");
    for (const QString& path : blocks) {
        const InterfaceMap& interfaces = objects[QDBusObjectPath(path)];
        const QVariantMap& block = interfaces[kBlock];
        if (drive.device.isEmpty() || !interfaces.contains(kPartition)) {
            QString device = pathFromBytes(byteString(block.value(QStringLiteral("PreferredDevice"))));
            if (device.isEmpty()) device = pathFromBytes(byteString(block.value(QStringLiteral("Device"))));
            if (!device.isEmpty()) drive.device = device;
        }
        if (interfaces.contains(kFilesystem)) drive.filesystems << filesystemOf(path, interfaces);
        if (!interfaces.contains(kEncrypted)) continue;
        // The unlocked volume's cleartext block belongs to no drive; it is found
        // through its backing device, and its filesystem goes with this drive.
        for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
            const auto clear = it->constFind(kBlock);
            if (clear == it->cend() || objectPath(clear->value(QStringLiteral("CryptoBackingDevice"))) != path)
                continue;
            if (it->contains(kFilesystem)) drive.filesystems << filesystemOf(it.key().path(), *it);
            if (!drive.unlockedEncrypted.contains(path)) drive.unlockedEncrypted << path;
        }
        const QString cleartext = objectPath(interfaces[kEncrypted].value(QStringLiteral("CleartextDevice")));
        if (!cleartext.isEmpty() && cleartext != kNoObject && !drive.unlockedEncrypted.contains(path))
            drive.unlockedEncrypted << path;
    }
    return drive;
}

MediaError errorOf(const QDBusError& error) { return {error.name(), error.message()}; }

}  // namespace

Udisks2Media::Udisks2Media(const QString& busAddress, QObject* parent)
    : QObject(parent),
      connectionName_(busAddress.isEmpty()
                          ? QString()
                          : QStringLiteral("brindle-media-") + QUuid::createUuid().toString(QUuid::WithoutBraces)),
      bus_(busAddress.isEmpty() ? QDBusConnection::systemBus()
                                : QDBusConnection::connectToBus(busAddress, connectionName_))
{
    registerTypes();
}

Udisks2Media::~Udisks2Media()
{
    if (!connectionName_.isEmpty()) QDBusConnection::disconnectFromBus(connectionName_);
}

void Udisks2Media::listRemovableDrives(Listed done)
{
    if (!bus_.isConnected()) {
        const QDBusError error = bus_.lastError();
        DriveList result;
        result.error = MediaError{QStringLiteral("org.freedesktop.DBus.Error.NoServer"),
                                  error.isValid() ? error.message() : QStringLiteral("No system bus.")};
        QTimer::singleShot(0, this, [result, done = std::move(done)] { done(result); });
        return;
    }
    const QDBusMessage request =
        QDBusMessage::createMethodCall(kService, kManagerPath, kObjectManager, QStringLiteral("GetManagedObjects"));
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(request, kListTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher, done = std::move(done)] {
        watcher->deleteLater();
        done(drivesFrom(watcher->reply()));
    });
}

DriveList Udisks2Media::drivesFrom(const QDBusMessage& reply)
{
    DriveList result;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        result.error = MediaError{reply.errorName(), reply.errorMessage()};
        if (result.error->name.isEmpty()) result.error->name = QStringLiteral("org.freedesktop.DBus.Error.NoReply");
        return result;
    }
    const auto objects = qdbus_cast<ManagedObjects>(reply.arguments().first());
    for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
        const auto drive = it->constFind(kDrive);
        if (drive == it->cend()) continue;
        if (auto found = driveFrom(it.key().path(), *drive, objects)) result.drives << *found;
    }
    // Drives in the order of their names, as drive letters would be.
    std::stable_sort(result.drives.begin(), result.drives.end(),
                     [](const RemovableDrive& a, const RemovableDrive& b) { return a.name() < b.name(); });
    return result;
}

void Udisks2Media::unmount(const QString& filesystemId, Done done)
{
    call(filesystemId, kFilesystem, QStringLiteral("Unmount"), std::move(done));
}

void Udisks2Media::lock(const QString& encryptedId, Done done)
{
    call(encryptedId, kEncrypted, QStringLiteral("Lock"), std::move(done));
}

void Udisks2Media::eject(const QString& driveId, Done done)
{
    call(driveId, kDrive, QStringLiteral("Eject"), std::move(done));
}

void Udisks2Media::powerOff(const QString& driveId, Done done)
{
    call(driveId, kDrive, QStringLiteral("PowerOff"), std::move(done));
}

void Udisks2Media::call(const QString& path, const QString& interface, const QString& method, Done done)
{
    QDBusMessage request = QDBusMessage::createMethodCall(kService, path, interface, method);
    // No options: in particular not auth.no_user_interaction, so the desktop may ask for a password.
    request << QVariantMap();
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(request, kActionTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher, done = std::move(done)] {
        watcher->deleteLater();
        const QDBusPendingReply<> reply = *watcher;
        if (reply.isError())
            done(errorOf(reply.error()));
        else
            done(std::nullopt);
    });
}

}  // namespace media
