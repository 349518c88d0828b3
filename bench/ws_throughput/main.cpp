// ws_throughput: how fast a WebSocket client takes data off loopback.
//
// One run starts a server thread that sends pre-encoded frames from fixed
// buffers (so the server is never the bottleneck), then, for each scenario and
// each client, runs the client in a child process of its own so that its peak
// RSS is its own:
//   engine     libcorvanews20.so through its C interface
//   component  TwskWebSocketClient over the engine mapped from this program
//   beast      Boost.Beast, read_some into a fixed buffer
//   qt         Qt WebSockets, binaryFrameReceived
// Scenarios: 256 MiB as one single-frame message, 256 MiB as one message of
// 64 KiB frames, 1,000,000 messages of 64 bytes.
//
// Usage: ws_throughput            (the whole table)
//        ws_throughput --child CLIENT SCENARIO PORT
#include "engine/include/corvanews20.h"
#include "ws/wskwebsocketclient.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QTimer>
#include <QWebSocket>

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Scenario {
    const char* key;
    const char* title;
    std::uint64_t bytes;
    std::uint64_t messages;
};

constexpr std::uint64_t kBig = 256ull << 20;
constexpr std::uint64_t kFrame = 64ull << 10;
constexpr std::uint64_t kSmallCount = 1000000;
constexpr std::uint64_t kSmallSize = 64;

const Scenario kScenarios[] = {
    {"big1", "256 MiB, one frame", kBig, 1},
    {"big64k", "256 MiB, 64 KiB frames", kBig, 1},
    {"small", "1,000,000 x 64 B", kSmallCount * kSmallSize, kSmallCount},
};

const Scenario* findScenario(const std::string& key)
{
    for (const auto& s : kScenarios)
        if (key == s.key) return &s;
    return nullptr;
}

// ASCII payload: the component decodes every chunk as text, and the figure
// should be the transfer's, not a replacement-character path's.
void fillPayload(std::uint8_t* p, size_t n)
{
    for (size_t i = 0; i < n; ++i) p[i] = std::uint8_t('a' + i % 26);
}

std::string frameHeader(std::uint8_t first, std::uint64_t length)
{
    std::string h(1, char(first));
    if (length < 126) {
        h += char(length);
    } else if (length < 65536) {
        h += char(126);
        h += char(length >> 8);
        h += char(length & 0xff);
    } else {
        h += char(127);
        for (int i = 7; i >= 0; --i) h += char((length >> (8 * i)) & 0xff);
    }
    return h;
}

// ---- server -------------------------------------------------------------------

class Server {
public:
    Server()
    {
        // 1 MiB of payload for the single frame, written again and again.
        payload_.resize(1 << 20);
        fillPayload(reinterpret_cast<std::uint8_t*>(payload_.data()), payload_.size());
        // 16 frames of 64 KiB per block: first, middle and last blocks of one message.
        const std::string frameBody = payload_.substr(0, kFrame);
        for (int i = 0; i < 16; ++i) {
            firstBlock_ += frameHeader(i == 0 ? 0x02 : 0x00, kFrame) + frameBody;
            middleBlock_ += frameHeader(0x00, kFrame) + frameBody;
            lastBlock_ += frameHeader(i == 15 ? 0x80 : 0x00, kFrame) + frameBody;
        }
        // 10,000 complete 64-byte messages.
        const std::string small = frameHeader(0x82, kSmallSize) + payload_.substr(0, kSmallSize);
        for (int i = 0; i < 10000; ++i) smallBlock_ += small;

        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd_, 4) != 0) {
            std::perror("server");
            std::exit(2);
        }
        socklen_t len = sizeof addr;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { run(); });
        thread_.detach();
    }
    int port() const { return port_; }

