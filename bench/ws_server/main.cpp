// ws_server: WebSocket servers and proxies under the same client load.
//
// Every server runs in a process of its own, started from this program
// ("--serve <name>"), so that its memory is its own and is read from /proc:
//   engine   libcorvanews20.so's WebSocket server through its C interface
//   beast    Boost.Beast, asynchronous, one io_context on one thread
//   qt       Qt WebSockets, QWebSocketServer
// The load generator (this process) runs its clients on one io_context.
// Scenarios:
//   echo    100 clients, each sending a binary message and waiting for its
//           echo before the next: 64-byte messages (messages/s) and 1 MiB
//           messages (MB/s of echoed payload)
//   idle    10,000 open connections without traffic (descriptor limit
//           raised): the server's RSS growth per connection
//   proxy   256 MiB from a WebSocket client into a TCP sink through the
//           engine's WebSocket proxy and through websockify, against the same
//           bytes written straight to the sink over TCP; medians of several runs
// It prints its figures and ratios against the peers measured in the same
// run; it is not a test and never fails on a figure.
//
// Usage: ws_server [echo] [idle] [proxy]     (all three without arguments)
//        ws_server --serve NAME [FORWARD_PORT]
#include "load.h"
#include "peers.h"
#include "process.h"
#include "proxy_path.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace ws_bench;

