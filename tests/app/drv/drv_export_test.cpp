#include "app/drv/drv_export.h"
#include "app/drv/drv_text.h"
#include "drv_test_files.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QXmlStreamReader>

#include <algorithm>

using namespace drvtest;
using drv::DrvFile;
using drv::ReadOptions;

namespace {

class DrvExport : public ::testing::Test {
protected:
    void SetUp() override { setTimeZone("UTC"); }
};

QByteArray csvOf(const DrvFile& f, QChar dp = u'.')
{
    QBuffer buf;
    buf.open(QIODevice::WriteOnly);
    EXPECT_TRUE(drv::writeCsv(buf, f, dp));
    return buf.data();
}

struct TrackPoint {
    QString lat, lon, ele, time;
};

QList<TrackPoint> gpxPoints(const QByteArray& xml, QString* trackName = nullptr)
{
    QList<TrackPoint> out;
    QXmlStreamReader r(xml);
    QString current;
    while (!r.atEnd()) {
        r.readNext();
        if (r.isStartElement()) {
            current = r.name().toString();
            if (current == u"gpx") {
                EXPECT_EQ(r.attributes().value("version"), u"1.1");
                EXPECT_EQ(r.namespaceUri(), u"http://www.topografix.com/GPX/1/1");
            }
            if (current == u"trkpt")
                out.append({r.attributes().value("lat").toString(), r.attributes().value("lon").toString(), {}, {}});
        } else if (r.isCharacters() && !r.isWhitespace()) {
            if (current == u"ele") out.last().ele = r.text().toString();
            if (current == u"time") out.last().time = r.text().toString();
            if (current == u"name" && trackName) *trackName = r.text().toString();
        }
    }
    EXPECT_FALSE(r.hasError()) << r.errorString().toStdString();
    return out;
}

}  // namespace

TEST_F(DrvExport, CsvHasTheLabelsThenTheGridTextsPerRecord)
{
    Drv d;
    d.records = {Rec().speed(50).u8(6, 25).u8(61, 255).g(-10, 0, 1000).time(0),
                 Rec().speed(51).gps(1, 37.5, 127.25).time(1741338303)};
    const DrvFile f = DrvFile::read(d.bytes(), ReadOptions{0, true});
    const QList<QByteArray> lines = csvOf(f).split('\n');
    ASSERT_EQ(lines.size(), 4);  // header, two records, and the empty tail after the last CRLF
    EXPECT_TRUE(lines[0].startsWith("No,Date/Time,GPS Active,GPS Signal,Latitude,"));
    EXPECT_TRUE(lines[0].endsWith(",Engine Temperature,Oil Temperature,LDW\r"));
    EXPECT_EQ(lines[0].count(','), 34);
    EXPECT_EQ(lines[1], "1,1970.1.1 0:0:0,0,0,0,0,0,0,50,0,0,0,0,2.5,0,0,0,0,0,0,0,0,0,-10,0,1000,0xFF,0,0,0,0,0,0,0,0\r");
    EXPECT_TRUE(lines[2].startsWith("2,2025.3.7 9:5:3,1,0,37.5,127.25,0,0,51,")) << lines[2].toStdString();
    EXPECT_TRUE(lines[3].isEmpty());
}

TEST_F(DrvExport, CsvQuotesFieldsThatNeedIt)
{
    EXPECT_EQ(drv::csvField("plain"), "plain");
    EXPECT_EQ(drv::csvField("3,7"), "\"3,7\"");
    EXPECT_EQ(drv::csvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(drv::csvField("two\nlines"), "\"two\nlines\"");

    // A comma decimal separator keeps the column count right.
    Drv d;
    d.records = {Rec().u8(6, 37).f64(11, 1.5)};
    const QList<QByteArray> lines = csvOf(DrvFile::read(d.bytes(), ReadOptions{0, true}), u',').split('\n');
    EXPECT_TRUE(lines[1].startsWith("1,1970.1.1 0:0:0,0,0,\"1,5\",0,")) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains(",\"3,7\","));
}

