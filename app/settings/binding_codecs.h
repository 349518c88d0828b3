#pragma once
// Conversions between settings values and what the editor's controls show.
// Pure text work, so every rule is testable without a window.

#include <QDate>
#include <QString>

#include <optional>

namespace settings {

// TIME_OFFSET minutes <-> "UTC", "UTC-09:30", "UTC+05:45".
QString timeZoneText(int minutes);
QString timeZoneMinutes(const QString& text);  // EConvertError for hours/minutes that are not digits

// DST_START / DST_END: MM.OO.0W.HH, read by position.
struct DstFields {
    QString month;
    QString order;
    int weekday = 0;  // 0 Sunday .. 6 Saturday
    QString hour;
};
DstFields parseDstCode(const QString& code);  // EConvertError when the weekday is not a digit
QString dstCode(const QString& month, const QString& order, int weekday, const QString& hour);

// MANUAL_TIME: dd.mm.yy.hh.nn.ss from the date picker and the three time lists.
QString manualTimeCode(const QDate& date, const QString& hour, const QString& minute, const QString& second);

// The image-upload code of a trigger row: the trigger box, "Transmit Image" and,
// for the G-sensor and eCall rows, "100Hz G-Sensor".
struct UploadBoxes {
    bool trigger = false;
    bool transmit = false;
    bool hz100 = false;
};
std::optional<UploadBoxes> uploadBoxesFor(const QString& code, bool hasHz100);  // nothing for an unknown code
QString uploadCodeFor(const UploadBoxes& boxes, bool hasHz100);

// ENCRYPTION_NO is stored as Base64 of its UTF-8 text.
QString encodeEncryption(const QString& number);
QString decodeEncryption(const QString& stored);

// VIDEO_FPS shown for a stored value: the 1080P group (6, 7, 8) caps it at 15;
// an empty value stays empty, anything else must be an integer.
QString frameRateText(int videoQualityIndex, const QString& stored);
inline bool is1080pQuality(int index) { return index >= 6 && index <= 8; }

}  // namespace settings
