#pragma once
// "Initialize SD Card": the user picks a folder on a removable drive, confirms,
// and everything in it is deleted (the folder too, unless it is the card's root).
// The deletion runs on a worker thread so that a full card does not freeze the
// window; `finished` tells when everything, messages included, is done.

#include "folder_deletion.h"
#include "removable_media.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

class QThread;

namespace media {

class SdCardInitializer : public QObject {
    Q_OBJECT

public:
    using Log = std::function<void(const QString& line)>;

    SdCardInitializer(QWidget* window, Log log, QObject* parent = nullptr);
    ~SdCardInitializer() override;

    void run(RemovableMedia& media);
    bool running() const { return listing_ || worker_ != nullptr; }

    // Tests make chosen deletions fail.
    void setUnlinkAt(UnlinkAt unlinkAt) { unlinkAt_ = std::move(unlinkAt); }

signals:
    void finished();

private:
    void drivesListed(const DriveList& list);
    void choose(const QStringList& mountPoints);
    void deleteInBackground(const QString& folder, bool keepFolder);

    QPointer<QWidget> window_;
    Log log_;
    UnlinkAt unlinkAt_;
    bool listing_ = false;
    QThread* worker_ = nullptr;
};

// Where the folder dialog opens: the one mount point, or the folder that holds them all.
QString startFolderFor(const QStringList& mountPoints);
// Whether `path` is `folder` or lies inside it (both canonical).
bool isInside(const QString& path, const QString& folder);

}  // namespace media
