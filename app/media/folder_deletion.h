#pragma once
// Deletes a folder's contents, depth first, without ever leaving it: a symbolic
// link is removed itself, never followed, and a folder on which another
// filesystem is mounted is not entered. The first failure stops the deletion;
// what was deleted by then stays deleted and the report says what is left.

#include <QString>

#include <functional>

namespace media {

struct DeletionReport {
    qint64 filesDeleted = 0;  // files, links and other non-folders
    qint64 foldersDeleted = 0;
    bool complete = true;
    QString failedPath;    // what could not be deleted
    QString reason;        // the system's reason
    qint64 filesLeft = 0;  // counted after a failure
    qint64 foldersLeft = 0;
};

// unlinkat(2) as the deletion calls it; tests substitute failures.
using UnlinkAt = std::function<int(int dirFd, const char* name, int flags)>;

// Deletes everything inside `folder`, and `folder` itself unless `keepFolder`.
// `folder` must be a real folder, not a link to one. Safe to call off the GUI thread.
DeletionReport deleteFolderTree(const QString& folder, bool keepFolder, const UnlinkAt& unlinkAt = {});

}  // namespace media
