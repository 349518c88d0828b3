// device_download: how fast the tool takes a large recorded-data download off
// the recorder and onto disk, and what it costs while it does.
//
// The parent starts the recorder simulator with a 256 MiB MMV video, then
// runs two children one after the other, each in a process of its own so its
// peak RSS is its own:
//   raw   the engine's WebSocket client through its C interface, counting and
//         dropping the bytes of the upload response: the ceiling on this machine
//   tool  the offscreen tool (AppWindows, DeviceLink, the download dialog),
//         from "Upload Request" until the file is saved and acknowledged,
//         with a 5 ms timer measuring the longest gap in the GUI event loop
// Each size is measured in several rounds, the two children in turns.
// Given several sizes it does this for each, so that the peak RSS can be seen
// not to grow with the file (the simulator serves at most 900,000,000 bytes,
// 858 MiB, just under the 1,000,000,000-byte message limit).
//
// Usage: device_download [MiB...]       (default 256)
//        device_download --child raw|tool URL MiB
#include "app_windows.h"
#include "device/device_link.h"
#include "device/device_message.h"
#include "device/form_download.h"
#include "engine/include/corvanews20.h"
#include "engine/include/corvanews20_client.h"
#include "sim_process.h"
#include "toolkit/scripted_user_interaction.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include <dlfcn.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr qint64 kOverhead = 76;  // upload response around the data

long peakRssKiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

double mbPerSecond(qint64 bytes, qint64 ns) { return ns > 0 ? double(bytes) / 1e6 / (double(ns) / 1e9) : 0; }

// ---- raw engine client ----------------------------------------------------------

// Timed from the first byte of the response, so the simulator's time to make
// the video is left out of both figures.
struct RawTally {
    qint64 expected = 0;
    qint64 bytes = 0;
    bool failed = false;
    QElapsedTimer clock;
};
RawTally rawTally;

int runRaw(const QString& url, qint64 mib, int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    void* lib = dlopen(WS_ENGINE_FILE, RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        std::printf("FAIL %s\n", dlerror());
        return 1;
    }
#define RESOLVE(name) reinterpret_cast<decltype(&CorvaneWS_WebSocketClient_##name)>(dlsym(lib, "CorvaneWS_WebSocketClient_" #name))
    auto create = RESOLVE(Create);
    auto destroy = RESOLVE(Destroy);
    auto doCall = RESOLVE(Do);
    auto lastError = RESOLVE(GetLastError);
#undef RESOLVE
    namespace client = corvanews20::client;
    rawTally.expected = kOverhead + (mib << 20);
    CorvaneWS_EventSink sink = [](void*, int event, int, void**, int* al) -> int {
        if (event == client::event::DataIn) {
            if (!rawTally.clock.isValid()) rawTally.clock.start();
            rawTally.bytes += al[1];
            if (rawTally.bytes >= rawTally.expected) QCoreApplication::exit(0);
        } else if (event == client::event::Disconnected) {
            rawTally.failed = rawTally.bytes < rawTally.expected;
            QCoreApplication::exit(1);
        }
        return 0;
    };
    void* h = create(sink, nullptr, nullptr, 1);
    std::u16string wideUrl = url.toStdU16String();
    void* connectArgs[2] = {wideUrl.data(), nullptr};
    int connectLens[2] = {0, 0};
    if (doCall(h, corvanews20::kMethodOffset + client::method::Connect, 1, connectArgs, connectLens, nullptr) != 0) {
        std::printf("FAIL connect: %s\n", lastError(h));
        return 1;
    }
    QByteArray request = device::uploadRequest(device::kDataMmv, 0, 60);
    void* sendArgs[2] = {request.data(), nullptr};
    int sendLens[2] = {int(request.size()), 0};
    if (doCall(h, corvanews20::kMethodOffset + client::method::Send, 1, sendArgs, sendLens, nullptr) != 0) {
        std::printf("FAIL send: %s\n", lastError(h));
        return 1;
    }
    app.exec();
    const qint64 ns = rawTally.clock.nsecsElapsed();
    if (rawTally.failed) {
        std::printf("FAIL the connection closed after %lld bytes\n", static_cast<long long>(rawTally.bytes));
        return 1;
    }
    std::printf("RESULT raw %.1f %ld 0\n", mbPerSecond(rawTally.bytes, ns), peakRssKiB());
    void* none[1] = {nullptr};
    int noLen[1] = {0};
    doCall(h, corvanews20::kMethodOffset + client::method::Disconnect, 0, none, noLen, nullptr);
    destroy(h);
    return 0;
}

