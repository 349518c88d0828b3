// brindle-drv as a user runs it: output, exit codes, standard error.
#include "app/drv/drv_export.h"
#include "app/drv/drv_text.h"
#include "drv_test_files.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace drvtest;

namespace {

struct CliRun {
    int exitCode = -1;
    QByteArray out, err;
};

class DrvCli : public ::testing::Test {
protected:
    void SetUp() override
    {
        setTimeZone("UTC");
        ASSERT_TRUE(dir.isValid());
    }
    CliRun run(const QStringList& args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TZ", "UTC");
        env.insert("LC_ALL", "C");
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(BRINDLE_DRV_EXE), args);
        EXPECT_TRUE(p.waitForFinished(60000));
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
                p.readAllStandardError()};
    }
    QString write(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    QTemporaryDir dir;
};

Drv trip()
{
    Drv d;
    d.records = {Rec().gps(1, 10.0, 20.0).speed(30).time(1741338303).u8(5, 1),
                 Rec().gps(1, 11.0, 20.0).speed(60).time(1741338304)};
    return d;
}

}  // namespace

TEST_F(DrvCli, SummaryCsvAndGpxGoToStandardOutput)
{
    const QString path = write("trip.drv", trip().bytes());
    const CliRun s = run({path, "--summary"});
    EXPECT_EQ(s.exitCode, 0);
    EXPECT_TRUE(s.err.isEmpty()) << s.err.toStdString();
    EXPECT_TRUE(s.out.startsWith("Records: 2\nStart: 2025.3.7 9:5:3 (local time)\nEnd: 2025.3.7 9:5:4 (local time)\n"
                                 "Rate: 10 Hz\nDistance: 111.195 km\nMax speed: 60 km/h\nFCW: 1 events, 1 records\n"))
        << s.out.toStdString();

    const CliRun c = run({path, "--csv"});
    EXPECT_EQ(c.exitCode, 0);
    QBuffer expected;
    expected.open(QIODevice::WriteOnly);
    drv::writeCsv(expected, drv::DrvFile::read(trip().bytes(), {0, true}), u'.');
    EXPECT_EQ(c.out, expected.data());

    const CliRun g = run({"--gpx", path});
    EXPECT_EQ(g.exitCode, 0);
    EXPECT_EQ(g.out.count("<trkpt "), 2);
    EXPECT_TRUE(g.out.contains("<name>trip</name>"));
}

