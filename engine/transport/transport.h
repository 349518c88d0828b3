// Client side byte stream: TCP, optionally through an HTTP CONNECT tunnel,
// SOCKS4 or SOCKS5, then optionally TLS. Owners get callbacks on the thread
// that created it; nothing here blocks. The CONNECT reply is read by our own
// head parser in bounded pieces, so a hostile proxy cannot make it grow.
#pragma once

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QSslError>
#include <QSslKey>
#include <QString>

#include "engine/protocol/http_head.h"

#include <cstdint>
#include <functional>
#include <memory>

class QSslSocket;
class QTcpSocket;

namespace corvane::engine {

// TLS verification errors as one line, for events and error texts.
QString sslErrorsText(const QList<QSslError>& errors);

struct ProxyConfig {
    enum class Kind { None, HttpConnect, Socks4, Socks5 };
    Kind kind = Kind::None;
    QString host;
    uint16_t port = 0;
    QString user, password;
};

struct TransportConfig {
    QString host;
    uint16_t port = 0;
    bool tls = false;
    ProxyConfig proxy;
    QString localHost;
    uint16_t localPort = 0;
    QList<QSslCertificate> trustedCertificates;  // trusted besides the system store
    QSslCertificate clientCertificate;
    QSslKey clientKey;
    qint64 socketBufferSize = 1 << 20;           // bound of Qt's own read buffer
    size_t maxProxyReplyHead = 16 << 10;         // the CONNECT reply's head
};

struct TransportCallbacks {
    std::function<void(const QString& stage)> stage;
    // Once per TLS connection: the server's chain, the verification outcome and
    // its text; returns whether to go on.
    std::function<bool(const QList<QSslCertificate>& chain, bool verified, const QString& status)> verify;
    std::function<void()> ready;       // stream open (tunnel and TLS done)
    std::function<void()> readable;
    std::function<void()> written;     // the socket drained some output
    std::function<void(int code, const QString& detail)> failed;
    std::function<void()> closed;      // the peer closed after ready
};

class ClientTransport {
public:
    ClientTransport() = default;
    ~ClientTransport();
    ClientTransport(const ClientTransport&) = delete;
    ClientTransport& operator=(const ClientTransport&) = delete;

    void open(const TransportConfig& config, TransportCallbacks callbacks);
    bool isReady() const { return ready_; }
    bool isOpen() const { return socket_ != nullptr; }

    // Drops everything at once; no more callbacks.
    void abort();
    QString peerDescription() const;
    // Hands the open stream's socket to a new owner (a QSslSocket when TLS is
    // on, else a plain QTcpSocket); no more callbacks. Null when not ready.
    QTcpSocket* release();

private:
    void onConnected();
    void onSocks4Reply();
    void onConnectReply();
    void tunnelDone();
    void startTls();
    void onEncrypted();
    void onSslErrors(const QList<QSslError>& errors);
    void onError();
    void onDisconnected();
    void becomeReady();
    void failWith(int code, const QString& detail);

    QSslSocket* ssl() const;

    enum class Tunnel { None, Socks4, HttpConnect };
    TransportConfig config_;
    TransportCallbacks cb_;
    QTcpSocket* socket_ = nullptr;
    bool ready_ = false;
    Tunnel tunnelPending_ = Tunnel::None;   // waiting for the proxy's reply
    std::unique_ptr<protocol::HttpHeadParser> proxyReply_;
    bool verifyAsked_ = false;
    bool rejected_ = false;
    bool failedReported_ = false;
};

} // namespace corvane::engine
