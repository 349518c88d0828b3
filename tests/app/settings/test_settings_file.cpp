#include "settings/binding_codecs.h"
#include "settings/settings_file.h"
#include "toolkit/exceptions.h"
#include "toolkit/ini_document.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>

#include <sys/stat.h>

using namespace settings;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

SettingsValues defaults()
{
    SettingsValues v;
    readSettingsFile(QStringLiteral("/nonexistent/setting.ini"), v);
    return v;
}

// Key names of a written file in order, "[SECTION]" lines included.
QStringList keyOrder(const QByteArray& bytes)
{
    QStringList out;
    for (const QByteArray& line : bytes.split('\n')) {
        const QByteArray t = line.trimmed();
        if (t.startsWith('[')) out << QString::fromLatin1(t);
        else if (t.contains('=')) out << QString::fromLatin1(t.left(t.indexOf('=')));
    }
    return out;
}

}  // namespace

TEST(SettingsFile, DefaultsIntoANewFileInSectionAndKeyOrder)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("setting.ini");
    writeSettingsFile(path, defaults());
    const QByteArray bytes = readAll(path);
    const QStringList order = keyOrder(bytes);

    QStringList sections;
    for (const QString& k : order)
        if (k.startsWith('[')) sections << k;
    EXPECT_EQ(sections, (QStringList{"[DEVICE]", "[RECORD]", "[EVENT]", "[SYSTEM]", "[CONNECTIVITY]", "[SERVER]",
                                     "[ADASCAMERA]"}));
    EXPECT_EQ(order.size(), 156 + 7);
    const auto at = [&](const char* key) { return order.indexOf(QLatin1String(key)); };
    for (int n = 1; n <= 10; ++n)
        EXPECT_EQ(at(qPrintable(wifiPasswordKey(n))), at(qPrintable(wifiSsidKey(n))) + 1) << n;
    EXPECT_EQ(at("WIFI_SSID2"), at("WIFI_PASS1") + 1);
    EXPECT_EQ(at("CAR_MODEL"), at("ADASANGLE_VANISHING_LINE") + 1);
    EXPECT_EQ(at("ADASANGLE_HOOD_LINE"), at("CAR_MODEL") + 1);
    EXPECT_TRUE(bytes.startsWith("[DEVICE]\r\nSPEED_SOURCE=0\r\nSLEEP_VOLTAGE=11.8\r\n")) << "new files use CRLF";
    EXPECT_TRUE(bytes.contains("\r\nAGPS_TOKEN=Hc7Lp2Wq9XzN4bTa\r\n"));
    EXPECT_TRUE(bytes.contains("\r\nNET_URL=ws://192.168.10.1:5000/wsapi\r\n"));
    EXPECT_TRUE(bytes.contains("\r\nNET_3G_AUTH=\r\n")) << "empty values are written, never skipped";
}

TEST(SettingsFile, UpdatesAnExistingFileAndKeepsWhatItDoesNotKnow)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("setting.ini");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("; written by hand\r\n[SERVER]\r\nNET_URL=ws://10.0.0.9:5000/wsapi\r\nEXTRA_KEY=42\r\n"
                "NET_ENABLE=0\r\n\r\n[VENDOR]\r\nFOO=bar\r\n");
    }
    SettingsValues v;
    readSettingsFile(path, v);
    EXPECT_EQ(v.value("NET_URL"), QStringLiteral("ws://10.0.0.9:5000/wsapi"));
    EXPECT_EQ(v.value("NET_ENABLE"), QStringLiteral("0"));
    EXPECT_EQ(v.value("SPEED_SOURCE"), QStringLiteral("0")) << "missing key yields the default";
    v.set("NET_ENABLE", "1");
    writeSettingsFile(path, v);

    const QByteArray bytes = readAll(path);
    EXPECT_TRUE(bytes.startsWith("; written by hand\r\n[SERVER]\r\nNET_URL=ws://10.0.0.9:5000/wsapi\r\nEXTRA_KEY=42\r\n"
                                 "NET_ENABLE=1\r\nNET_DASKEY=\r\n"))
        << bytes.left(200).toStdString();
    EXPECT_TRUE(bytes.contains("\r\n[VENDOR]\r\nFOO=bar\r\n"));
    EXPECT_FALSE(bytes.contains("\n\n")) << "CRLF kept throughout";
    const QStringList order = keyOrder(bytes);
    EXPECT_LT(order.indexOf("[VENDOR]"), order.indexOf("[DEVICE]")) << "missing sections go at the end";
    EXPECT_EQ(order.count("NET_URL"), 1);
}

