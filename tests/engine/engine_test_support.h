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

#define ASSERT_PEER(p) ASSERT_TRUE((p)->ok()) << (p)->error().toStdString()

} // namespace engine_test
