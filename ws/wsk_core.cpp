#include "ws/wsk_core.h"

#include <QTimeZone>

#include <cstring>

namespace CorvaneWS {

namespace {
// Milliseconds between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kFileTimeEpochOffsetMs = 11644473600000LL;
constexpr std::int64_t kTicksPerMs = 10000;
}  // namespace

EWSKCore::EWSKCore(int code, const QString& text)
    : toolkit::Exception(QString::number(code) + QStringLiteral(": ") + text), Code(code)
{
}

EWSKCore::EWSKCore(int code, const char* text) : EWSKCore(code, QString::fromLocal8Bit(text ? text : "")) {}

int StringToSPTRBuf(const QString& text, char16_t* buffer, int capacity)
{
    if (text.isEmpty() || buffer == nullptr) return 0;
    if (capacity < text.size())
        throw toolkit::EArgumentException(QStringLiteral("Cannot copy string, too large for destination buffer."));
    std::memcpy(buffer, text.utf16(), static_cast<size_t>(text.size()) * sizeof(char16_t));
    return static_cast<int>(text.size());
}

QDateTime FileTimeToDateTime(FILETIME fileTime)
{
    const auto ms = static_cast<std::int64_t>(fileTime / kTicksPerMs) - kFileTimeEpochOffsetMs;
    return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc());
}

FILETIME DateTimeToFileTime(const QDateTime& dateTime)
{
    const std::int64_t ms = dateTime.toMSecsSinceEpoch() + kFileTimeEpochOffsetMs;
    if (ms < 0) return 0;  // before 1601 has no file time
    return static_cast<FILETIME>(ms) * kTicksPerMs;
}

}  // namespace CorvaneWS