TEST_F(DrvCli, PrefixAndNoFileHeaderOptions)
{
    Drv d = trip();
    d.withFileHeader = false;
    d.prefix = QByteArray(5, 'x');
    const QString path = write("raw.drv", d.bytes());
    const CliRun r = run({path, "--no-file-header", "--prefix", "5", "--summary"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.startsWith("Records: 2\n")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Max speed: 60 km/h\n"));
}

TEST_F(DrvCli, UnreadableFilesExitOneWithOneLine)
{
    const CliRun missing = run({dir.filePath("nope.drv"), "--csv"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.out.isEmpty());
    EXPECT_EQ(missing.err.count('\n'), 1);
    EXPECT_TRUE(missing.err.contains("Cannot open file")) << missing.err.toStdString();

    const CliRun empty = run({write("empty.drv", {}), "--summary"});
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_EQ(empty.err.count('\n'), 1);
    EXPECT_TRUE(empty.err.contains("too short for its file header")) << empty.err.toStdString();
}

TEST_F(DrvCli, ShortFileIsReadWithANoteAndExitsZero)
{
    Drv d = trip();
    d.frameCount = 4;
    const CliRun r = run({write("short.drv", d.bytes()), "--summary"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.err.endsWith("The file ends early: 4 records declared, 2 read.\n")) << r.err.toStdString();
    EXPECT_EQ(r.err.count('\n'), 1);
    EXPECT_TRUE(r.out.startsWith("Records: 2 (4 declared)\n"));
}

// A user whose locale writes a decimal comma still gets a GPX that other tools read.
TEST_F(DrvCli, GpxNumbersKeepTheirPointInADecimalCommaLocale)
{
    const QString locales = dir.filePath("locales");
    ASSERT_TRUE(QDir().mkpath(locales));
    QProcess make;
    make.start("localedef", {"-i", "de_DE", "-f", "UTF-8", locales + "/de_DE.UTF-8"});
    if (!make.waitForFinished(60000) || make.exitStatus() != QProcess::NormalExit || make.exitCode() != 0)
        GTEST_SKIP() << "no German locale to build";

    Drv d;
    d.records = {Rec().gps(1, 37.5, 127.25, 12.5).time(1741338303)};
    const QString path = write("komma.drv", d.bytes());
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TZ", "UTC");
    env.insert("LOCPATH", locales);
    env.insert("LC_ALL", "de_DE.UTF-8");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(BRINDLE_DRV_EXE), {path, "--gpx"});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0);
    const QByteArray gpx = p.readAllStandardOutput();
    EXPECT_TRUE(gpx.contains("<trkpt lat=\"37.5\" lon=\"127.25\"><ele>12.5</ele>")) << gpx.toStdString();
}

TEST_F(DrvCli, BadCommandLinesExitTwo)
{
    const QString path = write("trip.drv", trip().bytes());
    EXPECT_EQ(run({path}).exitCode, 2);
    EXPECT_EQ(run({path, "--csv", "--gpx"}).exitCode, 2);
    EXPECT_EQ(run({path, "--prefix", "abc", "--csv"}).exitCode, 2);
    EXPECT_EQ(run({path, "--frobnicate", "--csv"}).exitCode, 2);
    EXPECT_EQ(run({"--csv"}).exitCode, 2);
}

TEST_F(DrvCli, HelpExplainsEveryOptionWithExamples)
{
    const CliRun h = run({"--help"});
    EXPECT_EQ(h.exitCode, 0);
    for (const char* part : {"--prefix N", "--no-file-header", "--csv", "--gpx", "--summary", "Examples:",
                             "brindle-drv 20250307_090503.drv --summary", "Exit status", "km/h"})
        EXPECT_TRUE(h.out.contains(part)) << part;
    EXPECT_TRUE(h.err.isEmpty());
}

// A file that is no DRV track still "reads"; its records give it away.
TEST_F(DrvCli, AFileThatIsNoDrvTrackIsToldOnStandardErrorAndExitsThree)
{
    QByteArray noise(58 + 22 + 41 * 120, '\0');
    std::uint32_t x = 12345;
    for (char& c : noise) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 24);
    }
    const QString path = write("noise.bin", noise);
    const CliRun r = run({path, "--no-file-header", "--summary"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(r.err.contains("does not look like a DRV track")) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("Records: ")) << "the output is still written";

    // The sample track in the documentation reads cleanly.
    const CliRun sample = run({QStringLiteral(BRINDLE_SOURCE_DIR "/docs/samples/short.drv"), "--summary"});
    EXPECT_EQ(sample.exitCode, 0);
    EXPECT_TRUE(sample.err.isEmpty()) << sample.err.toStdString();
    EXPECT_TRUE(sample.out.startsWith("Records: 10\nStart: 2025.3.7 9:5:3 (local time)\n")) << sample.out.toStdString();
    EXPECT_TRUE(sample.out.contains("Max speed: 57 km/h\n"));
}

TEST_F(DrvCli, HostileFilesAndSizesAreRefusedWithOneLine)
{
    const QString path = write("trip.drv", trip().bytes());
    const CliRun huge = run({path, "--prefix", "9223372036854775807", "--summary"});
    EXPECT_EQ(huge.exitCode, 2);
    EXPECT_TRUE(huge.err.contains("'9223372036854775807' is not a valid prefix length (0 to 1073741824 bytes)"))
        << huge.err.toStdString();

    const CliRun longPrefix = run({path, "--prefix", "1073741824", "--summary"});
    EXPECT_EQ(longPrefix.exitCode, 1);
    EXPECT_TRUE(longPrefix.err.contains("too short for its server header: 320 bytes, 1073741824 needed."))
        << longPrefix.err.toStdString();

    const QString fifo = dir.filePath("pipe.drv");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const CliRun pipe = run({fifo, "--csv"});
    EXPECT_EQ(pipe.exitCode, 1);
    EXPECT_EQ(pipe.err, QStringLiteral("brindle-drv: %1: \"%1\" is not a regular file.\n").arg(fifo).toUtf8());
}