TEST(SettingsFile, MissingAndEmptyKeysDiffer)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("s.ini");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[event]\nspeeding_record = 1 \nFCW_ENABLE=\n");
    f.close();
    SettingsValues v;
    readSettingsFile(path, v);
    EXPECT_EQ(v.value("SPEEDING_LIMIT"), QStringLiteral("120"));
    EXPECT_EQ(v.value("FCW_ENABLE"), QString());
    EXPECT_EQ(v.value("SPEEDING_RECORD"), QStringLiteral("1")) << "case-insensitive, trimmed";
}

TEST(BindingCodecs, TimeZoneBothWays)
{
    EXPECT_EQ(timeZoneText(-570), QStringLiteral("UTC-09:30"));
    EXPECT_EQ(timeZoneText(345), QStringLiteral("UTC+05:45"));
    EXPECT_EQ(timeZoneText(std::numeric_limits<int>::min()), QStringLiteral("UTC-35791394:8")) << "one sign, no overflow";
    EXPECT_EQ(timeZoneText(600), QStringLiteral("UTC+10:00"));
    EXPECT_EQ(timeZoneText(0), QStringLiteral("UTC"));
    EXPECT_EQ(timeZoneText(-30), QStringLiteral("UTC-00:30"));
    EXPECT_EQ(timeZoneMinutes("UTC-09:30"), QStringLiteral("-570"));
    EXPECT_EQ(timeZoneMinutes("UTC+12:45"), QStringLiteral("765"));
    EXPECT_EQ(timeZoneMinutes("UTC"), QStringLiteral("0"));
    EXPECT_THROW(timeZoneMinutes("utc"), toolkit::EConvertError);
    EXPECT_THROW(timeZoneMinutes("UTC+xx:00"), toolkit::EConvertError);
}

TEST(BindingCodecs, DstCodeByPosition)
{
    const DstFields f = parseDstCode("03.02.06.02");
    EXPECT_EQ(f.month, "03");
    EXPECT_EQ(f.order, "02");
    EXPECT_EQ(f.weekday, 6);
    EXPECT_EQ(f.hour, "02");
    EXPECT_EQ(dstCode("11", "01", 0, "02"), QStringLiteral("11.01.00.02"));
    EXPECT_THROW(parseDstCode("03.02.0x.02"), toolkit::EConvertError);
    EXPECT_THROW(parseDstCode(""), toolkit::EConvertError);
}

TEST(BindingCodecs, ImageUploadCodes)
{
    const auto four = uploadBoxesFor("4", true);
    ASSERT_TRUE(four);
    EXPECT_TRUE(four->trigger && !four->transmit && four->hz100);
    EXPECT_FALSE(uploadBoxesFor("3", false)) << "3 and 4 only exist for the G-sensor and eCall rows";
    EXPECT_FALSE(uploadBoxesFor("01", true));
    for (const char* code : {"0", "1", "2", "3", "4"})
        EXPECT_EQ(uploadCodeFor(*uploadBoxesFor(code, true), true), QLatin1String(code));
    for (const char* code : {"0", "1", "2"})
        EXPECT_EQ(uploadCodeFor(*uploadBoxesFor(code, false), false), QLatin1String(code));
}

TEST(BindingCodecs, EncryptionAndFrameRate)
{
    EXPECT_EQ(encodeEncryption("1234"), QStringLiteral("MTIzNA=="));
    EXPECT_EQ(decodeEncryption("MTIzNA=="), QStringLiteral("1234"));
    EXPECT_EQ(decodeEncryption(""), QString());
    EXPECT_EQ(frameRateText(7, "30"), QStringLiteral("15"));
    EXPECT_EQ(frameRateText(1, "030"), QStringLiteral("30"));
    EXPECT_EQ(frameRateText(6, "10"), QStringLiteral("10"));
    EXPECT_EQ(frameRateText(-1, "25"), QStringLiteral("25"));
    EXPECT_EQ(frameRateText(1, ""), QString()) << "the editor's own empty start value loads again";
    EXPECT_THROW(frameRateText(1, "fast"), toolkit::EConvertError);
}

