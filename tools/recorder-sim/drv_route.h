#pragma once
// DRV track data along a generated route: a drive that starts at the
// requested time, one record a second, with speed, position, heading, engine
// values, G-sensor readings and now and then a driver-assistance warning.

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace recsim {

struct DrvTrack {
    QByteArray data;          // 22-byte DRV header and the records
    std::uint32_t records = 0;
    QString fileName;         // the recorder's own name for the file
};

// Records for every second from `from` to `to`, both included, at most
// maxRecords. An empty track when `to` lies before `from`.
DrvTrack generateDrvTrack(std::uint32_t from, std::uint32_t to, int maxRecords);

}  // namespace recsim
