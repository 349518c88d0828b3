#include "engine/transport/qt_socket_stream.h"

#include "engine/transport/raw_socket_stream.h"
#include "engine/transport/socket_graveyard.h"

#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace corvane::engine {

QtSocketStream::QtSocketStream(QTcpSocket* socket, int64_t readBufferSize) : socket_(socket)
{
    socket_->setReadBufferSize(qint64(readBufferSize));
}

QtSocketStream::~QtSocketStream()
{
    abort();
}

void QtSocketStream::listenerChanged()
{
    if (socket_ == nullptr || connected_ || listener_ == nullptr)
        return;
    connected_ = true;
    // Readable covers the end too: the owner reads, and read says -1.
    auto readable = [this] {
        EntryGuard guard;
        if (listener_ != nullptr)
            listener_->streamReadable();
    };
    auto written = [this] {
        EntryGuard guard;
        if (listener_ != nullptr)
            listener_->streamWritten();
    };
    QObject::connect(socket_, &QIODevice::readyRead, socket_, readable);
    QObject::connect(socket_, &QAbstractSocket::disconnected, socket_, readable);
    QObject::connect(socket_, &QIODevice::bytesWritten, socket_, written);
    if (auto* ssl = qobject_cast<QSslSocket*>(socket_))
        QObject::connect(ssl, &QSslSocket::encryptedBytesWritten, ssl, written);
    QObject::connect(socket_, &QAbstractSocket::errorOccurred, socket_, [this] {
        EntryGuard guard;
        onError();
        if (listener_ != nullptr)
            listener_->streamReadable();
    });
}

void QtSocketStream::onError()
{
    const QAbstractSocket::SocketError e = socket_->error();
    if (e == QAbstractSocket::RemoteHostClosedError)
        return;   // an end, seen through the state
    failed_ = true;
    error_ = socket_->errorString();
    tlsFailed_ = e == QAbstractSocket::SslHandshakeFailedError || e == QAbstractSocket::SslInternalError
              || e == QAbstractSocket::SslInvalidUserDataError;
}

void QtSocketStream::setReadPaused(bool paused)
{
    if (!paused || socket_ == nullptr || peerGone_) {
        unwatch();
        return;
    }
    const int fd = int(socket_->socketDescriptor());
    if (fd == watchedFd_)
        return;
    unwatch();
    if (fd >= 0 && socket_->state() == QAbstractSocket::ConnectedState) {
        watchedFd_ = fd;
        watchPeer(fd, this);
    }
}

void QtSocketStream::unwatch()
{
    if (watchedFd_ >= 0)
        unwatchPeer(watchedFd_, this);
    watchedFd_ = -1;
}

void QtSocketStream::peerGone()
{
    watchedFd_ = -1;
    if (socket_ == nullptr || failed_)
        return;
    peerGone_ = true;
    if (listener_ != nullptr)
        listener_->streamReadable();   // may destroy this
}

int64_t QtSocketStream::read(char* data, int64_t max)
{
    if (socket_ == nullptr || failed_ || peerGone_)
        return -1;
    const qint64 n = socket_->read(data, qint64(max));
    if (n > 0)
        return n;
    if (socket_->state() != QAbstractSocket::ConnectedState)
        return -1;
    return 0;
}

bool QtSocketStream::write(const char* a, int64_t an, const char* b, int64_t bn)
{
    if (socket_ == nullptr || failed_)
        return false;
    if (an > 0 && socket_->write(a, qint64(an)) != an)
        return false;
    return bn <= 0 || socket_->write(b, qint64(bn)) == bn;
}

int64_t QtSocketStream::bytesToWrite() const
{
    if (socket_ == nullptr)
        return 0;
    const auto* ssl = qobject_cast<const QSslSocket*>(socket_);
    return socket_->bytesToWrite() + (ssl != nullptr && ssl->isEncrypted() ? ssl->encryptedBytesToWrite() : 0);
}

int64_t QtSocketStream::bytesBuffered() const
{
    return socket_ == nullptr || peerGone_ ? 0 : socket_->bytesAvailable();
}

ByteStream::Status QtSocketStream::status() const
{
    if (failed_)
        return Status::Failed;
    if (socket_ == nullptr || peerGone_ || socket_->state() != QAbstractSocket::ConnectedState)
        return Status::Ended;
    return Status::Open;
}

QString QtSocketStream::errorText() const
{
    if (failed_)
        return error_;
    return status() == Status::Open ? QString() : QStringLiteral("The remote host closed the connection");
}

bool QtSocketStream::tlsFailed() const
{
    return tlsFailed_;
}

// The last bytes (a close frame, a refusal) are pushed to the kernel now, so
// they survive a host that stops running the event loop right after; what the
// kernel did not take lingers on its own until flushed or timed out.
void QtSocketStream::closeAfterFlush(int timeoutMs)
{
    QTcpSocket* s = socket_;
    if (s == nullptr)
        return;
    unwatch();
    const int64_t pending = bytesToWrite();
    socket_ = nullptr;
    listener_ = nullptr;
    s->disconnect();
    if (s->state() == QAbstractSocket::ConnectedState) {
        s->flush();
        const auto* ssl = qobject_cast<QSslSocket*>(s);
        if (pending > 0 && (s->bytesToWrite() > 0 || (ssl != nullptr && ssl->encryptedBytesToWrite() > 0))) {
            lingerObject(s);
            auto* deadline = new QTimer(s);
            deadline->setSingleShot(true);
            QObject::connect(s, &QAbstractSocket::disconnected, s, [s, deadline] {
                EntryGuard guard;
                deadline->stop();
                retireLingering(s);
            });
            QObject::connect(deadline, &QTimer::timeout, s, [s] {
                EntryGuard guard;
                s->disconnect();
                s->abort();
                retireLingering(s);
            });
            deadline->start(std::max(timeoutMs, 100));
            s->disconnectFromHost();
            return;
        }
        s->disconnectFromHost();
    }
    s->abort();
    retireObject(s);
}

void QtSocketStream::abort()
{
    if (socket_ == nullptr)
        return;
    unwatch();
    QTcpSocket* s = socket_;
    socket_ = nullptr;
    listener_ = nullptr;
    s->disconnect();
    s->abort();
    retireObject(s);
}

QHostAddress QtSocketStream::peerAddress() const
{
    return socket_ == nullptr ? QHostAddress() : socket_->peerAddress();
}

uint16_t QtSocketStream::peerPort() const
{
    return socket_ == nullptr ? 0 : socket_->peerPort();
}

QHostAddress QtSocketStream::localAddress() const
{
    return socket_ == nullptr ? QHostAddress() : socket_->localAddress();
}

uint16_t QtSocketStream::localPort() const
{
    return socket_ == nullptr ? 0 : socket_->localPort();
}

std::unique_ptr<ByteStream> ByteStream::fromSocket(QTcpSocket* socket, int64_t socketBufferSize)
{
    if (qobject_cast<QSslSocket*>(socket) == nullptr) {
        if (std::unique_ptr<RawSocketStream> raw = RawSocketStream::adopt(socket))
            return raw;
    }
    return std::make_unique<QtSocketStream>(socket, socketBufferSize);
}

} // namespace corvane::engine
