#include "app/drv/drv_format.h"
#include "app/drv/drv_plausibility.h"
#include "app/drv/drv_text.h"
#include "drv_test_files.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <functional>
#include <limits>

#include <sys/stat.h>

using namespace drvtest;
using drv::DrvError;
using drv::DrvFile;
using drv::ReadOptions;

namespace {

class DrvFormat : public ::testing::Test {
protected:
    void SetUp() override { setTimeZone("UTC"); }
};

QStringList allTexts(const QByteArray& record)
{
    QStringList out;
    for (int c = 1; c < drv::kColumnCount; ++c)
        out << drv::fieldText(reinterpret_cast<const uchar*>(record.constData()), c, u'.');
    return out;
}

}  // namespace

TEST_F(DrvFormat, FileHeaderGivesNameLengthAndFrameCount)
{
    Drv d;
    d.records = {Rec().speed(1), Rec().speed(2), Rec().speed(3)};
    const DrvFile f = DrvFile::read(d.bytes(), ReadOptions{0, true});
    ASSERT_TRUE(f.fileHeader().has_value());
    EXPECT_EQ(f.fileHeader()->fileName, "20250307_090503.drv");
    EXPECT_EQ(f.fileHeader()->totalLength, 22u + 360u);
    EXPECT_EQ(f.fileHeader()->totalFrameCount, 3u);
    EXPECT_EQ(f.drvHeader().startTime, 1741338303u);
    EXPECT_EQ(f.drvHeader().rate, 10);
    EXPECT_EQ(f.declaredCount(), 3);
    EXPECT_EQ(f.count(), 3);
    EXPECT_FALSE(f.endsEarly());
    EXPECT_EQ(f.record(2)[0], 3);
}

TEST_F(DrvFormat, FileNameStopsAtTheFirstZeroByte)
{
    Drv d;
    d.name = QByteArray("abc\0garbage", 11);
    const DrvFile f = DrvFile::read(d.bytes(), ReadOptions{0, true});
    EXPECT_EQ(f.fileHeader()->fileName, "abc");
}

TEST_F(DrvFormat, WithFileHeaderTheFrameCountRulesNotTheDrvLength)
{
    Drv d;
    d.records = {Rec().speed(1), Rec().speed(2), Rec().speed(3)};
    d.frameCount = 2;
    d.drvLength = 999999;
    const DrvFile f = DrvFile::read(d.bytes(), ReadOptions{0, true});
    EXPECT_EQ(f.count(), 2);
    EXPECT_EQ(f.drvHeader().totalLength, 999999u);
}

TEST_F(DrvFormat, WithoutFileHeaderTheDrvLengthDividedBy120IsTheCount)
{
    Drv d;
    d.withFileHeader = false;
    d.records = {Rec().speed(7), Rec().speed(8), Rec().speed(9)};
    d.drvLength = 250;  // 2 x 120 + 10
    const DrvFile f = DrvFile::read(d.bytes(), ReadOptions{0, false});
    EXPECT_FALSE(f.fileHeader().has_value());
    EXPECT_EQ(f.declaredCount(), 2);
    EXPECT_EQ(f.count(), 2);
    EXPECT_EQ(f.record(0)[0], 7);
    EXPECT_EQ(f.record(1)[0], 8);
}

TEST_F(DrvFormat, PrefixIsSkippedUninterpreted)
{
    Drv d;
    d.prefix = QByteArray(23, '\xAB');
    d.records = {Rec().speed(42)};
    const DrvFile f = DrvFile::read(d.bytes(), ReadOptions{23, true});
    EXPECT_EQ(f.fileHeader()->fileName, "20250307_090503.drv");
    EXPECT_EQ(f.count(), 1);
    EXPECT_EQ(f.record(0)[0], 42);
    // Read without skipping, the prefix bytes land in the name and the counts are wrong.
    const DrvFile wrong = DrvFile::read(d.bytes(), ReadOptions{0, true});
    EXPECT_NE(wrong.fileHeader()->fileName, "20250307_090503.drv");
}

