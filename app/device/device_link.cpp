#include "device/device_link.h"

#include "device/bounded_log.h"
#include "device/data_folders.h"
#include "device/device_message.h"
#include "toolkit/exceptions.h"
#include "toolkit/user_interaction.h"

#include <QCryptographicHash>
#include <QDir>
#include <QSslCertificate>

#include <algorithm>

namespace {

QString errorText(const std::exception& e)
{
    const auto* own = dynamic_cast<const toolkit::Exception*>(&e);
    return own ? own->message() : QString::fromUtf8(e.what());
}

// A name from the recorder may hold anything; control characters would end
// up in the file system and in every line that names the file.
std::optional<QString> fileNameFromRecorder(const QString& received)
{
    return device::safeFileName(device::printableText(received, QLatin1Char('_')));
}

}  // namespace

DeviceLink::DeviceLink(QWidget* window, std::unique_ptr<device::DeviceConnection> connection)
    : window_(window)
{
    writer_.setMaxThreadCount(1);
    setConnection(std::move(connection));
}

void DeviceLink::setConnection(std::unique_ptr<device::DeviceConnection> connection)
{
    connection_ = std::move(connection);
    reassembly_.reset();
    receiveHeld_ = false;  // a new client reads until told otherwise
    if (!connection_) return;
    device::DeviceConnection::Handlers handlers;
    handlers.dataIn = [this](const device::DataEvent& event) { WebSocketClient1DataIn(event); };
    handlers.disconnected = [this](int code, const QString& text) { disconnected(code, text); };
    handlers.serverCertificate = [this](const device::ServerCertificate& c) { certificate(c); };
    connection_->setHandlers(std::move(handlers));
}

// A file still arriving is removed; one complete is put in place first, its
// acknowledgement dropped. The client goes before the rest of the link, which
// its last events may still reach.
DeviceLink::~DeviceLink()
{
    upload_.reset();
    writer_.waitForDone();
    connection_.reset();
}

bool DeviceLink::isConnected() const { return connection_ && connection_->connected(); }

void DeviceLink::connectTo(const QString& url)
{
    if (!connection_) throw toolkit::EArgumentException(QStringLiteral("This build has no WebSocket engine."));
    // A new connection starts a new count and a clean reassembly.
    reassembly_.reset();
    bytesReceived_ = 0;
    emit receivedBytes(0);
    holdReceiving(false);
    try {
        connection_->connectTo(url);
    } catch (const std::exception& e) {
        emit connectionChanged(false, QString::fromUtf8(e.what()));
        throw;
    }
    emit connectionChanged(true, QStringLiteral("Connected to %1").arg(url));
}

void DeviceLink::disconnectFromRecorder()
{
    if (connection_) connection_->disconnectFromRecorder();
}

bool DeviceLink::sendIfConnected(const QByteArray& request)
{
    if (!isConnected()) return false;
    connection_->send(request);
    return true;
}

void DeviceLink::requestCameraImage()
{
    sendIfConnected(device::cameraImageRequest());
    gImageReceived = false;
}

void DeviceLink::WebSocketClient1DataIn(const device::DataEvent& event)
{
    bytesReceived_ += event.bytes.size();
    emit receivedBytes(bytesReceived_);
    // A transfer that fails is shown and the link carries on; the reassembly is
    // in a clean state by then whatever the handler did.
    reportFailures([&] { reassembly_.feed(event); });
}

void DeviceLink::progressMaximum(std::uint32_t maximum)
{
    progressMaximum_ = maximum;
    progressShown_ = 0;
    progressClock_.invalidate();
    emit progressRange(qint64(maximum));
}

// Each move of the bar repaints it at once, and a large download comes in
// thousands of data events: the bar moves in steps of at least 1/512 of the
// message, and at most about 25 times a second, which the eye follows
// anyway. The end is always shown.
void DeviceLink::progressPosition(std::uint32_t position)
{
    constexpr qint64 kProgressIntervalMs = 40;
    if (position != progressMaximum_ && position >= progressShown_) {
        const std::uint32_t step = std::max<std::uint32_t>(progressMaximum_ / 512, 1);
        if (position - progressShown_ < step) return;
        if (progressClock_.isValid() && !progressClock_.hasExpired(kProgressIntervalMs)) return;
    }
    progressShown_ = position;
    progressClock_.start();
    emit progressValue(qint64(position));
}

