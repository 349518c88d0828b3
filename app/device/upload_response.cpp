#include "device/upload_response.h"

#include "device/device_message.h"

#include <algorithm>

namespace device {

namespace {

struct TypeInfo {
    const char* folder;
    const char* responseLabel;
    const char* savedLabel;
};

const TypeInfo* typeInfo(std::uint32_t dataType)
{
    static constexpr TypeInfo kTypes[] = {
        {"DRV", "UploadResponce DRV.. Size = ", "DRV File: "},
        {"MMV", "UploadResponce MMV.. Size = ", "MMV File: "},
        {"SystemLog", "UploadResponce System Log.. Size = ", "SystemLog File: "},
    };
    return dataType >= 1 && dataType <= 3 ? &kTypes[dataType - 1] : nullptr;
}

}  // namespace

qint64 UploadResponseRecord::consumedSize() const { return carriesFile() ? kUploadOverhead + qint64(dataLength) : 14; }

qint64 UploadResponseRecord::fileOffset() const { return dataType == kDataDrv ? kUploadHeaderOffset : kUploadDataOffset; }

qint64 UploadResponseRecord::fileSize() const
{
    return qint64(dataLength) + (dataType == kDataDrv ? kFileHeaderSize : 0);
}

std::pair<qint64, qint64> UploadResponseRecord::filePart(qint64 at, qint64 size) const
{
    if (!carriesFile()) return {0, 0};
    const qint64 first = std::max(at, fileOffset());
    const qint64 end = std::min(at + size, fileOffset() + fileSize());
    return first < end ? std::pair{first - at, end - first} : std::pair<qint64, qint64>{0, 0};
}

QString UploadResponseRecord::folderName() const
{
    const TypeInfo* t = typeInfo(dataType);
    return t ? QLatin1String(t->folder) : QString();
}

QString UploadResponseRecord::responseLine() const
{
    const TypeInfo* t = typeInfo(dataType);
    return t ? QLatin1String(t->responseLabel) + QString::number(fileSize()) : QString();
}

QString UploadResponseRecord::savedLine() const
{
    const TypeInfo* t = typeInfo(dataType);
    return t ? QLatin1String(t->savedLabel) + fileName + QStringLiteral(" is saved.") : QString();
}

QString UploadResponseRecord::mismatchLine() const
{
    return QStringLiteral(" UploadResponce Size has to be %1 byte. but this Size = %2byte.")
        .arg(declaredLength)
        .arg(consumedSize());
}

UploadResponseRecord readUploadResponseHead(const QByteArray& head)
{
    if (head.size() < kUploadDataOffset)
        throw MessageRangeError("the upload response record", kUploadDataOffset, head.size());
    UploadResponseRecord r;
    r.declaredLength = declaredLength(head);
    r.dataType = readU32(head, 10);
    r.fileName = readText(head, kUploadHeaderOffset, kFileNameWidth);
    r.dataLength = readU32(head, kUploadHeaderOffset + 40);
    r.frameCount = readU32(head, kUploadHeaderOffset + 44);
    if (r.carriesFile() && qint64(r.declaredLength) < r.consumedSize())
        throw MessageRangeError("the recorded file", r.consumedSize(), r.declaredLength);
    return r;
}

UploadResponseRecord readUploadResponse(const QByteArray& message)
{
    const UploadResponseRecord r = readUploadResponseHead(message);
    if (r.carriesFile() && message.size() < r.consumedSize())
        throw MessageRangeError("the recorded file", r.consumedSize(), message.size());
    return r;
}

std::optional<QString> safeFileName(const QString& received)
{
    qsizetype cut = -1;
    for (QChar separator : {QLatin1Char('\\'), QLatin1Char('/'), QLatin1Char(':')})
        cut = std::max(cut, received.lastIndexOf(separator));
    const QString name = received.mid(cut + 1);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) return std::nullopt;
    return name;
}

QString savedFileName(std::uint32_t dataType, const QString& name, const QDateTime& now)
{
    switch (dataType) {
    case kDataDrv:
        return name + QLatin1Char('_') + now.toString(QStringLiteral("_yyyy-MM-dd HHmmss")) + QStringLiteral(".drv");
    case kDataMmv:
        return name + QLatin1Char('_') + now.toString(QStringLiteral("yyyy-MM-dd_HHmmss")) + QStringLiteral(".MMV");
    default:
        return name + QLatin1Char('_') + now.toString(QStringLiteral("_yyyy-MM-dd HHmmss")) + QStringLiteral(".tgz");
    }
}

}  // namespace device
