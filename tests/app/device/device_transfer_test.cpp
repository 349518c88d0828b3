// The pure parts of the transfers: upload responses, the names received files
// are saved under, the folders they go to, and the download request's counts.
#include "device/data_folders.h"
#include "device/device_message.h"
#include "device/time_range.h"
#include "device/upload_response.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest/QTest>

#include <algorithm>
#include <csignal>

#include <sys/resource.h>

using namespace device;

namespace {
const QDateTime kAt(QDate(2025, 3, 7), QTime(14, 25, 30));

QByteArray response(std::uint32_t type, const QString& name, int dataLength, std::uint32_t frames = 9)
{
    return uploadResponse(type, recordedFileHeader(name, 0, frames), QByteArray(dataLength, 'd'));
}
}  // namespace

TEST(UploadResponse, DrvMmvAndLogFilesTheirSizesLinesAndNames)
{
    const UploadResponseRecord drv = readUploadResponse(response(kDataDrv, QStringLiteral("A"), 1200));
    EXPECT_EQ(drv.declaredLength, 1276u);
    EXPECT_EQ(drv.dataLength, 1200u);
    EXPECT_EQ(drv.frameCount, 9u);
    EXPECT_TRUE(drv.sizeMatches());
    EXPECT_EQ(drv.fileOffset(), 14);
    EXPECT_EQ(drv.fileSize(), 1258);
    EXPECT_EQ(drv.responseLine(), QStringLiteral("UploadResponce DRV.. Size = 1258"));
    EXPECT_EQ(drv.savedLine(), QStringLiteral("DRV File: A is saved."));
    EXPECT_EQ(savedFileName(kDataDrv, QStringLiteral("A"), kAt), QStringLiteral("A__2025-03-07 142530.drv"));

    const UploadResponseRecord mmv = readUploadResponse(response(kDataMmv, QStringLiteral("A"), 1200));
    EXPECT_EQ(mmv.fileOffset(), 72);
    EXPECT_EQ(mmv.fileSize(), 1200);
    EXPECT_EQ(mmv.responseLine(), QStringLiteral("UploadResponce MMV.. Size = 1200"));
    EXPECT_EQ(mmv.folderName(), QStringLiteral("MMV"));
    EXPECT_EQ(savedFileName(kDataMmv, QStringLiteral("A"), kAt), QStringLiteral("A_2025-03-07_142530.MMV"));

    const UploadResponseRecord log = readUploadResponse(response(kDataSystemLog, QStringLiteral("A"), 1200));
    EXPECT_EQ(log.responseLine(), QStringLiteral("UploadResponce System Log.. Size = 1200"));
    EXPECT_EQ(log.savedLine(), QStringLiteral("SystemLog File: A is saved."));
    EXPECT_EQ(savedFileName(kDataSystemLog, QStringLiteral("A"), kAt), QStringLiteral("A__2025-03-07 142530.tgz"));
}

TEST(UploadResponse, SizeChecksAgainstTheDeclaredLength)
{
    QByteArray m = response(kDataDrv, QStringLiteral("A"), 100);
    EXPECT_TRUE(readUploadResponse(m).sizeMatches());
    putU32(m, 5, 180);
    m.append(4, '\0');
    const UploadResponseRecord r = readUploadResponse(m);
    EXPECT_FALSE(r.sizeMatches());
    EXPECT_EQ(r.mismatchLine(), QStringLiteral(" UploadResponce Size has to be 180 byte. but this Size = 176byte."));

    // Data type 4 carries no file: 14 consumed, -62 in the file column.
    const UploadResponseRecord other = readUploadResponse(response(4, QStringLiteral("A"), 1200));
    EXPECT_FALSE(other.carriesFile());
    EXPECT_EQ(other.consumedSize(), 14);
    EXPECT_EQ(other.consumedSize() - 76, -62);
    EXPECT_FALSE(other.sizeMatches());
}

TEST(UploadResponse, ARecordShorterThanItsDataRaisesARangeError)
{
    const QByteArray m = response(kDataMmv, QStringLiteral("A"), 100);
    EXPECT_THROW(readUploadResponse(m.left(71)), MessageRangeError);
    EXPECT_THROW(readUploadResponse(m.left(m.size() - 1)), MessageRangeError);
    // A data type without a file needs only the record up to the data.
    EXPECT_NO_THROW(readUploadResponse(response(4, QStringLiteral("A"), 100).left(72)));
}

TEST(UploadResponse, ReceivedNamesAreReducedToTheirLastComponent)
{
    EXPECT_EQ(safeFileName(QStringLiteral("A")), QStringLiteral("A"));
    EXPECT_EQ(safeFileName(QStringLiteral("C:\\rec\\0001.MMV")), QStringLiteral("0001.MMV"));
    EXPECT_EQ(safeFileName(QStringLiteral("../../x")), QStringLiteral("x"));
    EXPECT_EQ(safeFileName(QStringLiteral("/etc/passwd")), QStringLiteral("passwd"));
    EXPECT_EQ(safeFileName(QStringLiteral("D:track")), QStringLiteral("track"));
    for (const char* refused : {"", ".", "..", "a/..", "dir/", "x:"})
        EXPECT_FALSE(safeFileName(QLatin1String(refused))) << refused;
}

