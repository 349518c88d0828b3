#pragma once
// Whether a file read as DRV data looks like a recorder's track. The format has
// no magic number, so any file of a few hundred bytes "reads"; what gives a
// wrong file (or wrong options) away is that its records hold values no
// recorder writes: positions off the globe, times outside this century.

#include "app/drv/drv_format.h"

#include <QString>

namespace drv {

struct Plausibility {
    qint64 checked = 0;     // records looked at (at most kMaxChecked, spread over the file)
    qint64 impossible = 0;  // of those, records with an impossible position or time
    bool looksLikeDrv() const { return impossible * 2 <= checked; }
};

inline constexpr qint64 kMaxChecked = 4096;
// Record times a recorder writes: 2000-01-01 up to 2100-01-01 UTC.
inline constexpr std::int64_t kEarliestTime = 946684800;
inline constexpr std::int64_t kLatestTime = 4102444800;

// True when the record's latitude is beyond +-90, its longitude beyond +-180
// (or either is not a number), or its time lies outside 2000 to 2100.
bool isImpossibleRecord(const uchar* record);

// Most records impossible: the file does not look like a DRV track.
Plausibility checkPlausibility(const DrvFile& file);

// "<name> does not look like a DRV track: 38 of 41 records hold impossible
// positions or times." (with a hint at the options the reader was given)
QString implausibleMessage(const QString& fileName, const Plausibility& p);

}  // namespace drv
