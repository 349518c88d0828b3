#pragma once
// What every Corvane component shares besides the engine binding: the one
// exception class, the text copy into a caller's UTF-16 buffer and the
// file-time conversions.

#include "toolkit/exceptions.h"

#include <QDateTime>
#include <QString>

#include <cstdint>

namespace CorvaneWS {

// A failed engine call. Code is the engine's error code; the message reads
// "<code>: <engine text>".
class EWSKCore : public toolkit::Exception {
public:
    EWSKCore(int code, const QString& text);
    EWSKCore(int code, const char* text);  // narrow engine text, UTF-8

    int Code;
};

// Copies the UTF-16 characters of `text` (no terminator) into `buffer` and
// returns their count; 0 for an empty text or a null buffer. Raises
// EArgumentException when `capacity` is smaller than the text.
int StringToSPTRBuf(const QString& text, char16_t* buffer, int capacity);

// A file time: 100-ns ticks since 1601-01-01 00:00 UTC. The conversion keeps
// milliseconds, as a calendar time with fields down to the millisecond does.
using FILETIME = std::uint64_t;
QDateTime FileTimeToDateTime(FILETIME fileTime);
FILETIME DateTimeToFileTime(const QDateTime& dateTime);

}  // namespace CorvaneWS
