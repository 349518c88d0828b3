#include "app/drv/drv_plausibility.h"

#include <cmath>

namespace drv {

bool isImpossibleRecord(const uchar* record)
{
    const DrvRecord r = decodeRecord(record);
    // Written as "not within" so that NaN counts as impossible too.
    if (!(std::fabs(r.latitude) <= 90.0) || !(std::fabs(r.longitude) <= 180.0)) return true;
    return r.timeSec < kEarliestTime || r.timeSec >= kLatestTime;
}

Plausibility checkPlausibility(const DrvFile& file)
{
    Plausibility p;
    const qint64 count = file.count();
    const qint64 step = std::max<qint64>(1, count / kMaxChecked);
    for (qint64 i = 0; i < count && p.checked < kMaxChecked; i += step) {
        ++p.checked;
        if (isImpossibleRecord(file.record(i))) ++p.impossible;
    }
    return p;
}

QString implausibleMessage(const QString& fileName, const Plausibility& p)
{
    return QStringLiteral("%1 does not look like a DRV track: %2 of %3 records hold impossible positions or times "
                          "(latitude beyond 90, longitude beyond 180, time outside 2000 to 2100). "
                          "Check the server header and file header options.")
        .arg(fileName)
        .arg(p.impossible)
        .arg(p.checked);
}

}  // namespace drv
