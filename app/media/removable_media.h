#pragma once
// Removable drives as the operating system's disk service sees them, and the
// requests that make one safe to pull out. The calls that change something are
// asynchronous: unmounting flushes the card, an authorization prompt may wait
// for the user and the disk service may be slow to answer, none of which may
// freeze the window.

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace media {

// An error as the disk service names it (a D-Bus error name) with its own text.
struct MediaError {
    QString name;
    QString message;

    bool isBusy() const;                // the device is in use; worth another try
    bool isDismissed() const;           // the user cancelled the password prompt
    bool isAuthorization() const;       // any other refused authorization
    bool isServiceUnreachable() const;  // no bus, or no disk service on it
};

// One filesystem on a drive; an unmounted one has no mount points.
struct MediaFilesystem {
    QString id;
    QStringList mountPoints;
};

struct RemovableDrive {
    QString id;
    QString device;  // e.g. "/dev/sdb", for a drive with nothing mounted
    QList<MediaFilesystem> filesystems;
    QStringList unlockedEncrypted;  // encrypted volumes to lock once their filesystems are unmounted
    bool mediaRemovable = false;    // a card in a reader: the medium is ejected
    bool canPowerOff = false;       // otherwise the whole drive can be switched off

    QStringList mountPoints() const;
    // How messages name the drive: its first mount point, else its device.
    QString name() const;
};

struct DriveList {
    QList<RemovableDrive> drives;
    std::optional<MediaError> error;  // set when the drives could not be listed at all
};

class RemovableMedia {
public:
    using Done = std::function<void(const std::optional<MediaError>& error)>;
    using Listed = std::function<void(const DriveList& list)>;

    virtual ~RemovableMedia() = default;

    // Each calls `done` exactly once, later, on the calling thread: a disk
    // service that is slow to answer must not hold the window either.

    // Drives that hold a memory card, in a stable order; never a disk that
    // merely sits on a hot-pluggable bus, nor one larger than a card can be.
    virtual void listRemovableDrives(Listed done) = 0;
    virtual void unmount(const QString& filesystemId, Done done) = 0;
    virtual void lock(const QString& encryptedId, Done done) = 0;
    virtual void eject(const QString& driveId, Done done) = 0;
    virtual void powerOff(const QString& driveId, Done done) = 0;
};

}  // namespace media
