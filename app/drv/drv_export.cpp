#include "app/drv/drv_export.h"

#include "app/drv/drv_text.h"

#include <QByteArray>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace drv {

namespace {

// Buffers the output so that a million small rows cost a few large writes.
class ChunkWriter {
public:
    explicit ChunkWriter(QIODevice& out) : out_(out) { buf_.reserve(kChunk + 4096); }
    void add(const QByteArray& bytes)
    {
        buf_ += bytes;
        if (buf_.size() >= kChunk) flush();
    }
    void add(const char* text) { add(QByteArray(text)); }
    bool flush()
    {
        if (!buf_.isEmpty() && out_.write(buf_) != buf_.size()) ok_ = false;
        buf_.clear();
        return ok_;
    }

private:
    static constexpr qsizetype kChunk = 1 << 20;
    QIODevice& out_;
    QByteArray buf_;
    bool ok_ = true;
};

constexpr qint64 kProgressEvery = 4096;

// False when the caller wants the export to stop.
bool keepGoing(const ExportProgress& progress, qint64 done, qint64 total)
{
    return !progress || done % kProgressEvery != 0 || progress(done, total);
}

QString xmlEscaped(const QString& text) { return text.toHtmlEscaped(); }

// GPX wants a point whatever the user's locale; printf follows LC_NUMERIC,
// which the application takes from the environment.
QByteArray number15(double v) { return QByteArray::number(v, 'g', 15); }

}  // namespace

