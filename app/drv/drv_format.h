#pragma once
// The recorder's DRV track file: optional server prefix, 58-byte file header,
// 22-byte DRV header and 120-byte records. Pure byte logic, no widgets.
//
// Records are not copied out of the file: a DrvFile keeps the file's bytes and
// decodes a field only when it is asked for, so a file of a million records
// costs little more than its own size.

#include <QByteArray>
#include <QString>

#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>

namespace drv {

inline constexpr qint64 kFileHeaderSize = 58;
inline constexpr qint64 kDrvHeaderSize = 22;
inline constexpr qint64 kRecordSize = 120;
inline constexpr qint64 kDefaultPrefixLength = 23;
// The largest DRV file the viewer and brindle-drv open: about 8.9 million
// records, over ten days at 10 Hz. The file is held in memory whole, so this
// also bounds what a hostile or damaged file can cost.
inline constexpr qint64 kLargestFile = qint64(1) << 30;

// A file that cannot be read as DRV data (cannot be opened, or too short for
// its headers). what() is UTF-8 text meant for the user.
class DrvError : public std::runtime_error {
public:
    explicit DrvError(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromUtf8(what()); }
};

// Unaligned little-endian reads: most fields sit at odd offsets.
inline std::uint16_t readU16(const uchar* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
inline std::int16_t readI16(const uchar* p) { return std::int16_t(readU16(p)); }
inline std::uint32_t readU32(const uchar* p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}
inline std::int32_t readI32(const uchar* p) { return std::int32_t(readU32(p)); }
inline double readF64(const uchar* p)
{
    const std::uint64_t bits = std::uint64_t(readU32(p)) | (std::uint64_t(readU32(p + 4)) << 32);
    return std::bit_cast<double>(bits);
}

struct ReadOptions {
    qint64 prefixLength = 0;  // server message prefix to skip, 0 for none
    bool fileHeader = true;   // a 58-byte file header follows the prefix
};

// The bytes of one file, held in memory.
class DrvBytes {
public:
    static std::shared_ptr<const DrvBytes> fromByteArray(QByteArray bytes);
    // Reads the file whole and closes it. Not mapped: a mapping keeps the file
    // open (an SD card could not be ejected while its track is shown) and a file
    // cut short on disk afterwards would kill the process on the next access.
    // Raises DrvError "Cannot open file "<path>". <system text>" when it cannot
    // be opened, and refuses anything but a regular file (a FIFO would block,
    // a device never end) and files above kLargestFile.
    static std::shared_ptr<const DrvBytes> readFile(const QString& path);
    // The same, but reads only the prefix, the headers and the records they
    // declare, never past the file's end: a file larger than its declared data
    // costs only that data. Refused when that data exceeds kLargestFile.
    static std::shared_ptr<const DrvBytes> readFile(const QString& path, const ReadOptions& options);

    DrvBytes(const DrvBytes&) = delete;
    DrvBytes& operator=(const DrvBytes&) = delete;

    const uchar* data() const { return data_; }
    qint64 size() const { return size_; }
    // The file's size on disk; more than size() when only the declared data was read.
    qint64 fileSize() const { return fileSize_; }

private:
    DrvBytes() = default;
    static std::shared_ptr<const DrvBytes> hold(QByteArray bytes, qint64 fileSize);
    QByteArray owned_;
    const uchar* data_ = nullptr;
    qint64 size_ = 0;
    qint64 fileSize_ = 0;
};

struct FileHeader {
    QString fileName;              // up to the first zero byte of the 40-byte field
    std::uint32_t totalLength = 0; // bytes after the file header
    std::uint32_t totalFrameCount = 0;
};

struct DrvHeader {
    std::uint32_t totalLength = 0;
    std::uint32_t startTime = 0;  // seconds since 1970 UTC
    std::uint8_t rate = 0;        // records per second
};

// The decoded values of one record, for code that computes with them
// (plots, export, summary); the grid's texts come from drv_text.h.
struct DrvRecord {
    std::uint8_t speed, fvsa, fpw, fcw, ttc, distance, record, gpsActive, gpsSignal;
    std::int16_t rpm;
    double latitude, longitude, heading, altitude;
    std::int32_t timeSec;
    std::int16_t timeOffsetMin;
    std::uint8_t isDst;
    std::int16_t timeMSec;
    std::uint8_t gSensor, panic, overSpeeding;
    std::int16_t gX, gY, gZ;
    std::uint8_t errorCode, ignition;
    double engineLoad, mafAir, throttle;
    std::int32_t odometer;
    std::uint8_t engineTemperature, oilTemperature, ldw;
};

DrvRecord decodeRecord(const uchar* record);

class DrvFile {
public:
    // Walks prefix, file header and DRV header, then takes as many of the
    // declared records as the data holds: it never reads past the end. A file
    // too short for its prefix or headers (or a negative prefix) raises DrvError.
    static DrvFile read(std::shared_ptr<const DrvBytes> bytes, const ReadOptions& options);
    static DrvFile read(QByteArray bytes, const ReadOptions& options);

    const std::optional<FileHeader>& fileHeader() const { return fileHeader_; }
    const DrvHeader& drvHeader() const { return drvHeader_; }
    const ReadOptions& options() const { return options_; }
    qint64 fileSize() const { return bytes_ ? bytes_->fileSize() : 0; }

    // What the headers declare: the file header's frame count, or without one
    // the DRV header's length / 120.
    qint64 declaredCount() const { return declaredCount_; }
    // Complete records present; less than declaredCount() for a file that ends early.
    qint64 count() const { return count_; }
    bool endsEarly() const { return count_ < declaredCount_; }

    const uchar* record(qint64 index) const { return first_ + index * kRecordSize; }

private:
    std::shared_ptr<const DrvBytes> bytes_;
    ReadOptions options_;
    std::optional<FileHeader> fileHeader_;
    DrvHeader drvHeader_;
    qint64 declaredCount_ = 0;
    qint64 count_ = 0;
    const uchar* first_ = nullptr;
};

}  // namespace drv
