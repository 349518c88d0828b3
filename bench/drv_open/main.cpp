// drv_open [RECORDS=1000000] [NAIVE_ROWS=100000]
// Writes a DRV file of RECORDS records, then measures in one run:
//  1. parsing: read, walk the headers and decode every field of every record;
//  2. opening it in the viewer (offscreen), up to the first painted window;
//  3. the naive grid: a QTableWidget with one QTableWidgetItem per cell, filled
//     with NAIVE_ROWS rows and scaled linearly to RECORDS rows;
// and prints the times, peak RSS and ratios against the targets.
#include "app/drv/drv_format.h"
#include "app/drv/drv_record_model.h"
#include "app/drv/drv_text.h"
#include "app/drv/drv_viewer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

double peakRssMiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024.0;  // KiB on Linux
}

double currentRssMiB()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.size() > 1 ? parts[1].toDouble() * 4096 / (1024.0 * 1024.0) : 0;
}

void put(uchar* p, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i) p[i] = uchar(v >> (8 * i));
}
void putF64(uchar* p, double v)
{
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
    put(p, std::uint32_t(bits), 4);
    put(p + 4, std::uint32_t(bits >> 32), 4);
}

// A drive at 10 Hz: a slow speed wave, a position moving north-east, G noise, a few events.
bool writeTrack(const QString& path, qint64 records)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    QByteArray head(58 + 22, '\0');
    auto* h = reinterpret_cast<uchar*>(head.data());
    std::memcpy(h, "bench_track.drv", 15);
    put(h + 40, std::uint32_t(22 + records * 120), 4);
    put(h + 44, std::uint32_t(records), 4);
    put(h + 58, std::uint32_t(records * 120), 4);
    put(h + 62, 1741338303u, 4);
    h[58 + 11] = 10;
    f.write(head);
    QByteArray chunk;
    constexpr qint64 kPerChunk = 8192;
    for (qint64 k = 0; k < records; k += kPerChunk) {
        const qint64 n = std::min(kPerChunk, records - k);
        chunk.fill('\0', n * 120);
        for (qint64 i = 0; i < n; ++i) {
            const qint64 r = k + i;
            uchar* p = reinterpret_cast<uchar*>(chunk.data()) + i * 120;
            p[0] = uchar(60 + 40 * std::sin(r / 3000.0));
            put(p + 1, std::uint32_t(800 + r % 2500), 2);
            p[5] = (r % 9000) < 20;
            p[6] = uchar(r % 60);
            p[9] = 1;
            p[10] = 9;
            putF64(p + 11, 37.5 + r * 1e-6);
            putF64(p + 19, 127.0 + r * 1e-6);
            putF64(p + 27, double(r % 3600) / 10.0);
            putF64(p + 35, 38.5 + std::sin(r / 100.0));
            put(p + 43, std::uint32_t(1741338303 + r / 10), 4);
            put(p + 50, std::uint32_t((r % 10) * 100), 2);
            put(p + 55, std::uint32_t(std::int16_t((r * 37) % 400 - 200)), 2);
            put(p + 57, std::uint32_t(std::int16_t((r * 53) % 300 - 150)), 2);
            put(p + 59, std::uint32_t(std::int16_t(1000 + (r * 17) % 50)), 2);
            p[61] = uchar(r % 256);
            putF64(p + 63, 45.5);
            put(p + 87, std::uint32_t(123456 + r / 100), 4);
            p[93] = (r % 12000) < 15;
        }
        if (f.write(chunk) != chunk.size()) return false;
    }
    return f.flush();
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 records = argc > 1 ? std::atoll(argv[1]) : 1000000;
    const int naiveRows = argc > 2 ? std::atoi(argv[2]) : 100000;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("track.drv"));
    if (!writeTrack(path, records)) {
        std::printf("drv_open: cannot write %s\n", qPrintable(path));
        return 0;
    }
    const double fileMiB = QFileInfo(path).size() / (1024.0 * 1024.0);
    std::printf("DRV file: %lld records, %.1f MiB (page cache warm)\n", static_cast<long long>(records), fileMiB);
    const double baseRss = peakRssMiB();
    std::printf("peak RSS before opening: %.1f MiB\n", baseRss);

    // 1. Parse: best of three, every field of every record decoded.
    double bestParse = 1e9;
    long long checksum = 0;
    for (int rep = 0; rep < 3; ++rep) {
        QElapsedTimer t;
        t.start();
        const drv::DrvFile f = drv::DrvFile::read(drv::DrvBytes::readFile(path), drv::ReadOptions{0, true});
        for (qint64 k = 0; k < f.count(); ++k) {
            const drv::DrvRecord r = drv::decodeRecord(f.record(k));
            checksum += r.speed + r.rpm + r.gX + r.timeSec + r.odometer + r.ldw + std::int64_t(r.latitude);
        }
        bestParse = std::min(bestParse, t.nsecsElapsed() / 1e9);
    }
    std::printf("parse:  %.3f s  %.0f MB/s  (target >= 500 MB/s: %s)  [checksum %lld]\n", bestParse,
                fileMiB * 1.048576 / bestParse, fileMiB * 1.048576 / bestParse >= 500 ? "met" : "MISSED", checksum);

    // 2. The viewer, shown offscreen, until the window with grid and plot has painted.
    double viewerSeconds = 0;
    {
        TformDrvViewer viewer;
        viewer.show();
        if (!QTest::qWaitForWindowExposed(&viewer)) std::printf("viewer window not exposed\n");
        app.processEvents();
        QElapsedTimer t;
        t.start();
        viewer.openFile(path);
        viewer.grab();  // paints grid and plot (the plot decimates here)
        app.processEvents();
        viewerSeconds = t.nsecsElapsed() / 1e9;
        const double peak = peakRssMiB();
        const double limit = 1.5 * fileMiB + 64;
        std::printf("viewer: %.3f s to open and paint %d rows; RSS now %.1f MiB, peak %.1f MiB "
                    "(target <= 1.5 x file + 64 = %.1f MiB: %s)\n",
                    viewerSeconds, viewer.recordModel()->rowCount(), currentRssMiB(), peak, limit,
                    peak <= limit ? "met" : "MISSED");
    }

    // 3. The naive grid: every text made up front, one item per cell.
    {
        const drv::DrvFile f = drv::DrvFile::read(drv::DrvBytes::readFile(path), drv::ReadOptions{0, true});
        const int rows = int(std::min<qint64>(naiveRows, f.count()));
        const QChar dp = drv::systemDecimalPoint();
        const double rssBefore = currentRssMiB();
        QElapsedTimer t;
        t.start();
        QTableWidget grid(rows, drv::kColumnCount);
        grid.verticalHeader()->hide();
        QStringList labels;
        for (const auto& c : drv::columns()) labels << QString::fromLatin1(c.label);
        grid.setHorizontalHeaderLabels(labels);
        for (int r = 0; r < rows; ++r) {
            grid.setItem(r, 0, new QTableWidgetItem(QString::number(r + 1)));
            for (int c = 1; c < drv::kColumnCount; ++c)
                grid.setItem(r, c, new QTableWidgetItem(drv::fieldText(f.record(r), c, dp)));
        }
        grid.resize(935, 666);
        grid.show();
        if (!QTest::qWaitForWindowExposed(&grid)) std::printf("naive grid not exposed\n");
        grid.grab();
        app.processEvents();
        const double naiveSeconds = t.nsecsElapsed() / 1e9;
        const double scale = double(f.count()) / rows;
        const double naiveScaled = naiveSeconds * scale;
        const double naiveMiB = (currentRssMiB() - rssBefore) * scale;
        std::printf("naive QTableWidget: %.3f s for %d rows x 35 items; scaled linearly x%.1f to %lld rows: "
                    "%.2f s, about %.0f MiB more memory\n",
                    naiveSeconds, rows, scale, static_cast<long long>(f.count()), naiveScaled, naiveMiB);
        const double ratio = naiveScaled / viewerSeconds;
        std::printf("ratio naive / viewer: %.1f x faster (target >= 20 x: %s)\n", ratio, ratio >= 20 ? "met" : "MISSED");
    }
    std::printf("peak RSS of the whole run (includes the naive grid): %.1f MiB\n", peakRssMiB());
    return 0;
}