TEST_F(DrvFormat, ShortFileYieldsTheCompleteRecordsOnly)
{
    Drv d;
    d.records = {Rec().speed(1), Rec().speed(2), Rec().speed(3)};
    d.frameCount = 5;
    QByteArray bytes = d.bytes();
    bytes.chop(60);  // half of the third record
    const DrvFile f = DrvFile::read(bytes, ReadOptions{0, true});
    EXPECT_EQ(f.declaredCount(), 5);
    EXPECT_EQ(f.count(), 2);
    EXPECT_TRUE(f.endsEarly());
    EXPECT_EQ(drv::shortFileLine(f), "The file ends early: 5 records declared, 2 read.");
}

TEST_F(DrvFormat, HugeDeclaredCountIsBoundedByTheData)
{
    Drv d;
    d.records = {Rec()};
    d.frameCount = 0xFFFFFFFF;
    const DrvFile f = DrvFile::read(d.bytes(), ReadOptions{0, true});
    EXPECT_EQ(f.declaredCount(), 4294967295LL);
    EXPECT_EQ(f.count(), 1);
}

TEST_F(DrvFormat, FilesTooShortForTheirHeadersAreRefused)
{
    EXPECT_THROW(DrvFile::read(QByteArray(), ReadOptions{0, true}), DrvError);
    EXPECT_THROW(DrvFile::read(QByteArray(), ReadOptions{0, false}), DrvError);
    EXPECT_THROW(DrvFile::read(QByteArray(58 + 21, '\0'), ReadOptions{0, true}), DrvError);
    EXPECT_THROW(DrvFile::read(QByteArray(22, '\0'), ReadOptions{1, false}), DrvError);
    EXPECT_THROW(DrvFile::read(QByteArray(100, '\0'), ReadOptions{-1, false}), DrvError);
    try {
        DrvFile::read(QByteArray(30, '\0'), ReadOptions{0, true});
        FAIL();
    } catch (const DrvError& e) {
        EXPECT_EQ(e.message(), "The file is too short for its file header: 30 bytes, 58 needed.");
    }
    // Exactly the headers: a valid file without records.
    const DrvFile f = DrvFile::read(QByteArray(80, '\0'), ReadOptions{0, true});
    EXPECT_EQ(f.count(), 0);
    EXPECT_FALSE(f.endsEarly());
}

TEST_F(DrvFormat, FileOnDiskReadsLikeBytesAndMissingFileNamesTheOpenError)
{
    Drv d;
    d.records = {Rec().speed(5), Rec().speed(6)};
    const QString path = QDir::temp().filePath(QStringLiteral("drv_format_test_%1.drv").arg(QCoreApplication::applicationPid()));
    {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(d.bytes());
    }
    const DrvFile f = DrvFile::read(drv::DrvBytes::readFile(path), ReadOptions{0, true});
    EXPECT_EQ(f.fileSize(), d.bytes().size());
    EXPECT_EQ(f.count(), 2);
    EXPECT_EQ(f.record(1)[0], 6);
    QFile::remove(path);
    try {
        drv::DrvBytes::readFile(path);
        FAIL();
    } catch (const DrvError& e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("Cannot open file \"%1\". ").arg(path))) << e.what();
    }
}

