// The WebSocket proxy object behind CorvaneWS_WebSocketProxy_*. It accepts
// WebSocket connections with the engine's server core (the same listener,
// TLS, handshake and connection core as the server object's), and joins
// each one to a TCP connection to its forward host: message payload goes to
// the TCP side unchanged, TCP bytes come back as binary messages, and either
// side ending ends the other. Each direction reads only while the other
// side's queue has room, so a slow reader holds up its writer instead of
// filling the proxy's memory.
#pragma once

#include "engine/include/corvanews20_proxy.h"
#include "engine/transport/byte_stream.h"
#include "engine/objects/server_object.h"
#include "engine/transport/transport.h"

#include <QTimer>

#include <map>
#include <memory>
#include <vector>

namespace corvane::engine {

namespace proxy_prop = corvanews20::proxy::prop;
namespace proxy_event = corvanews20::proxy::event;
namespace proxy_method = corvanews20::proxy::method;

std::span<const PropertyDef> proxyProperties();
// The proxy's own Config settings; it takes the server's settings of serving as well.
std::span<const ConfigDef> proxyConfig();

class WebSocketProxy final : public ServerObject {
public:
    WebSocketProxy(CorvaneWS_EventSink sink, void* user);
    ~WebSocketProxy() override;

protected:
    bool readProperty(const PropertyDef& def, int index, Value& out) override;
    int invoke(int method, int argc, void** argv, int* arglen) override;
    void onDestroyRequested() override;

private:
    void stopForwarding();
    // The TCP side's stream calls here.
    struct TcpListener final : ByteStream::Listener {
        WebSocketProxy* proxy = nullptr;
        int id = 0;
        void streamReadable() override;
        void streamWritten() override;
    };
    // The TCP side of one accepted connection.
    struct Forward {
        int id = 0;
        QString host;
        uint16_t port = 0;
        ClientTransport tcp;          // connecting (through the firewall, if any)
        std::unique_ptr<ByteStream> stream;   // connected: what the transport handed over
        TcpListener listener;
        QTimer connectTimer;
        bool tcpReady = false;
        bool tcpEnded = false;      // the forward host closed its side
        bool wsPaused = false;      // WebSocket reading held: TCP not ready or its queue full
        bool wsBlocked = false;     // the WebSocket queue is full: TCP reading waits for ReadyToSend
        bool closing = false;       // the WebSocket side is closing; nothing more goes to it
        bool clientGone = false;    // the client left while the TCP side was connecting
        QByteArray toTcp;           // WebSocket data that came before the TCP side was ready
        QByteArray toWs;            // TCP bytes the full WebSocket queue refused
    };
    struct Target {
        QString host;
        uint16_t port = 0;
    };

    // ServerEvents: the WebSocket side.
    void serverOpenRequest(int id, OpenRequest& open) override;
    void serverOpened(int id) override;
    void serverData(int id, protocol::Opcode type, const uint8_t* data, size_t n, bool last) override;
    void serverReadyToSend(int id) override;
    void serverClosed(int id, int statusCode, const QString& reason) override;
    void onWebSocketData(int id, const uint8_t* data, int n);

    void onTcpReady(int id);
    void onTcpFailed(int id, int code, const QString& detail);
    void onTcpClosed(int id);
    void onTcpWritten(int id);
    void pumpToWebSocket(int id);
    void pauseWebSocket(Forward& f, bool paused);
    bool tcpWrite(Forward& f, const char* data, int64_t n);
    static int64_t tcpQueued(const Forward& f);
    void tcpClose(Forward& f, bool flush);
    static void updateTcpPause(Forward& f);

    Forward* find(int id);
    const Forward* find(int id) const;
    int sendToClient(int id, const char* data, qsizetype n);
    bool clientReady(int id) const;
    void closeWebSocket(int id, int code, const QString& reason);
    void retire(int id, bool flush);
    int64_t forwardQueueLimit() const;
    int lingerMs() const;

    std::map<int, std::unique_ptr<Forward>> forwards_;
    std::map<int, Target> targets_;     // chosen at the open request, used when the connection opens
    std::vector<char> scratch_;
    bool pumping_ = false;
};

} // namespace corvane::engine
