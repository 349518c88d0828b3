#pragma once
// The recorder's binary messages: a 10-byte header (start mark, code, total
// length, status), a body per code and a 4-byte end mark. Builders for every
// message of both sides and bounds-checked readers of the received records.
// Pure byte logic, no widgets and no sockets. Every integer is a little-endian
// u32, most at odd offsets, so all access goes byte by byte.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <stdexcept>

namespace device {

inline constexpr int kHeaderSize = 10;
inline constexpr int kEndMarkSize = 4;
inline constexpr int kEmptyMessageSize = kHeaderSize + kEndMarkSize;  // 14
inline constexpr int kCodeOffset = 4;
inline constexpr int kLengthOffset = 5;
inline constexpr int kStatusOffset = 9;

// A first fragment declaring more than this is dropped: it bounds the one
// allocation a message costs.
inline constexpr std::uint32_t kMaxDeclaredLength = 1'000'000'000;

// Message codes. The recorder's side and the tool's side share some numbers.
enum Code : std::uint8_t {
    kCommandComplete = 0,   // recorder -> tool; tool -> recorder as the acknowledgement
    kSessionRequest = 1,    // tool -> recorder (ours): ID and password
    kSessionAccepted = 2,   // recorder -> tool
    kCameraImageRequest = 3,
    kFileTransfer = 4,      // recorder -> tool: camera image (kind 1) or settings file
    kSettingsRequest = 5,   // tool -> recorder (ours): answered with a file message of kind 2
    kSettingsUpload = 6,    // tool -> recorder (ours): file record of kind 2; answered with code 0
    kGSensorInit = 7,
    kUploadRequest = 11,    // recorded data for a time range
    kUploadResponse = 12,
    kError = 255,
};

enum FileKind : std::uint8_t { kFileKindImage = 1, kFileKindSettings = 2 };

// Data types of the recorded-data upload request and response.
enum DataType : std::uint32_t { kDataDrv = 1, kDataMmv = 2, kDataSystemLog = 3 };

// Field widths of the records.
inline constexpr int kSessionTextWidths[3] = {64, 64, 20};
inline constexpr int kSessionRecordSize = 158;
inline constexpr int kSessionIdWidth = 64;
inline constexpr int kSessionPasswordWidth = 20;
inline constexpr int kFileDataOffset = 30;
inline constexpr int kFileHeaderSize = 58;        // the recorded file's header
inline constexpr int kFileNameWidth = 40;
inline constexpr int kUploadHeaderOffset = 14;     // file header inside the upload response
inline constexpr int kUploadDataOffset = 72;
inline constexpr int kUploadOverhead = 76;         // header, type, file header, end mark
inline constexpr int kErrorRecordSize = 82;
inline constexpr int kErrorTextWidth = 68;
inline constexpr int kUploadRequestSize = 33;

// A received message too short for the part its code reads. No reader ever
// reads beyond the end of the message; this is what it raises instead.
class MessageRangeError : public std::out_of_range {
public:
    MessageRangeError(const char* what, qint64 needed, qint64 size);
};

// ---- byte access --------------------------------------------------------

std::uint32_t readU32(const QByteArray& bytes, qint64 offset);  // raises MessageRangeError
void putU32(QByteArray& bytes, qint64 offset, std::uint32_t value);
// A zero-terminated text inside a fixed field (UTF-8 on this platform).
QString readText(const QByteArray& bytes, qint64 offset, int width);
// Writes text into a field of `width` bytes, cut so that a zero byte always ends it.
void putText(QByteArray& bytes, qint64 offset, int width, const QString& text);

std::uint8_t messageCode(const QByteArray& message);        // raises when shorter than 5
std::uint32_t declaredLength(const QByteArray& message);    // raises when shorter than 9

// An all-zero message of `total` bytes with start mark, code, length, status and end mark.
QByteArray frame(std::uint8_t code, qint64 total, std::uint8_t status = 0);

// ---- what the tool sends ----------------------------------------------

QByteArray cameraImageRequest();  // 15 bytes
QByteArray gSensorInitRequest();  // 14 bytes
QByteArray acknowledgement();     // 14 bytes, status 1
// 33 bytes; the counts are seconds since 1970 and go out as u32.
QByteArray uploadRequest(std::uint32_t dataType, qint64 fromCount, qint64 toCount);
QByteArray sessionRequest(const QString& id, const QString& password);
QByteArray settingsRequest();
QByteArray settingsUpload(const QByteArray& settingsFile);

// ---- what the recorder sends (the simulator and the tests build these) --

QByteArray commandComplete();
QByteArray sessionAccepted(const QString& first, const QString& second, const QString& third);
QByteArray fileMessage(std::uint8_t kind, const QByteArray& data);
// fileHeader is the recorded file's 58-byte header (padded or cut to 58); the
// data length in it is set from data.
QByteArray uploadResponse(std::uint32_t dataType, QByteArray fileHeader, const QByteArray& data);
QByteArray errorMessage(std::uint32_t errorCode, const QString& text);
// A recorded file header with the name, data length and frame count filled in.
QByteArray recordedFileHeader(const QString& name, std::uint32_t dataLength, std::uint32_t frameCount);

// ---- readers of received records ----------------------------------------

struct SessionRecord {
    QString first, second, third;
};
SessionRecord readSessionRecord(const QByteArray& message);  // needs 158 bytes

struct ErrorRecord {
    std::uint32_t code = 0;
    QString text;
};
ErrorRecord readErrorRecord(const QByteArray& message);  // needs 82 bytes

// A file message (code 4), and the settings upload (code 6) that shares its layout.
struct FileRecord {
    std::uint32_t dataLength = 0;
    std::uint8_t kind = 0;
    QByteArray data;
};
FileRecord readFileRecord(const QByteArray& message);  // needs 30 + data length bytes

// The session request of the tool.
struct SessionRequest {
    QString id, password;
};
SessionRequest readSessionRequest(const QByteArray& message);

// The recorded-data upload request.
struct UploadRequestRecord {
    std::uint32_t dataType = 0;
    std::uint32_t from = 0;
    std::uint32_t to = 0;
};
UploadRequestRecord readUploadRequest(const QByteArray& message);  // needs 33 bytes

}  // namespace device