namespace {

constexpr int kEchoClients = 100;
constexpr int kSmallWindow = 8;   // 64-byte messages in flight per client, pipelined
constexpr double kEchoSeconds = 3.0;
constexpr int kEchoRounds = 3;
constexpr int kIdleConnections = 10000;
constexpr uint64_t kProxyBytes = 256ull << 20;
constexpr size_t kProxyMessage = 1 << 20;
constexpr int kProxyRuns = 7;
constexpr int kWebsockifyRuns = 3;   // several seconds per run: it is the slow one

struct ServerKind {
    const char* name;
    const char* title;
};
const ServerKind kServers[] = {
    {"engine", "engine"},
    {"beast", "Boost.Beast"},
    {"qt", "Qt WebSockets"},
};

double mib(double bytes) { return bytes / (1024.0 * 1024.0); }

Child start(const std::string& self, const std::string& name, const std::vector<std::string>& extra = {})
{
    std::vector<std::string> argv{self, "--serve", name};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return startServer(argv);
}

struct Echo {
    EchoResult single, small, large;   // 64 B one in flight, 64 B pipelined, 1 MiB
};

// The median of the rounds' results by rate; a failed round stands for all.
EchoResult medianByRate(std::vector<EchoResult> rounds, bool byBytes)
{
    for (const EchoResult& r : rounds)
        if (!r.ok)
            return r;
    if (rounds.empty())
        return {};
    auto rate = [&](const EchoResult& r) { return double(byBytes ? r.bytes : r.messages) / r.seconds; };
    std::sort(rounds.begin(), rounds.end(), [&](const EchoResult& a, const EchoResult& b) { return rate(a) < rate(b); });
    return rounds[rounds.size() / 2];
}

void runEchoTable(const std::string& self, std::map<std::string, Echo>& out)
{
    std::printf("echo, %d clients, %.0f s per figure after 0.5 s warm-up, median of %d rounds with the servers\n"
                "taken in turns; 64-byte messages one in flight per client (64 B x1) and %d (64 B x%d), 1 MiB\n"
                "messages one; CPU is the share of one core the server process used, and the figure per\n"
                "CPU-second of it\n",
                kEchoClients, kEchoSeconds, kEchoRounds, kSmallWindow, kSmallWindow);
    std::map<std::string, std::vector<Echo>> rounds;
    std::map<std::string, std::string> notStarted;
    for (int round = 0; round < kEchoRounds; ++round) {
        for (const ServerKind& s : kServers) {
            if (notStarted.count(s.name))
                continue;
            Child child = start(self, s.name);
            if (!child.ok()) {
                notStarted[s.name] = child.error;
                continue;
            }
            Echo e;
            e.single = runEcho(child.port, child.pid, kEchoClients, 1, 64, kEchoSeconds);
            e.small = runEcho(child.port, child.pid, kEchoClients, kSmallWindow, 64, kEchoSeconds);
            e.large = runEcho(child.port, child.pid, kEchoClients, 1, 1 << 20, kEchoSeconds);
            stopChild(child);
            rounds[s.name].push_back(e);
        }
    }
    std::printf("  %-14s %-10s %12s %8s %14s\n", "server", "messages", "per second", "CPU", "per CPU-s");
    for (const ServerKind& s : kServers) {
        if (notStarted.count(s.name)) {
            std::printf("  %-14s not started: %s\n", s.title, notStarted[s.name].c_str());
            continue;
        }
        std::vector<EchoResult> single, small, large;
        for (const Echo& e : rounds[s.name]) {
            single.push_back(e.single);
            small.push_back(e.small);
            large.push_back(e.large);
        }
        Echo& e = out[s.name];
        e.single = medianByRate(single, false);
        e.small = medianByRate(small, false);
        e.large = medianByRate(large, true);
        auto row = [&](const char* what, const char* unit, const EchoResult& r, double perSecond) {
            if (r.ok)
                std::printf("  %-14s %-10s %9.0f %-3s %7.0f%% %11.0f %-3s\n", s.title, what, perSecond, unit,
                            100 * r.serverCpu / r.seconds, r.serverCpu > 0 ? perSecond * r.seconds / r.serverCpu : 0.0,
                            unit);
            else
                std::printf("  %-14s %-10s failed: %s\n", s.title, what, r.error.c_str());
        };
        char pipelined[32];
        std::snprintf(pipelined, sizeof pipelined, "64 B x%d", kSmallWindow);
        row("64 B x1", "msg", e.single, e.single.messages / e.single.seconds);
        row(pipelined, "msg", e.small, e.small.messages / e.small.seconds);
        row("1 MiB", "MB", e.large, mib(double(e.large.bytes)) / e.large.seconds);
    }
    std::fflush(stdout);
}

void runIdleTable(const std::string& self, std::map<std::string, IdleResult>& out)
{
    std::printf("\nidle connections: %d held open, server RSS from /proc (descriptor limit %ld)\n", kIdleConnections,
                raiseDescriptorLimit());
    std::printf("  %-14s %12s %12s %14s %14s %14s\n", "server", "RSS base", "RSS held", "KiB/conn RSS",
                "KiB/conn peak", "RSS closed");
    for (const ServerKind& s : kServers) {
        Child child = start(self, s.name);
        if (!child.ok()) {
            std::printf("  %-14s not started: %s\n", s.title, child.error.c_str());
            continue;
        }
        IdleResult r = runIdle(child.port, kIdleConnections, child.pid);
        stopChild(child);
        out[s.name] = r;
        if (r.held > 0)
            std::printf("  %-14s %9.1f MiB %9.1f MiB %14.2f %14.2f %10.1f MiB\n", s.title, r.baseKiB / 1024.0,
                        r.rssKiB / 1024.0, double(r.rssKiB - r.baseKiB) / r.held,
                        double(r.peakKiB - r.baseKiB) / r.held, r.afterKiB / 1024.0);
        if (!r.ok)
            std::printf("    (%s)\n", r.error.c_str());
        std::fflush(stdout);
    }
}

// The median run, with the fastest and slowest beside it: on a shared machine
// one figure says little, and the spread says how little.
struct Summary {
    PathResult median;
    double fastest = 0, slowest = 0;   // seconds
};

Summary summarize(const std::vector<PathResult>& runs)
{
    Summary s;
    std::vector<double> seconds;
    for (const PathResult& r : runs) {
        if (!r.ok) {
            s.median = r;
            return s;
        }
        seconds.push_back(r.seconds);
    }
    if (seconds.empty())
        return s;
    std::sort(seconds.begin(), seconds.end());
    const size_t n = seconds.size();
    s.median.ok = true;
    s.median.seconds = n % 2 ? seconds[n / 2] : (seconds[n / 2 - 1] + seconds[n / 2]) / 2;
    s.fastest = seconds.front();
    s.slowest = seconds.back();
    return s;
}

void runProxyTable(const std::string& self, std::map<std::string, PathResult>& out)
{
    std::printf("\nproxy: %llu MiB from a WebSocket client (binary messages of %zu KiB) into a TCP sink; median of %d\n"
                "(websockify %d), the direct and the engine runs taken in turns so that a change of load hits both;\n"
                "the spread is the fastest and the slowest run\n",
                (unsigned long long)(kProxyBytes >> 20), kProxyMessage >> 10, kProxyRuns, kWebsockifyRuns);
    TcpSink sink;
    auto line = [](const char* title, const Summary& s) {
        const PathResult& r = s.median;
        if (r.ok)
            std::printf("  %-26s %9.1f MB/s %8.3f s   (%.1f to %.1f MB/s)\n", title, mib(double(kProxyBytes)) / r.seconds,
                        r.seconds, mib(double(kProxyBytes)) / s.slowest, mib(double(kProxyBytes)) / s.fastest);
        else
            std::printf("  %-26s failed: %s\n", title, r.error.c_str());
        std::fflush(stdout);
    };
    std::vector<PathResult> direct, engineRuns;
    Child engine = start(self, "engine-proxy", {std::to_string(sink.port())});
    double engineCpu = 0;
    for (int k = 0; k < kProxyRuns; ++k) {
        direct.push_back(sendDirect(sink, kProxyBytes));
        if (engine.ok()) {
            const double before = cpuSeconds(engine.pid);
            engineRuns.push_back(sendThroughProxy(sink, engine.port, kProxyBytes, kProxyMessage));
            engineCpu += cpuSeconds(engine.pid) - before;
        }
    }
    const Summary directSummary = summarize(direct);
    out["direct"] = directSummary.median;
    line("direct TCP", directSummary);
    Summary engineSummary;
    if (engine.ok()) {
        engineSummary = summarize(engineRuns);
        stopChild(engine);
    } else {
        engineSummary.median.error = engine.error;
    }
    out["engine"] = engineSummary.median;
    line("engine WebSocket proxy", engineSummary);
    if (engineCpu > 0)
        std::printf("  %-26s %9.3f CPU-s per %llu MiB in the proxy process (mean)\n", "", engineCpu / kProxyRuns,
                    (unsigned long long)(kProxyBytes >> 20));

    const int wsPort = freePort();
    Child websockify = startListening(
        {"/usr/bin/websockify", "127.0.0.1:" + std::to_string(wsPort), "127.0.0.1:" + std::to_string(sink.port())},
        wsPort);
    Summary websockifySummary;
    if (websockify.ok()) {
        std::vector<PathResult> runs;
        for (int k = 0; k < kWebsockifyRuns; ++k)
            runs.push_back(sendThroughProxy(sink, websockify.port, kProxyBytes, kProxyMessage));
        websockifySummary = summarize(runs);
        stopChild(websockify);
    } else {
        websockifySummary.median.error = websockify.error;
    }
    out["websockify"] = websockifySummary.median;
    line("websockify", websockifySummary);
}

void ratio(const char* what, double mine, double theirs)
{
    if (mine > 0 && theirs > 0)
        std::printf("  %-44s %7.2fx\n", what, mine / theirs);
    else
        std::printf("  %-44s    n/a\n", what);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--serve") == 0) {
        raiseDescriptorLimit();
        const std::string name = argv[2];
        int qtArgc = 1;
        if (name == "beast")
            return serveBeast();
        if (name == "qt")
            return serveQt(qtArgc, argv);
        if (name == "engine")
            return serveEngine(qtArgc, argv);
        if (name == "engine-proxy" && argc >= 4)
            return serveEngineProxy(qtArgc, argv, std::atoi(argv[3]));
        return 2;
    }
    std::set<std::string> parts;
    for (int k = 1; k < argc; ++k)
        parts.insert(argv[k]);
    if (parts.empty())
        parts = {"echo", "idle", "proxy"};
    const std::string self = selfPath();
    std::printf("ws_server: loopback, %s\n\n", loadAverage().c_str());

