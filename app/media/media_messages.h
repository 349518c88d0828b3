#pragma once
// The texts the SD card tools show, in one place. The quoted ones are the
// tool's own texts and stay as they are, spelling included.

#include "folder_deletion.h"
#include "removable_media.h"

namespace media::messages {

inline const QString kNoRemovableDrive = QStringLiteral("Didn't find Removable Drive");
inline const QString kChooseFolderTitle = QStringLiteral("Select SD Card Drive");
inline const QString kConfirm = QStringLiteral("Are you sure?");
inline const QString kInitializeCaption = QStringLiteral("Initlalize SD Card");
inline const QString kInitializeCanceled = QStringLiteral("Initlalize SD Card is canceled");
inline const QString kNotRemovable = QStringLiteral("It is not a Removable Drive");
inline const QString kLogSeparator = QStringLiteral("---------");
inline const QString kLogEnd = QStringLiteral("***********");

QString removalComplete(const QString& driveName);
// "<drive>: Media Removal failed." and, on a line of its own, why.
QString removalFailed(const QString& driveName, const MediaError& error);
// Neither the system bus nor the disk service answered.
QString serviceUnreachable(const MediaError& error);
QString deletionStopped(const QString& folder, const DeletionReport& report);

}  // namespace media::messages
