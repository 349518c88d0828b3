// The WebSocket client object behind CorvaneWS_WebSocketClient_*.
#pragma once

#include "engine/protocol/frame_codec.h"
#include "engine/protocol/handshake.h"
#include "engine/protocol/http_auth.h"
#include "engine/protocol/http_head.h"
#include "engine/include/corvanews20_client.h"
#include "engine/src/engine_object.h"
#include "engine/src/transport.h"

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

class WebSocketClient final : public EngineObject, private protocol::FrameSink {
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
    void doEvents();
    void addCookie(const QString& name, const QString& value);

    // connection
    int startAttempt();
    int buildTransportConfig(TransportConfig& config);
    void onTransportReady(uint64_t gen);
    void onReadable(uint64_t gen);
    // Returns how many bytes at the end it left for the next read.
    size_t process(uint8_t* data, size_t n);
    void handleHead();
    bool handleRedirect(const protocol::HttpHead& head);
    bool handleUnauthorized(const protocol::HttpHead& head);
    bool onVerify(const QList<QSslCertificate>& chain, bool verified, const QString& status);
    void onTransportFailed(uint64_t gen, int code, const QString& detail);
    void onTransportClosed(uint64_t gen);
    void onWritten(uint64_t gen);
    void finishConnect(int code, const QString& detail);
    void finishDisconnect(int statusCode, const QString& description, bool graceful = false);
    void dropConnection(bool graceful = false);
    void handlePendingClose();

    // frames
    bool sendFrame(protocol::Opcode op, bool fin, const uint8_t* data, size_t n);
    bool sendControl(protocol::Opcode op, const std::string& payload);
    void flushPendingControl();

    // FrameSink
    void onData(protocol::Opcode type, const uint8_t* data, size_t n, bool last) override;
    void onPing(const uint8_t* data, size_t n) override;
    void onPong(const uint8_t* data, size_t n) override;
    void onClose(uint16_t code, std::string_view reason) override;
    void onProtocolError(uint16_t closeCode, std::string_view reason) override;

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
    std::unique_ptr<protocol::FrameDecoder> decoder_;
    std::vector<std::unique_ptr<protocol::FrameDecoder>> retiredDecoders_;
    protocol::HttpHeadParser headParser_;
    std::string headRaw_;
    std::vector<uint8_t> readBuffer_;
    uint8_t heldBytes_[4] = {0, 0, 0, 0};   // a text character the last read cut off
    size_t heldLength_ = 0;
    std::vector<uint8_t> sendBuffer_;
    QRandomGenerator rng_;

    uint64_t connGen_ = 0;      // changes whenever a connection is dropped or started
    uint64_t activeGen_ = 0;    // generation whose bytes the decoder is being fed
    bool feeding_ = false;

    QString urlText_;
    protocol::WsUrl url_;
    std::string key_;
    std::string authorization_;
    int redirects_ = 0;
    int authAttempts_ = 0;
    int connectResult_ = 0;
    bool connectPending_ = false;
    std::string connectErrorText_;

    std::vector<CookieEntry> cookies_;
    std::vector<std::pair<QString, QString>> parsedHeaders_;
    QByteArray serverCert_;
    int64_t bytesSent_ = 0;

    bool closeSent_ = false;
    std::optional<std::pair<uint16_t, std::string>> pendingClose_;
    bool pendingCloseIsError_ = false;
    QTimer closeTimer_;

    bool sendingFile_ = false;
    bool outputBlocked_ = false;
    std::vector<std::pair<protocol::Opcode, std::string>> pendingControl_;

    bool interrupted_ = false;
    std::vector<QEventLoop*> waitLoops_;
};

} // namespace corvane::engine
