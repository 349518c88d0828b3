#pragma once
// "Eject SD Card": makes every removable drive safe to pull out, one after the
// other. For each drive: unmount its filesystems, lock its unlocked encrypted
// volumes, then eject the medium or power the drive off. A step refused because
// the drive is busy is tried again after a pause, up to three tries per drive;
// the pauses are timers, so the window keeps working meanwhile.

#include "removable_media.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <chrono>

namespace media {

class DriveEjector : public QObject {
    Q_OBJECT

public:
    static constexpr int kTries = 3;
    static constexpr std::chrono::milliseconds kRetryDelay{500};

    explicit DriveEjector(QWidget* window, QObject* parent = nullptr);

    void run(RemovableMedia& media);
    bool running() const { return media_ != nullptr; }

signals:
    void finished();

private:
    struct Step {
        enum Kind { Unmount, Lock, Eject, PowerOff } kind;
        QString id;
    };

    void drivesListed(const DriveList& list);
    void startDrive();
    void runStep();
    void stepDone(const std::optional<MediaError>& error);
    void finishDrive(const std::optional<MediaError>& error);

    QPointer<QWidget> window_;
    RemovableMedia* media_ = nullptr;
    QList<RemovableDrive> drives_;
    qsizetype driveIndex_ = 0;
    QList<Step> steps_;
    qsizetype stepIndex_ = 0;
    int tries_ = 0;
    QTimer retryTimer_;
};

}  // namespace media
