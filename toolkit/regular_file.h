#pragma once
// Reading files the user names, safely. A FIFO blocks open() until a writer
// comes, /dev/zero never ends, a sparse file can be far larger than its data:
// a reader opens a path only when it is a regular file and reads no more than
// it chose to. A writer that replaces a file atomically must not turn a device
// node into a regular file either: it asks first (isRegularOrMissing).
//
// Header-only and QtCore-only, so the widget-free libraries (DRV) use it too.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace toolkit {

// "16 MiB", "1 GiB", "640 KiB" or "100 bytes": limits as a user reads them.
inline QString byteSizeText(qint64 bytes)
{
    static const char* const units[] = {"GiB", "MiB", "KiB"};
    for (int i = 0; i < 3; ++i) {
        const qint64 unit = qint64(1) << (10 * (3 - i));
        if (bytes >= unit && bytes % unit == 0) return QStringLiteral("%1 %2").arg(bytes / unit).arg(QLatin1String(units[i]));
    }
    return QStringLiteral("%1 bytes").arg(bytes);
}

inline QString notRegularFileText(const QString& path)
{
    return QStringLiteral("\"%1\" is not a regular file.").arg(path);
}

// kind names the files the limit is for: "settings file", "DRV file".
inline QString fileTooLargeText(const QString& path, qint64 largest, const QString& kind)
{
    return QStringLiteral("\"%1\" is larger than %2, the largest %3 this tool opens.")
        .arg(path, byteSizeText(largest), kind);
}

// False when path exists and is something else than a regular file (a folder,
// a device, a FIFO, a socket); a missing path and a link to a regular file pass.
inline bool isRegularOrMissing(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return true;  // missing, or the writer reports why
    return S_ISREG(st.st_mode);
}

// A regular file opened for reading. Anything else is not opened at all (the
// path is looked at first, so opening a device has no side effect), and what
// was opened is checked again, so a path swapped for a FIFO in between is
// refused too.
class RegularFileReader {
public:
    enum class Status { Open, Missing, NotRegular, Failed };

    explicit RegularFileReader(const QString& path)
    {
        const QByteArray native = QFile::encodeName(path);
        struct stat st {};
        if (::stat(native.constData(), &st) != 0) {
            fail(errno);
            return;
        }
        if (!S_ISREG(st.st_mode)) {
            status_ = Status::NotRegular;
            return;
        }
        // O_NONBLOCK: should the path have become a FIFO, open() must not wait for a writer.
        fd_ = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0) {
            fail(errno);
            return;
        }
        if (::fstat(fd_, &st) != 0) {
            fail(errno);
            return;
        }
        if (!S_ISREG(st.st_mode)) {
            status_ = Status::NotRegular;
            closeFd();
            return;
        }
        const int flags = ::fcntl(fd_, F_GETFL);
        if (flags >= 0) ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
        size_ = st.st_size;
        status_ = Status::Open;
    }
    ~RegularFileReader() { closeFd(); }
    RegularFileReader(const RegularFileReader&) = delete;
    RegularFileReader& operator=(const RegularFileReader&) = delete;

    Status status() const { return status_; }
    // The size the file system states; files under /proc state 0 and still have data.
    qint64 size() const { return size_; }
    // The system's text for the last failure (open or read).
    QString errorText() const { return QString::fromLocal8Bit(std::strerror(error_)); }

    // Appends up to maxBytes more bytes to out; fewer at the end of the file.
    // False on a read error (errorText() says why).
    bool read(qint64 maxBytes, QByteArray& out)
    {
        if (fd_ < 0) return false;
        constexpr qint64 kChunk = 1 << 20;
        while (maxBytes > 0) {
            const qsizetype old = out.size();
            const qint64 want = std::min(maxBytes, kChunk);
            out.resize(old + want);
            const ssize_t n = ::read(fd_, out.data() + old, size_t(want));
            if (n < 0) {
                out.resize(old);
                if (errno == EINTR) continue;
                error_ = errno;
                return false;
            }
            out.resize(old + n);
            if (n == 0) break;
            maxBytes -= n;
        }
        return true;
    }

private:
    void fail(int error)
    {
        error_ = error;
        status_ = error == ENOENT ? Status::Missing : Status::Failed;
        closeFd();
    }
    void closeFd()
    {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    int fd_ = -1;
    int error_ = 0;
    qint64 size_ = 0;
    Status status_ = Status::Failed;
};

}  // namespace toolkit
