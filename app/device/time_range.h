#pragma once
// The download request's time counts: the entered local date and time as
// seconds since 1970, by plain calendar arithmetic on the entered fields, plus
// the time zone's offset to UTC at that moment.

#include <QDate>
#include <QTime>
#include <QTimeZone>

namespace device {

// Seconds from 1970-01-01 00:00:00 to the entered fields, milliseconds ignored.
qint64 calendarCount(const QDate& date, const QTime& time);

// Seconds to add to a local time of `zone` on that date to reach UTC
// (-32400 for UTC+9), daylight saving included.
qint64 zoneOffsetToUtc(const QDate& date, const QTime& time, const QTimeZone& zone);

// calendarCount plus the zone's offset: the count the recorder is sent.
qint64 utcCount(const QDate& date, const QTime& time, const QTimeZone& zone);

}  // namespace device
