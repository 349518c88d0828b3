#include "device/data_folders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThreadPool>

#ifdef __linux__
#include <fcntl.h>
#endif

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>

namespace device {

namespace {
[[noreturn]] void fail(const QString& text) { throw std::runtime_error(text.toStdString()); }

QString cannotCreate(const QString& path, const QFileDevice& file)
{
    return QStringLiteral("Cannot create file \"%1\". %2").arg(QDir::toNativeSeparators(path), file.errorString());
}

QString cannotWrite(const QString& path, const QFileDevice& file)
{
    return QStringLiteral("Cannot write file \"%1\". %2").arg(QDir::toNativeSeparators(path), file.errorString());
}

bool writeAll(QFileDevice& file, const char* data, qint64 size)
{
    qint64 written = 0;
    while (written < size) {
        const qint64 n = file.write(data + written, size - written);
        if (n <= 0) return false;
        written += n;
    }
    return true;
}

bool usableFolder(const QString& path)
{
    const QFileInfo info(path);
    return info.isDir() && info.isWritable();
}

QString preferredBase()
{
#if defined(Q_OS_WIN)
    return QCoreApplication::applicationDirPath();
#else
    return QDir::currentPath();
#endif
}

QString fallbackBase() { return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation); }
}  // namespace

QString dataFolderBase()
{
    const QString preferred = preferredBase();
    return usableFolder(preferred) ? preferred : fallbackBase();
}

QString existingDataFolder(const QString& name)
{
    for (const QString& base : {preferredBase(), fallbackBase()}) {
        const QString path = QDir(base).filePath(name);
        if (QFileInfo(path).isDir()) return path;
    }
    return QString();
}

QString dataFolderUnder(const QString& base, const QString& name)
{
    const QString path = QDir(base).filePath(name);
    if (!QDir().mkpath(path) || !usableFolder(path))
        fail(QStringLiteral("Cannot create folder \"%1\".").arg(QDir::toNativeSeparators(path)));
    return path;
}

QString dataFolder(const QString& name)
{
    const QString beside = QDir(preferredBase()).filePath(name);
    if (usableFolder(beside)) return beside;
    return dataFolderUnder(dataFolderBase(), name);
}

void writeFileAtomically(const QString& path, const QByteArray& source, qint64 offset, qint64 size)
{
    if (offset < 0 || size < 0 || offset + size > source.size()) fail(QStringLiteral("Range check error writing \"%1\".").arg(path));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) fail(cannotCreate(path, file));
    if (!writeAll(file, source.constData() + offset, size) || !file.commit()) fail(cannotWrite(path, file));
}

// ---- StreamedFile -----------------------------------------------------------

struct StreamedFile::Shared : std::enable_shared_from_this<Shared> {
    struct Slice {
        QByteArray source;
        qint64 offset;
        qint64 size;
    };
    // The writer takes bytes in batches: one thread switch for many data events.
    static constexpr qint64 kBatchBytes = 1 << 20;
    static constexpr std::chrono::milliseconds kBatchWait{10};

    QString path;
    QObject* context = nullptr;
    std::function<void(const QString&)> finished;
    std::function<void()> roomAgain;
    std::unique_ptr<QSaveFile> file;  // the writer's alone once it runs

    std::mutex mutex;
    std::condition_variable wake;   // the writer waits for bytes
    std::condition_variable space;  // append() waits for room (at the hard limit only)
    std::deque<Slice> queue;
    qint64 queued = 0;              // in the queue and in the batch being written
    bool writerWaiting = false;
    bool appenderWaiting = false;
    bool full = false;              // an append() found kQueueLimit queued: roomAgain is owed
    bool committing = false;
    bool ended = false;             // the writer is done: later bytes go nowhere
    std::atomic<bool> cancelled = false;

    qint64 written = 0, writeBackFrom = 0;  // the writer's

    bool stopping() const { return cancelled || committing; }
    void run();
    bool writeBatch(const std::deque<Slice>& batch);
    void startWriteBack(qint64 size);
    void end(const QString& error);
};

// The disk starts on what is written while more arrives, so that putting the
// file in place (which waits for it all to be on disk) does not wait for the
// whole file at the end.
void StreamedFile::Shared::startWriteBack(qint64 size)
{
    written += size;
#ifdef __linux__
    constexpr qint64 kWriteBackStep = 8 << 20;
    if (written - writeBackFrom < kWriteBackStep) return;
    ::sync_file_range(file->handle(), writeBackFrom, written - writeBackFrom, SYNC_FILE_RANGE_WRITE);
    writeBackFrom = written;
#endif
}

