#pragma once
// What other tools read: CSV with the grid's texts, a GPX 1.1 track, a short
// summary of the trip; and the decimated series the plot draws.

#include "app/drv/drv_format.h"

#include <QChar>
#include <QIODevice>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <vector>

namespace drv {

// Told the records written so far and the total every few thousand records;
// returning false stops the export (the writer then returns false).
using ExportProgress = std::function<bool(qint64 done, qint64 total)>;

// A header row with the 35 column labels, then one row per record with the
// grid's texts (column 0 numbered from 1); RFC 4180: CRLF, fields quoted when
// they hold a comma, quote or line break. Returns false when a write fails.
bool writeCsv(QIODevice& out, const DrvFile& file, QChar decimalPoint, const ExportProgress& progress = {});
// RFC 4180 quoting of one field.
QString csvField(const QString& text);

// GPX 1.1: one track, one segment, a point per record whose "GPS Active" is
// not 0 and whose position is a valid latitude/longitude, with altitude and
// the record's UTC time.
bool writeGpx(QIODevice& out, const DrvFile& file, const QString& trackName, const ExportProgress& progress = {});
// "2025-03-07T09:05:03Z", with ".250" before the Z when milliseconds are set.
QString utcTimeText(std::int64_t secondsSinceEpoch, int milliseconds);

// Great-circle distance in metres between two positions in degrees.
double haversineMetres(double lat1, double lon1, double lat2, double lon2);

struct FlagCount {
    qint64 records = 0;  // records with the flag set
    qint64 events = 0;   // runs of consecutive set records
};

struct Summary {
    qint64 records = 0;
    qint64 declared = 0;
    std::int64_t startTime = 0;  // first and last record's "Time Sec"
    std::int64_t endTime = 0;
    int rate = 0;
    double distanceMetres = 0;  // between consecutive GPS-active records
    int maxSpeed = 0;
    std::array<FlagCount, 7> flags{};  // in the order of eventFlags()
};

Summary summarize(const DrvFile& file);
QStringList summaryLines(const Summary& summary, QChar decimalPoint);

// The plot's data for a width of `columns` pixels: per column the min and max
// of each series over the records that fall into it, and whether each event
// flag is set in any of them. Record k falls into column k * columns / count.
enum Series { Speed, GX, GY, GZ, SeriesCount };
struct PlotColumn {
    std::array<float, SeriesCount> min{}, max{};
    std::uint8_t flags = 0;  // bit i: eventFlags()[i]
    bool empty = true;
};
std::vector<PlotColumn> decimate(const DrvFile& file, int columns);

}  // namespace drv