private:
    void run()
    {
        for (;;) {
            const int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0) return;
            serve(c);
            ::close(c);
        }
    }

    static bool sendAll(int fd, const char* p, size_t n)
    {
        while (n > 0) {
            const ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
            if (k <= 0) return false;
            p += k;
            n -= size_t(k);
        }
        return true;
    }
    static bool sendAll(int fd, const std::string& s) { return sendAll(fd, s.data(), s.size()); }

    void serve(int fd)
    {
        std::string request;
        char buf[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return;
            request.append(buf, size_t(n));
        }
        const size_t sp = request.find(' ');
        const std::string path = request.substr(sp + 1, request.find(' ', sp + 1) - sp - 1);
        std::string lower = request;
        for (auto& ch : lower) ch = char(std::tolower(static_cast<unsigned char>(ch)));
        const size_t k = lower.find("sec-websocket-key:");
        if (k == std::string::npos) return;
        std::string key = request.substr(k + 18, request.find("\r\n", k) - k - 18);
        key.erase(0, key.find_first_not_of(' '));
        key.erase(key.find_last_not_of(' ') + 1);
        const QByteArray accept =
            QCryptographicHash::hash(QByteArray::fromStdString(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11"),
                                     QCryptographicHash::Sha1)
                .toBase64();
        sendAll(fd, "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                    "Sec-WebSocket-Accept: " + accept.toStdString() + "\r\n\r\n");
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

        bool ok = true;
        if (path == "/big1") {
            ok = sendAll(fd, frameHeader(0x82, kBig));
            for (std::uint64_t sent = 0; ok && sent < kBig; sent += payload_.size()) ok = sendAll(fd, payload_);
        } else if (path == "/big64k") {
            const std::uint64_t blocks = kBig / (16 * kFrame);
            for (std::uint64_t b = 0; ok && b < blocks; ++b)
                ok = sendAll(fd, b == 0 ? firstBlock_ : b + 1 == blocks ? lastBlock_ : middleBlock_);
        } else if (path == "/small") {
            for (std::uint64_t b = 0; ok && b < kSmallCount / 10000; ++b) ok = sendAll(fd, smallBlock_);
        }
        // Wait for the client's close (or its going away) and answer it.
        while (ok) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            if ((std::uint8_t(buf[0]) & 0x0f) == 0x08) {
                sendAll(fd, std::string("\x88\x02\x03\xe8", 4));
                ::shutdown(fd, SHUT_WR);
            }
        }
    }

    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::string payload_, firstBlock_, middleBlock_, lastBlock_, smallBlock_;
};

// ---- measurement in a child -------------------------------------------------

long peakRssKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

struct Tally {
    std::uint64_t bytes = 0;
    std::uint64_t messages = 0;
    const Scenario* scenario = nullptr;
    std::chrono::steady_clock::time_point start;
    double seconds = 0;
    bool finished = false;
    bool done() const { return bytes >= scenario->bytes && messages >= scenario->messages; }
    void stop()
    {
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        finished = true;
    }
};

int report(const Tally& t)
{
    if (!t.finished) {
        std::printf("FAIL received %llu bytes, %llu messages\n", (unsigned long long)t.bytes,
                    (unsigned long long)t.messages);
        return 1;
    }
    std::printf("RESULT %llu %llu %.6f %ld\n", (unsigned long long)t.bytes, (unsigned long long)t.messages, t.seconds,
                peakRssKiB());
    return 0;
}

std::u16string wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

int runEngine(const Scenario& s, int port, int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    void* lib = dlopen(WS_ENGINE_FILE, RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) {
        std::printf("FAIL %s\n", dlerror());
        return 1;
    }
    auto create = reinterpret_cast<decltype(&CorvaneWS_WebSocketClient_Create)>(dlsym(lib, "CorvaneWS_WebSocketClient_Create"));
    auto destroy = reinterpret_cast<decltype(&CorvaneWS_WebSocketClient_Destroy)>(dlsym(lib, "CorvaneWS_WebSocketClient_Destroy"));
    auto set = reinterpret_cast<decltype(&CorvaneWS_WebSocketClient_Set)>(dlsym(lib, "CorvaneWS_WebSocketClient_Set"));
    auto doCall = reinterpret_cast<decltype(&CorvaneWS_WebSocketClient_Do)>(dlsym(lib, "CorvaneWS_WebSocketClient_Do"));
    auto lastError = reinterpret_cast<decltype(&CorvaneWS_WebSocketClient_GetLastError)>(dlsym(lib, "CorvaneWS_WebSocketClient_GetLastError"));

    static Tally tally;
    tally.scenario = &s;
    CorvaneWS_EventSink sink = [](void*, int event, int, void** av, int* al) -> int {
        if (event == 3 && !tally.finished) {
            tally.bytes += std::uint64_t(al[1]);
            if (av[2] != nullptr) ++tally.messages;
            if (tally.done()) {
                tally.stop();
                QCoreApplication::exit(0);
            }
        } else if (event == 4 && !tally.finished) {
            QCoreApplication::exit(1);
        }
        return 0;
    };
    void* h = create(sink, nullptr, nullptr, 1);
    set(h, 46, 0, reinterpret_cast<void*>(std::intptr_t(30)), 0);
    std::u16string url = wide("ws://127.0.0.1:" + std::to_string(port) + "/" + s.key);
    void* args[2] = {url.data(), nullptr};
    int lens[2] = {0, 0};
    tally.start = std::chrono::steady_clock::now();
    if (doCall(h, 10004, 1, args, lens, nullptr) != 0) {
        std::printf("FAIL connect: %s\n", lastError(h));
        return 1;
    }
    if (!tally.finished) app.exec();
    const int rc = report(tally);
    void* none[1] = {nullptr};
    int noLen[1] = {0};
    doCall(h, 10005, 0, none, noLen, nullptr);
    destroy(h);
    return rc;
}

