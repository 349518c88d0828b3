#include "engine/objects/websocket_server.h"

#include "engine/objects/event_args.h"
#include "engine/transport/qt_socket_stream.h"
#include "engine/transport/raw_socket_stream.h"
#include "engine/transport/socket_graveyard.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslSocket>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <limits>

namespace corvane::engine {

using protocol::Opcode;
namespace P = server_prop;
namespace E = server_event;
namespace M = server_method;

namespace {

constexpr int64_t kMaxInt = std::numeric_limits<int>::max();

// Ranges and defaults of the server's properties (numbers, names and types
// come from corvanews20_server.h); rows left out are unchecked, 0 or empty.
const PropertyLimits kLimits[] = {
    {P::ConnectionBacklog, 1, 65535, 128, ""},
    {P::WebSocketConnectionAcceptData, 0, 1, 1, ""},
    {P::WebSocketConnectionDataFormat, 0, 2, 0, ""},
    {P::WebSocketConnectionTimeout, 0, kMaxInt, 0, ""},
    {P::DefaultTimeout, 0, kMaxInt, 0, ""},
    {P::LocalPort, 0, 65535, 0, ""},
    {P::SSLCertStore, 0, -1, 0, "MY"},
    {P::SSLCertStoreType, 0, 99, 0, ""},
};

// Config settings of the server (engine/README.md documents each).
const ConfigDef kConfig[] = {
    CORVANE_COMMON_CONFIG,
    {"MaxMessageSize", ConfigType::Int, 0, std::numeric_limits<int64_t>::max(), 0, ""},
    {"ChunkSize", ConfigType::Int, 1, 16 << 20, 256 << 10, ""},
    {"ReadBufferSize", ConfigType::Int, 4096, 16 << 20, 256 << 10, ""},
    {"SendQueueLimit", ConfigType::Int, 4096, int64_t(1) << 32, 16 << 20, ""},
    {"MaxQueuedBytes", ConfigType::Int, 0, int64_t(1) << 40, 64 << 20, ""},
    {"FragmentSize", ConfigType::Int, 0, kMaxInt, 0, ""},
    {"MaxHeadSize", ConfigType::Int, 1024, 1 << 20, 16 << 10, ""},
    {"HandshakeTimeout", ConfigType::Int, 0, 3600, 20, ""},
    {"KeepAliveInterval", ConfigType::Int, 0, 86400, 0, ""},
    {"CloseTimeout", ConfigType::Int, 0, 3600, 5, ""},
    {"CloseStatusCode", ConfigType::Int, 1000, 4999, 1000, ""},
    {"CloseDescription", ConfigType::String, 0, 0, 0, ""},
    {"SSLTrustedCAFile", ConfigType::String, 0, 0, 0, ""},
    {"CertStoreRoot", ConfigType::String, 0, 0, 0, ""},
};

QString cipherNames()
{
    static const QString names = [] {
        QStringList list;
        for (const QSslCipher& c : QSslConfiguration::defaultConfiguration().ciphers())
            list << c.name();
        return list.join(':');
    }();
    return names;
}

} // namespace

std::span<const PropertyDef> serverProperties()
{
    static const std::vector<PropertyDef> defs = buildPropertyDefs(corvanews20::server::kTables, kLimits);
    return defs;
}
std::span<const ConfigDef> serverConfig() { return kConfig; }

Listener::~Listener()
{
    releaseSpare();
}

void Listener::holdSpare()
{
    if (spare_ < 0)
        spare_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

void Listener::releaseSpare()
{
    if (spare_ >= 0)
        ::close(spare_);
    spare_ = -1;
}

bool Listener::turnAwayWaiting()
{
    if (spare_ < 0)
        holdSpare();
    if (spare_ < 0 || socketDescriptor() < 0)
        return false;
    releaseSpare();
    for (int fd; (fd = ::accept4(int(socketDescriptor()), nullptr, nullptr, SOCK_CLOEXEC)) >= 0;)
        ::close(fd);
    holdSpare();
    return true;
}

void Listener::incomingConnection(qintptr descriptor)
{
    if (onIncoming)
        onIncoming(descriptor);
    else
        ::close(int(descriptor));
}

WebSocketServer::WebSocketServer(CorvaneWS_EventSink sink, void* user)
    : EngineObject(sink, user, serverProperties(), kConfig)
{
    maxQueued_ = configInt("MaxQueuedBytes");
    listener_.onIncoming = [this](qintptr fd) {
        SlotScope scope;
        Entry entry(this);
        onIncoming(fd);
    };
    QObject::connect(&listener_, &QTcpServer::acceptError, [this](QAbstractSocket::SocketError error) {
        Entry entry(this);
        onAcceptError(error);
    });
}

// Qt stops accepting after any error but "try again"; one connection that
// went away in the queue, or a time without descriptors, must not end the
// server's service.
void WebSocketServer::onAcceptError(QAbstractSocket::SocketError error)
{
    if (error != QAbstractSocket::SocketResourceError) {
        log(0, 1, QStringLiteral("Accept failed (%1): %2").arg(int(error)).arg(listener_.errorString()),
            QStringLiteral("Listen"));
        QTimer::singleShot(0, reaper_.context(), [this] {
            if (listener_.isListening())
                listener_.resumeAccepting();
        });
        return;
    }
    if (!outOfDescriptors_) {
        outOfDescriptors_ = true;
        log(0, 1, QStringLiteral("Out of descriptors (%1): callers are turned away until some are free")
                      .arg(listener_.errorString()),
            QStringLiteral("Listen"));
        if (destroyed())
            return;
    }
    // The waiting callers are closed, so the listener sleeps until the next
    // one comes; without a spare descriptor it looks again a little later.
    const bool emptied = listener_.turnAwayWaiting();
    QTimer::singleShot(emptied ? 0 : 250, reaper_.context(), [this] {
        if (listener_.isListening())
            listener_.resumeAccepting();
    });
}

WebSocketServer::~WebSocketServer()
{
    listener_.onIncoming = nullptr;
    listener_.close();
    for (auto& [id, c] : conns_)
        reaper_.retire(std::move(c.ws));
    conns_.clear();
}

void WebSocketServer::onDestroyRequested()
{
    listener_.close();
    listener_.releaseSpare();
    for (auto& [id, c] : conns_) {
        c.ws->detach();
        reaper_.retire(std::move(c.ws));
    }
    conns_.clear();
}

// ---- properties ----

WebSocketServer::Conn* WebSocketServer::find(int id)
{
    const auto it = conns_.find(id);
    return it == conns_.end() ? nullptr : &it->second;
}

const WebSocketServer::Conn* WebSocketServer::find(int id) const
{
    const auto it = conns_.find(id);
    return it == conns_.end() ? nullptr : &it->second;
}

bool WebSocketServer::validIndex(const PropertyDef&, int index) const
{
    return find(index) != nullptr;
}

bool WebSocketServer::readProperty(const PropertyDef& def, int index, Value& out)
{
    if (def.indexName != nullptr) {
        const Conn& c = *find(index);
        const WsConnection& ws = *c.ws;
        switch (def.id) {
        case P::WebSocketConnectionAcceptData: out.i = c.acceptData; return true;
        case P::WebSocketConnectionBytesSent: out.i = ws.bytesSent(); return true;
        case P::WebSocketConnectionConnected: out.i = ws.isOpen(); return true;
        case P::WebSocketConnectionConnectionId: out.text = QString::number(index); return true;
        case P::WebSocketConnectionDataFormat: out.i = c.dataFormat; return true;
        case P::WebSocketConnectionHost: out.text = QString::fromStdString(ws.request().host); return true;
        case P::WebSocketConnectionLocalAddress: out.text = ws.localAddress(); return true;
        case P::WebSocketConnectionOrigin: out.text = QString::fromStdString(ws.request().origin); return true;
        case P::WebSocketConnectionReadyToSend: out.i = ws.readyToSend(); return true;
        case P::WebSocketConnectionRemoteHost: out.text = ws.remoteAddress(); return true;
        case P::WebSocketConnectionRemotePort: out.i = ws.remotePort(); return true;
        case P::WebSocketConnectionRequestHeaders: out.text = QString::fromStdString(ws.requestHead()); return true;
        case P::WebSocketConnectionRequestURI: out.text = QString::fromStdString(ws.request().resource); return true;
        case P::WebSocketConnectionSubProtocols:
            out.text = QString::fromStdString(c.opened ? ws.subProtocol() : ws.request().subProtocols);
            return true;
        case P::WebSocketConnectionTimeout: out.i = c.timeout; return true;
        default: return false;
        }
    }
    switch (def.id) {
    case P::WebSocketConnectionCount: out.i = int64_t(conns_.size()); return true;
    case P::Listening: out.i = listener_.isListening(); return true;
    case P::LocalPort:
        out.i = listener_.isListening() ? listener_.serverPort() : intProp(P::LocalPort);
        return true;
    case P::SSLCertEncoded: {
        // The certificate in use; before listening, the one the settings choose.
        ServerCertificate current;
        std::string why;
        if (listener_.isListening() && certificateLoaded_)
            current = certificate_;
        else if (boolProp(P::UseSSL) || !bytesProp(P::SSLCertEncoded).isEmpty())
            loadServerCertificate(certificateSource(), current, why);
        out.bytes = current.certificate.isNull() ? QByteArray() : current.certificate.toPem();
        return true;
    }
    default: return false;
    }
}

int WebSocketServer::writeProperty(const PropertyDef& def, int index, Value& in)
{
    Conn* c = def.indexName != nullptr ? find(index) : nullptr;
    switch (def.id) {
    case P::WebSocketConnectionAcceptData:
        c->acceptData = in.i != 0;
        c->ws->setReadPaused(WsConnection::kPausedByHost, !c->acceptData);
        return 0;
    case P::WebSocketConnectionConnected:
        if (in.i != 0)
            return c->ws->isOpen() ? 0 : fail(kNotConnected);
        c->ws->close(uint16_t(configInt("CloseStatusCode")), configText("CloseDescription").toStdString());
        return 0;
    case P::WebSocketConnectionDataFormat: c->dataFormat = int(in.i); return 0;
    case P::WebSocketConnectionDataToSend: {
        const bool text = c->dataFormat == 1 || (c->dataFormat == 0 && in.form == 2);
        return sendTo(index, text ? Opcode::Text : Opcode::Binary,
                      reinterpret_cast<const uint8_t*>(in.bytes.constData()), size_t(in.bytes.size()));
    }
    case P::WebSocketConnectionTimeout:
        c->timeout = int(in.i);
        c->ws->setLimits(limitsFor(c->timeout));
        return 0;
    case P::Listening:
        if ((in.i != 0) == listener_.isListening())
            return 0;
        if (in.i == 0) {
            stopListening();
            return 0;
        }
        return startListening();
    case P::LocalHost:
    case P::LocalPort:
        if (listener_.isListening())
            return fail(kNotAllowedWhileConnected, def.name);
        return -1;
    default:
        return -1;
    }
}

void WebSocketServer::onConfigChanged(const ConfigDef&)
{
    maxQueued_ = configInt("MaxQueuedBytes");
    for (auto& [id, c] : conns_)
        c.ws->setLimits(limitsFor(c.timeout));
}

ConnectionLimits WebSocketServer::limitsFor(int timeoutSeconds) const
{
    ConnectionLimits l;
    l.sendQueueLimit = configInt("SendQueueLimit");
    l.maxMessageSize = uint64_t(configInt("MaxMessageSize"));
    l.chunkSize = size_t(configInt("ChunkSize"));
    l.readBufferSize = size_t(configInt("ReadBufferSize"));
    l.maxHeadSize = size_t(configInt("MaxHeadSize"));
    l.handshakeTimeoutMs = int(configInt("HandshakeTimeout") * 1000);
    l.idleTimeoutMs = int(std::min<int64_t>(int64_t(timeoutSeconds) * 1000, kMaxInt));
    l.keepAliveMs = int(configInt("KeepAliveInterval") * 1000);
    l.closeTimeoutMs = int(configInt("CloseTimeout") * 1000);
    l.fragmentSize = size_t(configInt("FragmentSize"));
    return l;
}

// ---- listening and accepting ----

CertificateSource WebSocketServer::certificateSource() const
{
    return {int(intProp(P::SSLCertStoreType)), bytesProp(P::SSLCertStore), textProp(P::SSLCertStorePassword),
            textProp(P::SSLCertSubject), configText("CertStoreRoot"), bytesProp(P::SSLCertEncoded)};
}

int WebSocketServer::startListening()
{
    certificate_ = ServerCertificate();
    certificateLoaded_ = false;
    if (boolProp(P::UseSSL)) {
        const CertificateSource source = certificateSource();
        std::string why;
        if (const int rc = loadServerCertificate(source, certificate_, why); rc != 0)
            return fail(rc, why);
        certificateLoaded_ = true;
    }
    const QString host = textProp(P::LocalHost);
    QHostAddress address(QHostAddress::Any);
    if (!host.isEmpty()) {
        address = QHostAddress(host);
        if (address.isNull() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
            address = QHostAddress(QHostAddress::LocalHost);
        if (address.isNull())
            return fail(kListenFailed, host.toStdString() + " is not a local address");
    }
    listener_.setListenBacklogSize(int(intProp(P::ConnectionBacklog)));
    if (!listener_.listen(address, quint16(intProp(P::LocalPort))))
        return fail(kListenFailed, listener_.errorString().toStdString());
    listener_.holdSpare();
    outOfDescriptors_ = false;
    log(0, 1, QStringLiteral("Listening on %1:%2").arg(address.toString()).arg(listener_.serverPort()),
        QStringLiteral("Listen"));
    return 0;
}

void WebSocketServer::stopListening()
{
    listener_.close();
    listener_.releaseSpare();
}

void WebSocketServer::shutdown()
{
    stopListening();
    std::vector<int> ids;
    for (const auto& [id, c] : conns_)
        ids.push_back(id);
    for (int id : ids) {
        if (Conn* c = find(id))
            c->ws->close(protocol::close_code::kGoingAway, "server shutting down");
        if (destroyed())
            return;
    }
}

void WebSocketServer::onIncoming(qintptr fd)
{
    outOfDescriptors_ = false;
    // Who is calling, from the descriptor itself: nothing is read yet.
    sockaddr_storage peer{};
    socklen_t len = sizeof(peer);
    QHostAddress address;
    quint16 port = 0;
    if (::getpeername(int(fd), reinterpret_cast<sockaddr*>(&peer), &len) == 0) {
        address.setAddress(reinterpret_cast<const sockaddr*>(&peer));
        port = peer.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_port)
                                          : ntohs(reinterpret_cast<const sockaddr_in*>(&peer)->sin_port);
        bool v4 = false;
        if (const quint32 a = address.toIPv4Address(&v4); v4)
            address = QHostAddress(a);
    }
    bool accept = true;
    if (hasSink()) {
        Wide a(address.toString());
        void* argv[4] = {a.ptr(), iv(port), iv(1), nullptr};
        int arglen[4] = {};
        raise(E::ConnectionRequest, 3, argv, arglen);
        accept = argv[2] != nullptr && !destroyed();
    }
    if (!accept) {
        ::close(int(fd));
        return;
    }
    const bool tls = boolProp(P::UseSSL);
    const ConnectionLimits limits = limitsFor(int(intProp(P::DefaultTimeout)));
    std::unique_ptr<ByteStream> stream;
    QSslSocket* socket = nullptr;
    if (tls) {
        // TLS is Qt's; a plain connection is read straight from its descriptor.
        socket = new QSslSocket();
        if (!socket->setSocketDescriptor(fd)) {
            ::close(int(fd));
            delete socket;
            return;
        }
        stream = std::make_unique<QtSocketStream>(socket, int64_t(std::max<size_t>(limits.readBufferSize, 64 * 1024)));
    } else {
        stream = std::make_unique<RawSocketStream>(int(fd));
    }
    const int id = nextId_++;
    Conn& c = conns_[id];
    c.timeout = int(intProp(P::DefaultTimeout));
    c.ws = std::make_unique<WsConnection>(WsConnection::Role::Server, std::move(stream), *this, limits);
    c.ws->id = id;
    if (tls) {
        const int rc = configureTls(*socket, id);
        Conn* again = find(id);
        if (again == nullptr || destroyed())
            return;
        if (rc != 0) {
            raiseError(id, rc, QString::fromStdString(lastError() ? lastError() : ""));
            if (Conn* still = find(id))
                still->ws->abort(QStringLiteral("no server certificate"));
            return;
        }
    }
    c.ws->startServer(tls);
}

// The handler of OnSSLConnectionRequest may pick another certificate for
// this connection; the object's own one is used otherwise.
int WebSocketServer::configureTls(QSslSocket& socket, int id)
{
    CertificateSource source = certificateSource();
    ServerCertificate chosen = certificate_;
    bool reload = !certificateLoaded_;
    if (hasSink()) {
        Wide ciphers(cipherNames()), sigalgs{QString()};
        EventString store{QString::fromUtf8(source.store), {}}, password{source.password, {}},
            subject{source.subject, {}};
        void* argv[8] = {iv(id), ciphers.ptr(), sigalgs.ptr(), iv(source.storeType), &store, &password, &subject,
                         nullptr};
        int arglen[8] = {};
        raise(E::SSLConnectionRequest, 7, argv, arglen);
        if (destroyed() || find(id) == nullptr)
            return 0;
        const int newType = int(reinterpret_cast<intptr_t>(argv[3]));
        if (newType != source.storeType || store.text.toUtf8() != source.store || password.text != source.password
            || subject.text != source.subject) {
            source.storeType = newType;
            source.store = store.text.toUtf8();
            source.password = password.text;
            source.subject = subject.text;
            source.encoded.clear();   // the handler chose from the store
            reload = true;
        }
    }
    if (reload) {
        std::string why;
        if (const int rc = loadServerCertificate(source, chosen, why); rc != 0)
            return fail(rc, why);
    }
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.setLocalCertificate(chosen.certificate);
    ssl.setPrivateKey(chosen.key);
    if (!chosen.chain.isEmpty())
        ssl.setLocalCertificateChain(QList<QSslCertificate>{chosen.certificate} + chosen.chain);
    if (boolProp(P::SSLAuthenticateClients)) {
        ssl.setPeerVerifyMode(QSslSocket::VerifyPeer);
        const QString caFile = configText("SSLTrustedCAFile");
        if (!caFile.isEmpty())
            ssl.addCaCertificates(QSslCertificate::fromPath(caFile, QSsl::Pem));
    } else {
        ssl.setPeerVerifyMode(QSslSocket::VerifyNone);
    }
    socket.setSslConfiguration(ssl);
    return 0;
}

// ---- connection events ----

void WebSocketServer::connectionEnter()
{
    entries_.push_back(std::make_unique<Entry>(this));
}

void WebSocketServer::connectionLeave()
{
    // May delete this object when it was destroyed meanwhile: nothing after.
    std::unique_ptr<Entry> last = std::move(entries_.back());
    entries_.pop_back();
}

bool WebSocketServer::connectionVerifyPeer(WsConnection& ws, const QList<QSslCertificate>& chain, bool accept,
                                           const QString& status)
{
    Conn* c = find(ws.id);
    if (c == nullptr)
        return false;
    if (!boolProp(P::SSLAuthenticateClients))
        return true;
    c->clientAuthAsked = true;
    if (!hasSink())
        return accept;
    const QSslCertificate leaf = chain.isEmpty() ? QSslCertificate() : chain.first();
    QByteArray pem = leaf.toPem();
    Wide subject(dnText(leaf, true)), issuer(dnText(leaf, false)), text(status);
    void* argv[7] = {iv(ws.id), pem.data(), subject.ptr(), issuer.ptr(), text.ptr(), iv(accept), nullptr};
    int arglen[7] = {0, int(pem.size()), 0, 0, 0, 0, 0};
    raise(E::SSLClientAuthentication, 6, argv, arglen);
    return !destroyed() && argv[5] != nullptr;
}

void WebSocketServer::connectionTlsReady(WsConnection& ws)
{
    Conn* c = find(ws.id);
    if (c == nullptr)
        return;
    if (boolProp(P::SSLAuthenticateClients) && !c->clientAuthAsked) {
        // The chain verified without complaint: ask with Accept preset true.
        const QSslSocket* ssl = ws.sslSocket();
        const QList<QSslCertificate> chain = ssl ? ssl->peerCertificateChain() : QList<QSslCertificate>();
        if (!connectionVerifyPeer(ws, chain, !chain.isEmpty(), chain.isEmpty() ? "No certificate" : "OK")) {
            if (!destroyed() && find(ws.id) != nullptr)
                ws.abort(QStringLiteral("client certificate refused"));
            return;
        }
        if (destroyed() || find(ws.id) == nullptr)
            return;
    }
    if (!hasSink())
        return;
    Wide msg(QStringLiteral("TLS handshake complete"));
    void* argv[3] = {iv(ws.id), msg.ptr(), nullptr};
    int arglen[3] = {};
    raise(E::SSLStatus, 2, argv, arglen);
}

void WebSocketServer::connectionOpenRequest(WsConnection& ws, OpenRequest& open)
{
    if (!hasSink())
        return;
    const protocol::UpgradeRequest& r = open.request;
    Wide uri(QString::fromStdString(r.resource)), host(QString::fromStdString(r.host)),
        origin(QString::fromStdString(r.origin)), offered(QString::fromStdString(r.subProtocols)),
        headers(QString::fromStdString(open.headText));
    EventString chosen{QString(), {}}, responseHeaders{QString(), {}};
    void* argv[10] = {iv(ws.id), uri.ptr(), host.ptr(), origin.ptr(), &chosen, offered.ptr(), headers.ptr(),
                      iv(101), &responseHeaders, nullptr};
    int arglen[10] = {};
    raise(E::WebSocketOpenRequest, 9, argv, arglen);
    open.subProtocol = chosen.text.trimmed().toStdString();
    open.status = int(reinterpret_cast<intptr_t>(argv[7]));
    open.responseHeaders = responseHeaders.text.toStdString();
}

void WebSocketServer::connectionOpened(WsConnection& ws)
{
    Conn* c = find(ws.id);
    if (c == nullptr)
        return;
    c->opened = true;
    if (!c->acceptData)
        ws.setReadPaused(WsConnection::kPausedByHost, true);
    if (!hasSink())
        return;
    void* argv[2] = {iv(ws.id), nullptr};
    int arglen[2] = {};
    raise(E::Connected, 1, argv, arglen);
}

void WebSocketServer::connectionData(WsConnection& ws, Opcode type, const uint8_t* data, size_t n, bool last)
{
    if (!hasSink())
        return;
    void* argv[5] = {iv(ws.id), iv(type == Opcode::Text ? 1 : 2), const_cast<uint8_t*>(data), iv(last), nullptr};
    int arglen[5] = {0, 0, int(n), 0, 0};
    raise(E::DataIn, 4, argv, arglen);
}

void WebSocketServer::connectionReadyToSend(WsConnection& ws)
{
    if (!hasSink())
        return;
    void* argv[2] = {iv(ws.id), nullptr};
    int arglen[2] = {};
    raise(E::ReadyToSend, 1, argv, arglen);
}

void WebSocketServer::connectionError(WsConnection& ws, int code, const QString& text)
{
    raiseError(ws.id, code, text);
}

// Past MaxQueuedBytes over all connections, reading pauses on each
// connection that holds more than its even share, so no more answers pile up
// for peers that do not read them; it resumes once its queue is down to half
// its share, or the whole to half the bound.
void WebSocketServer::connectionQueueChanged(WsConnection& ws)
{
    Conn* c = find(ws.id);
    if (c == nullptr)
        return;
    const int64_t queued = ws.queuedBytes();
    queuedTotal_ += queued - c->queued;
    c->queued = queued;
    const int64_t bound = maxQueued_;
    if (bound <= 0) {
        if (!held_.empty())
            for (int id : std::vector<int>(held_))
                if (Conn* h = find(id))
                    holdByBound(*h, false);
        return;
    }
    const int64_t share = bound / int64_t(std::max<size_t>(conns_.size(), 1));
    if (queuedTotal_ > bound && queued > share && !c->heldByBound) {
        holdByBound(*c, true);
    } else if (queuedTotal_ <= bound / 2) {
        for (int id : std::vector<int>(held_))
            if (Conn* h = find(id))
                holdByBound(*h, false);
    } else if (c->heldByBound && queued <= share / 2) {
        holdByBound(*c, false);
    }
}

void WebSocketServer::holdByBound(Conn& c, bool held)
{
    if (c.heldByBound == held)
        return;
    c.heldByBound = held;
    const int id = c.ws->id;
    if (held)
        held_.push_back(id);
    else
        held_.erase(std::remove(held_.begin(), held_.end(), id), held_.end());
    c.ws->setReadPaused(WsConnection::kPausedByBound, held);
}

void WebSocketServer::connectionClosed(WsConnection& ws, int statusCode, const QString& reason)
{
    const int id = ws.id;
    const auto it = conns_.find(id);
    if (it == conns_.end())
        return;
    queuedTotal_ -= it->second.queued;
    if (it->second.heldByBound)
        held_.erase(std::remove(held_.begin(), held_.end(), id), held_.end());
    // Gone from the indexed properties before the handler runs.
    std::unique_ptr<WsConnection> owned = std::move(it->second.ws);
    conns_.erase(it);
    reaper_.retire(std::move(owned));
    if (!hasSink())
        return;
    Wide d(reason);
    void* argv[4] = {iv(id), iv(statusCode), d.ptr(), nullptr};
    int arglen[4] = {};
    raise(E::Disconnected, 3, argv, arglen);
}

void WebSocketServer::connectionLog(WsConnection& ws, int level, const QString& message, const QString& type)
{
    log(ws.id, level, message, type);
}

void WebSocketServer::raiseError(int id, int code, const QString& text)
{
    raiseConnectionError(E::Error, id, code, text);
}

void WebSocketServer::log(int id, int level, const QString& message, const QString& type)
{
    raiseConnectionLog(E::Log, id, level, message, type);
}

// ---- methods ----

int WebSocketServer::sendTo(int id, Opcode op, const uint8_t* data, size_t n)
{
    Conn* c = find(id);
    if (c == nullptr)
        return fail(kInvalidIndex, corvanews20::server::kIndexName);
    const int rc = c->ws->sendMessage(op, data, n);
    if (rc == kSendQueueFull)
        return fail(rc, std::to_string(c->ws->queuedBytes()) + " bytes queued");
    return rc == 0 ? 0 : fail(rc);
}

int WebSocketServer::invoke(int method, int argc, void** argv, int* arglen)
{
    clearError();
    auto wide = [&](int k) { return k < argc ? wideArg(argv[k], arglen ? arglen[k] : 0) : QString(); };
    auto idArg = [&]() { return argc > 0 ? int(reinterpret_cast<intptr_t>(argv[0])) : -1; };
    switch (method) {
    case M::Config: {
        QString answer;
        const int rc = configure(wide(0), answer);
        setWideResult(argv, arglen, std::max(argc, 1), answer);
        return rc;
    }
    case M::Disconnect: {
        Conn* c = find(idArg());
        if (c == nullptr)
            return fail(kInvalidIndex, corvanews20::server::kIndexName);
        c->ws->close(uint16_t(configInt("CloseStatusCode")), configText("CloseDescription").toStdString());
        return 0;
    }
    case M::DoEvents: doEvents(); return 0;
    case M::Interrupt: {
        Conn* c = find(idArg());
        if (c == nullptr)
            return fail(kInvalidIndex, corvanews20::server::kIndexName);
        c->ws->cancelFile();
        return 0;
    }
    case M::Send: {
        if (argc < 2)
            return fail(kInvalidArgument, "Send needs the connection id and the data");
        Conn* c = find(idArg());
        const int format = c ? c->dataFormat : 0;
        return sendTo(idArg(), format == 1 ? Opcode::Text : Opcode::Binary, static_cast<const uint8_t*>(argv[1]),
                      argv[1] && arglen ? size_t(std::max(arglen[1], 0)) : 0);
    }
    case M::SendFile: {
        Conn* c = find(idArg());
        if (c == nullptr)
            return fail(kInvalidIndex, corvanews20::server::kIndexName);
        const QString name = wide(1);
        const int rc = c->ws->sendFile(name, c->dataFormat == 1 ? Opcode::Text : Opcode::Binary);
        return rc == 0 ? 0 : fail(rc, name.toStdString());
    }
    case M::SendText: {
        Conn* c = find(idArg());
        const QByteArray utf8 = wide(1).toUtf8();
        return sendTo(idArg(), c && c->dataFormat == 2 ? Opcode::Binary : Opcode::Text,
                      reinterpret_cast<const uint8_t*>(utf8.constData()), size_t(utf8.size()));
    }
    case M::Shutdown: shutdown(); return 0;
    default:
        return fail(kUnknownMethod, std::to_string(kMethodOffset + method));
    }
}

void WebSocketServer::doEvents()
{
    // Wakes after what is pending or after a short wait, so a host can poll.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (destroyed())
        return;
    // The wake-up is armed only now: armed before processEvents, it could fire
    // inside it on a slow machine and leave exec() below without any wake-up.
    QEventLoop loop;
    QTimer::singleShot(10, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace corvane::engine
