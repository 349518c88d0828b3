// A host of one WebSocket server object for the tests, with the tests' own
// list of the server's numbers (so a renumbering in the engine is caught), and
// raw-socket helpers that speak the opening handshake and frames by hand.
#pragma once

#include "engine/include/corvanews20.h"
#include "engine_test_support.h"

#include <QTcpSocket>

#include <sys/socket.h>

#include <map>

namespace engine_test {

namespace srv {
enum Prop {
    sConnectionBacklog = 1, sConnectionCount, sAcceptData, sBytesSent, sConnected, sConnectionId, sDataFormat,
    sDataToSend, sHost, sLocalAddress, sOrigin, sReadyToSend, sRemoteHost, sRemotePort, sRequestHeaders,
    sRequestURI, sSubProtocols, sConnTimeout, sDefaultTimeout, sListening, sLocalHost, sLocalPort,
    sSSLAuthenticateClients, sSSLCertEncoded, sSSLCertStore, sSSLCertStorePassword, sSSLCertStoreType,
    sSSLCertSubject, sUseSSL,
};
enum Method { sConfig = 10002, sDisconnect, sDoEvents, sInterrupt, sSend, sSendFile, sSendText, sShutdown };
enum Event {
    seConnected = 1, seConnectionRequest, seDataIn, seDisconnected, seError, seLog, seReadyToSend,
    seSSLClientAuthentication, seSSLConnectionRequest, seSSLStatus, seWebSocketOpenRequest,
};
} // namespace srv

inline QString evtStr(void* p)
{
    return wide(CorvaneWS_EvtStr(p, 0, nullptr, 2));
}
inline void setEvtStr(void* p, const QString& text)
{
    CorvaneWS_EvtStr(p, 2, const_cast<char16_t*>(reinterpret_cast<const char16_t*>(text.utf16())), 2);
}

class ServerHost : public EventLog {
public:
    using Handler = std::function<int(int argc, void** argv, int* arglen)>;

    ServerHost() { h_ = CorvaneWS_WebSocketServer_Create(&ServerHost::sink, this, nullptr, 1); }
    ~ServerHost()
    {
        if (h_)
            CorvaneWS_WebSocketServer_Destroy(h_);
    }
    ServerHost(const ServerHost&) = delete;
    ServerHost& operator=(const ServerHost&) = delete;

    void* handle() const { return h_; }
    void destroy()
    {
        CorvaneWS_WebSocketServer_Destroy(h_);
        h_ = nullptr;
    }

