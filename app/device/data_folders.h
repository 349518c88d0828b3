#pragma once
// Where downloaded recorded data goes, and how it is written.

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class QObject;
class QThreadPool;

namespace device {

// The folder the DRV, MMV and SystemLog folders go in. On Linux the working
// folder, beside "./setting.ini" (where ./run.sh and the desktop entry start
// the tool): the executable's folder is the build tree or /usr/bin there.
// Elsewhere the executable's folder. When that folder is not writable, the
// user's application data location.
QString dataFolderBase();

// The folder `name` ("DRV", "MMV", "SystemLog") in dataFolderBase(), created
// when missing. Ends without a separator. Raises std::runtime_error when it
// can be neither found nor made.
QString dataFolder(const QString& name);

// The folder `name` where dataFolder() would find it, when it exists; empty
// otherwise. Nothing is created.
QString existingDataFolder(const QString& name);

// Same, below `base` instead of the executable's folder (tests, and a base the
// caller chose).
QString dataFolderUnder(const QString& base, const QString& name);

// Writes bytes [offset, offset + size) of `source` to `path` atomically: the
// file appears whole or not at all. Raises std::runtime_error with the
// system's text on failure.
void writeFileAtomically(const QString& path, const QByteArray& source, qint64 offset, qint64 size);

// A file written while its bytes arrive, on a thread of `pool`, under a
// temporary name in its destination folder: commit() puts it in place whole
// (as writeFileAtomically does); cancel(), a failure or destruction before
// commit() removes it. Bytes wait for the disk in a queue; append() says when
// it holds kQueueLimit or more, and `roomAgain` is called once it is down to
// half, so the caller can stop taking bytes off the link meanwhile instead of
// waiting (the window would freeze while the disk is slow). Only a caller
// that goes on regardless is made to wait, at kHardLimit, so memory stays bounded.
class StreamedFile {
public:
    static constexpr qint64 kQueueLimit = 16 << 20;
    static constexpr qint64 kHardLimit = 4 * kQueueLimit;

    // Creates the temporary file, raising std::runtime_error with the
    // system's text when it cannot. `finished` is called once, on `context`'s
    // thread: with an empty text when the file is in place after commit(), or
    // with the failure (a write or the rename) as soon as there is one; never
    // after cancel(). `roomAgain`, also on `context`'s thread, follows an
    // append() that found the queue full.
    StreamedFile(const QString& path, QThreadPool& pool, QObject* context, std::function<void(const QString& error)> finished,
                 std::function<void()> roomAgain = {});
    ~StreamedFile();
    StreamedFile(const StreamedFile&) = delete;
    StreamedFile& operator=(const StreamedFile&) = delete;

    // Bytes [offset, offset + size) of `source`, which is shared, not copied.
    // False: the queue is full, hold further bytes back until `roomAgain`.
    bool append(const QByteArray& source, qint64 offset, qint64 size);
    void commit();
    void cancel();
    // Bytes appended and not yet written.
    qint64 queuedBytes() const;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

}  // namespace device