bool StreamedFile::Shared::writeBatch(const std::deque<Slice>& batch)
{
    qint64 size = 0;
    bool ok = true;
    for (const Slice& slice : batch) {
        ok = ok && !cancelled && writeAll(*file, slice.source.constData() + slice.offset, slice.size);
        size += slice.size;
    }
    if (ok) startWriteBack(size);
    std::lock_guard lock(mutex);
    queued -= size;
    if (appenderWaiting) space.notify_all();
    if (full && queued <= kQueueLimit / 2) {
        full = false;
        QMetaObject::invokeMethod(
            context,
            [self = shared_from_this()] {
                if (!self->cancelled && self->roomAgain) self->roomAgain();
            },
            Qt::QueuedConnection);
    }
    return ok;
}

// The writer: bytes in arrival order, then the rename, or the removal on a
// cancel or a failure.
void StreamedFile::Shared::run()
{
    for (;;) {
        std::deque<Slice> batch;
        {
            std::unique_lock lock(mutex);
            writerWaiting = true;
            wake.wait(lock, [&] { return stopping() || !queue.empty(); });
            if (!stopping() && queued < kBatchBytes)
                wake.wait_for(lock, kBatchWait, [&] { return stopping() || queued >= kBatchBytes; });
            writerWaiting = false;
            if (cancelled) break;
            if (queue.empty()) {
                lock.unlock();
                const bool ok = file->commit();
                const QString error = ok ? QString() : cannotWrite(path, *file);
                file.reset();
                return end(error);
            }
            batch.swap(queue);
        }
        if (!writeBatch(batch)) {
            if (cancelled) break;
            const QString error = cannotWrite(path, *file);
            file->cancelWriting();
            file.reset();
            return end(error);
        }
    }
    file->cancelWriting();
    file.reset();
    end(QString());
}

void StreamedFile::Shared::end(const QString& error)
{
    {
        std::lock_guard lock(mutex);
        ended = true;
        queue.clear();
        queued = 0;
    }
    space.notify_all();
    if (cancelled) return;
    QMetaObject::invokeMethod(
        context,
        [self = shared_from_this(), error] {
            if (!self->cancelled) self->finished(error);
        },
        Qt::QueuedConnection);
}

StreamedFile::StreamedFile(const QString& path, QThreadPool& pool, QObject* context,
                           std::function<void(const QString& error)> finished, std::function<void()> roomAgain)
    : shared_(std::make_shared<Shared>())
{
    shared_->path = path;
    shared_->context = context;
    shared_->finished = std::move(finished);
    shared_->roomAgain = std::move(roomAgain);
    shared_->file = std::make_unique<QSaveFile>(path);
    if (!shared_->file->open(QIODevice::WriteOnly | QIODevice::Unbuffered)) fail(cannotCreate(path, *shared_->file));
    // Written, committed and deleted by the writer's thread; it takes no events.
    shared_->file->moveToThread(nullptr);
    pool.start([shared = shared_] { shared->run(); });
}

StreamedFile::~StreamedFile() { cancel(); }

bool StreamedFile::append(const QByteArray& source, qint64 offset, qint64 size)
{
    if (size <= 0) return true;
    Shared& s = *shared_;
    std::unique_lock lock(s.mutex);
    s.appenderWaiting = true;
    s.space.wait(lock, [&] { return s.ended || s.stopping() || s.queued < kHardLimit; });
    s.appenderWaiting = false;
    if (s.ended || s.stopping()) return true;
    s.queue.push_back({source, offset, size});
    s.queued += size;
    if (s.writerWaiting && (s.queue.size() == 1 || s.queued >= Shared::kBatchBytes)) s.wake.notify_one();
    if (s.queued < kQueueLimit) return true;
    s.full = true;
    return false;
}

void StreamedFile::commit()
{
    std::lock_guard lock(shared_->mutex);
    if (shared_->cancelled) return;
    shared_->committing = true;
    shared_->wake.notify_one();
}

void StreamedFile::cancel()
{
    std::lock_guard lock(shared_->mutex);
    if (shared_->committing || shared_->cancelled) return;
    // The writer drops what waits and removes the file.
    shared_->cancelled = true;
    shared_->wake.notify_one();
    shared_->space.notify_all();
}

qint64 StreamedFile::queuedBytes() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->queued;
}

}  // namespace device