void DeviceLink::messageComplete(const QByteArray& message)
{
    try {
        device::dispatchMessage(message, *this);
    } catch (const std::exception& e) {
        if (device::messageCode(message) == device::kUploadResponse) emit uploadFailed(errorText(e));
        throw;
    }
    // Dispatched, so the record is whole; the window waiting on a request shows its text.
    if (device::messageCode(message) == device::kError) {
        const device::ErrorRecord error = device::readErrorRecord(message);
        emit recorderError(int(error.code), error.text);
    }
}

void DeviceLink::reportFailures(const std::function<void()>& work)
{
    try {
        work();
    } catch (const std::exception& e) {
        reportError(errorText(e));
    }
}

// A modal box opened inside the data event would stop all reading until it
// is closed, and a queue of bad messages would open one box after another.
void DeviceLink::reportError(const QString& text)
{
    emit memoLine(QStringLiteral("Error: %1").arg(text));
    if (errorBoxQueued_ || errorBoxOpen_) {
        ++errorsSinceBox_;
        return;
    }
    errorBoxText_ = text;
    errorBoxQueued_ = true;
    errorsSinceBox_ = 0;
    QMetaObject::invokeMethod(this, [this] { showErrorBox(); }, Qt::QueuedConnection);
}

void DeviceLink::showErrorBox()
{
    errorBoxQueued_ = false;
    QString text = errorBoxText_;
    if (errorsSinceBox_ > 0)
        text += QStringLiteral("\n\n%1 more errors followed; the connection console lists them.").arg(errorsSinceBox_);
    errorsSinceBox_ = 0;
    errorBoxOpen_ = true;
    // The box runs its own event loop: the link reads on while it is open.
    toolkit::userInteraction().error(window_, text);
    errorBoxOpen_ = false;
    if (errorsSinceBox_ > 0)
        emit memoLine(QStringLiteral("%1 more errors while the error box was open.").arg(errorsSinceBox_));
    errorsSinceBox_ = 0;
}

void DeviceLink::failUpload(const QString& text)
{
    emit uploadFailed(text);
    reportError(text);
}

std::uint32_t DeviceLink::streamedHead(std::uint8_t code, std::uint32_t declaredLength)
{
    return device::streamedHeadSize(code, declaredLength);
}

void DeviceLink::streamStarted(const QByteArray& head)
{
    try {
        device::dispatchStreamHead(head, *this);
    } catch (const std::exception& e) {
        // Only upload responses are streamed; the dialog waiting for one says why it ended.
        emit uploadFailed(errorText(e));
        throw;
    }
}

void DeviceLink::streamData(const QByteArray& bytes, qsizetype offset, qsizetype size)
{
    uploadResponseData(bytes, offset, size);
}

bool DeviceLink::savesPending() const
{
    return pendingSaves_ > 0 || (upload_ && upload_->file && upload_->file->queuedBytes() > 0);
}

void DeviceLink::disconnected(int statusCode, const QString& description)
{
    // A message cut off by the close would otherwise swallow the next
    // connection's first message.
    reassembly_.reset();
    endUpload();
    session_ = {};  // what the recorder said of itself belongs to that connection
    QString text = QStringLiteral("Not Connected");
    if (statusCode != 1000 || !description.isEmpty())
        text += QStringLiteral(" (%1%2)").arg(statusCode).arg(description.isEmpty() ? QString() : QStringLiteral(": ") + description);
    emit connectionChanged(false, text);
}

void DeviceLink::certificate(const device::ServerCertificate& c)
{
    QList<QSslCertificate> certs = QSslCertificate::fromData(c.encoded, QSsl::Pem);
    if (certs.isEmpty()) certs = QSslCertificate::fromData(c.encoded, QSsl::Der);
    const QByteArray digest = certs.isEmpty() ? QCryptographicHash::hash(c.encoded, QCryptographicHash::Sha256)
                                              : certs.first().digest(QCryptographicHash::Sha256);
    emit serverCertificateAccepted(QStringLiteral("Server certificate accepted: %1, SHA-256 %2, verification: %3")
                                       .arg(c.subject, QString::fromLatin1(digest.toHex(':').toUpper()), c.status));
}

void DeviceLink::sessionAccepted(const device::SessionRecord& record)
{
    session_ = record;
    emit sessionStored(record);
}

QString DeviceLink::folderFor(const QString& name) const
{
    return dataFolderBase_.isEmpty() ? device::dataFolder(name) : device::dataFolderUnder(dataFolderBase_, name);
}

