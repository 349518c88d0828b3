#include "device/device_message.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace device {

namespace {

constexpr char kStartMark[4] = {0x01, 0x00, 0x50, 0x4D};
constexpr char kEndMark[4] = {0x02, 0x00, 0x50, 0x4D};

void require(const QByteArray& bytes, qint64 needed, const char* what)
{
    if (needed < 0 || bytes.size() < needed) throw MessageRangeError(what, needed, bytes.size());
}

const uchar* at(const QByteArray& bytes, qint64 offset) { return reinterpret_cast<const uchar*>(bytes.constData()) + offset; }

}  // namespace

MessageRangeError::MessageRangeError(const char* what, qint64 needed, qint64 size)
    : std::out_of_range(std::string("Range check error: ") + what + " needs " + std::to_string(needed) +
                        " bytes, the message has " + std::to_string(size) + ".")
{
}

std::uint32_t readU32(const QByteArray& bytes, qint64 offset)
{
    require(bytes, offset + 4, "a number field");
    const uchar* p = at(bytes, offset);
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

void putU32(QByteArray& bytes, qint64 offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) bytes[offset + i] = char((value >> (8 * i)) & 0xFF);
}

QString readText(const QByteArray& bytes, qint64 offset, int width)
{
    require(bytes, offset + width, "a text field");
    const char* p = bytes.constData() + offset;
    const auto* end = static_cast<const char*>(std::memchr(p, 0, std::size_t(width)));
    return QString::fromLocal8Bit(p, end ? end - p : width);
}

void putText(QByteArray& bytes, qint64 offset, int width, const QString& text)
{
    QByteArray encoded = text.toLocal8Bit();
    encoded.truncate(width - 1);
    std::memcpy(bytes.data() + offset, encoded.constData(), std::size_t(encoded.size()));
    std::memset(bytes.data() + offset + encoded.size(), 0, std::size_t(width - encoded.size()));
}

std::uint8_t messageCode(const QByteArray& message)
{
    require(message, kCodeOffset + 1, "the message code");
    return std::uint8_t(message[kCodeOffset]);
}

std::uint32_t declaredLength(const QByteArray& message) { return readU32(message, kLengthOffset); }

QByteArray frame(std::uint8_t code, qint64 total, std::uint8_t status)
{
    QByteArray m(total, '\0');
    std::memcpy(m.data(), kStartMark, 4);
    m[kCodeOffset] = char(code);
    putU32(m, kLengthOffset, std::uint32_t(total));
    m[kStatusOffset] = char(status);
    std::memcpy(m.data() + total - kEndMarkSize, kEndMark, 4);
    return m;
}

// ---- the tool's requests ---------------------------------------------------

QByteArray cameraImageRequest()
{
    QByteArray m = frame(kCameraImageRequest, kEmptyMessageSize + 1);
    m[kHeaderSize] = 0x01;
    return m;
}

QByteArray gSensorInitRequest() { return frame(kGSensorInit, kEmptyMessageSize); }

QByteArray acknowledgement() { return frame(kCommandComplete, kEmptyMessageSize, 1); }

QByteArray uploadRequest(std::uint32_t dataType, qint64 fromCount, qint64 toCount)
{
    QByteArray m = frame(kUploadRequest, kUploadRequestSize);
    putU32(m, 10, dataType);
    m[14] = 0x01;
    putU32(m, 15, std::uint32_t(fromCount));
    putU32(m, 22, std::uint32_t(toCount));
    return m;
}

QByteArray sessionRequest(const QString& id, const QString& password)
{
    QByteArray m = frame(kSessionRequest, kEmptyMessageSize + kSessionIdWidth + kSessionPasswordWidth);
    putText(m, kHeaderSize, kSessionIdWidth, id);
    putText(m, kHeaderSize + kSessionIdWidth, kSessionPasswordWidth, password);
    return m;
}

QByteArray settingsRequest() { return frame(kSettingsRequest, kEmptyMessageSize); }

