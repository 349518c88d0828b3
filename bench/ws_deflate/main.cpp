// ws_deflate: compressed messages (permessage-deflate) against node-ws with
// perMessageDeflate, in the same run, on the same JSON-like text.
//
// Each side is a client process sending MiB of JSON records (messages of 200
// records, about 14 KiB) to a server process of the same library, through a
// byte-counting TCP relay in this process. Printed per side: bytes on the wire
// from client to server against the text sent (the compression ratio),
// messages per second until the server has them all, and the CPU time of both
// processes. Then the memory one idle connection costs the server after a
// compressed message, with and without context takeover.
//
// Usage: ws_deflate [MiB]          (default 100)
//        ws_deflate --child server|client ...
#include "engine/include/corvanews20.h"
#include "engine/include/corvanews20_client.h"
#include "engine/include/corvanews20_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace S = corvanews20::server;
namespace C = corvanews20::client;
using corvanews20::kMethodOffset;
using corvanews20::kStrOffset;

std::vector<std::string> messages(int mib)
{
    std::vector<std::string> out;
    size_t total = 0;
    for (long i = 0; total < size_t(mib) << 20;) {
        std::string m;
        for (int k = 0; k < 200; ++k, ++i)
            m += "{\"id\":" + std::to_string(i) + ",\"name\":\"sensor-" + std::to_string(i % 97) + "\",\"value\":"
               + std::to_string(i * 7 % 1000) + ",\"ok\":true}";
        total += m.size();
        out.push_back(std::move(m));
    }
    return out;
}

