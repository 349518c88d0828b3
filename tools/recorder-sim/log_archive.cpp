#include "log_archive.h"

#include <QDateTime>
#include <QTimeZone>

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace recsim {

namespace {

constexpr int kBlock = 512;

// A zero-padded octal number of width - 1 digits and a terminating zero.
void putOctal(char* field, int width, std::uint64_t value)
{
    const QByteArray digits = QByteArray::number(qulonglong(value), 8).rightJustified(width - 1, '0');
    std::memcpy(field, digits.constData(), std::size_t(width - 1));
    field[width - 1] = '\0';
}

QByteArray tarHeader(const ArchiveEntry& e)
{
    QByteArray h(kBlock, '\0');
    char* p = h.data();
    const QByteArray name = e.name.toUtf8().left(99);
    std::memcpy(p, name.constData(), std::size_t(name.size()));
    putOctal(p + 100, 8, 0644);
    putOctal(p + 108, 8, 0);
    putOctal(p + 116, 8, 0);
    putOctal(p + 124, 12, std::uint64_t(e.contents.size()));
    putOctal(p + 136, 12, e.mtime);
    p[156] = '0';  // regular file
    std::memcpy(p + 257, "ustar", 6);
    std::memcpy(p + 263, "00", 2);
    std::memcpy(p + 265, "root", 4);
    std::memcpy(p + 297, "root", 4);
    // The checksum is taken with its own field read as eight blanks.
    std::memset(p + 148, ' ', 8);
    unsigned sum = 0;
    for (int i = 0; i < kBlock; ++i) sum += uchar(p[i]);
    putOctal(p + 148, 7, sum);
    p[155] = ' ';
    return h;
}

QString logTime(std::uint32_t t)
{
    return QDateTime::fromSecsSinceEpoch(t, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

}  // namespace

QByteArray tarArchive(const std::vector<ArchiveEntry>& entries)
{
    QByteArray out;
    for (const ArchiveEntry& e : entries) {
        out += tarHeader(e);
        out += e.contents;
        out.append((kBlock - e.contents.size() % kBlock) % kBlock, '\0');
    }
    out.append(2 * kBlock, '\0');  // end of archive
    return out;
}

QByteArray gzip(const QByteArray& data)
{
    z_stream z{};
    // 15 window bits, +16 for the gzip wrapper.
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("zlib cannot start");
    QByteArray out(qsizetype(deflateBound(&z, uLong(data.size()))), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.truncate(qsizetype(z.total_out));
    deflateEnd(&z);
    if (rc != Z_STREAM_END) throw std::runtime_error("zlib cannot compress the logs");
    return out;
}

std::vector<ArchiveEntry> systemLogs(std::uint32_t from, std::uint32_t to)
{
    if (to < from) std::swap(from, to);
    const std::uint32_t last = std::min<std::uint64_t>(to, std::uint64_t(from) + 86'400);  // a day at most
    QByteArray system, events, network;
    system += QStringLiteral("%1 kernel: Brindle recorder simulator booting\n").arg(logTime(from)).toUtf8();
    system += QStringLiteral("%1 storage: SD card mounted, 29.7 GB free\n").arg(logTime(from)).toUtf8();
    for (std::uint64_t t = from; t <= last; t += 15) {
        const auto s = std::uint32_t(t);
        system += QStringLiteral("%1 power: input %2 V, temperature %3 C\n")
                      .arg(logTime(s))
                      .arg(12.4 + (s % 7) * 0.1, 0, 'f', 1)
                      .arg(38 + s % 5)
                      .toUtf8();
        if (s % 90 == 0) events += QStringLiteral("%1 event: FCW warning, TTC 1.8 s\n").arg(logTime(s)).toUtf8();
        if (s % 120 == 0) network += QStringLiteral("%1 wifi: client associated, RSSI -%2 dBm\n").arg(logTime(s)).arg(48 + s % 9).toUtf8();
    }
    events += QStringLiteral("%1 event: log range ends\n").arg(logTime(last)).toUtf8();
    network += QStringLiteral("%1 ws: configuration tool connected\n").arg(logTime(last)).toUtf8();
    return {{QStringLiteral("log/system.log"), system, last},
            {QStringLiteral("log/event.log"), events, last},
            {QStringLiteral("log/network.log"), network, last}};
}

QByteArray systemLogArchive(std::uint32_t from, std::uint32_t to) { return gzip(tarArchive(systemLogs(from, to))); }

}  // namespace recsim
