#include "app/drv/drv_format.h"

#include "toolkit/regular_file.h"

#include <algorithm>

namespace drv {

std::shared_ptr<const DrvBytes> DrvBytes::hold(QByteArray bytes, qint64 fileSize)
{
    std::shared_ptr<DrvBytes> out(new DrvBytes);
    out->owned_ = std::move(bytes);
    out->data_ = reinterpret_cast<const uchar*>(out->owned_.constData());
    out->size_ = out->owned_.size();
    out->fileSize_ = std::max(fileSize, out->size_);
    return out;
}

std::shared_ptr<const DrvBytes> DrvBytes::fromByteArray(QByteArray bytes) { return hold(std::move(bytes), 0); }

namespace {

const QString kKind = QStringLiteral("DRV file");

void openOrThrow(toolkit::RegularFileReader& file, const QString& path)
{
    using Status = toolkit::RegularFileReader::Status;
    if (file.status() == Status::NotRegular) throw DrvError(toolkit::notRegularFileText(path));
    if (file.status() != Status::Open)
        throw DrvError(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorText()));
}

void readOrThrow(toolkit::RegularFileReader& file, const QString& path, qint64 count, QByteArray& out)
{
    if (!file.read(count, out))
        throw DrvError(QStringLiteral("Cannot read file \"%1\". %2").arg(path, file.errorText()));
}

}  // namespace

std::shared_ptr<const DrvBytes> DrvBytes::readFile(const QString& path)
{
    toolkit::RegularFileReader file(path);
    openOrThrow(file, path);
    if (file.size() > kLargestFile) throw DrvError(toolkit::fileTooLargeText(path, kLargestFile, kKind));
    QByteArray all;
    all.reserve(file.size() + 1);
    // One byte more than stated tells a file that grew (or states no size, as under /proc).
    readOrThrow(file, path, file.size() + 1, all);
    if (all.size() > file.size()) readOrThrow(file, path, kLargestFile + 1 - all.size(), all);
    if (all.size() > kLargestFile) throw DrvError(toolkit::fileTooLargeText(path, kLargestFile, kKind));
    return hold(std::move(all), file.size());
}

std::shared_ptr<const DrvBytes> DrvBytes::readFile(const QString& path, const ReadOptions& options)
{
    toolkit::RegularFileReader file(path);
    openOrThrow(file, path);
    const qint64 size = file.size();
    if (options.prefixLength < 0)
        throw DrvError(QStringLiteral("The server header size %1 is negative.").arg(options.prefixLength));

    // First the prefix and the headers, as far as the file has them; DrvFile::read
    // tells what is missing. Every sum is checked: the prefix comes from the user.
    const qint64 headers = (options.fileHeader ? kFileHeaderSize : 0) + kDrvHeaderSize;
    qint64 headEnd = 0;
    if (__builtin_add_overflow(options.prefixLength, headers, &headEnd) || headEnd > size) headEnd = size;
    if (headEnd > kLargestFile) throw DrvError(toolkit::fileTooLargeText(path, kLargestFile, kKind));
    QByteArray bytes;
    bytes.reserve(headEnd);
    readOrThrow(file, path, headEnd, bytes);
    if (bytes.size() < headEnd || headEnd == size) return hold(std::move(bytes), size);

    // Then the declared records, never past the end of the file.
    const qint64 declared = DrvFile::read(bytes, options).declaredCount();  // at most 2^32 - 1
    const qint64 wanted = std::min(size - headEnd, declared * kRecordSize);
    if (headEnd + wanted > kLargestFile)
        throw DrvError(QStringLiteral("\"%1\" declares %2 records, more than fit in %3, the largest DRV file this tool opens.")
                           .arg(path)
                           .arg(declared)
                           .arg(toolkit::byteSizeText(kLargestFile)));
    bytes.reserve(headEnd + wanted);
    readOrThrow(file, path, wanted, bytes);
    return hold(std::move(bytes), size);
}

DrvRecord decodeRecord(const uchar* p)
{
    DrvRecord r;
    r.speed = p[0];
    r.rpm = readI16(p + 1);
    r.fvsa = p[3];
    r.fpw = p[4];
    r.fcw = p[5];
    r.ttc = p[6];
    r.distance = p[7];
    r.record = p[8];
    r.gpsActive = p[9];
    r.gpsSignal = p[10];
    r.latitude = readF64(p + 11);
    r.longitude = readF64(p + 19);
    r.heading = readF64(p + 27);
    r.altitude = readF64(p + 35);
    r.timeSec = readI32(p + 43);
    r.timeOffsetMin = readI16(p + 47);
    r.isDst = p[49];
    r.timeMSec = readI16(p + 50);
    r.gSensor = p[52];
    r.panic = p[53];
    r.overSpeeding = p[54];
    r.gX = readI16(p + 55);
    r.gY = readI16(p + 57);
    r.gZ = readI16(p + 59);
    r.errorCode = p[61];
    r.ignition = p[62];
    r.engineLoad = readF64(p + 63);
    r.mafAir = readF64(p + 71);
    r.throttle = readF64(p + 79);
    r.odometer = readI32(p + 87);
    r.engineTemperature = p[91];
    r.oilTemperature = p[92];
    r.ldw = p[93];
    return r;
}

DrvFile DrvFile::read(QByteArray bytes, const ReadOptions& options)
{
    return read(DrvBytes::fromByteArray(std::move(bytes)), options);
}

DrvFile DrvFile::read(std::shared_ptr<const DrvBytes> bytes, const ReadOptions& options)
{
    DrvFile f;
    f.bytes_ = std::move(bytes);
    f.options_ = options;
    const uchar* data = f.bytes_->data();
    const qint64 size = f.bytes_->size();

    if (options.prefixLength < 0)
        throw DrvError(QStringLiteral("The server header size %1 is negative.").arg(options.prefixLength));
    // From here on pos <= size, so pos plus a header size cannot overflow.
    if (options.prefixLength > size)
        throw DrvError(QStringLiteral("The file is too short for its server header: %1 bytes, %2 needed.")
                           .arg(size)
                           .arg(options.prefixLength));
    qint64 pos = options.prefixLength;
    auto need = [&](qint64 bytesNeeded, const char* what) {
        if (size - pos < bytesNeeded)
            throw DrvError(QStringLiteral("The file is too short for its %1: %2 bytes, %3 needed.")
                               .arg(QLatin1String(what))
                               .arg(size)
                               .arg(pos + bytesNeeded));
    };

    if (options.fileHeader) {
        need(kFileHeaderSize, "file header");
        FileHeader h;
        const char* name = reinterpret_cast<const char*>(data + pos);
        h.fileName = QString::fromLocal8Bit(name, qsizetype(::strnlen(name, 40)));
        h.totalLength = readU32(data + pos + 40);
        h.totalFrameCount = readU32(data + pos + 44);
        f.fileHeader_ = h;
        f.declaredCount_ = h.totalFrameCount;
        pos += kFileHeaderSize;
    }

    need(kDrvHeaderSize, "DRV header");
    f.drvHeader_.totalLength = readU32(data + pos);
    f.drvHeader_.startTime = readU32(data + pos + 4);
    f.drvHeader_.rate = data[pos + 11];
    if (!options.fileHeader) f.declaredCount_ = f.drvHeader_.totalLength / kRecordSize;
    pos += kDrvHeaderSize;

    f.first_ = data + pos;
    f.count_ = std::min(f.declaredCount_, (size - pos) / kRecordSize);
    return f;
}

}  // namespace drv