// ---- Hostile and damaged files ----

namespace {

QString writeBytes(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return path;
}

template <class F>
QString fileError(F f)
{
    try {
        f();
    } catch (const toolkit::EFileError& e) {
        return e.message();
    }
    return {};
}

}  // namespace

TEST(SettingsFile, ByteOrderMarkedFileLoadsItsFirstSectionAndSavesWithoutASecond)
{
    QTemporaryDir dir;
    const QString path = writeBytes(dir, "bom.ini", "\xEF\xBB\xBF[DEVICE]\r\nSPEED_SOURCE=2\r\nSLEEP_VOLTAGE=12.5\r\n");
    SettingsValues v;
    readSettingsFile(path, v);
    EXPECT_EQ(v.value("SPEED_SOURCE"), QStringLiteral("2"));
    EXPECT_EQ(v.value("SLEEP_VOLTAGE"), QStringLiteral("12.5"));
    writeSettingsFile(path, v);
    const QByteArray bytes = readAll(path);
    EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF[DEVICE]\r\nSPEED_SOURCE=2\r\nSLEEP_VOLTAGE=12.5\r\n"));
    EXPECT_EQ(bytes.count("[DEVICE]"), 1);
}

TEST(SettingsFile, Latin1ValueIsWrittenBackByteForByteOnSaveAndSaveAs)
{
    QTemporaryDir dir;
    const QString path = writeBytes(dir, "old.ini", "[CONNECTIVITY]\r\nWIFI_SSID1=Caf\xE9\r\nWIFI_PASS1=secret\r\n");
    SettingsValues v;
    readSettingsFile(path, v);
    v.set("NET_URL", "ws://10.0.0.1:5000/wsapi");  // some other edit
    writeSettingsFile(path, v);
    EXPECT_TRUE(readAll(path).contains("\r\nWIFI_SSID1=Caf\xE9\r\n")) << readAll(path).left(120).toStdString();

    const QString copy = dir.filePath("copy.ini");
    writeSettingsFile(copy, v);
    EXPECT_TRUE(readAll(copy).contains("\r\nWIFI_SSID1=Caf\xE9\r\n")) << "a new file gets the bytes as read too";

    // Once the user changes the text, it is written as UTF-8.
    v.set("WIFI_SSID1", QStringLiteral("Café"));
    writeSettingsFile(copy, v);
    EXPECT_TRUE(readAll(copy).contains("\r\nWIFI_SSID1=Caf\xC3\xA9\r\n"));
}

TEST(SettingsFile, RefusesNonRegularAndOversizedFilesOnLoadAndSave)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("pipe.ini");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    SettingsValues v = defaults();
    v.set("SPEED_SOURCE", "2");
    const SettingsValues before = v;
    const QString notRegular = QStringLiteral("\"%1\" is not a regular file.").arg(fifo);
    EXPECT_EQ(fileError([&] { readSettingsFile(fifo, v); }), notRegular);
    EXPECT_EQ(v, before) << "a refused load changes nothing";
    EXPECT_EQ(fileError([&] { writeSettingsFile(fifo, v); }), notRegular);
    EXPECT_FALSE(QFileInfo(fifo).isFile()) << "the FIFO was not replaced";
    EXPECT_EQ(fileError([&] { readSettingsFile("/dev/zero", v); }), "\"/dev/zero\" is not a regular file.");
    EXPECT_EQ(fileError([&] { writeSettingsFile("/dev/zero", v); }), "\"/dev/zero\" is not a regular file.");

    const QString big = dir.filePath("big.ini");
    {
        QFile f(big);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(toolkit::IniDocument::kLargestFile + 1));
    }
    const QString tooLarge =
        QStringLiteral("\"%1\" is larger than 16 MiB, the largest settings file this tool opens.").arg(big);
    EXPECT_EQ(fileError([&] { readSettingsFile(big, v); }), tooLarge);
    EXPECT_EQ(fileError([&] { writeSettingsFile(big, v); }), tooLarge);
    EXPECT_EQ(QFileInfo(big).size(), toolkit::IniDocument::kLargestFile + 1) << "left as it was";
}
