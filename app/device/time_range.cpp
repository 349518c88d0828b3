#include "device/time_range.h"

#include <QDateTime>

namespace device {

namespace {
bool isLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }
constexpr int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr qint64 kDay = 86400;
}  // namespace

qint64 calendarCount(const QDate& date, const QTime& time)
{
    qint64 count = 0;
    for (int year = 1970; year < date.year(); ++year) count += (isLeap(year) ? 366 : 365) * kDay;
    for (int month = 1; month < date.month(); ++month) count += kMonthDays[month - 1] * kDay;
    if (date.month() > 2 && isLeap(date.year())) count += kDay;
    count += (date.day() - 1) * kDay + time.hour() * 3600 + time.minute() * 60 + time.second();
    return count;
}

qint64 zoneOffsetToUtc(const QDate& date, const QTime& time, const QTimeZone& zone)
{
    // A time skipped by a spring-forward gap is read as Qt moves it: past the gap.
    return -qint64(QDateTime(date, time, zone).offsetFromUtc());
}

qint64 utcCount(const QDate& date, const QTime& time, const QTimeZone& zone)
{
    return calendarCount(date, time) + zoneOffsetToUtc(date, time, zone);
}

}  // namespace device