// Every field has its own value, so a wrong offset or kind in the column table shows.
TEST_F(DrvFormat, EveryColumnTakesItsFieldFromItsOffset)
{
    const QByteArray r = Rec()
                             .u8(0, 88)        // Speed
                             .i16(1, -1200)    // RPM
                             .u8(3, 3)         // FVSA
                             .u8(4, 4)         // FPW
                             .u8(5, 5)         // FCW
                             .u8(6, 37)        // TTC
                             .u8(7, 17)        // Distance
                             .u8(8, 1)         // Record
                             .u8(9, 1)         // GPS Active
                             .u8(10, 9)        // GPS Signal
                             .f64(11, 37.5665)
                             .f64(19, -126.978)
                             .f64(27, 270.25)
                             .f64(35, 38.5)
                             .i32(43, 1741338303)
                             .i16(47, -300)
                             .u8(49, 1)
                             .i16(50, 999)
                             .u8(52, 52)
                             .u8(53, 53)
                             .u8(54, 54)
                             .i16(55, -10)
                             .i16(57, 1000)
                             .i16(59, -32768)
                             .u8(61, 10)
                             .u8(62, 62)
                             .f64(63, 45.5)
                             .f64(71, 3.25)
                             .f64(79, 12)
                             .i32(87, -123456)
                             .u8(91, 91)
                             .u8(92, 92)
                             .u8(93, 93);
    const QStringList expected{"2025.3.7 9:5:3", "1", "9", "37.5665", "-126.978", "270.25", "38.5", "88", "-1200",
                               "3", "4", "5", "3.7", "17", "1", "1741338303", "-300", "1", "999", "52", "53", "54",
                               "-10", "1000", "-32768", "0x0A", "62", "45.5", "3.25", "12", "-123456", "91", "92",
                               "93"};
    EXPECT_EQ(allTexts(r), expected);
}

// Plot, export and summary compute with decodeRecord, the grid with the column
// table; both must take each field from the same bytes.
TEST_F(DrvFormat, DecodedRecordAgreesWithTheColumnTexts)
{
    QByteArray r(120, '\0');
    for (int i = 0; i < 120; ++i) r[i] = char(i * 37 + 11);  // every byte distinct from its neighbours
    for (int off : {11, 19, 27, 35, 63, 71, 79}) putF64(r, off, 1000.25 + off);  // readable doubles
    const auto* p = reinterpret_cast<const uchar*>(r.constData());
    const drv::DrvRecord d = drv::decodeRecord(p);
    const QStringList decoded{QString::number(d.gpsActive), QString::number(d.gpsSignal),
                              drv::formatGeneral(d.latitude), drv::formatGeneral(d.longitude),
                              drv::formatGeneral(d.heading), drv::formatGeneral(d.altitude),
                              QString::number(d.speed), QString::number(d.rpm), QString::number(d.fvsa),
                              QString::number(d.fpw), QString::number(d.fcw), drv::formatGeneral(d.ttc / 10.0),
                              QString::number(d.distance), QString::number(d.record), QString::number(d.timeSec),
                              QString::number(d.timeOffsetMin), QString::number(d.isDst),
                              QString::number(d.timeMSec), QString::number(d.gSensor), QString::number(d.panic),
                              QString::number(d.overSpeeding), QString::number(d.gX), QString::number(d.gY),
                              QString::number(d.gZ),
                              "0x" + QString::number(d.errorCode, 16).rightJustified(2, u'0').toUpper(),
                              QString::number(d.ignition), drv::formatGeneral(d.engineLoad),
                              drv::formatGeneral(d.mafAir), drv::formatGeneral(d.throttle),
                              QString::number(d.odometer), QString::number(d.engineTemperature),
                              QString::number(d.oilTemperature), QString::number(d.ldw)};
    const QStringList texts = allTexts(r).mid(1);  // "Date/Time" is "Time Sec" again
    EXPECT_EQ(texts, decoded);
    EXPECT_EQ(allTexts(r)[0], drv::localTimeText(d.timeSec));
}

TEST_F(DrvFormat, ColumnTableHasTheGridsLabelsAndWidths)
{
    const auto cols = drv::columns();
    EXPECT_STREQ(cols[0].label, "No");
    EXPECT_STREQ(cols[1].label, "Date/Time");
    EXPECT_STREQ(cols[13].label, "TTC");
    EXPECT_STREQ(cols[34].label, "LDW");
    const int widths[drv::kColumnCount] = {30, 120, 60, 60, 80, 80, 80, 80, 40, 40, 40, 40, 40, 40, 50, 50, 80, 100,
                                           50, 60, 60, 50, 80, 70, 70, 70, 70, 60, 70, 60, 70, 70, 110, 110, 70};
    for (int c = 0; c < drv::kColumnCount; ++c) EXPECT_EQ(cols[c].width, widths[c]) << "column " << c;
}

