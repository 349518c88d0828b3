// Helpers of the engine tests: the client object's host, and peer processes (WebSocket servers, proxies) started for a test.
#pragma once

#include "object_host.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace engine_test {

// Client property, method and event numbers as the host sees them.
enum Prop {
    kAcceptData = 1, kAuthorization, kAuthScheme, kBytesSent, kConnected, kCookieCount, kCookieDomain,
    kCookieExpiration, kCookieName, kCookiePath, kCookieSecure, kCookieValue, kDataFormat, kDataToSend,
    kFirewallAutoDetect, kFirewallType, kFirewallHost, kFirewallPassword, kFirewallPort, kFirewallUser,
    kFollowRedirects, kLocalHost, kLocalPort, kOrigin, kOtherHeaders, kParsedHeaderCount, kParsedHeaderField,
    kParsedHeaderValue, kPassword, kProxyAuthScheme, kProxyAutoDetect, kProxyPassword, kProxyPort, kProxyServer,
    kProxySSL, kProxyUser, kReadyToSend, kSSLAcceptServerCertEncoded, kSSLCertEncoded, kSSLCertStore,
    kSSLCertStorePassword, kSSLCertStoreType, kSSLCertSubject, kSSLServerCertEncoded, kSubProtocols, kTimeout,
    kTransferredHeaders, kUser,
};
enum Method {
    kAddCookie = 10002, kConfig, kConnect, kDisconnect, kDoEvents, kInterrupt, kPing, kReset, kResetHeaders,
    kSend, kSendFile, kSendText,
};
enum Event {
    evConnected = 1, evConnectionStatus, evDataIn, evDisconnected, evError, evHeader, evLog, evReadyToSend,
    evRedirect, evSetCookie, evSSLServerAuthentication, evSSLStatus,
};

// A host of one client object; what its data events carry is kept per message.
class Host : public ObjectHost {
public:
    Host() : ObjectHost(kClientApi) {}

    // Every argument of the client's methods is text; unknown numbers go through as they are.
    int call(int method, const QStringList& args = {})
    {
        std::vector<void*> argv;
        for (const QString& a : args)
            argv.push_back(const_cast<char16_t*>(reinterpret_cast<const char16_t*>(a.utf16())));
        return doRaw(method, std::move(argv));
    }
    int send(const QByteArray& data) { return ObjectHost::call(kSend, {{{}, data}}); }

    bool recordData = true;
    QByteArray received;          // DataIn bytes since the last message end
    std::vector<QByteArray> messages;
    std::vector<int> messageFormats;
    std::vector<int> chunkSizes;
    bool recordChunks = false;
    std::vector<QByteArray> chunks;   // DataIn bytes, one entry per event, when recordChunks
    size_t eomCount = 0;

protected:
    bool takeData(int event, void** argv, int* arglen) override
    {
        if (event != evDataIn)
            return false;
        chunkSizes.push_back(arglen[1]);
        if (recordChunks)
            chunks.emplace_back(static_cast<const char*>(argv[1]), arglen[1]);
        received.append(static_cast<const char*>(argv[1]), arglen[1]);
        if (argv[2]) {
            ++eomCount;
            if (recordData)
                messages.push_back(received);
            messageFormats.push_back(int(num(argv[0])));
            received.clear();
        }
        return true;
    }
};

