#pragma once
// DRV files built byte by byte for the tests.

#include <QByteArray>
#include <QString>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <ctime>

namespace drvtest {

inline void putU8(QByteArray& b, int off, int v) { b[off] = char(std::uint8_t(v)); }
inline void putU16(QByteArray& b, int off, int v)
{
    putU8(b, off, v & 0xFF);
    putU8(b, off + 1, (v >> 8) & 0xFF);
}
inline void putU32(QByteArray& b, int off, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) putU8(b, off + i, int((v >> (8 * i)) & 0xFF));
}
inline void putF64(QByteArray& b, int off, double v)
{
    const auto bits = std::bit_cast<std::uint64_t>(v);
    putU32(b, off, std::uint32_t(bits));
    putU32(b, off + 4, std::uint32_t(bits >> 32));
}

// A 120-byte record; the remaining bytes stay zero.
struct Rec {
    QByteArray b = QByteArray(120, '\0');
    Rec& speed(int v) { putU8(b, 0, v); return *this; }
    Rec& time(std::int32_t t) { putU32(b, 43, std::uint32_t(t)); return *this; }
    Rec& gps(int active, double lat, double lon, double alt = 0)
    {
        putU8(b, 9, active);
        putF64(b, 11, lat);
        putF64(b, 19, lon);
        putF64(b, 35, alt);
        return *this;
    }
    Rec& g(int x, int y, int z) { putU16(b, 55, x); putU16(b, 57, y); putU16(b, 59, z); return *this; }
    Rec& u8(int off, int v) { putU8(b, off, v); return *this; }
    Rec& i16(int off, int v) { putU16(b, off, v); return *this; }
    Rec& i32(int off, std::int32_t v) { putU32(b, off, std::uint32_t(v)); return *this; }
    Rec& f64(int off, double v) { putF64(b, off, v); return *this; }
    operator QByteArray() const { return b; }
};

struct Drv {
    QByteArray prefix;
    bool withFileHeader = true;
    QByteArray name = "20250307_090503.drv";
    std::int64_t frameCount = -1;    // -1: the number of records
    std::int64_t drvLength = -1;     // -1: 22 + 120 x records... as the recorder writes it
    std::uint32_t startTime = 1741338303;  // 2025-03-07 09:05:03 UTC
    int rate = 10;
    QList<QByteArray> records;

    QByteArray bytes() const
    {
        const auto n = std::uint32_t(records.size());
        QByteArray out = prefix;
        const std::uint32_t dataLength = 120 * n;
        if (withFileHeader) {
            QByteArray fh(58, '\0');
            fh.replace(0, std::min<qsizetype>(name.size(), 39), name.left(39));
            putU32(fh, 40, 22 + dataLength);
            putU32(fh, 44, frameCount < 0 ? n : std::uint32_t(frameCount));
            out += fh;
        }
        QByteArray dh(22, '\0');
        putU32(dh, 0, drvLength < 0 ? dataLength : std::uint32_t(drvLength));
        putU32(dh, 4, startTime);
        putU8(dh, 11, rate);
        out += dh;
        for (const auto& r : records) out += r;
        return out;
    }
};

// Sets the process's time zone, for local-time texts that do not depend on the machine.
inline void setTimeZone(const char* tz)
{
    qputenv("TZ", tz);
    tzset();
}

}  // namespace drvtest