    int setInt(int id, intptr_t v, int index = 0)
    {
        return CorvaneWS_WebSocketServer_Set(h_, id, index, reinterpret_cast<void*>(v), 0);
    }
    int setText(int id, const QString& text)
    {
        return CorvaneWS_WebSocketServer_Set(h_, id + 10000, 0, text.utf16(), 0);
    }
    int setBytes(int id, const QByteArray& b, int index = 0)
    {
        return CorvaneWS_WebSocketServer_Set(h_, id, index, b.isEmpty() ? nullptr : b.constData(), int(b.size()));
    }
    intptr_t getInt(int id, int index = 0) { return num(CorvaneWS_WebSocketServer_Get(h_, id, index, nullptr, nullptr)); }
    QString getText(int id, int index = 0)
    {
        return wide(CorvaneWS_WebSocketServer_Get(h_, id + 10000, index, nullptr, nullptr));
    }
    QByteArray getBytes(int id)
    {
        int n = 0;
        void* p = CorvaneWS_WebSocketServer_Get(h_, id, 0, &n, nullptr);
        return p ? QByteArray(static_cast<const char*>(p), n) : QByteArray();
    }
    int checkIndex(int id, int index) { return CorvaneWS_WebSocketServer_CheckIndex(h_, id, index); }
    QString lastError() const
    {
        const char* t = CorvaneWS_WebSocketServer_GetLastError(h_);
        return t ? QString::fromUtf8(t) : QString();
    }
    int call(int method) { return CorvaneWS_WebSocketServer_Do(h_, method, 0, nullptr, nullptr, nullptr); }
    int callId(int method, int connectionId)
    {
        void* argv[2] = {reinterpret_cast<void*>(intptr_t(connectionId)), nullptr};
        int arglen[2] = {0, 0};
        return CorvaneWS_WebSocketServer_Do(h_, method, 1, argv, arglen, nullptr);
    }
    int send(int connectionId, const QByteArray& data)
    {
        void* argv[3] = {reinterpret_cast<void*>(intptr_t(connectionId)),
                         data.isEmpty() ? nullptr : const_cast<char*>(data.constData()), nullptr};
        int arglen[3] = {0, int(data.size()), 0};
        return CorvaneWS_WebSocketServer_Do(h_, srv::sSend, 2, argv, arglen, nullptr);
    }
    int sendText(int method, int connectionId, const QString& text)
    {
        void* argv[3] = {reinterpret_cast<void*>(intptr_t(connectionId)),
                         const_cast<char16_t*>(reinterpret_cast<const char16_t*>(text.utf16())), nullptr};
        int arglen[3] = {0, 0, 0};
        return CorvaneWS_WebSocketServer_Do(h_, method, 2, argv, arglen, nullptr);
    }
    QString config(const QString& setting)
    {
        void* argv[2] = {const_cast<char16_t*>(reinterpret_cast<const char16_t*>(setting.utf16())), nullptr};
        int arglen[2] = {0, 0};
        lastRc = CorvaneWS_WebSocketServer_Do(h_, srv::sConfig, 1, argv, arglen, nullptr);
        return wide(argv[1]);
    }
    // Listens on 127.0.0.1 and an ephemeral port; returns the port.
    int listen()
    {
        setText(srv::sLocalHost, "127.0.0.1");
        if (setInt(srv::sListening, 1) != 0)
            return 0;
        return int(getInt(srv::sLocalPort));
    }

    bool waitUntil(const std::function<bool()>& pred, int ms = 15000)
    {
        return pumpUntil(pred, ms, [this] {
            if (!h_)
                return false;
            call(srv::sDoEvents);
            return true;
        });
    }

    // Echoes every message back with its own format, piece by piece.
    void echo()
    {
        handlers[srv::seDataIn] = [this](int, void** argv, int* arglen) {
            const int id = int(num(argv[0]));
            pending[id].append(static_cast<const char*>(argv[2]), arglen[2]);
            if (argv[3]) {
                const QByteArray msg = pending[id];
                pending.erase(id);
                if (num(argv[1]) == 1)
                    sendText(srv::sSendText, id, QString::fromUtf8(msg));
                else
                    send(id, msg);
            }
            return 0;
        };
    }

    bool record = true;               // false: events are not kept (long runs)
    std::map<int, Handler> handlers;
    std::map<int, std::vector<QByteArray>> messages;   // per connection id, whole messages
    std::map<int, QByteArray> pending;
    int lastRc = 0;


private:
    static int sink(void* user, int event, int argc, void** argv, int* arglen)
    {
        return static_cast<ServerHost*>(user)->onEvent(event, argc, argv, arglen);
    }

    int onEvent(int event, int argc, void** argv, int* arglen)
    {
        // How each argument crosses, from the tests' own reading of the tables:
        // i int, t wide text, b bytes, e event string.
        static const std::map<int, const char*> shapes = {
            {srv::seConnected, "i"}, {srv::seConnectionRequest, "tii"}, {srv::seDataIn, "iibi"},
            {srv::seDisconnected, "iit"}, {srv::seError, "iit"}, {srv::seLog, "iitt"}, {srv::seReadyToSend, "i"},
            {srv::seSSLClientAuthentication, "ibttti"}, {srv::seSSLConnectionRequest, "ittieee"},
            {srv::seSSLStatus, "it"}, {srv::seWebSocketOpenRequest, "itttettie"},
        };
        Recorded r;
        r.event = event;
        const auto shape = shapes.find(event);
        EXPECT_NE(shape, shapes.end()) << "unknown event " << event;
        if (shape != shapes.end()) {
            EXPECT_EQ(argc, int(std::strlen(shape->second))) << "event " << event;
            for (int k = 0; k < argc && shape->second[k]; ++k) {
                switch (shape->second[k]) {
                case 'i': r.ints.push_back(num(argv[k])); break;
                case 't': r.texts << wide(argv[k]); break;
                case 'e': r.texts << evtStr(argv[k]); break;
                case 'b': r.bytes = QByteArray(static_cast<const char*>(argv[k]), arglen[k]); break;
                }
            }
        }
        if (event == srv::seDataIn) {
            const int id = int(num(argv[0]));
            dataIn[id].append(static_cast<const char*>(argv[2]), arglen[2]);
            if (argv[3]) {
                messages[id].push_back(dataIn[id]);
                dataIn.erase(id);
            }
        } else if (record) {
            events.push_back(r);
        }
        auto it = handlers.find(event);
        return it == handlers.end() ? 0 : it->second(argc, argv, arglen);
    }