// ---- the tool -------------------------------------------------------------------

int runTool(const QString& url, qint64 mib, int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    toolkit::ScriptedUserInteraction dialogs;  // an error box must not block the run
    QTemporaryDir scratch;
    QDir::setCurrent(scratch.path());
    AppWindows windows;
    DeviceLink& link = *windows.deviceLink;
    link.setDataFolderBase(scratch.path());
    try {
        link.connectTo(url);
    } catch (const std::exception& e) {
        std::printf("FAIL connect: %s\n", e.what());
        return 1;
    }

    // The event loop blocks between events, as the program's own does; a loop
    // that polled would take the CPU from the writer and the simulator.
    QEventLoop loop;
    bool saved = false;
    QObject::connect(&link, &DeviceLink::uploadSaved, [&] {
        saved = true;
        loop.quit();
    });
    QObject::connect(&link, &DeviceLink::connectionChanged, [&](bool connected) {
        if (!connected) loop.quit();
    });
    qint64 receivedNs = 0;  // the last byte of the message in, before the file is in place
    QElapsedTimer clock;    // from the first byte of the response
    QElapsedTimer sinceTick;
    qint64 longestGapNs = 0;
    // A 5 ms timer: fine enough for a 50 ms target, without making the event
    // loop spin a thousand times a second and slowing the download it measures.
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGapNs = std::max(longestGapNs, sinceTick.nsecsElapsed());
        sinceTick.restart();
    });

    const long rssBefore = peakRssKiB();
    windows.download->show();
    windows.download->findChild<QRadioButton*>(QStringLiteral("rbUploadMMV"))->click();
    qint64 messageSize = 0;
    QObject::connect(&link, &DeviceLink::progressRange, [&](qint64 maximum) {
        if (!clock.isValid()) clock.start();
        messageSize = maximum;
    });
    QObject::connect(&link, &DeviceLink::progressValue, [&](qint64 position) {
        if (position == messageSize && receivedNs == 0) receivedNs = clock.nsecsElapsed();
    });
    sinceTick.start();
    ticker.start();
    windows.download->findChild<QPushButton*>(QStringLiteral("btnUploadRequest"))->click();
    QTimer::singleShot(600000, &loop, &QEventLoop::quit);
    loop.exec();
    const bool done = saved;
    const qint64 ns = clock.nsecsElapsed();
    ticker.stop();
    if (!done || !saved) {
        std::printf("FAIL no file saved (%s)\n", qPrintable(dialogs.errors().join(QStringLiteral("; "))));
        return 1;
    }
    const QStringList files = QDir(scratch.filePath(QStringLiteral("MMV"))).entryList(QDir::Files);
    const qint64 size = files.isEmpty() ? 0 : QFileInfo(scratch.filePath(QStringLiteral("MMV/") + files[0])).size();
    if (size != (mib << 20)) {
        std::printf("FAIL saved %lld bytes\n", static_cast<long long>(size));
        return 1;
    }
    std::printf("RESULT tool %.1f %ld %.1f %ld %.1f\n", mbPerSecond(kOverhead + size, ns), peakRssKiB(),
                double(longestGapNs) / 1e6, rssBefore, mbPerSecond(kOverhead + size, receivedNs));
    link.disconnectFromRecorder();
    return 0;
}

struct Figures {
    double rate = 0, blockedMs = 0, receiveRate = 0;
    long rssKiB = 0, rssBeforeKiB = 0;
    bool ok = false;
};

Figures runChild(const char* argv0, const char* kind, const QString& url, qint64 mib)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QString::fromLocal8Bit(argv0), {"--child", kind, url, QString::number(mib)});
    child.waitForFinished(-1);
    Figures f;
    for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> w = line.split(' ');
        if (w.size() >= 5 && w[0] == "RESULT") {
            f.rate = w[2].toDouble();
            f.rssKiB = w[3].toLong();
            f.blockedMs = w[4].toDouble();
            f.rssBeforeKiB = w.size() > 5 ? w[5].toLong() : 0;
            f.receiveRate = w.size() > 6 ? w[6].toDouble() : 0;
            f.ok = true;
        } else if (!line.isEmpty()) {
            std::printf("  %s: %s\n", kind, line.constData());
        }
    }
    return f;
}

