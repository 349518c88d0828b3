// The WebSocket server object behind CorvaneWS_WebSocketServer_*: a listener
// whose accepted connections are WsConnections in the server role, each
// known by an id that is never reused while the object lives.
#pragma once

#include "engine/include/corvanews20_server.h"
#include "engine/objects/connection_reaper.h"
#include "engine/objects/engine_object.h"
#include "engine/objects/server_certificate.h"
#include "engine/websocket/ws_connection.h"

#include <QTcpServer>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace corvane::engine {

namespace server_prop = corvanews20::server::prop;
namespace server_event = corvanews20::server::event;
namespace server_method = corvanews20::server::method;

std::span<const PropertyDef> serverProperties();
std::span<const ConfigDef> serverConfig();

// Hands each accepted descriptor over before Qt wraps it in a socket, so a
// refused connection is closed before a byte is read.
class Listener final : public QTcpServer {
public:
    ~Listener() override;
    std::function<void(qintptr)> onIncoming;

    // One descriptor held in reserve while listening: out of descriptors,
    // it is let go for a moment to take the waiting callers off the queue
    // and close them, so the listener does not wake again and again for
    // callers it cannot take, and they learn at once instead of hanging.
    void holdSpare();
    void releaseSpare();
    // Closes every caller waiting in the queue; false when no descriptor
    // could be had for it.
    bool turnAwayWaiting();

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    int spare_ = -1;
};

// What accepting needs to know; the server and the proxy fill it from their
// properties and Config.
struct AcceptSettings {
    bool tls = false;
    bool authenticateClients = false;
    QList<QSslCertificate> trustedClientCAs;
    ConnectionLimits limits;
};

class WebSocketServer final : public EngineObject, public ConnectionEvents {
public:
    WebSocketServer(CorvaneWS_EventSink sink, void* user);
    ~WebSocketServer() override;

protected:
    bool validIndex(const PropertyDef& def, int index) const override;
    bool readProperty(const PropertyDef& def, int index, Value& out) override;
    int writeProperty(const PropertyDef& def, int index, Value& in) override;
    int invoke(int method, int argc, void** argv, int* arglen) override;
    void onDestroyRequested() override;
    void onConfigChanged(const ConfigDef& def) override;

private:
    struct Conn {
        std::unique_ptr<WsConnection> ws;
        int dataFormat = 0;
        bool acceptData = true;
        int timeout = 0;              // seconds, idle
        bool opened = false;          // OnConnected raised
        bool clientAuthAsked = false;
        int64_t queued = 0;           // its part of queuedTotal_
        bool heldByBound = false;     // reading paused: the server-wide queue bound
    };

    int startListening();
    void onAcceptError(QAbstractSocket::SocketError error);
    void stopListening();
    void shutdown();
    void onIncoming(qintptr descriptor);
    int configureTls(QSslSocket& socket, int id);
    CertificateSource certificateSource() const;
    ConnectionLimits limitsFor(int timeoutSeconds) const;
    Conn* find(int id);
    const Conn* find(int id) const;
    int sendTo(int id, protocol::Opcode op, const uint8_t* data, size_t n);
    void doEvents();

    // ConnectionEvents
    void connectionOpenRequest(WsConnection&, OpenRequest&) override;
    void connectionOpened(WsConnection&) override;
    void connectionData(WsConnection&, protocol::Opcode, const uint8_t*, size_t, bool) override;
    void connectionReadyToSend(WsConnection&) override;
    void connectionError(WsConnection&, int code, const QString& text) override;
    void connectionClosed(WsConnection&, int statusCode, const QString& reason) override;
    void connectionLog(WsConnection&, int level, const QString& message, const QString& type) override;
    bool connectionVerifyPeer(WsConnection&, const QList<QSslCertificate>&, bool accept, const QString&) override;
    void connectionTlsReady(WsConnection&) override;
    void connectionQueueChanged(WsConnection&) override;
    void connectionEnter() override;
    void connectionLeave() override;

    void holdByBound(Conn& c, bool held);
    void raiseError(int id, int code, const QString& text);
    void log(int id, int level, const QString& message, const QString& type);

    Listener listener_;
    std::map<int, Conn> conns_;
    int nextId_ = 1;
    ServerCertificate certificate_;
    bool certificateLoaded_ = false;
    std::vector<std::unique_ptr<Entry>> entries_;
    bool outOfDescriptors_ = false;
    int64_t maxQueued_ = 0;           // MaxQueuedBytes
    int64_t queuedTotal_ = 0;         // output queued on every connection
    std::vector<int> held_;           // connections whose reading the bound paused   // said once until a caller is taken again
    // Last, so it goes first: ended connections are detached before anything else goes.
    ConnectionReaper reaper_{*this};
};

} // namespace corvane::engine
