// Helpers of the proxy tests: a host of one WebSocketProxy object that records
// its events, a WebSocket client on raw bytes for exact handshake and frame
// checks, TCP peers inside the test process, and the process's own memory.
#pragma once

#include "engine_test_support.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <fstream>

namespace proxy_test {

using engine_test::num;
using engine_test::wide;

// The proxy's numbers as the host sees them (kept apart from the engine's
// headers on purpose: a renumbering there shows up here).
enum Prop {
    kConnectionBacklog = 1, kConnectionCount, kConnConnected, kConnConnectionId, kConnForwardHost,
    kConnForwardPort, kConnHost, kConnLocalAddress, kConnOrigin, kConnRemoteHost, kConnRemotePort,
    kConnRequestHeaders, kConnRequestURI, kConnSubProtocols, kConnTimeout, kDefaultForwardHost,
    kDefaultForwardPort, kDefaultTimeout, kFirewallAutoDetect, kFirewallType, kFirewallHost, kFirewallPassword,
    kFirewallPort, kFirewallUser, kListening, kLocalHost, kLocalPort, kSSLAuthenticateClients, kSSLCertEncoded,
    kSSLCertStore, kSSLCertStorePassword, kSSLCertStoreType, kSSLCertSubject, kUseSSL,
};
enum Method { kConfig = 10002, kDisconnect, kDoEvents, kShutdown };
enum Event {
    evConnected = 1, evConnectionRequest, evDataIn, evDisconnected, evError, evLog, evSSLClientAuthentication,
    evSSLConnectionRequest, evSSLStatus, evWebSocketOpenRequest,
};

inline QString evtStr(void* v)
{
    return v ? QString::fromUtf16(static_cast<const char16_t*>(CorvaneWS_EvtStr(v, 0, nullptr, 2))) : QString();
}

using engine_test::EventLog;
using engine_test::Recorded;
using engine_test::pumpUntil;

class ProxyHost : public EventLog {
public:
    using Handler = std::function<int(int argc, void** argv, int* arglen)>;

    ProxyHost() { h_ = CorvaneWS_WebSocketProxy_Create(&ProxyHost::sink, this, nullptr, 1); }
    ~ProxyHost()
    {
        if (h_)
            CorvaneWS_WebSocketProxy_Destroy(h_);
    }
    ProxyHost(const ProxyHost&) = delete;
    ProxyHost& operator=(const ProxyHost&) = delete;

    void* handle() const { return h_; }
    // Destroys the object now (also from inside one of its events).
    void destroy()
    {
        CorvaneWS_WebSocketProxy_Destroy(h_);
        h_ = nullptr;
    }
    int setInt(int id, intptr_t v, int index = 0)
    {
        return CorvaneWS_WebSocketProxy_Set(h_, id, index, reinterpret_cast<void*>(v), 0);
    }
    int setText(int id, const QString& t) { return CorvaneWS_WebSocketProxy_Set(h_, id + 10000, 0, t.utf16(), 0); }
    int setBytes(int id, const QByteArray& b)
    {
        return CorvaneWS_WebSocketProxy_Set(h_, id, 0, b.isEmpty() ? nullptr : b.constData(), int(b.size()));
    }
    intptr_t getInt(int id, int index = 0) { return num(CorvaneWS_WebSocketProxy_Get(h_, id, index, nullptr, nullptr)); }
    QString getText(int id, int index = 0)
    {
        return wide(CorvaneWS_WebSocketProxy_Get(h_, id + 10000, index, nullptr, nullptr));
    }
    QByteArray getBytes(int id)
    {
        int n = 0;
        void* p = CorvaneWS_WebSocketProxy_Get(h_, id, 0, &n, nullptr);
        return p ? QByteArray(static_cast<const char*>(p), n) : QByteArray();
    }
    int call(int method, std::vector<void*> args = {})
    {
        std::vector<int> lens(args.size() + 1, 0);
        args.push_back(nullptr);
        return CorvaneWS_WebSocketProxy_Do(h_, method, int(args.size()) - 1, args.data(), lens.data(), nullptr);
    }
    QString config(const QString& setting)
    {
        void* argv[2] = {const_cast<char16_t*>(reinterpret_cast<const char16_t*>(setting.utf16())), nullptr};
        int arglen[2] = {0, 0};
        lastRc = CorvaneWS_WebSocketProxy_Do(h_, kConfig, 1, argv, arglen, nullptr);
        return wide(argv[1]);
    }
    int lastErrorCode() const { return CorvaneWS_WebSocketProxy_GetLastErrorCode(h_); }
    QString lastError() const
    {
        const char* t = CorvaneWS_WebSocketProxy_GetLastError(h_);
        return t ? QString::fromUtf8(t) : QString();
    }
    // Listens on an ephemeral loopback port; returns it (0 on failure).
    int listen()
    {
        setText(kLocalHost, QStringLiteral("127.0.0.1"));
        setInt(kLocalPort, 0);
        if (setInt(kListening, 1) != 0)
            return 0;
        return int(getInt(kLocalPort));
    }

