#include "engine/objects/websocket_proxy.h"

#include "engine/include/corvanews20_server.h"
#include "engine/objects/event_args.h"
#include "engine/transport/firewall.h"
#include "engine/transport/socket_graveyard.h"
#include "engine/objects/websocket_server.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QRegularExpression>
#include <QTcpSocket>

#include <algorithm>
#include <limits>

namespace corvane::engine {

namespace P = proxy_prop;
namespace E = proxy_event;
namespace M = proxy_method;
namespace SP = corvanews20::server::prop;
namespace SE = corvanews20::server::event;
namespace SM = corvanews20::server::method;

namespace {

constexpr int64_t kMaxInt = std::numeric_limits<int>::max();
constexpr qsizetype kReadChunk = 256 << 10;        // TCP bytes per WebSocket message at most
constexpr int64_t kTcpSocketBuffer = 1 << 20;       // Qt's read-ahead bound when the TCP side is a Qt socket
constexpr int64_t kInnerSendQueueLimit = 4 << 20;  // the proxy's default for its WebSocket side

// The proxy's own properties; the rest belong to the inner server (kMapped).
const PropertyLimits kLimits[] = {
    {P::DefaultForwardPort, 0, 65535, 0, ""},
    {P::FirewallType, 0, 3, 0, ""},
    {P::FirewallPort, 0, 65535, 0, ""},
};

// Proxy property -> the inner server's property of the same meaning.
struct Mapped {
    int proxy;
    int server;
};
constexpr Mapped kMapped[] = {
    {P::ConnectionBacklog, SP::ConnectionBacklog},
    {P::WebSocketProxyConnectionCount, SP::WebSocketConnectionCount},
    {P::WebSocketProxyConnectionConnected, SP::WebSocketConnectionConnected},
    {P::WebSocketProxyConnectionConnectionId, SP::WebSocketConnectionConnectionId},
    {P::WebSocketProxyConnectionHost, SP::WebSocketConnectionHost},
    {P::WebSocketProxyConnectionLocalAddress, SP::WebSocketConnectionLocalAddress},
    {P::WebSocketProxyConnectionOrigin, SP::WebSocketConnectionOrigin},
    {P::WebSocketProxyConnectionRemoteHost, SP::WebSocketConnectionRemoteHost},
    {P::WebSocketProxyConnectionRemotePort, SP::WebSocketConnectionRemotePort},
    {P::WebSocketProxyConnectionRequestHeaders, SP::WebSocketConnectionRequestHeaders},
    {P::WebSocketProxyConnectionRequestURI, SP::WebSocketConnectionRequestURI},
    {P::WebSocketProxyConnectionSubProtocols, SP::WebSocketConnectionSubProtocols},
    {P::WebSocketProxyConnectionTimeout, SP::WebSocketConnectionTimeout},
    {P::DefaultTimeout, SP::DefaultTimeout},
    {P::Listening, SP::Listening},
    {P::LocalHost, SP::LocalHost},
    {P::LocalPort, SP::LocalPort},
    {P::SSLAuthenticateClients, SP::SSLAuthenticateClients},
    {P::SSLCertEncoded, SP::SSLCertEncoded},
    {P::SSLCertStore, SP::SSLCertStore},
    {P::SSLCertStorePassword, SP::SSLCertStorePassword},
    {P::SSLCertStoreType, SP::SSLCertStoreType},
    {P::SSLCertSubject, SP::SSLCertSubject},
    {P::UseSSL, SP::UseSSL},
};

int innerNumber(int proxyId)
{
    for (const Mapped& m : kMapped)
        if (m.proxy == proxyId)
            return m.server;
    return 0;
}

// Events of the inner server that reach the host unchanged, renumbered.
int passedThrough(int serverEvent)
{
    switch (serverEvent) {
    case SE::ConnectionRequest: return E::ConnectionRequest;
    case SE::Error: return E::Error;
    case SE::Log: return E::Log;
    case SE::SSLClientAuthentication: return E::SSLClientAuthentication;
    case SE::SSLConnectionRequest: return E::SSLConnectionRequest;
    case SE::SSLStatus: return E::SSLStatus;
    default: return 0;
    }
}

// Settings of the proxy itself; any other Config setting is the inner
// server's (engine/README.md lists both). CodePage and LogLevel go to both.
const ConfigDef kConfig[] = {
    CORVANE_COMMON_CONFIG,
    {"ForwardQueueLimit", ConfigType::Int, 4096, int64_t(1) << 32, 4 << 20, ""},
    {"ForwardConnectTimeout", ConfigType::Int, 0, 3600, 30, ""},
};

bool isOwnSetting(const QString& name, bool& alsoInner)
{
    alsoInner = name.compare(QLatin1String("CodePage"), Qt::CaseInsensitive) == 0
             || name.compare(QLatin1String("LogLevel"), Qt::CaseInsensitive) == 0;
    for (const ConfigDef& d : kConfig)
        if (name.compare(QLatin1String(d.name), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// Transport callbacks (and forward timers) of any proxy on the stack. Kept
// outside the proxy so that it still counts while a proxy destroyed from such
// a callback runs its destructor: the guard is taken before the proxy's Entry
// and so released after it.
int g_transportDepth = 0;
struct InTransport {
    InTransport() { ++g_transportDepth; }
    ~InTransport() { --g_transportDepth; }
    InTransport(const InTransport&) = delete;
    InTransport& operator=(const InTransport&) = delete;
};

} // namespace

std::span<const PropertyDef> proxyProperties()
{
    static const std::vector<PropertyDef> defs = buildPropertyDefs(corvanews20::proxy::kTables, kLimits);
    return defs;
}
std::span<const ConfigDef> proxyConfig() { return kConfig; }

WebSocketProxy::WebSocketProxy(CorvaneWS_EventSink sink, void* user)
    : EngineObject(sink, user, proxyProperties(), kConfig), scratch_(size_t(kReadChunk))
{
    inner_ = new WebSocketServer(&WebSocketProxy::innerSink, this);
    innerConfig(QStringLiteral("SendQueueLimit=%1").arg(kInnerSendQueueLimit));
    reaper_.setSingleShot(true);
    QObject::connect(&reaper_, &QTimer::timeout, [this] {
        // Not under a transport's own callback (a host pumping events there).
        if (g_transportDepth > 0) {
            reaper_.start(10);
            return;
        }
        std::vector<std::unique_ptr<Forward>> gone;
        gone.swap(retired_);
    });
}

WebSocketProxy::~WebSocketProxy()
{
    stopForwarding();
    for (auto& [id, f] : forwards_)
        retired_.push_back(std::move(f));
    forwards_.clear();
    // A transport's own code may still be on the stack below us (a host that
    // destroys the proxy from one of its events): its holder goes from the
    // event loop then. Otherwise it goes now, also for a host that never
    // returns to the event loop.
    if (g_transportDepth == 0) {
        retired_.clear();
    } else if (!retired_.empty()) {
        auto* gone = new std::vector<std::unique_ptr<Forward>>(std::move(retired_));
        if (QCoreApplication::instance() != nullptr)
            QTimer::singleShot(0, QCoreApplication::instance(), [gone] { delete gone; });
        else
            delete gone;
    }
}

void WebSocketProxy::onDestroyRequested()
{
    stopForwarding();
}

// The inner server goes and every TCP side is closed; the forwards stay until
// their owner lets them go.
void WebSocketProxy::stopForwarding()
{
    EngineObject* inner = inner_;
    inner_ = nullptr;
    EngineObject::destroy(inner);
    for (auto& [id, f] : forwards_) {
        f->connectTimer.stop();
        tcpClose(*f, false);
    }
}

// ---- the inner server's events ----

int WebSocketProxy::innerSink(void* user, int event, int argc, void** argv, int* arglen)
{
    auto* self = static_cast<WebSocketProxy*>(user);
    Entry entry(self);
    if (self->destroyed())
        return 0;
    return self->onInnerEvent(event, argc, argv, arglen);
}

int WebSocketProxy::onInnerEvent(int event, int argc, void** argv, int* arglen)
{
    const int id = argc > 0 ? int(reinterpret_cast<intptr_t>(argv[0])) : 0;
    switch (event) {
    case SE::WebSocketOpenRequest:
        return onOpenRequest(argv, arglen);
    case SE::Connected:
        onOpened(id);
        return 0;
    case SE::DataIn:
        onWebSocketData(id, static_cast<const uint8_t*>(argv[2]), arglen[2]);
        return 0;
    case SE::Disconnected:
        onWebSocketClosed(id, argv, arglen);
        return 0;
    case SE::ReadyToSend:
        if (Forward* f = find(id)) {
            f->wsBlocked = false;
            updateTcpPause(*f);
            pumpToWebSocket(id);
        }
        return 0;
    default:
        break;
    }
    if (const int mine = passedThrough(event))
        return raise(mine, argc, argv, arglen);
    return 0;
}

// The host sees the server's request fields and chooses the forward target
// as well; the server's own write-backs (subprotocol, status, headers) pass
// through the same argument slots.
int WebSocketProxy::onOpenRequest(void** argv, int* arglen)
{
    const int id = int(reinterpret_cast<intptr_t>(argv[0]));
    EventString host{textProp(P::DefaultForwardHost), {}};
    intptr_t port = intProp(P::DefaultForwardPort);
    int rc = 0;
    if (hasSink()) {
        void* ext[12] = {argv[0], argv[1], argv[2], argv[3], argv[4], argv[5],
                         argv[6], argv[7], argv[8], &host, reinterpret_cast<void*>(port), nullptr};
        int extLen[12] = {arglen[0], arglen[1], arglen[2], arglen[3], arglen[4], arglen[5],
                          arglen[6], arglen[7], arglen[8], 0, 0, 0};
        rc = raise(E::WebSocketOpenRequest, 11, ext, extLen);
        if (destroyed())
            return rc;
        argv[7] = ext[7];
        port = reinterpret_cast<intptr_t>(ext[10]);
    }
    if (reinterpret_cast<intptr_t>(argv[7]) != 101)
        return rc;   // refused: no connection will open
    Target& t = targets_[id];
    t.host = host.text.trimmed();
    t.port = port > 0 && port <= 65535 ? uint16_t(port) : 0;
    return rc;
}

void WebSocketProxy::onOpened(int id)
{
    Target target;
    if (auto it = targets_.find(id); it != targets_.end()) {
        target = it->second;
        targets_.erase(it);
    }
    auto owned = std::make_unique<Forward>();
    Forward& f = *owned;
    f.id = id;
    f.host = target.host;
    f.port = target.port;
    forwards_[id] = std::move(owned);
    // Nothing is read from the client until its bytes have somewhere to go.
    pauseWebSocket(f, true);

    if (f.host.isEmpty() || f.port == 0) {
        onTcpFailed(id, kConnectFailed, QStringLiteral("no forward host and port for this connection"));
        return;
    }
    const FirewallSettings fw{int(intProp(P::FirewallType)), textProp(P::FirewallHost), int(intProp(P::FirewallPort)),
                              textProp(P::FirewallUser), textProp(P::FirewallPassword), boolProp(P::FirewallAutoDetect)};
    if (fw.type != 0 && fw.host.isEmpty()) {
        // Going direct instead would bypass the firewall the host asked for.
        onTcpFailed(id, kProxyFailed, QStringLiteral("FirewallType is set but FirewallHost is empty"));
        return;
    }
    log(id, 1, QStringLiteral("Forwarding to %1:%2").arg(f.host).arg(f.port), QStringLiteral("Forward"));
    if (destroyed() || find(id) != &f)
        return;   // the host ended the connection or the proxy from the log event
    TransportConfig config;
    config.host = f.host;
    config.port = f.port;
    config.proxy = firewallProxy(fw, f.host, f.port);
    config.socketBufferSize = 1 << 20;

    TransportCallbacks cb;
    cb.stage = [this, id](const QString& stage) {
        InTransport busy;
        Entry entry(this);
        log(id, 2, stage, QStringLiteral("Forward"));
    };
    cb.ready = [this, id] {
        InTransport busy;
        Entry entry(this);
        onTcpReady(id);
    };
    cb.readable = [this, id] {
        InTransport busy;
        Entry entry(this);
        pumpToWebSocket(id);
    };
    cb.written = [this, id] {
        InTransport busy;
        Entry entry(this);
        onTcpWritten(id);
    };
    cb.failed = [this, id](int code, const QString& detail) {
        InTransport busy;
        Entry entry(this);
        onTcpFailed(id, code, detail);
    };
    cb.closed = [this, id] {
        InTransport busy;
        Entry entry(this);
        onTcpClosed(id);
    };
    const int64_t timeout = configInt("ForwardConnectTimeout");
    if (timeout > 0) {
        f.connectTimer.setSingleShot(true);
        QObject::connect(&f.connectTimer, &QTimer::timeout, [this, id] {
            SlotScope scope;
            InTransport busy;
            Entry entry(this);
            if (Forward* again = find(id); again && !again->tcpReady) {
                again->tcp.abort();
                onTcpFailed(id, kTimeout, QStringLiteral("connecting to %1:%2").arg(again->host).arg(again->port));
            }
        });
        f.connectTimer.start(int(std::min<int64_t>(timeout * 1000, kMaxInt)));
    }
    f.tcp.open(config, std::move(cb));
}

void WebSocketProxy::onWebSocketData(int id, const uint8_t* data, int n)
{
    Forward* f = find(id);
    if (f == nullptr || n <= 0 || f->closing)
        return;
    if (f->tcpReady) {
        if (!tcpWrite(*f, reinterpret_cast<const char*>(data), n)) {
            onTcpFailed(id, kConnectionLost, QStringLiteral("writing to %1:%2").arg(f->host).arg(f->port));
            return;
        }
        if (tcpQueued(*f) > forwardQueueLimit())
            pauseWebSocket(*f, true);
    } else {
        // Bytes that came with the handshake or before the pause took hold:
        // bounded by one read of the WebSocket side.
        f->toTcp.append(reinterpret_cast<const char*>(data), n);
    }
    if (hasSink()) {
        void* argv[4] = {iv(id), const_cast<uint8_t*>(data), iv(0), nullptr};
        int arglen[4] = {0, n, 0, 0};
        raise(E::DataIn, 3, argv, arglen);
    }
}

void WebSocketProxy::onWebSocketClosed(int id, void** argv, int* arglen)
{
    targets_.erase(id);
    Forward* f = find(id);
    if (f != nullptr && !f->tcpReady && !f->tcpEnded && !f->toTcp.isEmpty()) {
        // What the client sent before it left still reaches the forward host
        // once the connection is up; then the TCP side closes.
        f->clientGone = true;
        f->closing = true;
    } else {
        retire(id, true);
    }
    raise(E::Disconnected, 3, argv, arglen);
}

// ---- the TCP side ----

void WebSocketProxy::onTcpReady(int id)
{
    Forward* f = find(id);
    if (f == nullptr)
        return;
    f->connectTimer.stop();
    // A plain TCP connection (also after our own CONNECT or SOCKS4 exchange)
    // is read and written straight from its descriptor; Qt keeps a tunnel of its own.
    if (QTcpSocket* socket = f->tcp.release())
        f->stream = ByteStream::fromSocket(socket, kTcpSocketBuffer);
    if (!f->stream) {
        onTcpFailed(id, kConnectionLost, QStringLiteral("the connection to %1:%2 was lost").arg(f->host).arg(f->port));
        return;
    }
    f->listener.proxy = this;
    f->listener.id = id;
    f->stream->setListener(&f->listener);
    f->tcpReady = true;
    if (!f->toTcp.isEmpty()) {
        const QByteArray early = std::exchange(f->toTcp, QByteArray());
        if (!tcpWrite(*f, early.constData(), early.size())) {
            onTcpFailed(id, kConnectionLost, QStringLiteral("writing to %1:%2").arg(f->host).arg(f->port));
            return;
        }
    }
    if (f->clientGone) {
        retire(id, true);
        return;
    }
    if (tcpQueued(*f) <= forwardQueueLimit())
        pauseWebSocket(*f, false);
    if (hasSink()) {
        void* argv[2] = {iv(id), nullptr};
        int arglen[2] = {};
        raise(E::Connected, 1, argv, arglen);
    }
    // What the forward host sent with the connection's first packets.
    if (Forward* again = find(id); again != nullptr && again->stream && again->stream->bytesBuffered() > 0)
        pumpToWebSocket(id);
}

void WebSocketProxy::onTcpFailed(int id, int code, const QString& detail)
{
    Forward* f = find(id);
    if (f == nullptr)
        return;
    f->connectTimer.stop();
    if (f->clientGone) {
        retire(id, false);
        return;
    }
    const bool wasReady = f->tcpReady;
    const QString where = QStringLiteral("%1:%2").arg(f->host).arg(f->port);
    tcpClose(*f, false);
    f->tcpEnded = true;
    f->closing = true;
    // The client's close reply must still be read; its data goes nowhere.
    pauseWebSocket(*f, false);
    raiseError(id, code, QString::fromStdString(errorText(code, (where + ": " + detail).toStdString())));
    if (destroyed() || find(id) == nullptr)
        return;
    closeWebSocket(id, 1011, wasReady ? QStringLiteral("forward connection lost")
                                      : QStringLiteral("forward host unreachable"));
}

void WebSocketProxy::onTcpClosed(int id)
{
    Forward* f = find(id);
    if (f == nullptr)
        return;
    f->tcpEnded = true;
    // What the forward host sent before it closed still goes to the client.
    pumpToWebSocket(id);
}

void WebSocketProxy::onTcpWritten(int id)
{
    Forward* f = find(id);
    if (f != nullptr && f->wsPaused && f->tcpReady && tcpQueued(*f) <= forwardQueueLimit() / 2)
        pauseWebSocket(*f, false);
}

// TCP bytes to the WebSocket client while its queue takes them; a full queue
// leaves the rest in the (bounded) socket buffer until ReadyToSend.
void WebSocketProxy::pumpToWebSocket(int id)
{
    Forward* f = find(id);
    if (f == nullptr || f->closing)
        return;
    // A host handler that pumps events may bring us back here with the shared
    // buffer still in use.
    std::vector<char> own;
    char* buffer = scratch_.data();
    if (pumping_) {
        own.resize(size_t(kReadChunk));
        buffer = own.data();
    }
    const bool outer = !pumping_;
    pumping_ = true;
    bool failed = false;
    // A few reads per call: a raw stream calls again while more waits.
    for (int rounds = 0; (f = find(id)) != nullptr && !f->closing && !f->wsBlocked && !destroyed(); ++rounds) {
        if (rounds >= 16 && f->stream && f->stream->qtSocket() == nullptr)
            break;
        if (!f->toWs.isEmpty()) {
            const int rc = innerSend(id, f->toWs.constData(), f->toWs.size());
            if (rc == kSendQueueFull) {
                f->wsBlocked = true;
                break;
            }
            if (rc != 0)
                break;
            f->toWs.clear();
            continue;
        }
        const int64_t n = f->stream ? f->stream->read(buffer, kReadChunk) : 0;
        if (n < 0) {
            f->tcpEnded = true;
            failed = f->stream->status() == ByteStream::Status::Failed;
            break;
        }
        if (n == 0)
            break;
        const int rc = innerSend(id, buffer, n);
        if (rc == kSendQueueFull) {
            f->toWs = QByteArray(buffer, n);
            f->wsBlocked = true;
        } else if (rc != 0) {
            break;
        } else if (!innerReady(id)) {
            f->wsBlocked = true;   // over the queue limit: ReadyToSend follows when it drains
        }
        if (hasSink()) {
            void* argv[4] = {iv(id), buffer, iv(1), nullptr};
            int arglen[4] = {0, int(n), 0, 0};
            raise(E::DataIn, 3, argv, arglen);
        }
    }
    if (outer)
        pumping_ = false;
    f = find(id);
    if (f != nullptr && failed && !destroyed()) {
        onTcpFailed(id, kConnectionLost, f->stream ? f->stream->errorText() : QString());
        return;
    }
    if (f != nullptr)
        updateTcpPause(*f);
    if (f != nullptr && !destroyed() && f->tcpEnded && !f->closing && f->toWs.isEmpty()
        && (!f->stream || f->stream->bytesBuffered() == 0)) {
        f->closing = true;
        // The client's close reply must be read even if its data was held.
        pauseWebSocket(*f, false);
        closeWebSocket(id, 1000, QStringLiteral("forward connection closed"));
    }
}

void WebSocketProxy::TcpListener::streamReadable()
{
    InTransport busy;
    Entry entry(proxy);
    proxy->pumpToWebSocket(id);
}

void WebSocketProxy::TcpListener::streamWritten()
{
    InTransport busy;
    Entry entry(proxy);
    proxy->onTcpWritten(id);
}

bool WebSocketProxy::tcpWrite(Forward& f, const char* data, int64_t n)
{
    return f.stream && f.stream->write(data, n);
}

int64_t WebSocketProxy::tcpQueued(const Forward& f)
{
    return f.stream ? f.stream->bytesToWrite() : 0;
}

// Ends the TCP side, connecting or connected; flush hands what is queued
// to a lingering closer.
void WebSocketProxy::tcpClose(Forward& f, bool flush)
{
    if (f.stream) {
        if (flush)
            f.stream->closeAfterFlush(lingerMs());
        else
            f.stream->abort();
        f.stream.reset();
    }
    f.tcp.abort();
}

// TCP bytes are read only while they have somewhere to go: not while the
// WebSocket queue is full, not once the WebSocket side is closing.
void WebSocketProxy::updateTcpPause(Forward& f)
{
    if (f.stream)
        f.stream->setReadPaused(f.wsBlocked || f.closing);
}

void WebSocketProxy::pauseWebSocket(Forward& f, bool paused)
{
    if (f.wsPaused == paused || inner_ == nullptr)
        return;
    f.wsPaused = paused;
    inner_->set(SP::WebSocketConnectionAcceptData, f.id, paused ? nullptr : iv(1), 0);
}

// ---- the inner server ----

WebSocketProxy::Forward* WebSocketProxy::find(int id)
{
    const auto it = forwards_.find(id);
    return it == forwards_.end() ? nullptr : it->second.get();
}

const WebSocketProxy::Forward* WebSocketProxy::find(int id) const
{
    const auto it = forwards_.find(id);
    return it == forwards_.end() ? nullptr : it->second.get();
}

int WebSocketProxy::innerSend(int id, const char* data, qsizetype n)
{
    if (inner_ == nullptr)
        return kNotConnected;
    void* argv[3] = {iv(id), const_cast<char*>(data), nullptr};
    int arglen[3] = {0, int(n), 0};
    return inner_->doMethod(kMethodOffset + SM::Send, 2, argv, arglen);
}

bool WebSocketProxy::innerReady(int id)
{
    return inner_ != nullptr
        && inner_->get(SP::WebSocketConnectionReadyToSend, id, nullptr, nullptr) != nullptr;
}

// The close code is the object's CloseStatusCode setting; the proxy chooses
// its own for the ends it causes and puts the host's setting back.
void WebSocketProxy::closeWebSocket(int id, int code, const QString& reason)
{
    if (inner_ == nullptr)
        return;
    const QString oldCode = innerConfig(QStringLiteral("CloseStatusCode"));
    const QString oldReason = innerConfig(QStringLiteral("CloseDescription"));
    innerConfig(QStringLiteral("CloseStatusCode=%1").arg(code));
    innerConfig(QStringLiteral("CloseDescription=") + reason);
    void* argv[2] = {iv(id), nullptr};
    int arglen[2] = {};
    inner_->doMethod(kMethodOffset + SM::Disconnect, 1, argv, arglen);
    if (inner_ == nullptr)
        return;
    innerConfig(QStringLiteral("CloseStatusCode=") + oldCode);
    innerConfig(QStringLiteral("CloseDescription=") + oldReason);
}

QString WebSocketProxy::innerConfig(const QString& setting, int* rc)
{
    if (inner_ == nullptr) {
        if (rc)
            *rc = kNotConnected;
        return {};
    }
    void* argv[2] = {const_cast<char16_t*>(reinterpret_cast<const char16_t*>(setting.utf16())), nullptr};
    int arglen[2] = {};
    const int r = inner_->doMethod(kMethodOffset + SM::Config, 1, argv, arglen);
    if (rc)
        *rc = r;
    return wideArg(argv[1], 0);
}

int WebSocketProxy::copyInnerError(int rc)
{
    if (rc == 0 || inner_ == nullptr)
        return rc;
    return setLastErrorAndCode(rc, inner_->lastError());
}

void WebSocketProxy::retire(int id, bool flush)
{
    const auto it = forwards_.find(id);
    if (it == forwards_.end())
        return;
    std::unique_ptr<Forward> f = std::move(it->second);
    forwards_.erase(it);
    f->connectTimer.stop();
    tcpClose(*f, flush && f->tcpReady && !f->tcpEnded);
    retired_.push_back(std::move(f));
    if (!reaper_.isActive())
        reaper_.start(0);
}

void WebSocketProxy::raiseError(int id, int code, const QString& text)
{
    raiseConnectionError(E::Error, id, code, text);
}

void WebSocketProxy::log(int id, int level, const QString& message, const QString& type)
{
    raiseConnectionLog(E::Log, id, level, message, type);
}

int64_t WebSocketProxy::forwardQueueLimit() const
{
    return configInt("ForwardQueueLimit");
}

// How long a closing TCP side may take to hand over what is queued for it.
int WebSocketProxy::lingerMs() const
{
    return int(std::max<int64_t>(configInt("ForwardConnectTimeout"), 5) * 1000);
}

// ---- properties ----

bool WebSocketProxy::validIndex(const PropertyDef&, int index) const
{
    return inner_ != nullptr && inner_->checkIndex(SP::WebSocketConnectionConnected, index) == 0;
}

bool WebSocketProxy::readProperty(const PropertyDef& def, int index, Value& out)
{
    if (def.id == P::WebSocketProxyConnectionForwardHost || def.id == P::WebSocketProxyConnectionForwardPort) {
        QString host = textProp(P::DefaultForwardHost);
        int64_t port = intProp(P::DefaultForwardPort);
        if (const Forward* f = find(index)) {
            host = f->host;
            port = f->port;
        } else if (auto it = targets_.find(index); it != targets_.end()) {
            host = it->second.host;
            port = it->second.port;
        }
        out.text = host;
        out.i = port;
        return true;
    }
    const int n = innerNumber(def.id);
    if (n == 0 || inner_ == nullptr)
        return false;
    int length = 0;
    switch (def.type) {
    case PropType::Bool:
    case PropType::Int:
        out.i = reinterpret_cast<intptr_t>(inner_->get(n, index, nullptr, nullptr));
        return true;
    case PropType::String:
        out.text = wideArg(inner_->get(n + kStrOffset, index, nullptr, nullptr), 0);
        return true;
    case PropType::Bytes: {
        void* p = inner_->get(n, index, &length, nullptr);
        out.bytes = p ? QByteArray(static_cast<const char*>(p), length) : QByteArray();
        return true;
    }
    }
    return false;
}

int WebSocketProxy::writeProperty(const PropertyDef& def, int index, Value& in)
{
    const int n = innerNumber(def.id);
    if (n == 0)
        return -1;
    if (inner_ == nullptr)
        return fail(kNotConnected);
    int rc = 0;
    switch (def.type) {
    case PropType::Bool:
    case PropType::Int:
        rc = inner_->set(n, index, reinterpret_cast<void*>(static_cast<intptr_t>(in.i)), 0);
        break;
    case PropType::String:
        rc = inner_->set(n + kStrOffset, index, in.text.utf16(), 0);
        break;
    case PropType::Bytes:
        rc = inner_->set(n, index, in.bytes.isEmpty() ? nullptr : in.bytes.constData(), int(in.bytes.size()));
        break;
    }
    return copyInnerError(rc);
}

// ---- methods ----

int WebSocketProxy::invoke(int method, int argc, void** argv, int* arglen)
{
    clearError();
    if (inner_ == nullptr)
        return fail(kNotConnected);
    switch (method) {
    case M::Config: {
        const QString settings = argc > 0 ? wideArg(argv[0], arglen ? arglen[0] : 0) : QString();
        QString answer;
        for (const QString& line : settings.split(QRegularExpression("[\r\n]+"), Qt::SkipEmptyParts)) {
            const QString name = line.section('=', 0, 0).trimmed();
            bool alsoInner = false;
            int rc = 0;
            if (isOwnSetting(name, alsoInner)) {
                rc = configure(line, answer);
                if (rc == 0 && alsoInner) {
                    innerConfig(line, &rc);
                    rc = copyInnerError(rc);
                }
            } else {
                answer = innerConfig(line, &rc);
                rc = copyInnerError(rc);
            }
            if (rc != 0)
                return rc;
        }
        setWideResult(argv, arglen, std::max(argc, 1), answer);
        return 0;
    }
    case M::Disconnect:
    case M::Shutdown:
        return copyInnerError(inner_->doMethod(kMethodOffset + (method == M::Disconnect ? SM::Disconnect : SM::Shutdown),
                                               argc, argv, arglen));
    case M::DoEvents: {
        // What is pending, then a short wait for more. The wait's timer starts
        // only after the pending part: started before, a pending part longer
        // than the wait would use it up and leave the loop without a wake-up.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (destroyed())
            return 0;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
        return 0;
    }
    default:
        return fail(kUnknownMethod, std::to_string(kMethodOffset + method));
    }
}

} // namespace corvane::engine