TEST_F(DrvFormat, EdgeValuesOfTheRecordTexts)
{
    const auto text = [](const QByteArray& r, int column) {
        return drv::fieldText(reinterpret_cast<const uchar*>(r.constData()), column, u'.');
    };
    EXPECT_EQ(text(Rec().u8(6, 25), 13), "2.5");
    EXPECT_EQ(text(Rec().u8(6, 40), 13), "4");
    EXPECT_EQ(text(Rec().u8(6, 0), 13), "0");
    EXPECT_EQ(text(Rec().u8(61, 255), 26), "0xFF");
    EXPECT_EQ(text(Rec().u8(61, 0), 26), "0x00");
    QByteArray g = Rec();
    g[55] = char(0xF6);
    g[56] = char(0xFF);
    EXPECT_EQ(text(g, 23), "-10");
    EXPECT_EQ(text(Rec().u8(0, 255), 8), "255");                  // uint8 stays unsigned
    EXPECT_EQ(text(Rec().i32(87, std::numeric_limits<int>::min()), 31), "-2147483648");
    EXPECT_EQ(text(Rec(), 16), "0");
    EXPECT_EQ(text(Rec(), 1), "1970.1.1 0:0:0");
}

TEST_F(DrvFormat, LocalTimeFollowsTheZone)
{
    setTimeZone("JST-9");
    EXPECT_EQ(drv::localTimeText(0), "1970.1.1 9:0:0");
    EXPECT_EQ(drv::localTimeText(1741338303), "2025.3.7 18:5:3");
    setTimeZone("EST5EDT,M3.2.0,M11.1.0");
    EXPECT_EQ(drv::localTimeText(0), "1969.12.31 19:0:0");
    EXPECT_EQ(drv::localTimeText(1720000000), "2024.7.3 5:46:40");  // summer time
    setTimeZone("UTC");
    EXPECT_EQ(drv::localTimeText(-1), "1969.12.31 23:59:59");
}

TEST_F(DrvFormat, GeneralFloatFormat)
{
    EXPECT_EQ(drv::formatGeneral(0.1), "0.1");
    EXPECT_EQ(drv::formatGeneral(1.0 / 3), "0.333333333333333");
    EXPECT_EQ(drv::formatGeneral(2.0 / 3), "0.666666666666667");
    EXPECT_EQ(drv::formatGeneral(100), "100");
    EXPECT_EQ(drv::formatGeneral(-2.5), "-2.5");
    EXPECT_EQ(drv::formatGeneral(-0.0), "0");
    EXPECT_EQ(drv::formatGeneral(123456789012345.0), "123456789012345");
    EXPECT_EQ(drv::formatGeneral(1234567890123456.0), "1.23456789012346E15");
    EXPECT_EQ(drv::formatGeneral(1e20), "1E20");
    EXPECT_EQ(drv::formatGeneral(0.00001), "0.00001");
    EXPECT_EQ(drv::formatGeneral(0.0000015), "1.5E-6");
    EXPECT_EQ(drv::formatGeneral(-1.5e-300), "-1.5E-300");
    EXPECT_EQ(drv::formatGeneral(37.5665), "37.5665");
    EXPECT_EQ(drv::formatGeneral(3.7, u','), "3,7");
    EXPECT_EQ(drv::formatGeneral(std::nan("")), "NAN");
    EXPECT_EQ(drv::formatGeneral(-INFINITY), "-INF");
}