    std::map<std::string, Echo> echo;
    std::map<std::string, IdleResult> idle;
    std::map<std::string, PathResult> proxy;
    if (parts.count("echo"))
        runEchoTable(self, echo);
    if (parts.count("idle"))
        runIdleTable(self, idle);
    if (parts.count("proxy"))
        runProxyTable(self, proxy);

    std::printf("\nratios (throughput; in brackets per CPU-second of the server, which a busy machine\n"
                "disturbs less):\n");
    if (parts.count("echo")) {
        auto figure = [&](const char* s, int which, bool perCpu) {
            const EchoResult& r = which == 0 ? echo[s].single : which == 1 ? echo[s].small : echo[s].large;
            if (!r.ok)
                return 0.0;
            const double amount = which < 2 ? double(r.messages) : mib(double(r.bytes));
            return amount / (perCpu ? r.serverCpu : r.seconds);
        };
        const char* titles[] = {"64 B x1", "64 B pipelined", "1 MiB"};
        for (int which : {0, 1, 2}) {
            for (const char* peer : {"beast", "qt"}) {
                const double mine = figure("engine", which, false), theirs = figure(peer, which, false);
                const double mineCpu = figure("engine", which, true), theirsCpu = figure(peer, which, true);
                char what[64];
                std::snprintf(what, sizeof what, "echo %s, engine / %s", titles[which],
                              std::strcmp(peer, "qt") == 0 ? "Qt WebSockets" : "Beast");
                if (mine > 0 && theirs > 0 && mineCpu > 0 && theirsCpu > 0)
                    std::printf("  %-44s %7.2fx  (%.2fx)\n", what, mine / theirs, mineCpu / theirsCpu);
                else
                    std::printf("  %-44s    n/a\n", what);
            }
        }
    }
    if (parts.count("proxy")) {
        auto rate = [&](const char* s) {
            const PathResult& r = proxy[s];
            return r.ok ? 1.0 / r.seconds : 0.0;
        };
        ratio("proxy, engine / direct TCP", rate("engine"), rate("direct"));
        ratio("proxy, engine / websockify", rate("engine"), rate("websockify"));
        ratio("proxy, websockify / direct TCP", rate("websockify"), rate("direct"));
    }
    if (parts.count("idle")) {
        auto perConnection = [&](const char* s) {
            const IdleResult& r = idle[s];
            return r.held > 0 ? double(r.peakKiB - r.baseKiB) / r.held : 0.0;
        };
        std::printf("  %-44s %7.2f KiB (Beast %.2f, Qt %.2f)\n", "idle, engine peak RSS growth per connection",
                    perConnection("engine"), perConnection("beast"), perConnection("qt"));
    }
    std::printf("\ntargets: echo >= 1.0x Beast at 64 B and 1 MiB; idle connection <= Beast's + 1 KiB;\n"
                "         proxy >= 0.5x direct TCP and >= 8x websockify (medians)\n");
    std::printf("\n%s\n", loadAverage().c_str());
    return 0;
}