long cpuMs(int who)
{
    rusage u{};
    getrusage(who, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000L + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000L;
}

int config(void* h, bool server, const std::string& setting)
{
    const std::u16string wide(setting.begin(), setting.end());
    void* argv[2] = {const_cast<char16_t*>(wide.c_str()), nullptr};
    int arglen[2] = {0, 0};
    return server ? CorvaneWS_WebSocketServer_Do(h, kMethodOffset + S::method::Config, 1, argv, arglen, nullptr)
                  : CorvaneWS_WebSocketClient_Do(h, kMethodOffset + C::method::Config, 1, argv, arglen, nullptr);
}

// ---- children ------------------------------------------------------------------

struct ServerCount {
    long messages = 0;
};

int serverSink(void* user, int event, int, void** argv, int*)
{
    if (event == S::event::DataIn && argv[3])
        ++static_cast<ServerCount*>(user)->messages;
    return 0;
}

// Counts whole messages; "done" once `want` arrived, or, with want 0, keeps
// every connection and prints the heap it holds per connection on request.
int runServer(long want, const QStringList& settings)
{
    ServerCount count;
    void* s = CorvaneWS_WebSocketServer_Create(&serverSink, &count, nullptr, 1);
    config(s, true, "PerMessageDeflate=true");
    for (const QString& setting : settings)
        config(s, true, setting.toStdString());
    CorvaneWS_WebSocketServer_Set(s, S::prop::LocalHost + kStrOffset, 0, u"127.0.0.1", 0);
    CorvaneWS_WebSocketServer_Set(s, S::prop::Listening, 0, reinterpret_cast<void*>(1), 0);
    std::printf("ready %ld\n", long(reinterpret_cast<intptr_t>(
                                  CorvaneWS_WebSocketServer_Get(s, S::prop::LocalPort, 0, nullptr, nullptr))));
    std::fflush(stdout);
    if (want == 0) {
        // Memory mode: "heap" on stdin is answered with the bytes in use.
        ::fcntl(0, F_SETFL, ::fcntl(0, F_GETFL) | O_NONBLOCK);
        for (std::string line;;) {
            CorvaneWS_WebSocketServer_Do(s, kMethodOffset + S::method::DoEvents, 0, nullptr, nullptr, nullptr);
            char c;
            while (::read(0, &c, 1) == 1) {
                if (c != '\n') {
                    line += c;
                    continue;
                }
                if (line == "heap") {
                    std::printf("heap %zu\n", mallinfo2().uordblks);
                    std::fflush(stdout);
                }
                line.clear();
            }
        }
    }
    while (count.messages < want)
        CorvaneWS_WebSocketServer_Do(s, kMethodOffset + S::method::DoEvents, 0, nullptr, nullptr, nullptr);
    std::printf("done %ld\n", cpuMs(RUSAGE_SELF));
    std::fflush(stdout);
    return 0;
}

int clientSink(void*, int, int, void**, int*) { return 0; }

// Sends the messages as fast as the connection takes them, then closes.
int runClient(const QString& url, int mib, long idleConnections, const QStringList& settings)
{
    std::vector<void*> clients;
    const std::vector<std::string> all = messages(mib);
    for (long k = 0; k < std::max(1L, idleConnections); ++k) {
        void* c = CorvaneWS_WebSocketClient_Create(&clientSink, nullptr, nullptr, 1);
        config(c, false, "PerMessageDeflate=true");
        for (const QString& setting : settings)
            config(c, false, setting.toStdString());
        CorvaneWS_WebSocketClient_Set(c, C::prop::Timeout, 0, reinterpret_cast<void*>(30), 0);
        const std::u16string wide = url.toStdU16String();
        void* argv[2] = {const_cast<char16_t*>(wide.c_str()), nullptr};
        int arglen[2] = {0, 0};
        if (CorvaneWS_WebSocketClient_Do(c, kMethodOffset + C::method::Connect, 1, argv, arglen, nullptr) != 0) {
            std::printf("error %s\n", CorvaneWS_WebSocketClient_GetLastError(c));
            return 1;
        }
        clients.push_back(c);
    }
    const size_t count = idleConnections > 0 ? 1 : all.size();
    for (void* c : clients) {
        for (size_t k = 0; k < count; ++k) {
            void* argv[2] = {const_cast<char*>(all[k].data()), nullptr};
            int arglen[2] = {int(all[k].size()), 0};
            CorvaneWS_WebSocketClient_Do(c, kMethodOffset + C::method::Send, 1, argv, arglen, nullptr);
            while (!CorvaneWS_WebSocketClient_Get(c, C::prop::ReadyToSend, 0, nullptr, nullptr))
                CorvaneWS_WebSocketClient_Do(c, kMethodOffset + C::method::DoEvents, 0, nullptr, nullptr, nullptr);
        }
    }
    if (idleConnections > 0) {
        std::printf("connected\n");
        std::fflush(stdout);
        for (;;)   // the parent ends this process once it has measured
            CorvaneWS_WebSocketClient_Do(clients[0], kMethodOffset + C::method::DoEvents, 0, nullptr, nullptr, nullptr);
    }
    for (void* c : clients)
        CorvaneWS_WebSocketClient_Do(c, kMethodOffset + C::method::Disconnect, 0, nullptr, nullptr, nullptr);
    std::printf("cpu %ld\n", cpuMs(RUSAGE_SELF));
    return 0;
}

// ---- the parent ---------------------------------------------------------------------

// Relays one TCP connection, counting what the client sends.
class Relay {
public:
    explicit Relay(int targetPort)
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(a);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        ::listen(listener_, 4);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this, targetPort] { run(targetPort); });
    }
    ~Relay()
    {
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        thread_.join();
    }
    int port() const { return port_; }
    long long upstream() const { return upstream_; }

private:
    void run(int targetPort)
    {
        const int client = ::accept(listener_, nullptr, nullptr);
        if (client < 0)
            return;
        const int server = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(uint16_t(targetPort));
        ::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        std::thread back([&] { pump(server, client, nullptr); });
        pump(client, server, &upstream_);
        back.join();
        ::close(client);
        ::close(server);
    }
    static void pump(int from, int to, std::atomic<long long>* counter)
    {
        std::vector<char> buffer(256 << 10);
        for (;;) {
            const ssize_t n = ::read(from, buffer.data(), buffer.size());
            if (n <= 0)
                break;
            if (counter)
                *counter += n;
            for (ssize_t done = 0; done < n;) {
                const ssize_t w = ::write(to, buffer.data() + done, size_t(n - done));
                if (w <= 0)
                    return;
                done += w;
            }
        }
        ::shutdown(to, SHUT_WR);
    }

    int listener_ = -1;
    int port_ = 0;
    std::atomic<long long> upstream_{0};
    std::thread thread_;
};

// Starts a child and reads lines until one starts with `prefix`.
QString waitFor(QProcess& p, const QString& prefix, int ms = 600000)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        while (p.canReadLine()) {
            const QString line = QString::fromUtf8(p.readLine()).trimmed();
            if (line.startsWith(prefix))
                return line;
        }
        if (!p.waitForReadyRead(100) && p.state() == QProcess::NotRunning)
            break;
    }
    return {};
}