constexpr double kRssTargetMiB = 96;
constexpr int kRounds = 5;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// One size: the raw client and the tool against a simulator of their own,
// taken in turns so that a change of load on a shared machine hits both; the
// figures are medians of the rounds, with the spread beside them.
bool measure(const char* argv0, qint64 mib, std::vector<std::pair<qint64, double>>& peaks)
{
    SimProcess sim;
    if (!sim.start(QStringLiteral(RECORDER_SIM_PATH),
                   {"--mmv-size", QStringLiteral("%1M").arg(mib), "--no-ack", "--quiet"})) {
        std::printf("the simulator did not start: %s\n", qPrintable(sim.errors()));
        return false;
    }
    std::printf("device_download: %lld MiB MMV from the recorder simulator at %s, median of %d rounds\n",
                static_cast<long long>(mib), qPrintable(sim.url()), kRounds);
    std::vector<double> raw, tool, received, blocked, ratios;
    double rss = 0, rssBefore = 0;
    for (int round = 0; round < kRounds; ++round) {
        const Figures r = runChild(argv0, "raw", sim.url(), mib);
        const Figures t = runChild(argv0, "tool", sim.url(), mib);
        if (!r.ok || !t.ok) {
            std::printf("a run failed\n");
            return false;
        }
        raw.push_back(r.rate);
        tool.push_back(t.rate);
        received.push_back(t.receiveRate);
        blocked.push_back(t.blockedMs);
        ratios.push_back(r.rate > 0 ? t.rate / r.rate : 0.0);
        rss = std::max(rss, double(t.rssKiB) / 1024);
        rssBefore = std::max(rssBefore, double(t.rssBeforeKiB) / 1024);
    }
    sim.stop();
    auto spread = [](const std::vector<double>& v) {
        const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
        return std::make_pair(*lo, *hi);
    };
    const double rawRate = median(raw);
    std::printf("%-34s %10.1f MB/s  (%.1f to %.1f)\n", "engine raw client", rawRate, spread(raw).first,
                spread(raw).second);
    std::printf("%-34s %10.1f MB/s  (%.1f to %.1f; %.2f x raw, median of the rounds' ratios %.2f; target >= 0.5)\n",
                "tool, end to end to disk", median(tool), spread(tool).first, spread(tool).second,
                rawRate > 0 ? median(tool) / rawRate : 0.0, median(ratios));
    std::printf("%-34s %10.1f MB/s  (%.2f x raw; the last byte in)\n", "tool, received", median(received),
                rawRate > 0 ? median(received) / rawRate : 0.0);
    std::printf("%-34s %10.1f MiB  (highest of the rounds; target <= %.0f MiB; %.1f MiB before the download)\n",
                "tool peak RSS", rss, kRssTargetMiB, rssBefore);
    std::printf("%-34s %10.1f ms   (worst %.1f ms; target <= 50 ms)\n", "longest GUI event loop block",
                median(blocked), spread(blocked).second);
    peaks.emplace_back(mib, rss);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 5 && std::string(argv[1]) == "--child") {
        const QString url = QString::fromLocal8Bit(argv[3]);
        const qint64 mib = std::stoll(argv[4]);
        return std::string(argv[2]) == "raw" ? runRaw(url, mib, argc, argv) : runTool(url, mib, argc, argv);
    }
    QCoreApplication app(argc, argv);
    std::vector<qint64> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::max(1LL, std::stoll(argv[i])));
    if (sizes.empty()) sizes.push_back(256);
    std::vector<std::pair<qint64, double>> peaks;
    for (const qint64 mib : sizes)
        if (!measure(argv[0], mib, peaks)) return 1;
    if (peaks.size() > 1) {
        std::printf("tool peak RSS by size:");
        for (const auto& [mib, rss] : peaks) std::printf("  %lld MiB: %.1f MiB", static_cast<long long>(mib), rss);
        std::printf("\n");
    }
    return 0;
}
