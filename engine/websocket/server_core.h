// The serving side of WebSocket, without any engine object: a listener, the
// accept path (with a descriptor held in reserve for when the process runs
// out of them), the table by id of openings (TLS and the opening request,
// server_opening.h) and the connections they become (ids are never reused
// while the core lives) and the bound on output queued over all
// connections. Its owner decides and hears through ServerEvents; the server
// object and the proxy are such owners.
#pragma once

#include "engine/websocket/server_opening.h"
#include "engine/websocket/ws_connection.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace corvane::engine {

class Listener;

struct ServerSettings {
    bool tls = false;                  // every accepted connection is TLS
    bool authenticateClients = false;  // TLS: the client must present a certificate
    QString trustedCAFile;             // PEM file of further CAs trusted for client certificates
    int defaultTimeout = 0;            // seconds without a whole frame; each connection starts with it
    size_t maxHeadSize = 16 << 10;     // the opening request's head
    int handshakeTimeoutMs = 20000;    // TLS and the opening request; 0 none
    ConnectionLimits limits;           // of every connection (its idle timeout aside)
    int64_t maxQueuedBytes = 64 << 20; // output queued over all connections; 0 no bound
};

// What the owner decides and hears. Any handler may end the connection, or
// stop the core (ServerCore::detachAll); the core looks before going on.
class ServerEvents {
public:
    virtual ~ServerEvents() = default;
    // A caller, before a byte is read; false closes it (no id is given).
    virtual bool serverConnectionRequest(const QHostAddress&, uint16_t /*port*/) { return true; }
    // TLS: puts the certificate and key this connection serves into ssl.
    // 0, or an error code with the text that goes with it.
    virtual int serverCertificate(int id, QSslConfiguration& ssl, std::string& error) = 0;
    // TLS with authenticateClients: the client's chain and its verification;
    // returns whether the client is accepted.
    virtual bool serverVerifyClient(int /*id*/, const QList<QSslCertificate>&, bool accept, const QString& /*status*/)
    {
        return accept;
    }
    virtual void serverTlsReady(int /*id*/) {}
    // A valid opening request; fill the answer fields.
    virtual void serverOpenRequest(int /*id*/, OpenRequest&) {}
    virtual void serverOpened(int id) = 0;
    virtual void serverData(int id, protocol::Opcode type, const uint8_t* data, size_t n, bool last) = 0;
    virtual void serverReadyToSend(int id) = 0;
    // Once per id, after which the id is gone; also for an opening that
    // never became a connection (refused, timed out, failed).
    virtual void serverClosed(int id, int statusCode, const QString& reason) = 0;
    // id 0: the listener.
    virtual void serverError(int id, int code, const QString& text) = 0;
    virtual void serverLog(int id, int level, const QString& message, const QString& type) = 0;
};

class ServerCore final : private ConnectionEvents, private OpeningEvents {
public:
    explicit ServerCore(ServerEvents& events);
    ~ServerCore() override;
    ServerCore(const ServerCore&) = delete;
    ServerCore& operator=(const ServerCore&) = delete;

    // Applies at once to the open connections' limits and to the bound.
    void setSettings(const ServerSettings& settings);
    const ServerSettings& settings() const { return settings_; }

    // 0, or kListenFailed with why.
    int listen(const QHostAddress& address, uint16_t port, int backlog, QString& why);
    void stopListening();
    bool isListening() const;
    uint16_t port() const;

    // The facts of an opening or a connection; null for an unknown id.
    const PeerFacts* peer(int id) const;
    // Null while the id is still opening.
    WsConnection* connection(int id) const;
    // Openings and connections.
    size_t connectionCount() const { return conns_.size(); }
    // OnConnected-like: the owner has heard serverOpened for it.
    bool opened(int id) const;
    int idleTimeout(int id) const;
    void setIdleTimeout(int id, int seconds);
    // The owner's own hold on reading (kept across the opening).
    bool acceptsData(int id) const;
    void setAcceptData(int id, bool accept);
    // Starts the close handshake of a connection; ends an opening at once.
    void close(int id, uint16_t code, const std::string& reason);

    // Stops listening and closes every connection with 1001.
    void shutdown();
    // Ends every connection without a callback and stops listening, for good
    // (the owner is going).
    void detachAll();

private:
    // An opening until it is accepted, then a connection.
    struct Conn {
        std::unique_ptr<ServerOpening> opening;
        std::unique_ptr<WsConnection> ws;
        int timeout = 0;              // seconds, idle
        bool opened = false;
        bool acceptData = true;
        bool clientAuthAsked = false;
        int64_t queued = 0;           // its part of queuedTotal_
        bool heldByBound = false;     // reading paused: the server-wide queue bound
    };

    void onIncoming(qintptr descriptor);
    void onAcceptError(int error);
    void resumeAcceptingSoon(int ms);
    int configureTls(QSslSocket& socket, int id);
    ConnectionLimits limitsFor(int timeoutSeconds) const;
    OpeningLimits openingLimits() const;
    Conn* find(int id);
    const Conn* find(int id) const;
    void holdByBound(Conn& c, bool held);
    void releaseAllHeld();

    // OpeningEvents
    bool openingVerifyPeer(ServerOpening&, const QList<QSslCertificate>&, bool accept, const QString&) override;
    void openingTlsReady(ServerOpening&) override;
    void openingRequest(ServerOpening&, OpenRequest&) override;
    void openingAccepted(ServerOpening&, Handover&& handover) override;
    void openingError(ServerOpening&, int code, const QString& text) override;
    void openingLog(ServerOpening&, int level, const QString& message, const QString& type) override;
    void openingEnded(ServerOpening&, int statusCode, const QString& reason) override;
    // Gone from the table before the owner hears of it.
    void ended(int id, int statusCode, const QString& reason);

    // ConnectionEvents
    void connectionOpened(WsConnection&) override;
    void connectionData(WsConnection&, protocol::Opcode, const uint8_t*, size_t, bool) override;
    void connectionReadyToSend(WsConnection&) override;
    void connectionError(WsConnection&, int code, const QString& text) override;
    void connectionClosed(WsConnection&, int statusCode, const QString& reason) override;
    void connectionLog(WsConnection&, int level, const QString& message, const QString& type) override;
    void connectionQueueChanged(WsConnection&) override;

    ServerEvents& events_;
    ServerSettings settings_;
    std::unique_ptr<Listener> listener_;
    std::map<int, Conn> conns_;
    int nextId_ = 1;
    bool detached_ = false;
    bool outOfDescriptors_ = false;   // said once until a caller is taken again
    int64_t queuedTotal_ = 0;         // output queued on every connection
    std::vector<int> held_;           // connections whose reading the bound paused
    QObject timerContext_;            // the core's own timers go with it
};

} // namespace corvane::engine