QString csvField(const QString& text)
{
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') && !text.contains(u'\r'))
        return text;
    QString quoted = text;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

bool writeCsv(QIODevice& out, const DrvFile& file, QChar decimalPoint, const ExportProgress& progress)
{
    ChunkWriter w(out);
    QString line;
    for (int c = 0; c < kColumnCount; ++c) {
        if (c) line += u',';
        line += csvField(QString::fromLatin1(columns()[c].label));
    }
    w.add(line.toUtf8() + "\r\n");
    for (qint64 k = 0; k < file.count(); ++k) {
        if (!keepGoing(progress, k, file.count())) return false;
        const uchar* rec = file.record(k);
        line = QString::number(k + 1);
        for (int c = 1; c < kColumnCount; ++c) {
            line += u',';
            line += csvField(fieldText(rec, c, decimalPoint));
        }
        line += QLatin1StringView("\r\n");
        w.add(line.toUtf8());
    }
    return w.flush();
}

QString utcTimeText(std::int64_t secondsSinceEpoch, int milliseconds)
{
    const std::time_t t = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                          tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    if (milliseconds > 0 && milliseconds < 1000) n += std::snprintf(buf + n, sizeof buf - n, ".%03d", milliseconds);
    buf[n++] = 'Z';
    return QString::fromLatin1(buf, n);
}

static bool validPosition(double lat, double lon)
{
    return std::isfinite(lat) && std::isfinite(lon) && std::abs(lat) <= 90 && std::abs(lon) <= 180;
}

bool writeGpx(QIODevice& out, const DrvFile& file, const QString& trackName, const ExportProgress& progress)
{
    ChunkWriter w(out);
    w.add("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
          "<gpx version=\"1.1\" creator=\"BrindleConfigTool\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
          "  <trk>\n");
    w.add("    <name>" + xmlEscaped(trackName).toUtf8() + "</name>\n");
    w.add("    <trkseg>\n");
    for (qint64 k = 0; k < file.count(); ++k) {
        if (!keepGoing(progress, k, file.count())) return false;
        const DrvRecord r = decodeRecord(file.record(k));
        if (r.gpsActive == 0 || !validPosition(r.latitude, r.longitude)) continue;
        QByteArray pt = "      <trkpt lat=\"" + number15(r.latitude) + "\" lon=\"" + number15(r.longitude) + "\">";
        if (std::isfinite(r.altitude)) pt += "<ele>" + number15(r.altitude) + "</ele>";
        pt += "<time>" + utcTimeText(r.timeSec, r.timeMSec).toLatin1() + "</time></trkpt>\n";
        w.add(pt);
    }
    w.add("    </trkseg>\n  </trk>\n</gpx>\n");
    return w.flush();
}

double haversineMetres(double lat1, double lon1, double lat2, double lon2)
{
    constexpr double kEarthRadius = 6371008.8;  // mean radius
    constexpr double kRad = 3.14159265358979323846 / 180.0;
    const double dLat = (lat2 - lat1) * kRad;
    const double dLon = (lon2 - lon1) * kRad;
    const double a = std::sin(dLat / 2) * std::sin(dLat / 2) +
                     std::cos(lat1 * kRad) * std::cos(lat2 * kRad) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2 * kEarthRadius * std::asin(std::min(1.0, std::sqrt(a)));
}

Summary summarize(const DrvFile& file)
{
    Summary s;
    s.records = file.count();
    s.declared = file.declaredCount();
    s.rate = file.drvHeader().rate;
    bool havePrev = false;
    double prevLat = 0, prevLon = 0;
    std::array<bool, kEventFlagCount> wasSet{};
    for (qint64 k = 0; k < file.count(); ++k) {
        const uchar* p = file.record(k);
        const DrvRecord r = decodeRecord(p);
        if (k == 0) s.startTime = r.timeSec;
        s.endTime = r.timeSec;
        s.maxSpeed = std::max<int>(s.maxSpeed, r.speed);
        if (r.gpsActive != 0 && validPosition(r.latitude, r.longitude)) {
            if (havePrev) s.distanceMetres += haversineMetres(prevLat, prevLon, r.latitude, r.longitude);
            prevLat = r.latitude;
            prevLon = r.longitude;
            havePrev = true;
        }
        for (int i = 0; i < kEventFlagCount; ++i) {
            const bool set = p[eventFlags()[i].offset] != 0;
            if (set) {
                ++s.flags[i].records;
                if (!wasSet[i]) ++s.flags[i].events;
            }
            wasSet[i] = set;
        }
    }
    return s;
}

QStringList summaryLines(const Summary& s, QChar dp)
{
    QStringList lines;
    lines << QStringLiteral("Records: %1").arg(s.records);
    if (s.declared != s.records) lines.last() += QStringLiteral(" (%1 declared)").arg(s.declared);
    if (s.records > 0) {
        lines << QStringLiteral("Start: %1 (local time)").arg(localTimeText(s.startTime))
              << QStringLiteral("End: %1 (local time)").arg(localTimeText(s.endTime));
    } else {
        lines << QStringLiteral("Start: -") << QStringLiteral("End: -");
    }
    lines << QStringLiteral("Rate: %1 Hz").arg(s.rate)
          << QStringLiteral("Distance: %1 km").arg(formatGeneral(std::round(s.distanceMetres) / 1000.0, dp))
          << QStringLiteral("Max speed: %1 km/h").arg(s.maxSpeed);
    for (int i = 0; i < kEventFlagCount; ++i)
        lines << QStringLiteral("%1: %2 events, %3 records")
                     .arg(QLatin1String(eventFlags()[i].label))
                     .arg(s.flags[i].events)
                     .arg(s.flags[i].records);
    return lines;
}

std::vector<PlotColumn> decimate(const DrvFile& file, int columns)
{
    std::vector<PlotColumn> out(std::size_t(std::max(columns, 0)));
    const qint64 n = file.count();
    if (columns <= 0 || n == 0) return out;
    for (qint64 k = 0; k < n; ++k) {
        PlotColumn& c = out[std::size_t(k * columns / n)];
        const uchar* p = file.record(k);
        const DrvRecord r = decodeRecord(p);
        const std::array<float, SeriesCount> v{float(r.speed), float(r.gX), float(r.gY), float(r.gZ)};
        if (c.empty) {
            c.min = c.max = v;
            c.empty = false;
        } else {
            for (int s = 0; s < SeriesCount; ++s) {
                c.min[s] = std::min(c.min[s], v[s]);
                c.max[s] = std::max(c.max[s], v[s]);
            }
        }
        for (int i = 0; i < kEventFlagCount; ++i)
            if (p[eventFlags()[i].offset]) c.flags |= std::uint8_t(1u << i);
    }
    return out;
}

}  // namespace drv