QString DeviceLink::dataFolderBase() const
{
    return dataFolderBase_.isEmpty() ? device::dataFolderBase() : dataFolderBase_;
}

void DeviceLink::fileMessage(const QByteArray& message)
{
    const device::FileRecord file = device::readFileRecord(message);
    if (file.kind == device::kFileKindImage) {
        QImage image;
        if (!image.loadFromData(file.data))
            throw toolkit::Exception(QStringLiteral("The camera image cannot be decoded (%1 bytes).").arg(file.data.size()));
        emit cameraImage(image);
        device::writeFileAtomically(QStringLiteral("Image.jpg"), file.data, 0, file.data.size());
        gImageReceived = true;
        return;
    }
    if (receiveSettings_) receiveSettings_(file.data);
}

// The file goes to a temporary file in its folder as it arrives and is put in
// place once the whole message is in; the message is never held whole.
void DeviceLink::uploadResponseHead(const QByteArray& head)
{
    endUpload();
    const device::UploadResponseRecord r = device::readUploadResponseHead(head);
    emit uploadResponseRead(r);
    Upload upload{r, nullptr, ++uploads_, 0};
    if (r.carriesFile()) {
        emit uploadMemoLine(r.responseLine());
        const std::optional<QString> name = fileNameFromRecorder(r.fileName);
        if (!name) {
            // Not acknowledged: the recorder must not take it as delivered.
            emit uploadMemoLine(QStringLiteral("Refused file name \"%1\": nothing saved.").arg(r.fileName));
            emit uploadCompared(r.consumedSize());
            return;
        }
        const QString path = QDir(folderFor(r.folderName())).filePath(device::savedFileName(r.dataType, *name, clock_()));
        emit uploadMemoLine(QDir::toNativeSeparators(path));
        upload.file = std::make_unique<device::StreamedFile>(
            path, writer_, this, [this, r, id = upload.id](const QString& error) { uploadFileFinished(r, id, error); },
            [this, id = upload.id] {
                if (upload_ && upload_->id == id) holdReceiving(false);
            });
    }
    upload_ = std::move(upload);
    uploadResponseData(head, 0, head.size());
}

void DeviceLink::uploadResponseData(const QByteArray& bytes, qsizetype offset, qsizetype size)
{
    if (!upload_) return;
    Upload& u = *upload_;
    const qint64 from = u.received;
    u.received += size;
    if (!u.file) return;
    const auto [start, length] = u.record.filePart(from, size);
    if (length > 0 && !u.file->append(bytes, offset + start, length)) holdReceiving(true);
}

void DeviceLink::uploadResponseComplete()
{
    if (!upload_) return;  // refused at its head: a name that cannot be used, or a failure shown then
    Upload u = std::move(*upload_);
    endUpload();
    if (!u.record.carriesFile()) return finishUpload(u.record, QString());
    if (!u.file) return;  // writing it failed, already shown
    ++pendingSaves_;
    u.file->commit();
}

// A cut link (or an overrun): the temporary file goes, nothing is acknowledged.
void DeviceLink::uploadResponseLost() { endUpload(); }

// Whatever is left of the upload goes (a file still being written is
// removed), and bytes flow again for the messages that follow.
void DeviceLink::endUpload()
{
    upload_.reset();
    holdReceiving(false);
}

// The disk is slower than the link: the link waits for it rather than the
// window (the writer's queue is bounded) or memory.
void DeviceLink::holdReceiving(bool hold)
{
    if (hold == receiveHeld_ || !connection_) return;
    receiveHeld_ = hold;
    connection_->setReceivePaused(hold);
}

void DeviceLink::uploadFileFinished(const device::UploadResponseRecord& r, quint64 id, const QString& error)
{
    if (upload_ && upload_->id == id) {
        // Writing failed while the message was still arriving: the file is
        // gone and the rest of the message goes nowhere.
        upload_->file.reset();
        holdReceiving(false);
        failUpload(error);
        return;
    }
    finishUpload(r, error);
}

void DeviceLink::finishUpload(const device::UploadResponseRecord& r, const QString& saveError)
{
    if (r.carriesFile()) {
        --pendingSaves_;
        if (!saveError.isEmpty()) {
            failUpload(saveError);
            return;
        }
        emit uploadSaved(r.savedLine());
    }
    emit uploadCompared(r.consumedSize());
    if (r.sizeMatches())
        sendIfConnected(device::acknowledgement());
    else
        emit uploadMemoLine(r.mismatchLine());
}