TEST_F(DrvFormat, HeaderLogWithAndWithoutFileHeader)
{
    Drv d;
    d.records = {Rec(), Rec(), Rec()};
    const DrvFile f = DrvFile::read(d.bytes(), ReadOptions{0, true});
    EXPECT_EQ(drv::headerLog(f),
              (QStringList{"-- DRV File Header 58bytes --", "DRV File Name = 20250307_090503.drv",
                           "DRV File Header Total Length = 382", "File Header totalFrameCount = 3", " ",
                           "-- DRV Header 22bytes --", "DRV Header Total Length = 360",
                           "DRV Header UTC Time = 1741338303", "2025.3.7 9:5:3", "Hz = 10", " ",
                           "-- DRV Data: 120bytes x 3 --"}));

    d.withFileHeader = false;
    d.drvLength = 250;
    QByteArray shortBytes = d.bytes();
    shortBytes.chop(240);
    const DrvFile g = DrvFile::read(shortBytes, ReadOptions{0, false});
    EXPECT_EQ(drv::headerLog(g),
              (QStringList{"-- DRV Header 22bytes --", "DRV Header Total Length = 250",
                           "DRV Header UTC Time = 1741338303", "2025.3.7 9:5:3", "Hz = 10", " ",
                           "-- DRV Data: 120bytes x 2 --", "The file ends early: 2 records declared, 1 read."}));
}

TEST(DrvPlausibility, MostRecordsImpossibleMeansNoDrvTrack)
{
    using drvtest::Rec;
    auto impossible = [](const QByteArray& r) { return drv::isImpossibleRecord(reinterpret_cast<const uchar*>(r.constData())); };
    const std::int32_t t = 1741338303;
    EXPECT_FALSE(impossible(Rec().gps(0, 0, 0).time(t))) << "no fix yet is not impossible";
    EXPECT_FALSE(impossible(Rec().gps(1, -90, 180).time(946684800))) << "the edges are possible";
    EXPECT_TRUE(impossible(Rec().gps(1, 90.5, 13).time(t)));
    EXPECT_TRUE(impossible(Rec().gps(1, 52, -180.5).time(t)));
    EXPECT_TRUE(impossible(Rec().gps(1, std::nan(""), 13).time(t)));
    EXPECT_TRUE(impossible(Rec().gps(1, 52, 13).time(946684799))) << "1999";
    EXPECT_TRUE(impossible(Rec().gps(1, 52, 13).time(0)));

    drvtest::Drv d;
    d.records = {Rec().gps(1, 52, 13).time(t), Rec().gps(1, 952, 13).time(t), Rec().gps(1, 52, 13).time(5)};
    const drv::Plausibility half = drv::checkPlausibility(drv::DrvFile::read(d.bytes(), {0, true}));
    EXPECT_EQ(half.checked, 3);
    EXPECT_EQ(half.impossible, 2);
    EXPECT_FALSE(half.looksLikeDrv());
    d.records.append(Rec().gps(1, 52, 13).time(t));
    EXPECT_TRUE(drv::checkPlausibility(drv::DrvFile::read(d.bytes(), {0, true})).looksLikeDrv()) << "half is not most";
    d.records.clear();
    EXPECT_TRUE(drv::checkPlausibility(drv::DrvFile::read(d.bytes(), {0, true})).looksLikeDrv()) << "nothing to doubt";
}

// ---- Hostile and damaged files ----

namespace {

QString drvError(const std::function<void()>& f)
{
    try {
        f();
    } catch (const DrvError& e) {
        return e.message();
    }
    return {};
}

// A file of `size` bytes that starts with `head`; the rest is a hole that costs no disk.
QString sparseFile(const QTemporaryDir& dir, const QString& name, const QByteArray& head, qint64 size)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(head);
    EXPECT_TRUE(f.resize(size));
    return path;
}

}  // namespace

TEST_F(DrvFormat, NonRegularFilesAreRefusedWithoutReadingThem)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("track.drv");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString notRegular = QStringLiteral("\"%1\" is not a regular file.").arg(fifo);
    EXPECT_EQ(drvError([&] { drv::DrvBytes::readFile(fifo); }), notRegular);
    EXPECT_EQ(drvError([&] { drv::DrvBytes::readFile(fifo, ReadOptions{}); }), notRegular);
    EXPECT_EQ(drvError([] { drv::DrvBytes::readFile("/dev/zero"); }), "\"/dev/zero\" is not a regular file.");
    EXPECT_EQ(drvError([&] { drv::DrvBytes::readFile(dir.path(), ReadOptions{}); }),
              QStringLiteral("\"%1\" is not a regular file.").arg(dir.path()));
}

