#pragma once
// Removable drives through the UDisks2 disk service over D-Bus. Every request
// goes through udisks' own authorization, so no root rights are needed; where
// policy asks for a password the desktop prompts for it.

#include "removable_media.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>

namespace media {

class Udisks2Media final : public QObject, public RemovableMedia {
    Q_OBJECT

public:
    // An empty address means the machine's system bus; tests pass a private bus.
    explicit Udisks2Media(const QString& busAddress = {}, QObject* parent = nullptr);
    ~Udisks2Media() override;

    void listRemovableDrives(Listed done) override;
    void unmount(const QString& filesystemId, Done done) override;
    void lock(const QString& encryptedId, Done done) override;
    void eject(const QString& driveId, Done done) override;
    void powerOff(const QString& driveId, Done done) override;

private:
    static DriveList drivesFrom(const QDBusMessage& reply);
    void call(const QString& path, const QString& interface, const QString& method, Done done);

    QString connectionName_;
    QDBusConnection bus_;
};

}  // namespace media