    bool waitUntil(const std::function<bool()>& pred, int ms = 20000)
    {
        return pumpUntil(pred, ms, [this] {
            if (!h_)
                return false;
            call(kDoEvents);
            return true;
        });
    }

    std::map<int, Handler> handlers;
    QByteArray fromClient, toClient;   // DataIn payload by direction (0, 1), when recording
    bool recordData = true;
    int lastRc = 0;

private:
    static int sink(void* user, int event, int argc, void** argv, int* arglen)
    {
        return static_cast<ProxyHost*>(user)->onEvent(event, argc, argv, arglen);
    }

    int onEvent(int event, int argc, void** argv, int* arglen)
    {
        if (event == evDataIn) {
            if (recordData)
                (num(argv[2]) == 0 ? fromClient : toClient).append(static_cast<const char*>(argv[1]), arglen[1]);
        } else {
            Recorded r;
            r.event = event;
            for (int k = 0; k < argc; ++k) {
                const bool isText = (event == evConnectionRequest && k == 0) || (event == evDisconnected && k == 2)
                    || (event == evError && k == 2) || (event == evLog && k >= 2) || (event == evSSLStatus && k == 1)
                    || (event == evWebSocketOpenRequest && (k == 1 || k == 2 || k == 3 || k == 5 || k == 6));
                const bool isEvtStr = event == evWebSocketOpenRequest && (k == 4 || k == 8 || k == 9);
                if (isText)
                    r.texts << wide(argv[k]);
                else if (isEvtStr)
                    r.texts << evtStr(argv[k]);
                else
                    r.ints.push_back(num(argv[k]));
            }
            events.push_back(r);
        }
        auto it = handlers.find(event);
        return it == handlers.end() ? 0 : it->second(argc, argv, arglen);
    }

