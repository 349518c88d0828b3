#include "folder_deletion.h"

#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace media {

namespace {

QString systemReason(int error) { return QString::fromStdString(std::generic_category().message(error)); }

class TreeDeleter {
public:
    TreeDeleter(DeletionReport& report, const UnlinkAt& unlinkAt, dev_t device)
        : report_(report), unlinkAt_(unlinkAt), device_(device)
    {
    }

    // Empties the open folder `dirFd` (at `path`, for the report).
    bool empty(int dirFd, const QString& path)
    {
        std::vector<std::string> names;
        if (!listNames(dirFd, names)) return fail(path, errno);
        for (const std::string& name : names) {
            const QString child = path + u'/' + QString::fromLocal8Bit(name.c_str());
            struct stat st {};
            if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT) continue;  // gone already
                return fail(child, errno);
            }
            if (!S_ISDIR(st.st_mode)) {
                if (unlinkAt_(dirFd, name.c_str(), 0) != 0 && errno != ENOENT) return fail(child, errno);
                ++report_.filesDeleted;
                continue;
            }
            if (st.st_dev != device_) {
                report_.reason = QStringLiteral("Another drive is mounted on this folder");
                report_.failedPath = child;
                report_.complete = false;
                return false;
            }
            // O_NOFOLLOW: a folder swapped for a link since fstatat is not entered.
            const int childFd = ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (childFd < 0) return fail(child, errno);
            const bool emptied = empty(childFd, child);
            ::close(childFd);
            if (!emptied) return false;
            if (unlinkAt_(dirFd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) return fail(child, errno);
            ++report_.foldersDeleted;
        }
        return true;
    }

    bool fail(const QString& path, int error)
    {
        report_.complete = false;
        report_.failedPath = path;
        report_.reason = systemReason(error);
        return false;
    }

private:
    // Names sorted, so a deletion that stops part-way stops at a predictable place.
    static bool listNames(int dirFd, std::vector<std::string>& names)
    {
        const int listFd = ::dup(dirFd);
        if (listFd < 0) return false;
        DIR* dir = ::fdopendir(listFd);
        if (!dir) {
            ::close(listFd);
            return false;
        }
        errno = 0;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
            errno = 0;
        }
        const int error = errno;
        ::closedir(dir);
        errno = error;
        std::sort(names.begin(), names.end());
        return error == 0;
    }

    DeletionReport& report_;
    const UnlinkAt& unlinkAt_;
    dev_t device_;
};

void countLeft(const QString& folder, DeletionReport& report)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    // Links are counted, never followed (the iterator's default).
    for (fs::recursive_directory_iterator it(folder.toStdString(), fs::directory_options::skip_permission_denied, ec),
         end;
         !ec && it != end; it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            ++report.foldersLeft;
        else
            ++report.filesLeft;
    }
}

}  // namespace

DeletionReport deleteFolderTree(const QString& folder, bool keepFolder, const UnlinkAt& unlinkAt)
{
    const UnlinkAt unlink =
        unlinkAt ? unlinkAt : UnlinkAt([](int fd, const char* name, int flags) { return ::unlinkat(fd, name, flags); });
    DeletionReport report;
    QString path = folder;
    while (path.size() > 1 && path.endsWith(u'/')) path.chop(1);
    const QByteArray native = path.toLocal8Bit();
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    TreeDeleter deleter(report, unlink, 0);
    if (fd < 0) {
        deleter.fail(path, errno);
        return report;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        deleter.fail(path, errno);
        ::close(fd);
        return report;
    }
    TreeDeleter walker(report, unlink, st.st_dev);
    const bool emptied = walker.empty(fd, path);
    ::close(fd);
    if (emptied && !keepFolder) {
        const int slash = path.lastIndexOf(u'/');
        const QByteArray parent = slash > 0 ? path.left(slash).toLocal8Bit() : QByteArray("/");
        const QByteArray leaf = path.mid(slash + 1).toLocal8Bit();
        const int parentFd = ::open(parent.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (parentFd < 0 || (unlink(parentFd, leaf.constData(), AT_REMOVEDIR) != 0 && errno != ENOENT))
            walker.fail(path, errno);
        else
            ++report.foldersDeleted;
        if (parentFd >= 0) ::close(parentFd);
    }
    if (!report.complete) countLeft(path, report);
    return report;
}

}  // namespace media
