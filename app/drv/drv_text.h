#pragma once
// How a DRV record becomes the 35 texts of the viewer's grid, and the header
// log the viewer writes. One table of columns; generic code walks it.

#include "app/drv/drv_format.h"

#include <QChar>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <span>

namespace drv {

enum class FieldKind : std::uint8_t {
    RowNumber,  // column 0, not a record field
    U8,
    I16,
    I32,
    F64,
    Tenths,     // uint8 shown divided by 10
    HexByte,    // "0x" + two upper-case hex digits
    LocalTime,  // int32 seconds since 1970 UTC shown in the PC's zone
};

struct Column {
    const char* label;
    int width;   // at 100 % display scale
    int offset;  // within the 120-byte record; -1 for the row number
    FieldKind kind;
};

inline constexpr int kColumnCount = 35;
std::span<const Column, kColumnCount> columns();

// Event flags marked on the plot and counted by the summary.
struct EventFlag {
    const char* label;
    int offset;
};
inline constexpr int kEventFlagCount = 7;
std::span<const EventFlag, kEventFlagCount> eventFlags();

// General format, up to 15 significant digits, no trailing zeros; scientific
// only below 1E-5 or from 1E15 on ("1.5E-7", "1E20").
QString formatGeneral(double value, QChar decimalPoint = u'.');
// "2025.3.7 9:5:3" in the PC's local zone (the TZ of the process).
QString localTimeText(std::int64_t secondsSinceEpoch);
// The system's decimal separator, as the grid uses it.
QChar systemDecimalPoint();

// Text of column 1..34 of a record (column 0 is the row number, not a field).
QString fieldText(const uchar* record, int column, QChar decimalPoint);

// Memo lines from "-- DRV File Header 58bytes --" (or "-- DRV Header
// 22bytes --" without a file header) to "-- DRV Data: 120bytes x N --", plus
// one line when the file ends before its declared records.
QStringList headerLog(const DrvFile& file);
// That last line alone, empty when the file is complete.
QString shortFileLine(const DrvFile& file);

}  // namespace drv
