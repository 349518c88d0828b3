#include "app/drv/drv_text.h"

#include <QLocale>

#include <cmath>
#include <cstdio>
#include <ctime>

namespace drv {

namespace {

using K = FieldKind;

// Grid order; offsets are where the field sits in the record.
constexpr std::array<Column, kColumnCount> kColumns{{
    {"No", 30, -1, K::RowNumber},
    {"Date/Time", 120, 43, K::LocalTime},
    {"GPS Active", 60, 9, K::U8},
    {"GPS Signal", 60, 10, K::U8},
    {"Latitude", 80, 11, K::F64},
    {"Longitude", 80, 19, K::F64},
    {"Heading", 80, 27, K::F64},
    {"Altitude", 80, 35, K::F64},
    {"Speed", 40, 0, K::U8},
    {"RPM", 40, 1, K::I16},
    {"FVSA", 40, 3, K::U8},
    {"FPW", 40, 4, K::U8},
    {"FCW", 40, 5, K::U8},
    {"TTC", 40, 6, K::Tenths},
    {"Distance", 50, 7, K::U8},
    {"Record", 50, 8, K::U8},
    {"Time Sec", 80, 43, K::I32},
    {"Time-Offset Min", 100, 47, K::I16},
    {"IsDst", 50, 49, K::U8},
    {"Time mSec", 60, 50, K::I16},
    {"G-Sensor", 60, 52, K::U8},
    {"Panic", 50, 53, K::U8},
    {"Over Speeding", 80, 54, K::U8},
    {"G-Sensor X", 70, 55, K::I16},
    {"G-Sensor Y", 70, 57, K::I16},
    {"G-Sensor Z", 70, 59, K::I16},
    {"Error Code", 70, 61, K::HexByte},
    {"Ignition", 60, 62, K::U8},
    {"Engine Load", 70, 63, K::F64},
    {"MAF Air", 60, 71, K::F64},
    {"Throttle", 70, 79, K::F64},
    {"Odometer", 70, 87, K::I32},
    {"Engine Temperature", 110, 91, K::U8},
    {"Oil Temperature", 110, 92, K::U8},
    {"LDW", 70, 93, K::U8},
}};

constexpr std::array<EventFlag, kEventFlagCount> kEventFlags{{
    {"FCW", 5},
    {"LDW", 93},
    {"FPW", 4},
    {"FVSA", 3},
    {"G-Sensor", 52},
    {"Panic", 53},
    {"Over Speeding", 54},
}};

}  // namespace

std::span<const Column, kColumnCount> columns() { return kColumns; }
std::span<const EventFlag, kEventFlagCount> eventFlags() { return kEventFlags; }

QString formatGeneral(double value, QChar decimalPoint)
{
    if (std::isnan(value)) return QStringLiteral("NAN");
    if (std::isinf(value)) return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    if (value == 0) return QStringLiteral("0");

    // 15 significant digits, rounded once by printf; then laid out by hand so
    // that the exponent and separator follow the grid's conventions.
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14e", value);
    const char* p = buf;
    const bool negative = *p == '-';
    if (negative) ++p;
    char digits[16];
    int n = 0;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') digits[n++] = *p;
    const int exponent = std::atoi(p + 1);
    while (n > 1 && digits[n - 1] == '0') --n;

    QString out;
    out.reserve(24);
    if (negative) out += u'-';
    if (exponent >= -5 && exponent < 15) {
        if (exponent < 0) {
            out += u'0';
            out += decimalPoint;
            for (int i = 0; i < -exponent - 1; ++i) out += u'0';
            out += QLatin1StringView(digits, n);
        } else {
            for (int i = 0; i <= exponent; ++i) out += QChar::fromLatin1(i < n ? digits[i] : '0');
            if (n > exponent + 1) {
                out += decimalPoint;
                out += QLatin1StringView(digits + exponent + 1, n - exponent - 1);
            }
        }
    } else {
        out += QChar::fromLatin1(digits[0]);
        if (n > 1) {
            out += decimalPoint;
            out += QLatin1StringView(digits + 1, n - 1);
        }
        out += u'E';
        out += QString::number(exponent);
    }
    return out;
}

QString localTimeText(std::int64_t secondsSinceEpoch)
{
    const std::time_t t = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return QString::number(secondsSinceEpoch);
    char buf[64];
    const int len = std::snprintf(buf, sizeof buf, "%d.%d.%d %d:%d:%d", tm.tm_year + 1900, tm.tm_mon + 1,
                                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return QString::fromLatin1(buf, len);
}

QChar systemDecimalPoint()
{
    const QString dp = QLocale::system().decimalPoint();
    return dp.size() == 1 ? dp.front() : QChar(u'.');
}

QString fieldText(const uchar* record, int column, QChar decimalPoint)
{
    const Column& c = kColumns[std::size_t(column)];
    const uchar* p = record + c.offset;
    switch (c.kind) {
    case K::RowNumber: return {};
    case K::U8: return QString::number(p[0]);
    case K::I16: return QString::number(readI16(p));
    case K::I32: return QString::number(readI32(p));
    case K::F64: return formatGeneral(readF64(p), decimalPoint);
    case K::Tenths: return formatGeneral(p[0] / 10.0, decimalPoint);
    case K::HexByte: {
        static const char hex[] = "0123456789ABCDEF";
        const char text[4] = {'0', 'x', hex[p[0] >> 4], hex[p[0] & 15]};
        return QString::fromLatin1(text, 4);
    }
    case K::LocalTime: return localTimeText(readI32(p));
    }
    return {};
}

QStringList headerLog(const DrvFile& file)
{
    QStringList lines;
    if (const auto& h = file.fileHeader()) {
        lines << QStringLiteral("-- DRV File Header 58bytes --")
              << QStringLiteral("DRV File Name = ") + h->fileName
              << QStringLiteral("DRV File Header Total Length = %1").arg(h->totalLength)
              << QStringLiteral("File Header totalFrameCount = %1").arg(h->totalFrameCount) << QStringLiteral(" ");
    }
    const DrvHeader& d = file.drvHeader();
    lines << QStringLiteral("-- DRV Header 22bytes --") << QStringLiteral("DRV Header Total Length = %1").arg(d.totalLength)
          << QStringLiteral("DRV Header UTC Time = %1").arg(d.startTime) << localTimeText(d.startTime)
          << QStringLiteral("Hz = %1").arg(d.rate) << QStringLiteral(" ")
          << QStringLiteral("-- DRV Data: 120bytes x %1 --").arg(file.declaredCount());
    if (file.endsEarly()) lines << shortFileLine(file);
    return lines;
}

QString shortFileLine(const DrvFile& file)
{
    if (!file.endsEarly()) return {};
    return QStringLiteral("The file ends early: %1 records declared, %2 read.")
        .arg(file.declaredCount())
        .arg(file.count());
}

}  // namespace drv