int runComponent(const Scenario& s, int port, int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    CorvaneWS::TwskWebSocketClient client;
    Tally tally;
    tally.scenario = &s;
    client.OnDataIn = [&](QObject*, CorvaneWS::TwskWebSocketClientDataInEventParams& p) {
        if (tally.finished) return;
        tally.bytes += std::uint64_t(p.TextB.size());
        if (p.EOM) ++tally.messages;
        if (tally.done()) {
            tally.stop();
            QCoreApplication::exit(0);
        }
    };
    client.OnDisconnected = [&](QObject*, auto&) {
        if (!tally.finished) QCoreApplication::exit(1);
    };
    client.FSetTimeout(30);
    tally.start = std::chrono::steady_clock::now();
    try {
        client.Connect(QStringLiteral("ws://127.0.0.1:%1/%2").arg(port).arg(QLatin1String(s.key)));
    } catch (const std::exception& e) {
        std::printf("FAIL connect: %s\n", e.what());
        return 1;
    }
    if (!tally.finished) app.exec();
    const int rc = report(tally);
    try {
        client.Disconnect();
    } catch (const std::exception&) {
    }
    return rc;
}

int runBeast(const Scenario& s, int port)
{
    namespace net = boost::asio;
    namespace websocket = boost::beast::websocket;
    net::io_context ioc;
    net::ip::tcp::socket socket(ioc);
    Tally tally;
    tally.scenario = &s;
    tally.start = std::chrono::steady_clock::now();
    socket.connect({net::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)});
    websocket::stream<net::ip::tcp::socket> ws(std::move(socket));
    ws.read_message_max(0);  // no limit
    ws.handshake("127.0.0.1", std::string("/") + s.key);
    static std::uint8_t buffer[256 << 10];
    boost::beast::error_code ec;
    while (!tally.done()) {
        const size_t n = ws.read_some(net::buffer(buffer), ec);
        if (ec) break;
        tally.bytes += n;
        if (ws.is_message_done()) ++tally.messages;
    }
    if (tally.done()) tally.stop();
    const int rc = report(tally);
    ws.close(websocket::close_code::normal, ec);
    return rc;
}

int runQt(const Scenario& s, int port, int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QWebSocket ws;
    ws.setMaxAllowedIncomingFrameSize(std::numeric_limits<quint64>::max());
    ws.setMaxAllowedIncomingMessageSize(std::numeric_limits<quint64>::max());
    ws.setReadBufferSize(0);
    Tally tally;
    tally.scenario = &s;
    QObject::connect(&ws, &QWebSocket::binaryFrameReceived, [&](const QByteArray& frame, bool isLast) {
        if (tally.finished) return;
        tally.bytes += std::uint64_t(frame.size());
        if (isLast) ++tally.messages;
        if (tally.done()) {
            tally.stop();
            QCoreApplication::exit(0);
        }
    });
    QObject::connect(&ws, &QWebSocket::disconnected, [&] {
        if (!tally.finished) QCoreApplication::exit(1);
    });
    tally.start = std::chrono::steady_clock::now();
    ws.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/%2").arg(port).arg(QLatin1String(s.key))));
    QTimer::singleShot(600000, [] { QCoreApplication::exit(1); });
    app.exec();
    const int rc = report(tally);
    ws.close();
    return rc;
}

// ---- the table ------------------------------------------------------------------

struct Result {
    bool ok = false;
    double mbps = 0;
    double msgps = 0;
    double seconds = 0;
    long rssKiB = 0;
    std::string error;
};

