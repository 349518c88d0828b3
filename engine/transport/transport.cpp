#include "engine/transport/transport.h"

#include "engine/protocol/http_auth.h"
#include "engine/protocol/errors.h"
#include "engine/transport/socket_graveyard.h"
#include "engine/protocol/socks4.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>

#include <algorithm>

namespace corvane::engine {

QString sslErrorsText(const QList<QSslError>& errors)
{
    QStringList parts;
    for (const QSslError& e : errors)
        parts << e.errorString();
    return parts.join(QStringLiteral("; "));
}

ClientTransport::~ClientTransport()
{
    abort();
}

QSslSocket* ClientTransport::ssl() const
{
    return qobject_cast<QSslSocket*>(socket_);
}

void ClientTransport::open(const TransportConfig& config, TransportCallbacks callbacks)
{
    abort();
    config_ = config;
    cb_ = std::move(callbacks);
    ready_ = verifyAsked_ = rejected_ = failedReported_ = false;
    tunnelPending_ = Tunnel::None;
    proxyReply_.reset();

    // TLS needs Qt's TLS socket; a plain stream stays a plain socket, which a
    // new owner may read from its descriptor directly.
    QTcpSocket* s = config_.tls ? new QSslSocket() : new QTcpSocket();
    socket_ = s;
    s->setReadBufferSize(config_.socketBufferSize);
    if (QSslSocket* tls = ssl()) {
        QSslConfiguration sslConfig = QSslConfiguration::defaultConfiguration();
        if (!config_.trustedCertificates.isEmpty())
            sslConfig.addCaCertificates(config_.trustedCertificates);
        sslConfig.setPeerVerifyMode(QSslSocket::VerifyPeer);
        if (!config_.clientCertificate.isNull()) {
            sslConfig.setLocalCertificate(config_.clientCertificate);
            sslConfig.setPrivateKey(config_.clientKey);
        }
        tls->setSslConfiguration(sslConfig);
        tls->setPeerVerifyName(config_.host);
        QObject::connect(tls, &QSslSocket::encrypted, tls, [this] { EntryGuard guard; onEncrypted(); });
        QObject::connect(tls, &QSslSocket::sslErrors, tls,
                         [this](const QList<QSslError>& e) { EntryGuard guard; onSslErrors(e); });
    }

    QObject::connect(s, &QAbstractSocket::connected, s, [this] { EntryGuard guard; onConnected(); });
    QObject::connect(s, &QAbstractSocket::errorOccurred, s, [this] { EntryGuard guard; onError(); });
    QObject::connect(s, &QAbstractSocket::disconnected, s, [this] { EntryGuard guard; onDisconnected(); });
    QObject::connect(s, &QIODevice::readyRead, s, [this] {
        EntryGuard guard;
        if (tunnelPending_ == Tunnel::Socks4)
            onSocks4Reply();
        else if (tunnelPending_ == Tunnel::HttpConnect)
            onConnectReply();
        else if (ready_ && cb_.readable)
            cb_.readable();
    });
    QObject::connect(s, &QIODevice::bytesWritten, s, [this] {
        EntryGuard guard;
        if (ready_ && cb_.written)
            cb_.written();
    });

    const ProxyConfig& p = config_.proxy;
    QNetworkProxy proxy(QNetworkProxy::NoProxy);
    if (p.kind == ProxyConfig::Kind::Socks5) {
        proxy = QNetworkProxy(QNetworkProxy::Socks5Proxy, p.host, p.port, p.user, p.password);
        // The tunnel carries our own bytes; name resolution is the proxy's.
        proxy.setCapabilities(QNetworkProxy::TunnelingCapability | QNetworkProxy::HostNameLookupCapability);
    }
    s->setProxy(proxy);

    if (!config_.localHost.isEmpty() || config_.localPort != 0) {
        const QHostAddress local = config_.localHost.isEmpty() ? QHostAddress(QHostAddress::Any)
                                                               : QHostAddress(config_.localHost);
        if (local.isNull() || !s->bind(local, config_.localPort)) {
            failWith(kConnectFailed, QStringLiteral("cannot bind to %1:%2: %3")
                                         .arg(config_.localHost).arg(config_.localPort).arg(s->errorString()));
            return;
        }
    }

    if (p.kind == ProxyConfig::Kind::Socks4 || p.kind == ProxyConfig::Kind::HttpConnect)
        s->connectToHost(p.host, p.port);
    else if (QSslSocket* tls = ssl())
        tls->connectToHostEncrypted(config_.host, config_.port);
    else
        s->connectToHost(config_.host, config_.port);
}

void ClientTransport::onConnected()
{
    if (config_.proxy.kind == ProxyConfig::Kind::Socks4) {
        const QByteArray request = QByteArray::fromStdString(protocol::buildSocks4Request(
            config_.host.toStdString(), config_.port, config_.proxy.user.toStdString()));
        if (request.isEmpty()) {
            failWith(kProxyFailed, QStringLiteral("SOCKS4 cannot reach %1").arg(config_.host));
            return;
        }
        tunnelPending_ = Tunnel::Socks4;
        socket_->write(request);
        return;
    }
    if (config_.proxy.kind == ProxyConfig::Kind::HttpConnect) {
        const QString host = config_.host.contains(':') ? '[' + config_.host + ']' : config_.host;
        const QByteArray target = QStringLiteral("%1:%2").arg(host).arg(config_.port).toUtf8();
        QByteArray request = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n";
        if (!config_.proxy.user.isEmpty())
            request += "Proxy-Authorization: "
                       + QByteArray::fromStdString(protocol::basicAuthorization(
                           config_.proxy.user.toStdString(), config_.proxy.password.toStdString()))
                       + "\r\n";
        request += "\r\n";
        proxyReply_ = std::make_unique<protocol::HttpHeadParser>(protocol::HttpHeadParser::Kind::Response,
                                                                 config_.maxProxyReplyHead);
        tunnelPending_ = Tunnel::HttpConnect;
        socket_->write(request);
        return;
    }
    if (config_.proxy.kind != ProxyConfig::Kind::None && cb_.stage)
        cb_.stage(QStringLiteral("Firewall connection complete"));
    if (!config_.tls)
        becomeReady();
}

void ClientTransport::onSocks4Reply()
{
    if (socket_->bytesAvailable() < protocol::kSocks4ReplySize)
        return;
    uint8_t reply[protocol::kSocks4ReplySize];
    socket_->read(reinterpret_cast<char*>(reply), protocol::kSocks4ReplySize);
    tunnelPending_ = Tunnel::None;
    const int status = protocol::parseSocks4Reply(reply);
    if (status != 90) {
        failWith(kProxyFailed, QString::fromLatin1(protocol::socks4StatusText(status)));
        return;
    }
    tunnelDone();
}

// The reply head is looked at in small pieces and only what the parser took
// is removed, so the tunnelled bytes behind it stay in the socket for the
// stream's owner. Past the head size limit the connection fails at once.
void ClientTransport::onConnectReply()
{
    using St = protocol::HttpHeadParser::State;
    char piece[2048];
    while (socket_ != nullptr && tunnelPending_ == Tunnel::HttpConnect) {
        const qint64 n = socket_->peek(piece, sizeof piece);
        if (n <= 0)
            return;
        size_t consumed = 0;
        const St st = proxyReply_->feed(reinterpret_cast<const uint8_t*>(piece), size_t(n), consumed);
        socket_->skip(qint64(consumed));
        if (st == St::NeedMore) {
            if (consumed == 0)
                return;
            continue;
        }
        tunnelPending_ = Tunnel::None;
        if (st == St::Error) {
            failWith(kProxyFailed, QStringLiteral("bad CONNECT reply: %1").arg(QString::fromStdString(proxyReply_->error())));
            return;
        }
        const protocol::HttpHead& head = proxyReply_->head();
        if (head.status / 100 != 2) {
            failWith(kProxyFailed, QStringLiteral("CONNECT refused: HTTP %1 %2")
                                       .arg(head.status).arg(QString::fromStdString(head.reason)));
            return;
        }
        proxyReply_.reset();
        tunnelDone();
    }
}

void ClientTransport::tunnelDone()
{
    if (cb_.stage)
        cb_.stage(QStringLiteral("Firewall connection complete"));
    if (socket_ == nullptr)
        return;
    if (config_.tls)
        startTls();
    else
        becomeReady();
}

void ClientTransport::startTls()
{
    ssl()->startClientEncryption();
}

void ClientTransport::onSslErrors(const QList<QSslError>& errors)
{
    verifyAsked_ = true;
    const bool accept = cb_.verify ? cb_.verify(ssl()->peerCertificateChain(), false, sslErrorsText(errors)) : false;
    if (socket_ == nullptr)
        return;
    if (accept) {
        ssl()->ignoreSslErrors();
    } else {
        rejected_ = true;
        failWith(kCertificateRejected, sslErrorsText(errors));
    }
}

void ClientTransport::onEncrypted()
{
    if (!verifyAsked_) {
        verifyAsked_ = true;
        const bool accept = cb_.verify ? cb_.verify(ssl()->peerCertificateChain(), true, QStringLiteral("OK")) : true;
        if (socket_ == nullptr)
            return;
        if (!accept) {
            rejected_ = true;
            failWith(kCertificateRejected, QStringLiteral("refused by the application"));
            return;
        }
    }
    becomeReady();
}

void ClientTransport::becomeReady()
{
    ready_ = true;
    if (cb_.ready)
        cb_.ready();
    // Bytes that came with the handshake's last packet.
    if (socket_ != nullptr && ready_ && socket_->bytesAvailable() > 0 && cb_.readable)
        cb_.readable();
}

void ClientTransport::onError()
{
    if (socket_ == nullptr || rejected_)
        return;
    const QAbstractSocket::SocketError e = socket_->error();
    if (ready_) {
        if (e == QAbstractSocket::RemoteHostClosedError)
            return;   // reported by onDisconnected
        failWith(kConnectionLost, socket_->errorString());
        return;
    }
    int code = kConnectFailed;
    switch (e) {
    case QAbstractSocket::ProxyAuthenticationRequiredError:
    case QAbstractSocket::ProxyConnectionRefusedError:
    case QAbstractSocket::ProxyConnectionClosedError:
    case QAbstractSocket::ProxyConnectionTimeoutError:
    case QAbstractSocket::ProxyNotFoundError:
    case QAbstractSocket::ProxyProtocolError:
        code = kProxyFailed;
        break;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        code = kTlsFailed;
        break;
    default:
        if (tunnelPending_ != Tunnel::None)
            code = kProxyFailed;
        break;
    }
    failWith(code, socket_->errorString());
}

void ClientTransport::onDisconnected()
{
    if (socket_ == nullptr || failedReported_)
        return;
    if (!ready_) {
        failWith(tunnelPending_ != Tunnel::None ? kProxyFailed : kConnectFailed, QStringLiteral("connection closed by the peer"));
        return;
    }
    if (cb_.closed)
        cb_.closed();
}

void ClientTransport::failWith(int code, const QString& detail)
{
    if (failedReported_)
        return;
    failedReported_ = true;
    auto failed = cb_.failed;
    abort();
    if (failed)
        failed(code, detail);
}

QTcpSocket* ClientTransport::release()
{
    if (!ready_ || socket_ == nullptr)
        return nullptr;
    QTcpSocket* s = socket_;
    socket_ = nullptr;
    ready_ = false;
    s->disconnect();
    return s;
}

void ClientTransport::abort()
{
    QTcpSocket* s = socket_;
    socket_ = nullptr;
    ready_ = false;
    if (s) {
        s->disconnect();
        s->abort();
        retireObject(s);
    }
}

QString ClientTransport::peerDescription() const
{
    if (!socket_)
        return {};
    return QStringLiteral("%1:%2").arg(socket_->peerAddress().toString()).arg(socket_->peerPort());
}

} // namespace corvane::engine