    std::map<int, QByteArray> dataIn;
    void* h_ = nullptr;
};

// A client that speaks the protocol by hand over a plain socket.
class RawClient {
public:
    explicit RawClient(int port)
    {
        socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
        socket.waitForConnected(5000);
    }
    static QByteArray request(const QString& extra = {})
    {
        return ("GET /raw HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" + extra + "\r\n")
            .toUtf8();
    }
    // A frame with the client's mask (or none when masked is false).
    static QByteArray frame(int opcode, const QByteArray& payload, bool masked = true)
    {
        QByteArray f;
        f.append(char(0x80 | opcode));
        const char maskBit = masked ? char(0x80) : char(0);
        if (payload.size() < 126) {
            f.append(char(maskBit | payload.size()));
        } else {
            f.append(char(maskBit | 126));
            f.append(char(payload.size() >> 8));
            f.append(char(payload.size() & 0xff));
        }
        const char mask[4] = {0x12, 0x34, 0x56, 0x78};
        if (masked)
            f.append(mask, 4);
        for (qsizetype k = 0; k < payload.size(); ++k)
            f.append(masked ? char(payload[k] ^ mask[k % 4]) : payload[k]);
        return f;
    }
    // Reads until the pump predicate or the deadline; the server is pumped by `pump`.
    QByteArray readUntil(const std::function<bool(const QByteArray&)>& done, const std::function<void()>& pump,
                         int ms = 10000)
    {
        QDeadlineTimer deadline(ms);
        while (!done(received) && !deadline.hasExpired()) {
            if (pump)
                pump();
            // The pump may have read the socket's data already, so read whatever is buffered.
            if (socket.bytesAvailable() == 0)
                socket.waitForReadyRead(pump ? 5 : 100);
            if (socket.isOpen())
                received += socket.readAll();
            if (socket.state() != QAbstractSocket::ConnectedState)
                break;
        }
        return received;
    }
    QTcpSocket socket;
    QByteArray received;
};

// Sends the start of an opening (or TLS) handshake, closes the sending side,
// and expects the server to let the connection go at once, with 1006: not
// when its handshake timeout fires.
inline void expectPeerEndSeenAtOnce(ServerHost& s, int port, const QByteArray& start)
{
    RawClient raw(port);
    ASSERT_EQ(raw.socket.state(), QAbstractSocket::ConnectedState);
    raw.socket.write(start);
    raw.socket.flush();
    ASSERT_EQ(::shutdown(int(raw.socket.socketDescriptor()), SHUT_WR), 0);
    ASSERT_TRUE(s.waitUntil([&] { return s.count(srv::seDisconnected) == 1; }));
    EXPECT_EQ(s.last(srv::seDisconnected)->ints.at(1), 1006);
    for (const auto& e : s.events) {
        if (e.event == srv::seError) {
            EXPECT_NE(e.ints.at(1), 11) << "ended by the handshake timeout";
        }
    }
    EXPECT_EQ(s.getInt(srv::sConnectionCount), 0);
}

// Bytes in use on the heap (not what the allocator keeps cached).
size_t heapInUse();

} // namespace engine_test
