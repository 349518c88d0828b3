// Helpers of the engine tests: a host of the C interface that records events,
// and peer processes (WebSocket servers, proxies) started for a test.
#pragma once

#include "engine/include/corvanews20.h"

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

inline QString wide(const void* p) { return p ? QString::fromUtf16(static_cast<const char16_t*>(p)) : QString(); }
inline intptr_t num(const void* p) { return reinterpret_cast<intptr_t>(p); }

// One recorded event: integers as numbers, wide texts as text, byte blocks as bytes.
struct Recorded {
    int event = 0;
    std::vector<intptr_t> ints;
    QStringList texts;
    QByteArray bytes;
};

// The events a host's sink recorded, oldest first.
struct EventLog {
    std::vector<Recorded> events;

    size_t count(int event) const
    {
        size_t n = 0;
        for (const Recorded& r : events)
            n += r.event == event;
        return n;
    }
    const Recorded* last(int event) const
    {
        for (auto it = events.rbegin(); it != events.rend(); ++it)
            if (it->event == event)
                return &*it;
        return nullptr;
    }
};

// Pumps until pred holds or ms pass. doEvents runs the object's own DoEvents
// and returns false once there is no object left, when Qt's loop runs instead.
inline bool pumpUntil(const std::function<bool()>& pred, int ms, const std::function<bool()>& doEvents)
{
    QDeadlineTimer deadline(ms);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        if (!doEvents())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// A host of one client object: the sink records events; handlers may act on
// them (and write back through argv).
class Host : public EventLog {
public:
    using Handler = std::function<int(int argc, void** argv, int* arglen)>;

    Host() { h_ = CorvaneWS_WebSocketClient_Create(&Host::sink, this, nullptr, 1); }
    ~Host()
    {
        if (h_)
            CorvaneWS_WebSocketClient_Destroy(h_);
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    void* handle() const { return h_; }
    void forget() { h_ = nullptr; }

    int setInt(int id, intptr_t v) { return CorvaneWS_WebSocketClient_Set(h_, id, 0, reinterpret_cast<void*>(v), 0); }
    int setText(int id, const QString& text)
    {
        return CorvaneWS_WebSocketClient_Set(h_, id + 10000, 0, text.utf16(), 0);
    }
    int setBytes(int id, const QByteArray& b)
    {
        return CorvaneWS_WebSocketClient_Set(h_, id, 0, b.isEmpty() ? nullptr : b.constData(), int(b.size()));
    }
    intptr_t getInt(int id, int index = 0)
    {
        return num(CorvaneWS_WebSocketClient_Get(h_, id, index, nullptr, nullptr));
    }
    QString getText(int id, int index = 0)
    {
        return wide(CorvaneWS_WebSocketClient_Get(h_, id + 10000, index, nullptr, nullptr));
    }
    QByteArray getBytes(int id)
    {
        int n = 0;
        void* p = CorvaneWS_WebSocketClient_Get(h_, id, 0, &n, nullptr);
        return p ? QByteArray(static_cast<const char*>(p), n) : QByteArray();
    }
    int call(int method, const QStringList& args = {})
    {
        std::vector<void*> argv(size_t(args.size()) + 1, nullptr);
        std::vector<int> arglen(size_t(args.size()) + 1, 0);
        for (qsizetype k = 0; k < args.size(); ++k)
            argv[size_t(k)] = const_cast<char16_t*>(reinterpret_cast<const char16_t*>(args[k].utf16()));
        return CorvaneWS_WebSocketClient_Do(h_, method, int(args.size()), argv.data(), arglen.data(), nullptr);
    }
    QString config(const QString& setting)
    {
        void* argv[2] = {const_cast<char16_t*>(reinterpret_cast<const char16_t*>(setting.utf16())), nullptr};
        int arglen[2] = {0, 0};
        lastRc = CorvaneWS_WebSocketClient_Do(h_, kConfig, 1, argv, arglen, nullptr);
        return wide(argv[1]);
    }
    int send(const QByteArray& data)
    {
        void* argv[2] = {data.isEmpty() ? nullptr : const_cast<char*>(data.constData()), nullptr};
        int arglen[2] = {int(data.size()), 0};
        return CorvaneWS_WebSocketClient_Do(h_, kSend, 1, argv, arglen, nullptr);
    }
    QString lastError() const
    {
        const char* t = CorvaneWS_WebSocketClient_GetLastError(h_);
        return t ? QString::fromUtf8(t) : QString();
    }

    // Pumps events (through the engine's DoEvents) until pred or the deadline.
    bool waitUntil(const std::function<bool()>& pred, int ms = 15000)
    {
        return pumpUntil(pred, ms, [this] {
            if (!h_)
                return false;
            call(kDoEvents);
            return true;
        });
    }

    std::map<int, Handler> handlers;
    bool recordData = true;
    QByteArray received;          // DataIn bytes since the last message end
    std::vector<QByteArray> messages;
    std::vector<int> messageFormats;
    std::vector<int> chunkSizes;
    bool recordChunks = false;
    std::vector<QByteArray> chunks;   // DataIn bytes, one entry per event, when recordChunks
    size_t eomCount = 0;
    int lastRc = 0;


private:
    static int sink(void* user, int event, int argc, void** argv, int* arglen)
    {
        auto* self = static_cast<Host*>(user);
        return self->onEvent(event, argc, argv, arglen);
    }

    int onEvent(int event, int argc, void** argv, int* arglen)
    {
        if (event == evDataIn) {
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
        } else {
            Recorded r;
            r.event = event;
            for (int k = 0; k < argc; ++k) {
                const bool isText = (event == evConnected && k == 1) || (event == evConnectionStatus && k != 1)
                    || (event == evDisconnected && k == 1) || (event == evError && k == 1) || event == evHeader
                    || (event == evLog && k > 0) || (event == evRedirect && k == 0)
                    || (event == evSetCookie && k < 5) || (event == evSSLServerAuthentication && k >= 1 && k <= 3)
                    || event == evSSLStatus;
                if (event == evSSLServerAuthentication && k == 0)
                    r.bytes = QByteArray(static_cast<const char*>(argv[0]), arglen[0]);
                else if (isText)
                    r.texts << wide(argv[k]);
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

// A masked frame of the client's.
inline QByteArray maskedFrame(int opcode, const QByteArray& payload)
{
    QByteArray f;
    f.append(char(0x80 | opcode));
    if (payload.size() < 126) {
        f.append(char(0x80 | payload.size()));
    } else {
        f.append(char(0x80 | 126));
        f.append(char(payload.size() >> 8));
        f.append(char(payload.size() & 0xff));
    }
    const char mask[4] = {0x12, 0x34, 0x56, 0x78};
    f.append(mask, 4);
    for (qsizetype k = 0; k < payload.size(); ++k)
        f.append(char(payload[k] ^ mask[k % 4]));
    return f;
}

#define ASSERT_PEER(p) ASSERT_TRUE((p)->ok()) << (p)->error().toStdString()

} // namespace engine_test