TEST_F(DrvExport, CsvOfAFileWithoutRecordsIsTheHeaderRow)
{
    const DrvFile f = DrvFile::read(QByteArray(80, '\0'), ReadOptions{0, true});
    const QByteArray csv = csvOf(f);
    EXPECT_EQ(csv.count("\r\n"), 1);
    EXPECT_TRUE(csv.startsWith("No,"));
}

TEST_F(DrvExport, ExportsReportProgressAndStopWhenTold)
{
    Drv d;
    for (int k = 0; k < 10000; ++k) d.records << Rec().gps(1, 10.0, 20.0).speed(k % 100);
    const DrvFile f = DrvFile::read(d.bytes(), ReadOptions{0, true});

    QList<qint64> seen;
    const drv::ExportProgress watch = [&](qint64 done, qint64 total) {
        EXPECT_EQ(total, 10000);
        seen << done;
        return true;
    };
    QBuffer all;
    all.open(QIODevice::WriteOnly);
    ASSERT_TRUE(drv::writeCsv(all, f, u'.', watch));
    EXPECT_EQ(all.data().count("\r\n"), 10001);  // the callback does not change the output
    ASSERT_GE(seen.size(), 2);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_LT(seen.last(), 10000);

    // Told to stop at the second report: false, and the records after it are not written.
    for (bool gpx : {false, true}) {
        int calls = 0;
        const drv::ExportProgress stop = [&](qint64, qint64) { return ++calls < 2; };
        QBuffer part;
        part.open(QIODevice::WriteOnly);
        const bool written = gpx ? drv::writeGpx(part, f, "t", stop) : drv::writeCsv(part, f, u'.', stop);
        EXPECT_FALSE(written) << gpx;
        EXPECT_EQ(calls, 2) << gpx;
        const QByteArray mark = gpx ? "<trkpt " : "\r\n";
        EXPECT_LT(part.data().count(mark), 10000) << gpx;
    }
}

TEST_F(DrvExport, GpxTrackSkipsRecordsWithoutGps)
{
    Drv d;
    d.records = {Rec().gps(1, 37.5665, 126.978, 38.5).time(1741338303).i16(50, 250),
                 Rec().gps(0, 37.6, 127.0).time(1741338304),         // no fix
                 Rec().gps(1, 95.0, 10.0).time(1741338305),          // impossible latitude
                 Rec().gps(2, -33.25, -70.5, -12).time(1741338306)};
    d.name = "trip";
    const DrvFile f = DrvFile::read(d.bytes(), ReadOptions{0, true});
    QBuffer buf;
    buf.open(QIODevice::WriteOnly);
    ASSERT_TRUE(drv::writeGpx(buf, f, "trip <one> & two"));
    QString name;
    const auto points = gpxPoints(buf.data(), &name);
    EXPECT_EQ(name, "trip <one> & two");
    ASSERT_EQ(points.size(), 2);
    EXPECT_EQ(points[0].lat, "37.5665");
    EXPECT_EQ(points[0].lon, "126.978");
    EXPECT_EQ(points[0].ele, "38.5");
    EXPECT_EQ(points[0].time, "2025-03-07T09:05:03.250Z");
    EXPECT_EQ(points[1].lat, "-33.25");
    EXPECT_EQ(points[1].lon, "-70.5");
    EXPECT_EQ(points[1].ele, "-12");
    EXPECT_EQ(points[1].time, "2025-03-07T09:05:06Z");
}

