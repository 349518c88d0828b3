#include "sd_card_initializer.h"

#include "media_messages.h"

#include "toolkit/user_interaction.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <sys/stat.h>

namespace media {

namespace {

bool sameDevice(const QString& a, const QString& b)
{
    struct stat sa {
    }, sb{};
    return ::stat(a.toLocal8Bit().constData(), &sa) == 0 && ::stat(b.toLocal8Bit().constData(), &sb) == 0 &&
           sa.st_dev == sb.st_dev;
}

}  // namespace

QString startFolderFor(const QStringList& mountPoints)
{
    if (mountPoints.isEmpty()) return {};
    QString common = mountPoints.first();
    for (const QString& point : mountPoints) {
        while (!isInside(point, common)) {
            const int slash = common.lastIndexOf(u'/');
            common = slash > 0 ? common.left(slash) : QStringLiteral("/");
        }
    }
    return common;
}

bool isInside(const QString& path, const QString& folder)
{
    if (path.isEmpty() || folder.isEmpty()) return false;
    if (path == folder) return true;
    const QString prefix = folder.endsWith(u'/') ? folder : folder + u'/';
    return path.startsWith(prefix);
}

SdCardInitializer::SdCardInitializer(QWidget* window, Log log, QObject* parent)
    : QObject(parent), window_(window), log_(std::move(log))
{
}

SdCardInitializer::~SdCardInitializer()
{
    // A deletion under way finishes; stopping it in the middle would leave less to report, not less deleted.
    if (worker_) {
        worker_->wait();
        delete worker_;
    }
}

void SdCardInitializer::run(RemovableMedia& media)
{
    if (running()) return;
    listing_ = true;
    media.listRemovableDrives([self = QPointer<SdCardInitializer>(this)](const DriveList& list) {
        if (self) self->drivesListed(list);
    });
}

void SdCardInitializer::drivesListed(const DriveList& list)
{
    listing_ = false;
    if (list.error) {
        toolkit::userInteraction().error(window_, messages::serviceUnreachable(*list.error));
        emit finished();
        return;
    }
    QStringList mountPoints;
    for (const RemovableDrive& drive : list.drives) mountPoints << drive.mountPoints();
    for (const QString& point : mountPoints) log_(point);
    if (mountPoints.isEmpty()) {
        toolkit::userInteraction().information(window_, messages::kNoRemovableDrive);
        emit finished();
        return;
    }
    choose(mountPoints);
}

void SdCardInitializer::choose(const QStringList& mountPoints)
{
    auto& ui = toolkit::userInteraction();
    const auto chosen = ui.chooseFolder(window_, messages::kChooseFolderTitle, startFolderFor(mountPoints));
    if (!chosen || chosen->isEmpty()) {
        emit finished();
        return;
    }
    log_(*chosen);
    log_(QString::number(mountPoints.size()));

    // Canonical paths: "CARD/../../home" and links out of the card are not on the card.
    const QString folder = QFileInfo(*chosen).canonicalFilePath();
    QString cardRoot;
    for (const QString& point : mountPoints) {
        log_(messages::kLogSeparator);
        log_(point);
        log_(messages::kLogEnd);
        const QString root = QFileInfo(point).canonicalFilePath();
        if (isInside(folder, root)) {
            cardRoot = root;
            break;
        }
    }
    // A drive mounted inside the card's folders is not the card.
    if (folder.isEmpty() || cardRoot.isEmpty() || !QFileInfo(folder).isDir() || !sameDevice(folder, cardRoot)) {
        ui.information(window_, messages::kNotRemovable);
        emit finished();
        return;
    }
    if (!ui.confirm(window_, messages::kConfirm, messages::kInitializeCaption)) {
        ui.information(window_, messages::kInitializeCanceled);
        emit finished();
        return;
    }
    // The card's root cannot go; everything in it does.
    deleteInBackground(folder, folder == cardRoot);
}

void SdCardInitializer::deleteInBackground(const QString& folder, bool keepFolder)
{
    auto report = std::make_shared<DeletionReport>();
    worker_ = QThread::create([report, folder, keepFolder, unlinkAt = unlinkAt_] {
        *report = deleteFolderTree(folder, keepFolder, unlinkAt);
    });
    // The window stays usable; the cursor tells that the card is still being emptied.
    QApplication::setOverrideCursor(Qt::BusyCursor);
    connect(worker_, &QThread::finished, this, [this, report, folder] {
        QApplication::restoreOverrideCursor();
        worker_->deleteLater();
        worker_ = nullptr;
        if (!report->complete)
            toolkit::userInteraction().error(window_, messages::deletionStopped(folder, *report),
                                             messages::kInitializeCaption);
        emit finished();
    });
    worker_->start();
}

}  // namespace media
