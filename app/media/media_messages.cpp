#include "media_messages.h"

namespace media::messages {

namespace {

QString count(qint64 n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

QString sentence(QString text)
{
    text = text.trimmed();
    if (!text.isEmpty() && !text.endsWith(u'.')) text += u'.';
    return text;
}

}  // namespace

QString removalComplete(const QString& driveName) { return driveName + QStringLiteral(": Media Removal Complete."); }

QString removalFailed(const QString& driveName, const MediaError& error)
{
    QString why;
    if (error.isBusy())
        why = QStringLiteral("The drive is in use; close the files and programs that use it and try again (%1)")
                  .arg(error.message);
    else if (error.isAuthorization())
        why = QStringLiteral("Not authorized to remove the drive: %1").arg(error.message);
    else
        why = error.message.isEmpty() ? error.name : error.message;
    return driveName + QStringLiteral(": Media Removal failed.") + u'\n' + sentence(why);
}

QString serviceUnreachable(const MediaError& error)
{
    return QStringLiteral(
               "Removable drives cannot be listed: the disk service (UDisks2) is not reachable on the "
               "system bus.\n") +
           sentence(error.message.isEmpty() ? error.name : error.message);
}

QString deletionStopped(const QString& folder, const DeletionReport& report)
{
    return QStringLiteral("Could not delete %1: %2.\nDeleted before that: %3 and %4.\nStill there: %5 and %6 in %7.")
        .arg(report.failedPath, report.reason, count(report.filesDeleted, "file", "files"),
             count(report.foldersDeleted, "folder", "folders"), count(report.filesLeft, "file", "files"),
             count(report.foldersLeft, "folder", "folders"), folder);
}

}  // namespace media::messages