TEST(DataFolders, AreCreatedWhenMissingAndFilesAppearWhole)
{
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    const QString drv = dataFolderUnder(base.path(), QStringLiteral("DRV"));
    EXPECT_TRUE(QFileInfo(drv).isDir());
    EXPECT_EQ(dataFolderUnder(base.path(), QStringLiteral("DRV")), drv);  // an existing one is fine

    const QByteArray source = "0123456789";
    const QString file = QDir(drv).filePath(QStringLiteral("f.drv"));
    writeFileAtomically(file, source, 2, 5);
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("23456"));

    // Nothing is left behind when the file cannot be written.
    EXPECT_THROW(writeFileAtomically(QDir(drv).filePath(QStringLiteral("no/such/dir/f")), source, 0, 1), std::runtime_error);
    EXPECT_THROW(writeFileAtomically(file, source, 8, 5), std::runtime_error);
    EXPECT_EQ(QDir(drv).entryList(QDir::Files), QStringList{QStringLiteral("f.drv")});
    // A folder that cannot be made (a file stands in its way).
    EXPECT_THROW(dataFolderUnder(drv, QStringLiteral("f.drv")), std::runtime_error);
}

// A file written while its bytes arrive is in place, whole, only after
// commit(); cancelled, dropped or failed, it leaves nothing in its folder.
TEST(DataFolders, AStreamedFileAppearsWholeOnlyWhenCommitted)
{
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    QThreadPool pool;
    QObject context;
    QByteArray source(3 << 20, Qt::Uninitialized);
    for (qsizetype i = 0; i < source.size(); ++i) source[i] = char(i * 7 + i / 4096);
    const QString path = QDir(base.path()).filePath(QStringLiteral("A.MMV"));
    enum class End { Commit, Cancel, Drop, WriteFails };
    for (End end : {End::Commit, End::Cancel, End::Drop, End::WriteFails}) {
        SCOPED_TRACE(int(end));
        QFile::remove(path);
        QStringList results;
        // Writes past 64 KiB fail (EFBIG) while the limit holds.
        rlimit before{};
        getrlimit(RLIMIT_FSIZE, &before);
        const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
        if (end == End::WriteFails) {
            rlimit small = before;
            small.rlim_cur = 64 << 10;
            setrlimit(RLIMIT_FSIZE, &small);
        }
        {
            StreamedFile file(path, pool, &context, [&](const QString& error) { results << error; });
            // Slices of one shared source, the first ten bytes left out.
            for (qint64 at = 10; at < source.size(); at += 100000)
                file.append(source, at, std::min<qint64>(100000, source.size() - at));
            if (end == End::Commit || end == End::WriteFails) {
                file.commit();
                QTRY_COMPARE_WITH_TIMEOUT(results.size(), 1, 60000);
            }
            if (end == End::Cancel) file.cancel();
        }
        pool.waitForDone();
        QCoreApplication::processEvents();  // nothing more is reported
        setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, oldSignal);

        const QStringList left = QDir(base.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
        if (end == End::Commit) {
            EXPECT_EQ(results, QStringList{QString()});
            EXPECT_EQ(left, QStringList{QStringLiteral("A.MMV")});
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_TRUE(f.readAll() == source.mid(10));
        } else {
            EXPECT_TRUE(left.isEmpty()) << left.join(' ').toStdString();
            EXPECT_EQ(results.size(), end == End::WriteFails ? 1 : 0);
            if (end == End::WriteFails) {
                EXPECT_TRUE(results[0].startsWith(QStringLiteral("Cannot write file"))) << results[0].toStdString();
            }
        }
    }
    // A file that cannot be created raises at once.
    EXPECT_THROW(StreamedFile(QDir(base.path()).filePath(QStringLiteral("no/such/folder/A.MMV")), pool, &context,
                              [](const QString&) {}),
                 std::runtime_error);
}

TEST(TimeRange, CalendarCountsAndZoneOffsets)
{
    const QTimeZone utcPlus9(9 * 3600);
    EXPECT_EQ(utcCount(QDate(1970, 1, 1), QTime(9, 0, 0), utcPlus9), 0);
    EXPECT_EQ(utcCount(QDate(2000, 3, 1), QTime(0, 0, 0), QTimeZone(0)), 951868800);
    EXPECT_EQ(calendarCount(QDate(2000, 2, 29), QTime(0, 0, 0)), 951868800 - 86400);
    EXPECT_EQ(calendarCount(QDate(2100, 3, 1), QTime(0, 0, 0)) - calendarCount(QDate(2100, 2, 28), QTime(0, 0, 0)), 86400);
    EXPECT_EQ(calendarCount(QDate(2025, 3, 7), QTime(14, 25, 30, 999)), 1741357530);

    // Summer time counts: Berlin is UTC+2 in July and UTC+1 in January.
    const QTimeZone berlin("Europe/Berlin");
    ASSERT_TRUE(berlin.isValid());
    EXPECT_EQ(zoneOffsetToUtc(QDate(2025, 7, 1), QTime(12, 0), berlin), -7200);
    EXPECT_EQ(zoneOffsetToUtc(QDate(2025, 1, 1), QTime(12, 0), berlin), -3600);
    EXPECT_EQ(utcCount(QDate(2025, 7, 1), QTime(12, 0), berlin),
              QDateTime(QDate(2025, 7, 1), QTime(12, 0), berlin).toSecsSinceEpoch());
}
