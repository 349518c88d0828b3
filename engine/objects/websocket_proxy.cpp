#include "engine/objects/websocket_proxy.h"

#include "engine/objects/event_args.h"
#include "engine/transport/deferred_delete.h"
#include "engine/transport/firewall.h"

#include <QTcpSocket>

#include <algorithm>
#include <cstring>
#include <limits>

namespace corvane::engine {

namespace P = proxy_prop;
namespace E = proxy_event;
namespace M = proxy_method;
using protocol::Opcode;

namespace {

constexpr int64_t kMaxInt = std::numeric_limits<int>::max();
constexpr qsizetype kReadChunk = 256 << 10;        // TCP bytes per WebSocket message at most
constexpr int64_t kTcpSocketBuffer = 1 << 20;       // Qt's read-ahead bound when the TCP side is a Qt socket
constexpr int64_t kSendQueueLimit = 4 << 20;        // the proxy's default for its WebSocket side

// The proxy's own properties; the rows it shares with the server take the
// server's limits.
const PropertyLimits kLimits[] = {
    {P::DefaultForwardPort, 0, 65535, 0, ""},
    {P::FirewallType, 0, 3, 0, ""},
    {P::FirewallPort, 0, 65535, 0, ""},
};

// Settings of the proxy itself (engine/README.md lists them).
const ConfigDef kConfig[] = {
    CORVANE_COMMON_CONFIG,
    {"ForwardQueueLimit", ConfigType::Int, 4096, int64_t(1) << 32, 4 << 20, ""},
    {"ForwardConnectTimeout", ConfigType::Int, 0, 3600, 30, ""},
};

// Its own settings, then the server's settings of serving.
const std::vector<ConfigDef>& allConfig()
{
    static const std::vector<ConfigDef> rows = [] {
        std::vector<ConfigDef> all(std::begin(kConfig), std::end(kConfig));
        for (ConfigDef d : servingConfig()) {
            if (std::strcmp(d.name, "SendQueueLimit") == 0)
                d.defaultInt = kSendQueueLimit;
            all.push_back(d);
        }
        return all;
    }();
    return rows;
}

} // namespace

std::span<const PropertyDef> proxyProperties()
{
    static const std::vector<PropertyDef> defs = [] {
        std::vector<PropertyLimits> limits(std::begin(kLimits), std::end(kLimits));
        const std::vector<PropertyLimits> shared = mirroredServerLimits(corvanews20::proxy::kTables);
        limits.insert(limits.end(), shared.begin(), shared.end());
        return buildPropertyDefs(corvanews20::proxy::kTables, limits);
    }();
    return defs;
}
std::span<const ConfigDef> proxyConfig() { return kConfig; }

WebSocketProxy::WebSocketProxy(CorvaneWS_EventSink sink, void* user)
    : ServerObject(sink, user, corvanews20::proxy::kTables, proxyProperties(), allConfig()),
      scratch_(size_t(kReadChunk))
{
}

WebSocketProxy::~WebSocketProxy()
{
    stopForwarding();
    for (auto& [id, f] : forwards_)
        deferDelete(std::move(f));
    forwards_.clear();
}

void WebSocketProxy::onDestroyRequested()
{
    stopForwarding();
}

// The WebSocket side stops and every TCP side is closed; the forwards stay
// until their owner lets them go.
void WebSocketProxy::stopForwarding()
{
    core().detachAll();
    for (auto& [id, f] : forwards_) {
        f->connectTimer.stop();
        tcpClose(*f, false);
    }
}

// ---- the WebSocket side ----

// The host sees the server's request fields and chooses the forward target
// as well.
void WebSocketProxy::serverOpenRequest(int id, OpenRequest& open)
{
    EventString host{textProp(P::DefaultForwardHost), {}};
    intptr_t port = intProp(P::DefaultForwardPort);
    if (hasSink()) {
        OpenRequestArgs args(id, open);
        void* argv[OpenRequestArgs::kCount + 3] = {};
        int arglen[OpenRequestArgs::kCount + 3] = {};
        args.fill(argv);
        argv[OpenRequestArgs::kCount] = &host;
        argv[OpenRequestArgs::kCount + 1] = iv(port);
        raise(E::WebSocketOpenRequest, OpenRequestArgs::kCount + 2, argv, arglen);
        args.readBack(argv, open);
        if (destroyed())
            return;
        port = reinterpret_cast<intptr_t>(argv[OpenRequestArgs::kCount + 1]);
    }
    if (open.status != 101)
        return;   // refused: no connection will open
    Target& t = targets_[id];
    t.host = host.text.trimmed();
    t.port = port > 0 && port <= 65535 ? uint16_t(port) : 0;
}

void WebSocketProxy::serverReadyToSend(int id)
{
    if (Forward* f = find(id)) {
        f->wsBlocked = false;
        updateTcpPause(*f);
        pumpToWebSocket(id);
    }
}

void WebSocketProxy::serverData(int id, Opcode, const uint8_t* data, size_t n, bool)
{
    onWebSocketData(id, data, int(n));
}

void WebSocketProxy::serverOpened(int id)
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
        EntryGuard guard;
        log(id, 2, stage, QStringLiteral("Forward"));
    };
    cb.ready = [this, id] {
        EntryGuard guard;
        onTcpReady(id);
    };
    cb.readable = [this, id] {
        EntryGuard guard;
        pumpToWebSocket(id);
    };
    cb.written = [this, id] {
        EntryGuard guard;
        onTcpWritten(id);
    };
    cb.failed = [this, id](int code, const QString& detail) {
        EntryGuard guard;
        onTcpFailed(id, code, detail);
    };
    cb.closed = [this, id] {
        EntryGuard guard;
        onTcpClosed(id);
    };
    const int64_t timeout = configInt("ForwardConnectTimeout");
    if (timeout > 0) {
        f.connectTimer.setSingleShot(true);
        QObject::connect(&f.connectTimer, &QTimer::timeout, [this, id] {
            EntryGuard guard;
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

void WebSocketProxy::serverClosed(int id, int statusCode, const QString& reason)
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
    raiseConnectionStatus(E::Disconnected, id, statusCode, reason);
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
    raiseConnectionOpened(E::Connected, id);
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
            const int rc = sendToClient(id, f->toWs.constData(), f->toWs.size());
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
        const int rc = sendToClient(id, buffer, n);
        if (rc == kSendQueueFull) {
            f->toWs = QByteArray(buffer, n);
            f->wsBlocked = true;
        } else if (rc != 0) {
            break;
        } else if (!clientReady(id)) {
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
    EntryGuard guard;
    proxy->pumpToWebSocket(id);
}

void WebSocketProxy::TcpListener::streamWritten()
{
    EntryGuard guard;
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
    if (f.wsPaused == paused)
        return;
    f.wsPaused = paused;
    core().setAcceptData(f.id, !paused);
}

// ---- forwards ----

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

int WebSocketProxy::sendToClient(int id, const char* data, qsizetype n)
{
    WsConnection* ws = core().connection(id);
    if (ws == nullptr)
        return kInvalidIndex;
    return ws->sendMessage(Opcode::Binary, reinterpret_cast<const uint8_t*>(data), size_t(n));
}

bool WebSocketProxy::clientReady(int id) const
{
    const WsConnection* ws = core().connection(id);
    return ws != nullptr && ws->readyToSend();
}

// The proxy chooses the close code of the ends it causes.
void WebSocketProxy::closeWebSocket(int id, int code, const QString& reason)
{
    core().close(id, uint16_t(code), reason.toStdString());
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
    // Its transport's own callback may be on the stack.
    deferDelete(std::move(f));
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
    return ServerObject::readProperty(def, index, out);
}

// ---- methods ----

int WebSocketProxy::invoke(int method, int argc, void** argv, int* arglen)
{
    clearError();
    switch (method) {
    case M::Config: return configMethod(argc, argv, arglen);
    case M::Disconnect: return disconnect(argc, argv);
    case M::DoEvents: doEvents(); return 0;
    case M::Shutdown: core().shutdown(); return 0;
    default:
        return fail(kUnknownMethod, std::to_string(kMethodOffset + method));
    }
}

} // namespace corvane::engine