struct Side {
    double ratio = 0;
    double messagesPerSecond = 0;
    long cpuMs = 0;
};

Side measure(bool node, int mib, long messageCount, size_t textBytes)
{
    const QString self = QCoreApplication::applicationFilePath();
    const QString script = QStringLiteral(BENCH_SOURCE_DIR "/node_pair.js");
    QProcess server, client;
    if (node) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("NODE_PATH", "/usr/share/nodejs");
        server.setProcessEnvironment(env);
        client.setProcessEnvironment(env);
        server.start("/usr/bin/node", {script, "server", QString::number(messageCount)});
    } else {
        server.start(self, {"--child", "server", QString::number(messageCount)});
    }
    const int port = waitFor(server, "ready").mid(6).toInt();
    Relay relay(port);
    const QString url = QStringLiteral("ws://127.0.0.1:%1/").arg(relay.port());
    QElapsedTimer t;
    t.start();
    if (node)
        client.start("/usr/bin/node", {script, "client", url, QString::number(mib)});
    else
        client.start(self, {"--child", "client", url, QString::number(mib)});
    const QString done = waitFor(server, "done");
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    const QString cpu = waitFor(client, "cpu");
    client.waitForFinished(60000);
    server.kill();
    server.waitForFinished(5000);
    Side s;
    s.ratio = double(relay.upstream()) / double(textBytes);
    s.messagesPerSecond = done.isEmpty() ? 0 : double(messageCount) / seconds;
    s.cpuMs = done.section(' ', 1, 1).toLong() + done.section(' ', 2, 2).toLong() + cpu.section(' ', 1, 1).toLong()
            + cpu.section(' ', 2, 2).toLong();
    return s;
}

// Heap the server holds per idle connection that has had one compressed
// message; without context takeover both sides are asked for it.
long idleBytesPerConnection(bool contextTakeover)
{
    const QString self = QCoreApplication::applicationFilePath();
    QProcess server, client;
    QStringList settings;
    if (!contextTakeover)
        settings << "PerMessageDeflateNoContextTakeover=true";
    server.start(self, QStringList{"--child", "server", "0"} + settings);
    const int port = waitFor(server, "ready").mid(6).toInt();
    server.write("heap\n");
    const long before = waitFor(server, "heap").mid(5).toLong();
    constexpr long kConnections = 200;
    client.start(self, QStringList{"--child", "client", QStringLiteral("ws://127.0.0.1:%1/").arg(port), "1",
                                   QString::number(kConnections)}
                           + settings);
    waitFor(client, "connected");
    server.write("heap\n");
    const long after = waitFor(server, "heap").mid(5).toLong();
    client.kill();
    server.kill();
    client.waitForFinished(5000);
    server.waitForFinished(5000);
    return (after - before) / kConnections;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == "--child") {
        if (args[2] == "server")
            return runServer(args.value(3).toLong(), args.mid(4));
        return runClient(args.value(3), args.value(4).toInt(), args.value(5).toLong(), args.mid(6));
    }
    const int mib = args.size() > 1 ? args[1].toInt() : 100;
    const std::vector<std::string> all = messages(mib);
    size_t textBytes = 0;
    for (const std::string& m : all)
        textBytes += m.size();
    std::printf("%d MiB of JSON-like text in %zu messages, client to server, one connection\n", mib, all.size());
    const Side ours = measure(false, mib, long(all.size()), textBytes);
    const Side node = measure(true, mib, long(all.size()), textBytes);
    std::printf("%-10s %12s %14s %10s\n", "", "wire/text", "messages/s", "CPU ms");
    std::printf("%-10s %12.4f %14.0f %10ld\n", "engine", ours.ratio, ours.messagesPerSecond, ours.cpuMs);
    std::printf("%-10s %12.4f %14.0f %10ld\n", "node-ws", node.ratio, node.messagesPerSecond, node.cpuMs);
    std::printf("engine / node-ws: wire %.3f x, messages/s %.2f x, CPU %.2f x\n", ours.ratio / node.ratio,
                ours.messagesPerSecond / node.messagesPerSecond, double(ours.cpuMs) / double(node.cpuMs));
    std::printf("server heap per idle compressed connection: %ld bytes with context takeover, %ld without\n",
                idleBytesPerConnection(true), idleBytesPerConnection(false));
    return 0;
}
