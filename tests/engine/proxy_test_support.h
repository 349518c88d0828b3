// Helpers of the proxy tests: a host of one WebSocketProxy object that records
// its events, a WebSocket client on raw bytes for exact handshake and frame
// checks, TCP peers inside the test process, and the process's own memory.
#pragma once

#include "engine_test_support.h"
#include "raw_client.h"

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

// A host of one proxy object; data events are kept by direction.
class ProxyHost : public engine_test::ObjectHost {
public:
    ProxyHost() : ObjectHost(engine_test::kProxyApi) {}

    int call(int method, std::vector<void*> args = {}) { return doRaw(method, std::move(args)); }
    // Listens on an ephemeral loopback port; returns it (0 on failure).
    int listen()
    {
        setText(kLocalHost, QStringLiteral("127.0.0.1"));
        setInt(kLocalPort, 0);
        if (setInt(kListening, 1) != 0)
            return 0;
        return int(getInt(kLocalPort));
    }
    bool waitUntil(const std::function<bool()>& pred, int ms = 20000) { return ObjectHost::waitUntil(pred, ms); }

    QByteArray fromClient, toClient;   // DataIn payload by direction (0, 1), when recording
    bool recordData = true;

protected:
    bool takeData(int event, void** argv, int* arglen) override
    {
        if (event != evDataIn)
            return false;
        if (recordData)
            (num(argv[2]) == 0 ? fromClient : toClient).append(static_cast<const char*>(argv[1]), arglen[1]);
        return true;
    }
};

using engine_test::RawClient;

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