// A peer process: started at construction, killed at destruction.
class Peer {
public:
    Peer(const QString& program, const QStringList& args, const QStringList& env = {})
    {
        if (!QFile::exists(program)) {
            error_ = program + " is missing: run scripts/install-deps.sh";
            return;
        }
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const QString& kv : env)
            e.insert(kv.section('=', 0, 0), kv.section('=', 1));
        process_.setProcessEnvironment(e);
        process_.start(program, args);
        if (!process_.waitForStarted(10000)) {
            error_ = program + " did not start: " + process_.errorString();
            return;
        }
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 20000) {
            if (process_.canReadLine() || process_.waitForReadyRead(200)) {
                while (process_.canReadLine()) {
                    const QString line = QString::fromUtf8(process_.readLine()).trimmed();
                    if (line.startsWith("ready ")) {
                        port_ = line.mid(6).toInt();
                        return;
                    }
                }
            }
            if (process_.state() != QProcess::Running)
                break;
        }
        error_ = program + " " + args.join(' ') + " never became ready: "
               + QString::fromUtf8(process_.readAllStandardError());
    }
    ~Peer()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    bool ok() const { return port_ > 0; }
    QString error() const { return error_; }
    int port() const { return port_; }
    // Lines printed since start (after "ready").
    QStringList lines()
    {
        while (process_.waitForReadyRead(50)) {
        }
        output_ += QString::fromUtf8(process_.readAllStandardOutput());
        return output_.split('\n', Qt::SkipEmptyParts);
    }

private:
    QProcess process_;
    QString error_;
    QString output_;
    int port_ = 0;
};

inline QString peersDir()
{
    return qEnvironmentVariable("BRINDLE_SOURCE_DIR", BRINDLE_TEST_SOURCE_DIR) + "/tests/engine/peers";
}

// The test certificates of make_certs.sh (a CA, a server certificate it
// issued, a self-signed one, with their keys) in dir; false when openssl failed.
inline bool makeTestCertificates(const QString& dir)
{
    QProcess p;
    p.start("/bin/sh", {peersDir() + "/make_certs.sh", dir});
    return p.waitForFinished(60000) && p.exitCode() == 0 && QFile::exists(dir + "/server.pem");
}

// The files of dir one after the other (a PEM bundle); empty if one is missing.
inline QByteArray filesJoined(const QString& dir, std::initializer_list<const char*> names)
{
    QByteArray all;
    for (const char* name : names) {
        QFile f(dir + '/' + name);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        all += f.readAll();
    }
    return all;
}

inline std::unique_ptr<Peer> pythonServer(const QStringList& extra = {})
{
    return std::make_unique<Peer>("/usr/bin/python3", QStringList{"-u", peersDir() + "/ws_server.py"} + extra);
}
inline std::unique_ptr<Peer> nodeServer(const QStringList& extra = {})
{
    return std::make_unique<Peer>("/usr/bin/node", QStringList{peersDir() + "/ws_server.js"} + extra,
                                  QStringList{"NODE_PATH=/usr/share/nodejs"});
}
inline std::unique_ptr<Peer> proxy(const QString& kind)
{
    return std::make_unique<Peer>("/usr/bin/python3", QStringList{"-u", peersDir() + "/proxy.py", "--kind", kind});
}

// A WebSocket client as a bare nonblocking descriptor on loopback, whose
// receive buffer is kept small when asked, so the peer's output backs up.
// Sends the opening request; -1 on failure.
inline int rawWebSocketClient(int port, int receiveBuffer = 0)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const QByteArray request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                               "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0
        || ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) != request.size()) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

// Writes the frame again and again until the peer stops taking it: the
// kernel refuses more through many turns of the peer's event loop (pump).
// Returns the bytes written (at most about `most`).
inline qint64 writeUntilHeldUp(int fd, const QByteArray& frame, const std::function<void()>& pump,
                               qint64 most = qint64(1) << 40)
{
    QByteArray burst;
    while (burst.size() < 64 * 1024)
        burst += frame;
    qint64 written = 0;
    qsizetype offset = 0;
    QDeadlineTimer deadline(120000);
    for (int refused = 0; refused < 200 && written < most && !deadline.hasExpired();) {
        const ssize_t n = ::send(fd, burst.constData() + offset, size_t(burst.size() - offset), MSG_NOSIGNAL);
        if (n > 0) {
            written += n;
            offset = (offset + n) % burst.size();
            refused = 0;
        } else {
            ++refused;
        }
        pump();
    }
    return written;
}

// Ends the connection with a reset (RST), not a FIN.
inline void resetConnection(int fd)
{
    const linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
    ::close(fd);
}

#define ASSERT_PEER(p) ASSERT_TRUE((p)->ok()) << (p)->error().toStdString()

} // namespace engine_test