TEST_F(DrvExport, GpxTimesAreUtcWhateverTheLocalZone)
{
    setTimeZone("JST-9");
    EXPECT_EQ(drv::utcTimeText(0, 0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(drv::utcTimeText(1741338303, 7), "2025-03-07T09:05:03.007Z");
    EXPECT_EQ(drv::utcTimeText(1741338303, -5), "2025-03-07T09:05:03Z");
}

TEST_F(DrvExport, SummaryCountsDistanceSpeedAndEvents)
{
    Drv d;
    // One degree of latitude along a meridian is 111.195 km on the mean sphere.
    d.records = {Rec().gps(1, 10.0, 20.0).speed(30).time(1000).u8(5, 1),
                 Rec().gps(0, 50.0, 50.0).speed(120).time(1001).u8(5, 1),  // no fix: not on the route
                 Rec().gps(1, 10.5, 20.0).speed(40).time(1002),
                 Rec().gps(1, 11.0, 20.0).speed(35).time(1003).u8(5, 2).u8(53, 1),
                 Rec().gps(1, 11.0, 20.0).speed(0).time(1004).u8(93, 1)};
    const DrvFile f = DrvFile::read(d.bytes(), ReadOptions{0, true});
    const drv::Summary s = drv::summarize(f);
    EXPECT_EQ(s.records, 5);
    EXPECT_EQ(s.startTime, 1000);
    EXPECT_EQ(s.endTime, 1004);
    EXPECT_EQ(s.rate, 10);
    EXPECT_NEAR(s.distanceMetres, 111195.0, 5.0);
    EXPECT_EQ(s.maxSpeed, 120);
    EXPECT_EQ(s.flags[0].records, 3);  // FCW
    EXPECT_EQ(s.flags[0].events, 2);
    EXPECT_EQ(s.flags[1].records, 1);  // LDW
    EXPECT_EQ(s.flags[5].events, 1);   // Panic
    EXPECT_EQ(s.flags[6].records, 0);  // Over Speeding

    const QStringList lines = drv::summaryLines(s, u'.');
    EXPECT_EQ(lines[0], "Records: 5");
    EXPECT_EQ(lines[1], "Start: 1970.1.1 0:16:40 (local time)");
    EXPECT_EQ(lines[2], "End: 1970.1.1 0:16:44 (local time)");
    EXPECT_EQ(lines[3], "Rate: 10 Hz");
    EXPECT_EQ(lines[4], "Distance: 111.195 km");
    EXPECT_EQ(lines[5], "Max speed: 120 km/h");
    EXPECT_TRUE(lines.contains("FCW: 2 events, 3 records"));
    EXPECT_TRUE(lines.contains("Over Speeding: 0 events, 0 records"));
}

TEST_F(DrvExport, HaversineKnownDistances)
{
    EXPECT_DOUBLE_EQ(drv::haversineMetres(1, 2, 1, 2), 0.0);
    EXPECT_NEAR(drv::haversineMetres(0, 0, 0, 180), 3.14159265358979 * 6371008.8, 1e-3);
    // Paris - London, about 343.5 km.
    EXPECT_NEAR(drv::haversineMetres(48.8566, 2.3522, 51.5074, -0.1278), 343.5e3, 1e3);
}

TEST_F(DrvExport, DecimationKeepsExtremesAndFlagsOfEveryColumn)
{
    Drv d;
    for (int k = 0; k < 1000; ++k) {
        Rec r;
        r.speed(k % 100).g(k == 777 ? -900 : 0, k == 10 ? 500 : 1, 0);
        if (k == 500) r.u8(53, 1);  // Panic
        d.records << r;
    }
    const DrvFile f = DrvFile::read(d.bytes(), ReadOptions{0, true});
    const auto cols = drv::decimate(f, 10);
    ASSERT_EQ(cols.size(), 10u);
    for (const auto& c : cols) {
        EXPECT_FALSE(c.empty);
        EXPECT_EQ(c.min[drv::Speed], 0);
        EXPECT_EQ(c.max[drv::Speed], 99);
    }
    EXPECT_EQ(cols[7].min[drv::GX], -900);  // a single spike survives
    EXPECT_EQ(cols[6].min[drv::GX], 0);
    EXPECT_EQ(cols[0].max[drv::GY], 500);
    EXPECT_EQ(cols[5].flags, 1u << 5);
    EXPECT_EQ(cols[4].flags, 0u);

    // More pixels than records: every record has a column of its own.
    Drv two;
    two.records = {Rec().speed(9), Rec().speed(3)};
    const auto wide = drv::decimate(DrvFile::read(two.bytes(), {0, true}), 4);
    EXPECT_EQ(std::count_if(wide.begin(), wide.end(), [](const auto& c) { return !c.empty; }), 2);
    EXPECT_TRUE(drv::decimate(f, 0).empty());
}
