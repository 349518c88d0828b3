#include "device/data_folders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThreadPool>

#include <atomic>
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
}  // namespace

QString dataFolderUnder(const QString& base, const QString& name)
{
    const QString path = QDir(base).filePath(name);
    if (!QDir().mkpath(path) || !usableFolder(path))
        fail(QStringLiteral("Cannot create folder \"%1\".").arg(QDir::toNativeSeparators(path)));
    return path;
}

QString dataFolder(const QString& name)
{
    const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(name);
    if (usableFolder(beside)) return beside;
    if (usableFolder(QCoreApplication::applicationDirPath())) return dataFolderUnder(QCoreApplication::applicationDirPath(), name);
    return dataFolderUnder(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation), name);
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

    QString path;
    QObject* context = nullptr;
    std::function<void(const QString&)> finished;
    std::unique_ptr<QSaveFile> file;  // the writer's alone once it runs

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Slice> queue;  // the front one stays while it is written
    qint64 queued = 0;
    bool committing = false;
    bool ended = false;                // the writer is done: later bytes go nowhere
    std::atomic<bool> cancelled = false;

    void run();
    void end(const QString& error);
};

// The writer: bytes in arrival order, then the rename, or the removal on a
// cancel or a failure.
void StreamedFile::Shared::run()
{
    for (;;) {
        Slice slice;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return cancelled || committing || !queue.empty(); });
            if (cancelled) break;
            if (queue.empty()) {
                lock.unlock();
                const bool ok = file->commit();
                const QString error = ok ? QString() : cannotWrite(path, *file);
                file.reset();
                return end(error);
            }
            slice = queue.front();
        }
        const bool ok = writeAll(*file, slice.source.constData() + slice.offset, slice.size);
        {
            std::lock_guard lock(mutex);
            queue.pop_front();
            queued -= slice.size;
        }
        changed.notify_all();
        if (!ok) {
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
    changed.notify_all();
    if (cancelled) return;
    QMetaObject::invokeMethod(
        context,
        [self = shared_from_this(), error] {
            if (!self->cancelled) self->finished(error);
        },
        Qt::QueuedConnection);
}

StreamedFile::StreamedFile(const QString& path, QThreadPool& pool, QObject* context,
                           std::function<void(const QString& error)> finished)
    : shared_(std::make_shared<Shared>())
{
    shared_->path = path;
    shared_->context = context;
    shared_->finished = std::move(finished);
    shared_->file = std::make_unique<QSaveFile>(path);
    if (!shared_->file->open(QIODevice::WriteOnly)) fail(cannotCreate(path, *shared_->file));
    // Written, committed and deleted by the writer's thread; it takes no events.
    shared_->file->moveToThread(nullptr);
    pool.start([shared = shared_] { shared->run(); });
}

StreamedFile::~StreamedFile() { cancel(); }

void StreamedFile::append(const QByteArray& source, qint64 offset, qint64 size)
{
    if (size <= 0) return;
    std::unique_lock lock(shared_->mutex);
    shared_->changed.wait(lock, [&] {
        return shared_->ended || shared_->cancelled || shared_->committing || shared_->queued < kQueueLimit;
    });
    if (shared_->ended || shared_->cancelled || shared_->committing) return;
    shared_->queue.push_back({source, offset, size});
    shared_->queued += size;
    lock.unlock();
    shared_->changed.notify_all();
}

void StreamedFile::commit()
{
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->cancelled) return;
        shared_->committing = true;
    }
    shared_->changed.notify_all();
}

void StreamedFile::cancel()
{
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->committing || shared_->cancelled) return;
        // The writer drops what waits and removes the file.
        shared_->cancelled = true;
    }
    shared_->changed.notify_all();
}

qint64 StreamedFile::queuedBytes() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->queued;
}

}  // namespace device
