// The DRV reader, the record decoder and every text made from a record, under
// arbitrary bytes and options. Byte 0 picks the file header option and the
// prefix length; the rest is the file. The bounded file reader must give the
// same records as the reader of bytes in memory.
#include "app/drv/drv_export.h"
#include "app/drv/drv_format.h"
#include "app/drv/drv_text.h"

#include <QBuffer>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>

#define FUZZ_CHECK(cond) do { if (!(cond)) __builtin_trap(); } while (0)

namespace {

// The bytes as a regular file without touching the disk: a memory file, named through /proc.
std::optional<drv::DrvFile> readThroughFile(const QByteArray& bytes, const drv::ReadOptions& options, QString& error)
{
    const int fd = memfd_create("drv", MFD_CLOEXEC);
    if (fd < 0) return std::nullopt;
    FUZZ_CHECK(write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size());
    std::optional<drv::DrvFile> out;
    try {
        const auto held = drv::DrvBytes::readFile(QStringLiteral("/proc/self/fd/%1").arg(fd), options);
        FUZZ_CHECK(held->fileSize() == bytes.size());
        FUZZ_CHECK(held->size() <= bytes.size());
        out = drv::DrvFile::read(held, options);
    } catch (const drv::DrvError& e) {
        error = e.message();
    }
    close(fd);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    drv::ReadOptions options;
    options.fileHeader = (data[0] & 0x80) == 0;
    // Mostly small prefixes; now and then one past any file, or the largest there is.
    const int p = data[0] & 0x7F;
    options.prefixLength = p == 0x7F ? std::numeric_limits<qint64>::max() : p == 0x7E ? -1 : p == 0x7D ? 1 << 20 : p % 40;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    std::optional<drv::DrvFile> file;
    QString error;
    try {
        file = drv::DrvFile::read(bytes, options);
    } catch (const drv::DrvError& e) {
        error = e.message();
        FUZZ_CHECK(!error.isEmpty() && !error.contains(QLatin1String(", -")));  // no negative sizes from overflow
    }
    QString fileError;
    const auto viaFile = readThroughFile(bytes, options, fileError);
    FUZZ_CHECK(viaFile.has_value() == file.has_value());
    if (!file) {
        FUZZ_CHECK(fileError == error);
        return 0;
    }
    FUZZ_CHECK(viaFile->count() == file->count() && viaFile->declaredCount() == file->declaredCount());

    FUZZ_CHECK(file->count() >= 0 && file->count() <= file->declaredCount());
    FUZZ_CHECK(options.prefixLength + (options.fileHeader ? 80 : 22) + file->count() * drv::kRecordSize <= bytes.size());
    for (qint64 k = 0; k < file->count(); ++k) {
        FUZZ_CHECK(std::memcmp(file->record(k), viaFile->record(k), drv::kRecordSize) == 0);
        (void)drv::decodeRecord(file->record(k));
        for (int c = 1; c < drv::kColumnCount; ++c) FUZZ_CHECK(!drv::fieldText(file->record(k), c, u',').isEmpty());
    }
    FUZZ_CHECK(!drv::headerLog(*file).isEmpty());
    (void)drv::shortFileLine(*file);
    (void)drv::summaryLines(drv::summarize(*file), u'.');
    (void)drv::decimate(*file, 7);
    QBuffer csv, gpx;
    csv.open(QIODevice::WriteOnly);
    gpx.open(QIODevice::WriteOnly);
    FUZZ_CHECK(drv::writeCsv(csv, *file, u'.'));
    FUZZ_CHECK(drv::writeGpx(gpx, *file, QStringLiteral("track")));
    FUZZ_CHECK(csv.data().count('\n') == file->count() + 1);
    return 0;
}