namespace {
QByteArray fileRecordMessage(std::uint8_t code, std::uint8_t kind, const QByteArray& data)
{
    QByteArray m = frame(code, kFileDataOffset + data.size() + kEndMarkSize);
    putU32(m, 11, std::uint32_t(data.size()));
    m[15] = char(kind);
    std::memcpy(m.data() + kFileDataOffset, data.constData(), std::size_t(data.size()));
    return m;
}
}  // namespace

QByteArray settingsUpload(const QByteArray& settingsFile)
{
    return fileRecordMessage(kSettingsUpload, kFileKindSettings, settingsFile);
}

// ---- the recorder's messages ---------------------------------------------------

QByteArray commandComplete() { return frame(kCommandComplete, kEmptyMessageSize); }

QByteArray sessionAccepted(const QString& first, const QString& second, const QString& third)
{
    QByteArray m = frame(kSessionAccepted, kSessionRecordSize + kEndMarkSize);
    qint64 offset = kHeaderSize;
    const QString texts[3] = {first, second, third};
    for (int i = 0; i < 3; ++i) {
        putText(m, offset, kSessionTextWidths[i], texts[i]);
        offset += kSessionTextWidths[i];
    }
    return m;
}

QByteArray fileMessage(std::uint8_t kind, const QByteArray& data) { return fileRecordMessage(kFileTransfer, kind, data); }

QByteArray recordedFileHeader(const QString& name, std::uint32_t dataLength, std::uint32_t frameCount)
{
    QByteArray h(kFileHeaderSize, '\0');
    putText(h, 0, kFileNameWidth, name);
    putU32(h, 40, dataLength);
    putU32(h, 44, frameCount);
    return h;
}

QByteArray uploadResponse(std::uint32_t dataType, QByteArray fileHeader, const QByteArray& data)
{
    if (fileHeader.size() < kFileHeaderSize) fileHeader.append(kFileHeaderSize - fileHeader.size(), '\0');
    fileHeader.truncate(kFileHeaderSize);
    putU32(fileHeader, 40, std::uint32_t(data.size()));
    QByteArray m = frame(kUploadResponse, kUploadOverhead + data.size());
    putU32(m, 10, dataType);
    std::memcpy(m.data() + kUploadHeaderOffset, fileHeader.constData(), kFileHeaderSize);
    std::memcpy(m.data() + kUploadDataOffset, data.constData(), std::size_t(data.size()));
    return m;
}

QByteArray errorMessage(std::uint32_t errorCode, const QString& text)
{
    QByteArray m = frame(kError, kErrorRecordSize + kEndMarkSize);
    putU32(m, 10, errorCode);
    putText(m, 14, kErrorTextWidth, text);
    return m;
}

// ---- readers ---------------------------------------------------------------

SessionRecord readSessionRecord(const QByteArray& message)
{
    require(message, kSessionRecordSize, "the session record");
    SessionRecord r;
    r.first = readText(message, 10, kSessionTextWidths[0]);
    r.second = readText(message, 74, kSessionTextWidths[1]);
    r.third = readText(message, 138, kSessionTextWidths[2]);
    return r;
}

ErrorRecord readErrorRecord(const QByteArray& message)
{
    require(message, kErrorRecordSize, "the error record");
    return {readU32(message, 10), readText(message, 14, kErrorTextWidth)};
}

FileRecord readFileRecord(const QByteArray& message)
{
    FileRecord r;
    r.dataLength = readU32(message, 11);
    require(message, kFileDataOffset, "the file record");
    r.kind = std::uint8_t(message[15]);
    require(message, kFileDataOffset + qint64(r.dataLength), "the file data");
    r.data = message.mid(kFileDataOffset, qint64(r.dataLength));
    return r;
}

SessionRequest readSessionRequest(const QByteArray& message)
{
    return {readText(message, kHeaderSize, kSessionIdWidth),
            readText(message, kHeaderSize + kSessionIdWidth, kSessionPasswordWidth)};
}

UploadRequestRecord readUploadRequest(const QByteArray& message)
{
    require(message, kUploadRequestSize, "the upload request");
    return {readU32(message, 10), readU32(message, 15), readU32(message, 22)};
}

}  // namespace device
