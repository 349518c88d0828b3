#include "drive_ejector.h"

#include "media_messages.h"

#include "toolkit/user_interaction.h"

namespace media {

DriveEjector::DriveEjector(QWidget* window, QObject* parent) : QObject(parent), window_(window)
{
    retryTimer_.setSingleShot(true);
    retryTimer_.setInterval(kRetryDelay);
    connect(&retryTimer_, &QTimer::timeout, this, &DriveEjector::runStep);
}

void DriveEjector::run(RemovableMedia& media)
{
    if (running()) return;
    media_ = &media;   // running from the listing on
    media.listRemovableDrives([self = QPointer<DriveEjector>(this)](const DriveList& list) {
        if (self) self->drivesListed(list);
    });
}

void DriveEjector::drivesListed(const DriveList& list)
{
    if (list.error || list.drives.isEmpty()) {
        media_ = nullptr;
        if (list.error)
            toolkit::userInteraction().error(window_, messages::serviceUnreachable(*list.error));
        else
            toolkit::userInteraction().information(window_, messages::kNoRemovableDrive);
        emit finished();
        return;
    }
    drives_ = list.drives;
    driveIndex_ = 0;
    startDrive();
}

void DriveEjector::startDrive()
{
    if (driveIndex_ >= drives_.size()) {
        media_ = nullptr;
        drives_.clear();
        emit finished();
        return;
    }
    const RemovableDrive& drive = drives_[driveIndex_];
    steps_.clear();
    // udisks refuses to release a drive while anything on it is mounted or unlocked.
    for (const MediaFilesystem& fs : drive.filesystems)
        if (!fs.mountPoints.isEmpty()) steps_.append({Step::Unmount, fs.id});
    for (const QString& encrypted : drive.unlockedEncrypted) steps_.append({Step::Lock, encrypted});
    if (drive.mediaRemovable)
        steps_.append({Step::Eject, drive.id});
    else if (drive.canPowerOff)
        steps_.append({Step::PowerOff, drive.id});
    // A drive that can be neither ejected nor powered off is safe to pull once unmounted.
    stepIndex_ = 0;
    tries_ = 1;
    runStep();
}

void DriveEjector::runStep()
{
    if (stepIndex_ >= steps_.size()) {
        finishDrive(std::nullopt);
        return;
    }
    const Step& step = steps_[stepIndex_];
    QPointer<DriveEjector> self(this);
    auto done = [self](const std::optional<MediaError>& error) {
        if (self) self->stepDone(error);
    };
    switch (step.kind) {
    case Step::Unmount: media_->unmount(step.id, done); break;
    case Step::Lock: media_->lock(step.id, done); break;
    case Step::Eject: media_->eject(step.id, done); break;
    case Step::PowerOff: media_->powerOff(step.id, done); break;
    }
}

void DriveEjector::stepDone(const std::optional<MediaError>& error)
{
    if (!error) {
        ++stepIndex_;
        runStep();
        return;
    }
    // Only a busy drive may become free; any other refusal stands. The steps that
    // succeeded stay done, so the next try starts at the one that failed.
    if (error->isBusy() && tries_ < kTries) {
        ++tries_;
        retryTimer_.start();
        return;
    }
    finishDrive(error);
}

void DriveEjector::finishDrive(const std::optional<MediaError>& error)
{
    const QString name = drives_[driveIndex_].name();
    auto& ui = toolkit::userInteraction();
    if (!error)
        ui.information(window_, messages::removalComplete(name));
    else if (!error->isDismissed())  // the user said no to the password prompt: nothing to tell them
        ui.error(window_, messages::removalFailed(name, *error));
    ++driveIndex_;
    startDrive();
}

}  // namespace media
