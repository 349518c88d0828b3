#include "device/device_link.h"

#include "device/data_folders.h"
#include "device/device_message.h"
#include "toolkit/exception_display.h"
#include "toolkit/exceptions.h"

#include <QCryptographicHash>
#include <QDir>
#include <QSslCertificate>

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
    if (!connection_) return;
    device::DeviceConnection::Handlers handlers;
    handlers.dataIn = [this](const QByteArray& bytes) { WebSocketClient1DataIn(bytes); };
    handlers.disconnected = [this](int code, const QString& text) { disconnected(code, text); };
    handlers.serverCertificate = [this](const device::ServerCertificate& c) { certificate(c); };
    connection_->setHandlers(std::move(handlers));
}

// A file being written is finished first; its acknowledgement is dropped. The
// client goes before the rest of the link, which its last events may still reach.
DeviceLink::~DeviceLink()
{
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

void DeviceLink::WebSocketClient1DataIn(const QByteArray& bytes)
{
    bytesReceived_ += bytes.size();
    emit receivedBytes(bytesReceived_);
    // A transfer that fails is shown and the link carries on; the reassembly is
    // idle again by then whatever the handler did.
    toolkit::runGuarded([&] { reassembly_.feed(bytes); }, window_);
}

void DeviceLink::messageComplete(const QByteArray& message)
{
    device::dispatchMessage(message, *this);
    // Dispatched, so the record is whole; the window waiting on a request shows its text.
    if (device::messageCode(message) == device::kError) {
        const device::ErrorRecord error = device::readErrorRecord(message);
        emit recorderError(int(error.code), error.text);
    }
}

void DeviceLink::disconnected(int statusCode, const QString& description)
{
    // A message cut off by the close would otherwise swallow the next
    // connection's first message.
    reassembly_.reset();
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

void DeviceLink::uploadResponse(const QByteArray& message)
{
    const device::UploadResponseRecord r = device::readUploadResponse(message);
    emit uploadResponseRead(r);
    if (r.carriesFile()) {
        emit uploadMemoLine(r.responseLine());
        const std::optional<QString> name = device::safeFileName(r.fileName);
        if (!name) {
            // Not acknowledged: the recorder must not take it as delivered.
            emit uploadMemoLine(QStringLiteral("Refused file name \"%1\": nothing saved.").arg(r.fileName));
            emit uploadCompared(r.consumedSize());
            return;
        }
        const QString path = QDir(folderFor(r.folderName())).filePath(device::savedFileName(r.dataType, *name, clock_()));
        emit uploadMemoLine(QDir::toNativeSeparators(path));
        // Hundreds of megabytes take a while to reach the disk; the window stays
        // responsive meanwhile. The message shares its bytes, nothing is copied.
        ++pendingSaves_;
        writer_.start([this, message, r, path] {
            QString error;
            try {
                device::writeFileAtomically(path, message, r.fileOffset(), r.fileSize());
            } catch (const std::exception& e) {
                error = QString::fromUtf8(e.what());
            }
            QMetaObject::invokeMethod(this, [this, r, error] { finishUpload(r, error); }, Qt::QueuedConnection);
        });
        return;
    }
    finishUpload(r, QString());
}

void DeviceLink::finishUpload(const device::UploadResponseRecord& r, const QString& saveError)
{
    if (r.carriesFile()) {
        --pendingSaves_;
        if (!saveError.isEmpty()) {
            toolkit::showException(toolkit::EFileError(saveError), window_);
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
