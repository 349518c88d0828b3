#include "drv_route.h"

#include <QDateTime>
#include <QTimeZone>

#include <algorithm>
#include <cstring>

#include <bit>
#include <cmath>
#include <numbers>

namespace recsim {

namespace {

constexpr int kDrvHeaderSize = 22;
constexpr int kRecordSize = 120;

void put8(QByteArray& b, int off, int v) { b[off] = char(v & 0xFF); }
void put16(QByteArray& b, int off, int v)
{
    b[off] = char(v & 0xFF);
    b[off + 1] = char((v >> 8) & 0xFF);
}
void put32(QByteArray& b, qint64 off, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) b[off + i] = char((v >> (8 * i)) & 0xFF);
}
void putF64(QByteArray& b, int off, double v)
{
    const auto bits = std::bit_cast<std::uint64_t>(v);
    put32(b, off, std::uint32_t(bits));
    put32(b, off + 4, std::uint32_t(bits >> 32));
}

// Where the drive is after `s` seconds: a smooth speed profile (stops, town,
// open road) and a heading that drifts, integrated one second at a time.
struct RouteState {
    double lat = 48.1374, lon = 11.5755;  // a city centre to start from
    double heading = 35.0;                // degrees from north
    double odometerM = 124'500'000.0;     // metres
    double previousSpeed = 0;
};

double speedAt(std::uint32_t s)
{
    const double cycle = std::fmod(double(s), 600.0);
    if (cycle < 20) return 0;  // a stop at the lights every ten minutes
    const double base = cycle < 300 ? 45 : 90;
    return std::max(0.0, base + 12 * std::sin(double(s) / 37.0));
}

}  // namespace

DrvTrack generateDrvTrack(std::uint32_t from, std::uint32_t to, int maxRecords)
{
    DrvTrack track;
    track.fileName = QDateTime::fromSecsSinceEpoch(from, Qt::UTC).toString(QStringLiteral("yyyyMMdd_HHmmss")) +
                     QStringLiteral(".drv");
    if (to < from || maxRecords <= 0) return track;
    const std::uint64_t span = std::uint64_t(to) - from + 1;
    track.records = std::uint32_t(std::min<std::uint64_t>(span, std::uint64_t(maxRecords)));

    QByteArray& b = track.data;
    b = QByteArray(kDrvHeaderSize + qint64(track.records) * kRecordSize, '\0');
    put32(b, 0, std::uint32_t(track.records) * kRecordSize);
    put32(b, 4, from);
    put8(b, 11, 1);  // one record a second

    RouteState st;
    for (std::uint32_t i = 0; i < track.records; ++i) {
        const std::uint32_t t = from + i;
        const double speed = speedAt(t);  // km/h
        const double accel = (speed - st.previousSpeed) / 3.6;  // m/s²
        st.previousSpeed = speed;
        st.heading = std::fmod(st.heading + 4 * std::sin(double(t) / 53.0) + 360.0, 360.0);
        const double metres = speed / 3.6;
        const double rad = st.heading * std::numbers::pi / 180;
        st.lat += metres * std::cos(rad) / 111'320.0;
        st.lon += metres * std::sin(rad) / (111'320.0 * std::cos(st.lat * std::numbers::pi / 180));
        st.odometerM += metres;

        QByteArray r(kRecordSize, '\0');
        const bool closeAhead = speed > 30 && (t % 97) < 3;  // a car cut in
        const bool laneDrift = speed > 60 && (t % 131) == 0;
        put8(r, 0, int(speed));
        put16(r, 1, speed == 0 ? 750 : int(900 + speed * 28));
        put8(r, 5, closeAhead ? 1 : 0);                       // FCW
        put8(r, 6, closeAhead ? 12 + int(t % 20) : 0);        // TTC in tenths of a second
        put8(r, 7, closeAhead ? 8 + int(t % 10) : 0);         // distance
        put8(r, 8, 1);                                        // recording
        put8(r, 9, 1);                                        // GPS active
        put8(r, 10, 7 + int(t % 5));                          // satellites
        putF64(r, 11, st.lat);
        putF64(r, 19, st.lon);
        putF64(r, 27, std::round(st.heading * 10) / 10);
        putF64(r, 35, 519.5 + 3 * std::sin(double(t) / 90.0));
        put32(r, 43, t);
        put16(r, 47, 60);                                     // time zone offset, minutes
        put16(r, 50, 0);
        put8(r, 52, std::abs(accel) > 3 ? 1 : 0);             // G-sensor event
        put8(r, 54, speed > 100 ? 1 : 0);                     // over speeding
        put16(r, 55, int(accel * 102));                       // mg, along the car
        put16(r, 57, int(60 * std::sin(double(t) / 53.0)));  // mg, across
        put16(r, 59, 1000 + int(t % 7) - 3);                  // mg, gravity
        put8(r, 62, 1);                                       // ignition
        putF64(r, 63, speed == 0 ? 12.0 : std::round(20 + speed * 0.4));
        putF64(r, 71, std::round((2.5 + speed * 0.12) * 10) / 10);
        putF64(r, 79, speed == 0 ? 0.0 : std::round(12 + speed * 0.2));
        put32(r, 87, std::uint32_t(st.odometerM / 1000));
        put8(r, 91, 88 + int(t % 4));
        put8(r, 92, 95 + int(t % 3));
        put8(r, 93, laneDrift ? 1 : 0);                       // LDW
        std::memcpy(b.data() + kDrvHeaderSize + qint64(i) * kRecordSize, r.constData(), kRecordSize);
    }
    return track;
}

}  // namespace recsim