    void* h_ = nullptr;
};

// A WebSocket client on raw bytes, in this thread: the test pumps the proxy
// while it waits.
class RawClient {
public:
    bool connectTo(int port) { s.connectToHost(QHostAddress::LocalHost, quint16(port)); return true; }
    void sendRequest(const QByteArray& extraHeaders = {}, const QByteArray& path = "/")
    {
        s.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
                + extraHeaders + "\r\n");
    }
    // Call repeatedly: reads what arrived; true once a whole head is there.
    bool haveHead()
    {
        if (!head.isEmpty())
            return true;
        buffer += s.readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return false;
        head = buffer.left(end + 4);
        buffer.remove(0, end + 4);
        return true;
    }
    void sendFrame(int opcode, const QByteArray& payload, bool fin = true)
    {
        QByteArray f;
        f.append(char((fin ? 0x80 : 0) | opcode));
        const qsizetype n = payload.size();
        if (n < 126) {
            f.append(char(0x80 | n));
        } else if (n < 65536) {
            f.append(char(0x80 | 126));
            f.append(char(n >> 8));
            f.append(char(n & 0xff));
        } else {
            f.append(char(0x80 | 127));
            for (int i = 7; i >= 0; --i)
                f.append(char((quint64(n) >> (8 * i)) & 0xff));
        }
        const char mask[4] = {0x12, 0x34, 0x56, 0x78};
        f.append(mask, 4);
        for (qsizetype i = 0; i < n; ++i)
            f.append(char(payload[i] ^ mask[i % 4]));
        s.write(f);
    }
    struct Frame {
        int opcode = -1;
        bool fin = false;
        QByteArray payload;
    };
    // Call repeatedly: true once a whole frame is there (taken into frame).
    bool haveFrame(Frame& frame)
    {
        buffer += s.readAll();
        if (buffer.size() < 2)
            return false;
        const auto b = [&](int i) { return quint8(buffer[i]); };
        quint64 len = b(1) & 0x7f;
        qsizetype at = 2;
        if (len == 126) {
            if (buffer.size() < 4)
                return false;
            len = (quint64(b(2)) << 8) | b(3);
            at = 4;
        } else if (len == 127) {
            if (buffer.size() < 10)
                return false;
            len = 0;
            for (int i = 0; i < 8; ++i)
                len = (len << 8) | b(2 + i);
            at = 10;
        }
        if (b(1) & 0x80)
            at += 4;   // a server must not mask; the test checks the bit separately
        if (quint64(buffer.size()) < at + len)
            return false;
        frame.opcode = b(0) & 0x0f;
        frame.fin = b(0) & 0x80;
        frame.payload = buffer.mid(at, qsizetype(len));
        maskedFromServer = maskedFromServer || (b(1) & 0x80);
        buffer.remove(0, at + qsizetype(len));
        return true;
    }
    bool closed() const { return s.state() == QAbstractSocket::UnconnectedState; }

    QTcpSocket s;
    QByteArray buffer, head;
    bool maskedFromServer = false;
};

// A TCP server in this process; echoes unless told otherwise, and keeps what
// each connection sent.
class TcpPeer {
public:
    explicit TcpPeer(bool echo = true) : echo_(echo)
    {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
            while (QTcpSocket* c = server_.nextPendingConnection()) {
                if (readBufferSize > 0)
                    c->setReadBufferSize(readBufferSize);
                sockets.push_back(c);
                ++accepted;
                QObject::connect(c, &QTcpSocket::readyRead, c, [this, c] {
                    if (paused)
                        return;
                    const QByteArray data = c->readAll();
                    received += data;
                    if (echo_)
                        c->write(data);
                });
                QObject::connect(c, &QTcpSocket::disconnected, c, [this] { ++disconnected; });
            }
        });
    }
    int port() const { return server_.serverPort(); }
    // Reads what waits and from now on, after a pause.
    void resume()
    {
        paused = false;
        for (QTcpSocket* c : sockets) {
            const QByteArray data = c->readAll();
            received += data;
            if (echo_)
                c->write(data);
        }
    }

    QTcpServer server_;
    std::vector<QTcpSocket*> sockets;   // children of server_
    QByteArray received;
    int accepted = 0;
    int disconnected = 0;
    bool paused = false;
    qint64 readBufferSize = 0;

private:
    bool echo_;
};

// This process's resident memory in KiB.
inline long rssKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// A client process whose output lines the test reads as they come.
class ClientProcess {
public:
    ClientProcess(const QString& program, const QStringList& args, const QStringList& env = {})
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const QString& kv : env)
            e.insert(kv.section('=', 0, 0), kv.section('=', 1));
        p.setProcessEnvironment(e);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(program, args);
        started = p.waitForStarted(10000);
    }
    ~ClientProcess()
    {
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished(5000);
        }
    }
    // Lines so far (non-blocking).
    const QStringList& lines()
    {
        while (p.canReadLine())
            lines_ << QString::fromUtf8(p.readLine()).trimmed();
        return lines_;
    }
    QString lastLine(const QString& prefix = {})
    {
        const QStringList& all = lines();
        for (auto it = all.rbegin(); it != all.rend(); ++it)
            if (it->startsWith(prefix))
                return *it;
        return {};
    }
    bool finished() { return p.state() == QProcess::NotRunning; }

    QProcess p;
    bool started = false;

private:
    QStringList lines_;
};

inline QStringList nodeEnv() { return {"NODE_PATH=/usr/share/nodejs"}; }

} // namespace proxy_test
