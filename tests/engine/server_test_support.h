// A host of one WebSocket server object for the tests, with the tests' own
// list of the server's numbers (so a renumbering in the engine is caught), and
// raw-socket helpers that speak the opening handshake and frames by hand.
#pragma once

#include "engine/include/corvanews20.h"
#include "engine_test_support.h"
#include "raw_client.h"

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

// A host of one server object; data events are kept as whole messages per connection.
class ServerHost : public ObjectHost {
public:
    ServerHost() : ObjectHost(kServerApi) {}

    int call(int method) { return doRaw(method, {}); }
    int callId(int method, int connectionId) { return doRaw(method, {reinterpret_cast<void*>(intptr_t(connectionId))}); }
    int send(int connectionId, const QByteArray& data)
    {
        return doRaw(srv::sSend,
                     {reinterpret_cast<void*>(intptr_t(connectionId)),
                      data.isEmpty() ? nullptr : const_cast<char*>(data.constData())},
                     {0, int(data.size())});
    }
    int sendText(int method, int connectionId, const QString& text)
    {
        return doRaw(method, {reinterpret_cast<void*>(intptr_t(connectionId)),
                              const_cast<char16_t*>(reinterpret_cast<const char16_t*>(text.utf16()))});
    }
    // Listens on 127.0.0.1 and an ephemeral port; returns the port.
    int listen()
    {
        setText(srv::sLocalHost, "127.0.0.1");
        if (setInt(srv::sListening, 1) != 0)
            return 0;
        return int(getInt(srv::sLocalPort));
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

    std::map<int, std::vector<QByteArray>> messages;   // per connection id, whole messages
    std::map<int, QByteArray> pending;

protected:
    bool takeData(int event, void** argv, int* arglen) override
    {
        if (event != srv::seDataIn)
            return false;
        const int id = int(num(argv[0]));
        dataIn[id].append(static_cast<const char*>(argv[2]), arglen[2]);
        if (argv[3]) {
            messages[id].push_back(dataIn[id]);
            dataIn.erase(id);
        }
        return true;
    }

private:
    std::map<int, QByteArray> dataIn;
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
