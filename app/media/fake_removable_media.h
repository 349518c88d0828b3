#pragma once
// Removable drives from a script, for window tests: the drives to list, the
// errors each request answers in turn, and a record of every request made.
// Requests complete on the next turn of the event loop, as real ones would.

#include "removable_media.h"

#include <QHash>
#include <QObject>

#include <deque>

namespace media {

class FakeRemovableMedia final : public QObject, public RemovableMedia {
    Q_OBJECT

public:
    explicit FakeRemovableMedia(QObject* parent = nullptr) : QObject(parent) {}

    void setDrives(QList<RemovableDrive> drives) { drives_ = std::move(drives); }
    void setListError(std::optional<MediaError> error) { listError_ = std::move(error); }
    // The next requests to `objectId` fail with these errors, one each; later ones succeed.
    void failNext(const QString& objectId, QList<MediaError> errors);

    // "Unmount <id>", "Lock <id>", "Eject <id>", "PowerOff <id>", in the order asked.
    const QStringList& requests() const { return requests_; }
    int listings() const { return listings_; }

    void listRemovableDrives(Listed done) override;
    void unmount(const QString& filesystemId, Done done) override;
    void lock(const QString& encryptedId, Done done) override;
    void eject(const QString& driveId, Done done) override;
    void powerOff(const QString& driveId, Done done) override;

    static MediaError busy()
    {
        return {QStringLiteral("org.freedesktop.UDisks2.Error.DeviceBusy"), QStringLiteral("Target is busy")};
    }

private:
    void answer(const QString& verb, const QString& id, Done done);

    QList<RemovableDrive> drives_;
    std::optional<MediaError> listError_;
    QHash<QString, std::deque<MediaError>> failures_;
    QStringList requests_;
    int listings_ = 0;
};

}  // namespace media
