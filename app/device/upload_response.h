#pragma once
// The recorded-data upload response (code 12): its fields, the file it
// carries, the name that file is saved under and the lines the download
// dialog shows. Pure logic; the link writes the file.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>
#include <utility>

namespace device {

struct UploadResponseRecord {
    std::uint32_t declaredLength = 0;
    std::uint32_t dataType = 0;
    QString fileName;  // as received, not shortened
    std::uint32_t dataLength = 0;
    std::uint32_t frameCount = 0;

    bool carriesFile() const { return dataType >= 1 && dataType <= 3; }
    // 76 + data length for a file, 14 for any other data type.
    qint64 consumedSize() const;
    bool sizeMatches() const { return consumedSize() == qint64(declaredLength); }
    // Where the saved bytes start in the message and how many: a DRV file keeps
    // its 58-byte file header, MMV and logs are the data alone.
    qint64 fileOffset() const;
    qint64 fileSize() const;
    // Of the message's bytes [at, at + size), the part that belongs to the
    // file: where it starts among them and how long it is (0 when none).
    std::pair<qint64, qint64> filePart(qint64 at, qint64 size) const;
    QString folderName() const;   // "DRV", "MMV", "SystemLog"
    QString responseLine() const; // "UploadResponce DRV.. Size = 1258"
    QString savedLine() const;    // "DRV File: <name> is saved."
    QString mismatchLine() const; // " UploadResponce Size has to be ..."
};

// The fields of the first 72 bytes, read before the data arrives. Raises
// MessageRangeError when fewer bytes are given, or when the declared length
// ends the message before the file it carries does.
UploadResponseRecord readUploadResponseHead(const QByteArray& head);

// The same from a whole message, which must also hold the data and end mark
// of data types 1 to 3.
UploadResponseRecord readUploadResponse(const QByteArray& message);

// The last path component of a name from the recorder ("\", "/" and ":" all
// separate), or nothing when that leaves no usable name ("", ".", "..").
std::optional<QString> safeFileName(const QString& received);

// The time-stamped name a received file is saved under, in its folder:
// DRV "A__2025-03-07 142530.drv", MMV "A_2025-03-07_142530.MMV",
// log "A__2025-03-07 142530.tgz". `name` is already made safe.
QString savedFileName(std::uint32_t dataType, const QString& name, const QDateTime& now);

}  // namespace device