Result runChild(const std::string& self, const std::string& client, const Scenario& s, int port)
{
    const std::string cmd = "'" + self + "' --child " + client + " " + s.key + " " + std::to_string(port) + " 2>/dev/null";
    Result r;
    FILE* pipe = ::popen(cmd.c_str(), "r");
    if (pipe == nullptr) {
        r.error = "could not start";
        return r;
    }
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        unsigned long long bytes = 0, messages = 0;
        double seconds = 0;
        long rss = 0;
        if (std::sscanf(line, "RESULT %llu %llu %lf %ld", &bytes, &messages, &seconds, &rss) == 4) {
            r.ok = true;
            r.seconds = seconds;
            r.mbps = double(bytes) / (1024.0 * 1024.0) / seconds;
            r.msgps = double(messages) / seconds;
            r.rssKiB = rss;
        } else if (std::strncmp(line, "FAIL", 4) == 0) {
            r.error = line + 5;
            while (!r.error.empty() && r.error.back() == '\n') r.error.pop_back();
        }
    }
    const int status = ::pclose(pipe);
    if (!r.ok && r.error.empty()) r.error = "child ended with status " + std::to_string(status);
    return r;
}

constexpr int kRuns = 7;

int runTable(const std::string& self)
{
    Server server;
    const char* clients[] = {"engine", "component", "beast", "qt"};
    std::map<std::string, std::map<std::string, Result>> results;
    std::printf("ws_throughput: loopback, server pre-encodes its frames; each client in its own process;\n"
                "best of %d runs, peak RSS the highest of them\n\n",
                kRuns);
    std::printf("%-24s %-10s %10s %14s %9s %10s\n", "scenario", "client", "MB/s", "messages/s", "seconds", "peak RSS");
    for (const auto& s : kScenarios) {
        // Best of a few runs: one run is a fraction of a second, and a
        // neighbour on the machine can cost any single one of them. The
        // clients take turns, so a slow stretch of the machine hits them all
        // alike instead of whichever client's runs it fell on.
        std::map<std::string, Result>& row = results[s.key];
        for (int run = 0; run < kRuns; ++run) {
            for (const char* c : clients) {
                Result& r = row[c];
                if (run > 0 && !r.ok) continue;   // failed once: reported as failed
                const Result one = runChild(self, c, s, server.port());
                if (!one.ok) {
                    r = one;
                    continue;
                }
                const long rss = std::max(r.rssKiB, one.rssKiB);
                if (!r.ok || one.seconds < r.seconds) r = one;
                r.rssKiB = rss;
            }
        }
        for (const char* c : clients) {
            const Result& r = row[c];
            if (r.ok)
                std::printf("%-24s %-10s %10.1f %14.0f %9.3f %7.1f MiB\n", s.title, c, r.mbps, r.msgps, r.seconds,
                            r.rssKiB / 1024.0);
            else
                std::printf("%-24s %-10s failed: %s\n", s.title, c, r.error.c_str());
        }
        std::fflush(stdout);
    }

    std::printf("\nratios (MB/s for the large messages, messages/s for the small ones):\n");
    for (const auto& s : kScenarios) {
        const bool small = std::string(s.key) == "small";
        auto figure = [&](const char* c) {
            const Result& r = results[s.key][c];
            return r.ok ? (small ? r.msgps : r.mbps) : 0.0;
        };
        for (const char* c : {"engine", "component"}) {
            const double mine = figure(c), beast = figure("beast"), qt = figure("qt");
            std::printf("  %-24s %-10s %6.2fx Beast  %7.2fx Qt WebSockets\n", s.title, c, beast > 0 ? mine / beast : 0.0,
                        qt > 0 ? mine / qt : 0.0);
        }
    }
    std::printf("\ntargets: large >= 0.8x Beast and >= 10x Qt WebSockets; small >= 0.5x Beast; engine peak RSS < 32 MiB\n");
    for (const auto& s : kScenarios) {
        const Result& e = results[s.key]["engine"];
        const Result& b = results[s.key]["beast"];
        const Result& q = results[s.key]["qt"];
        const bool small = std::string(s.key) == "small";
        bool met = e.ok && e.rssKiB < 32 * 1024;
        if (small)
            met = met && b.ok && e.msgps >= 0.5 * b.msgps;
        else
            met = met && b.ok && q.ok && e.mbps >= 0.8 * b.mbps && e.mbps >= 10 * q.mbps;
        std::printf("  %-24s %s\n", s.title, met ? "met" : "NOT met");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::string(argv[1]) == "--child") {
        const Scenario* s = findScenario(argv[3]);
        const int port = std::atoi(argv[4]);
        if (s == nullptr) return 2;
        const std::string client = argv[2];
        int qtArgc = 1;
        if (client == "engine") return runEngine(*s, port, qtArgc, argv);
        if (client == "component") return runComponent(*s, port, qtArgc, argv);
        if (client == "beast") return runBeast(*s, port);
        if (client == "qt") return runQt(*s, port, qtArgc, argv);
        return 2;
    }
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return 2;
    self[n] = 0;
    return runTable(self);
}