TEST_F(DrvFormat, OnlyTheDeclaredDataIsReadAndTheLargestFileIsStated)
{
    QTemporaryDir dir;
    Drv d;
    d.records = {Rec().speed(7)};
    // A 2 GiB file whose headers declare one record: 200 bytes are read.
    const QString sparse = sparseFile(dir, "sparse.drv", d.bytes(), qint64(2) << 30);
    const auto bytes = drv::DrvBytes::readFile(sparse, ReadOptions{0, true});
    EXPECT_EQ(bytes->size(), 58 + 22 + 120);
    EXPECT_EQ(bytes->fileSize(), qint64(2) << 30);
    const DrvFile f = DrvFile::read(bytes, ReadOptions{0, true});
    EXPECT_EQ(f.count(), 1);
    EXPECT_EQ(f.record(0)[0], 7);
    EXPECT_EQ(f.fileSize(), qint64(2) << 30);

    // Read whole, the same file is refused with the limit in the message.
    EXPECT_EQ(drvError([&] { drv::DrvBytes::readFile(sparse); }),
              QStringLiteral("\"%1\" is larger than 1 GiB, the largest DRV file this tool opens.").arg(sparse));

    // Headers that declare more than the limit, in a file that holds it.
    Drv huge;
    huge.frameCount = 0xFFFFFFFF;
    EXPECT_EQ(drvError([&] {
                  drv::DrvBytes::readFile(sparseFile(dir, "huge.drv", huge.bytes(), qint64(2) << 30), ReadOptions{0, true});
              }),
              QStringLiteral("\"%1\" declares 4294967295 records, more than fit in 1 GiB, the largest DRV file this "
                             "tool opens.")
                  .arg(dir.filePath("huge.drv")));

    // Without a file header the DRV header's length counts; a short file gives what it has.
    Drv raw;
    raw.withFileHeader = false;
    raw.prefix = "PREFIX";
    raw.records = {Rec().speed(1), Rec().speed(2), Rec().speed(3)};
    raw.drvLength = 2 * 120 + 50;
    const QString rawPath = sparseFile(dir, "raw.drv", raw.bytes(), raw.bytes().size());
    const auto two = drv::DrvBytes::readFile(rawPath, ReadOptions{6, false});
    EXPECT_EQ(two->size(), 6 + 22 + 240);
    EXPECT_EQ(DrvFile::read(two, ReadOptions{6, false}).count(), 2);
    const QByteArray cut = raw.bytes().left(6 + 22 + 130);
    const QString cutPath = sparseFile(dir, "cut.drv", cut, cut.size());
    const DrvFile one = DrvFile::read(drv::DrvBytes::readFile(cutPath, ReadOptions{6, false}), ReadOptions{6, false});
    EXPECT_EQ(one.count(), 1);
    EXPECT_TRUE(one.endsEarly());
}

TEST_F(DrvFormat, AHugePrefixIsCheckedBeforeAnySumIsMade)
{
    Drv d;
    d.records = {Rec()};
    const qint64 huge = std::numeric_limits<qint64>::max();
    const QString expected = QStringLiteral("The file is too short for its server header: %1 bytes, %2 needed.")
                                 .arg(d.bytes().size())
                                 .arg(huge);
    EXPECT_EQ(drvError([&] { DrvFile::read(d.bytes(), ReadOptions{huge, true}); }), expected);
    EXPECT_EQ(drvError([&] { DrvFile::read(d.bytes(), ReadOptions{huge - 10, false}); }).contains(" needed."), true);

    QTemporaryDir dir;
    const QString path = sparseFile(dir, "t.drv", d.bytes(), d.bytes().size());
    EXPECT_EQ(drvError([&] {
                  DrvFile::read(drv::DrvBytes::readFile(path, ReadOptions{huge, true}), ReadOptions{huge, true});
              }),
              expected);
    // A prefix that leaves room for the headers only.
    const DrvFile f = DrvFile::read(drv::DrvBytes::readFile(path, ReadOptions{120, false}), ReadOptions{120, false});
    EXPECT_EQ(f.count(), 0);
}
