// The WebSocket client object behind CorvaneWS_WebSocketClient_*.
#pragma once

#include "engine/protocol/frame_codec.h"
#include "engine/protocol/handshake.h"
#include "engine/protocol/http_auth.h"
#include "engine/include/corvanews20_client.h"
#include "engine/objects/engine_object.h"
#include "engine/transport/transport.h"
#include "engine/websocket/client_opening.h"
#include "engine/websocket/ws_connection.h"

#include <QRandomGenerator>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

class QEventLoop;

namespace corvane::engine {

namespace client_prop = corvanews20::client::prop;
namespace client_event = corvanews20::client::event;
namespace client_method = corvanews20::client::method;

std::span<const PropertyDef> clientProperties();
std::span<const ConfigDef> clientConfig();

// The client decides the opening handshake (the request, redirects,
// authentication, cookies); a ClientOpening does its byte work over the
// transport's stream. Once the server has answered 101 the stream goes to a
// WsConnection in the client role, which carries frames, the send queue,
// pings, the close handshake and the idle and keep-alive timers.
class WebSocketClient final : public EngineObject, private ConnectionEvents, private ClientOpeningEvents {
public:
    WebSocketClient(CorvaneWS_EventSink sink, void* user);
    ~WebSocketClient() override;

protected:
    int indexCount(const PropertyDef& def) const override;
    bool readProperty(const PropertyDef& def, int index, Value& out) override;
    int writeProperty(const PropertyDef& def, int index, Value& in) override;
    int invoke(int method, int argc, void** argv, int* arglen) override;
    void onDestroyRequested() override;

private:
    enum class State { Idle, Connecting, Handshake, Open, Closing };
    struct CookieEntry {
        QString name, value, expires, domain, path;
        bool secure = false;
    };

    // methods
    int connectTo(const QString& url);
    int disconnect(bool wait);
    int sendMessage(protocol::Opcode op, const uint8_t* data, size_t n);
    int sendFile(const QString& fileName);
    int sendPing();
    void interrupt();
    void reset();
    void addCookie(const QString& name, const QString& value);

    // opening handshake
    int startAttempt();
    int buildTransportConfig(TransportConfig& config);
    void onTransportReady(uint64_t gen);
    bool handleRedirect(const protocol::HttpHead& head);
    bool handleUnauthorized(const protocol::HttpHead& head);
    bool onVerify(const QList<QSslCertificate>& chain, bool verified, const QString& status);
    void onTransportFailed(uint64_t gen, int code, const QString& detail);
    void onTransportClosed(uint64_t gen);
    void finishConnect(int code, const QString& detail);
    void open();
    // Leaves the attempt or the connection at once, without events.
    void dropConnection();
    ConnectionLimits connectionLimits() const;

    // ClientOpeningEvents
    void openingAnswered(ClientOpening&) override;
    void openingFailed(ClientOpening&, int code, const QString& detail) override;

    // ConnectionEvents
    void connectionOpened(WsConnection&) override;
    void connectionData(WsConnection&, protocol::Opcode type, const uint8_t* data, size_t n, bool last) override;
    void connectionReadyToSend(WsConnection&) override;
    void connectionError(WsConnection&, int code, const QString& text) override;
    void connectionClosed(WsConnection&, int statusCode, const QString& reason) override;
    void connectionLog(WsConnection&, int level, const QString& message, const QString& type) override;

    // events
    void raiseConnectionStatus(const QString& what, int code, const QString& description);
    void raiseError(int code, const QString& description);
    void log(int level, const QString& message, const QString& type);
    void raiseReadyToSend();

    int waitFor(const std::function<bool()>& done, int timeoutSeconds);
    void wake();
    bool readyToSend() const;
    QList<QSslCertificate> acceptedCertificates() const;

    State state_ = State::Idle;
    ClientTransport transport_;
    std::unique_ptr<ClientOpening> opening_;
    std::unique_ptr<WsConnection> conn_;
    std::string headRaw_;
    QRandomGenerator rng_;

    uint64_t connGen_ = 0;      // changes whenever an attempt is dropped or started

    QString urlText_;
    protocol::WsUrl url_;
    std::string key_;
    std::string authorization_;
    int redirects_ = 0;
    int authAttempts_ = 0;
    int connectResult_ = 0;
    bool connectPending_ = false;
    uint64_t connectSerial_ = 0;   // which asynchronous Connect a ConnectTimeout belongs to
    std::string connectErrorText_;
    bool announcing_ = false;      // the connection is opening: its first ReadyToSend was raised after OnConnected

    std::vector<CookieEntry> cookies_;
    std::vector<std::pair<QString, QString>> parsedHeaders_;
    QByteArray serverCert_;
    int64_t bytesSent_ = 0;        // of the last connection, once it has ended

    bool sendingFile_ = false;
    bool interrupted_ = false;
    std::vector<QEventLoop*> waitLoops_;
    QObject timerContext_;   // the object's own timers go with it
};

} // namespace corvane::engine
