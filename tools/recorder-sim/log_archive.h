#pragma once
// The recorder's system log download: a gzip-compressed tar archive of text
// logs for the requested time range, as the recorder's own tar would write it.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace recsim {

struct ArchiveEntry {
    QString name;
    QByteArray contents;
    std::uint32_t mtime = 0;  // seconds since 1970
};

// A ustar archive of the entries, then gzip. Names longer than 99 bytes are cut.
QByteArray tarArchive(const std::vector<ArchiveEntry>& entries);
QByteArray gzip(const QByteArray& data);

// The simulated recorder's logs (system, events, connectivity) between the two times.
std::vector<ArchiveEntry> systemLogs(std::uint32_t from, std::uint32_t to);
QByteArray systemLogArchive(std::uint32_t from, std::uint32_t to);

}  // namespace recsim
