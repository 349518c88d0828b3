#include "toolkit/exceptions.h"
#include "toolkit/ini_document.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

using toolkit::IniDocument;

TEST(IniDocument, LooksUpCaseInsensitivelyAndTrimsValues)
{
    const auto doc = IniDocument::fromBytes("; comment\n[Device]\n speed_source =  2 \nEMPTY=\n[OTHER]\nX=1\n");
    EXPECT_EQ(doc.value("DEVICE", "SPEED_SOURCE"), QStringLiteral("2"));
    EXPECT_EQ(doc.value("device", "empty"), QString());
    EXPECT_TRUE(doc.value("DEVICE", "EMPTY").has_value());
    EXPECT_FALSE(doc.value("DEVICE", "X").has_value()) << "keys belong to their own section";
    EXPECT_FALSE(doc.value("MISSING", "X").has_value());
}

TEST(IniDocument, UpdatesInPlaceAndKeepsEveryOtherLineByteForByte)
{
    const QByteArray original = "; top comment\r\n[SERVER]\r\nNET_URL = old\r\nMY_KEY=kept\r\n\r\n[MINE]\r\n# note\r\nA=b\r\n";
    auto doc = IniDocument::fromBytes(original);
    doc.setValue("SERVER", "NET_URL", "ws://x");
    doc.setValue("SERVER", "NET_DASKEY", "k");  // missing key: end of its section, before the blank line
    doc.setValue("ADASCAMERA", "CAR_MODEL", "");  // missing section: end of file
    EXPECT_EQ(doc.toBytes().toStdString(), std::string("; top comment\r\n[SERVER]\r\nNET_URL=ws://x\r\nMY_KEY=kept\r\n"
                                        "NET_DASKEY=k\r\n\r\n[MINE]\r\n# note\r\nA=b\r\n\r\n[ADASCAMERA]\r\n"
                                        "CAR_MODEL=\r\n"));
}

TEST(IniDocument, KeepsLfFilesLfAndWritesNewDocumentsWithCrlf)
{
    auto lf = IniDocument::fromBytes("[A]\nK=1");  // last line without a line end
    lf.setValue("A", "L", "2");
    EXPECT_EQ(lf.toBytes(), QByteArray("[A]\nK=1\nL=2\n"));

    IniDocument fresh;
    fresh.setValue("A", "K", "1");
    fresh.setValue("B", "K", "2");
    EXPECT_EQ(fresh.toBytes(), QByteArray("[A]\r\nK=1\r\n\r\n[B]\r\nK=2\r\n"));
}

TEST(IniDocument, CarriesUtf8TextAndIgnoresCommentedKeys)
{
    auto doc = IniDocument::fromBytes("[A]\n;K=commented\nK=Grüße\n");
    EXPECT_EQ(doc.value("A", "K"), QStringLiteral("Grüße"));
    doc.setValue("A", "K", QStringLiteral("日本"));
    EXPECT_EQ(doc.toBytes(), QByteArray(";K=commented\n").prepend("[A]\n") + QString("K=日本\n").toUtf8());
}

TEST(IniDocument, SaveIsAtomicAndReportsTheSystemError)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("setting.ini");
    IniDocument doc;
    doc.setValue("A", "K", "1");
    doc.save(path);
    EXPECT_EQ(IniDocument::load(path).value("A", "K"), QStringLiteral("1"));

    // A write that fails midway (the file size limit stands in for a full card): the old
    // file stays whole, and the error carries the system's own text.
    doc.setValue("A", "K", QString(64 * 1024, u'x'));
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    QString error;
    try {
        doc.save(path);
    } catch (const toolkit::EFileError& e) {
        error = e.message();
    }
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_TRUE(error.contains(path)) << error.toStdString();
    EXPECT_TRUE(error.contains("too large", Qt::CaseInsensitive)) << error.toStdString();
    EXPECT_EQ(IniDocument::load(path).value("A", "K"), QStringLiteral("1"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"setting.ini"}) << "no temporary left behind";

    try {
        doc.save(dir.filePath("no/such/folder/setting.ini"));
        ADD_FAILURE() << "saving into a missing folder succeeded";
    } catch (const toolkit::EFileError& e) {
        EXPECT_TRUE(e.message().contains("No such file or directory")) << e.message().toStdString();
    }
}

TEST(IniDocument, MissingFileLoadsEmpty)
{
    const auto doc = IniDocument::load(QDir::temp().filePath("does-not-exist-4711.ini"));
    EXPECT_TRUE(doc.toBytes().isEmpty());
}

// ---- Hostile and damaged files ----

namespace {

QString writeBytes(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) ADD_FAILURE() << "cannot write " << name.toStdString();
    return path;
}

// The message of the EFileError that f raises, or "" when it raises none.
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

TEST(IniDocument, ByteOrderMarkIsSkippedOnReadAndKeptOnWrite)
{
    auto doc = IniDocument::fromBytes("\xEF\xBB\xBF[DEVICE]\r\nSPEED_SOURCE=2\r\n");
    EXPECT_EQ(doc.value("DEVICE", "SPEED_SOURCE"), QStringLiteral("2")) << "the mark hid the first section";
    doc.setValue("DEVICE", "SPEED_SOURCE", "1");
    doc.setValue("DEVICE", "SLEEP_VOLTAGE", "12");
    EXPECT_EQ(doc.toBytes(), QByteArray("\xEF\xBB\xBF[DEVICE]\r\nSPEED_SOURCE=1\r\nSLEEP_VOLTAGE=12\r\n"))
        << "one [DEVICE] section, mark kept";

    auto onlyMark = IniDocument::fromBytes("\xEF\xBB\xBF");
    onlyMark.setValue("A", "K", "1");
    EXPECT_EQ(onlyMark.toBytes(), QByteArray("\xEF\xBB\xBF[A]\r\nK=1\r\n")) << "no blank line before the first section";
}

TEST(IniDocument, RefusesWhatIsNotARegularFileOnLoadAndSave)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("pipe.ini");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // A FIFO without a writer: opening it for reading would wait forever.
    EXPECT_EQ(fileError([&] { IniDocument::load(fifo); }), QStringLiteral("\"%1\" is not a regular file.").arg(fifo));
    EXPECT_EQ(fileError([] { IniDocument::load("/dev/zero"); }), "\"/dev/zero\" is not a regular file.");
    EXPECT_EQ(fileError([&] { IniDocument::load(dir.path()); }), QStringLiteral("\"%1\" is not a regular file.").arg(dir.path()));

    // The atomic save would put a regular file where the FIFO (or a device node) is.
    IniDocument doc;
    doc.setValue("A", "K", "1");
    EXPECT_EQ(fileError([&] { doc.save(fifo); }), QStringLiteral("\"%1\" is not a regular file.").arg(fifo));
    EXPECT_TRUE(QFileInfo(fifo).isFile() == false && QFileInfo(fifo).exists()) << "the FIFO is still there";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::System), QStringList{"pipe.ini"}) << "no temporary left";

    // A link to a regular file is read and written through.
    const QString target = writeBytes(dir, "real.ini", "[A]\nK=0\n");
    const QString link = dir.filePath("link.ini");
    ASSERT_TRUE(QFile::link(target, link));
    auto linked = IniDocument::load(link);
    EXPECT_EQ(linked.value("A", "K"), QStringLiteral("0"));
}

TEST(IniDocument, RefusesFilesAboveTheLimitOnLoadAndSave)
{
    QTemporaryDir dir;
    const QString big = dir.filePath("big.ini");
    {
        QFile f(big);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(IniDocument::kLargestFile + 1));  // sparse: costs no disk
    }
    const QString expected =
        QStringLiteral("\"%1\" is larger than 16 MiB, the largest settings file this tool opens.").arg(big);
    EXPECT_EQ(fileError([&] { IniDocument::load(big); }), expected);

    // Exactly at the limit still opens.
    ASSERT_TRUE(QFile::resize(big, IniDocument::kLargestFile));
    EXPECT_EQ(IniDocument::load(big).toBytes().size(), IniDocument::kLargestFile);

    // A document that would outgrow the limit is not written: it could not be opened again.
    IniDocument doc;
    doc.setValue("A", "K", QString(IniDocument::kLargestFile, u'x'));
    const QString out = dir.filePath("out.ini");
    EXPECT_TRUE(fileError([&] { doc.save(out); }).contains("would be larger than 16 MiB"));
    EXPECT_FALSE(QFile::exists(out));
}

TEST(IniDocument, AValueWrittenBackUnchangedKeepsItsBytes)
{
    // A Latin-1 SSID from an older tool, and spacing written by hand.
    const QByteArray original = "[CONNECTIVITY]\r\nWIFI_SSID1 = Caf\xE9 \r\nWIFI_PASS1=\xFF\xFE\r\n";
    auto doc = IniDocument::fromBytes(original);
    const QString ssid = *doc.value("CONNECTIVITY", "WIFI_SSID1");
    EXPECT_EQ(ssid, QStringLiteral("Caf\uFFFD"));
    doc.setValue("CONNECTIVITY", "WIFI_SSID1", ssid);
    doc.setValue("CONNECTIVITY", "WIFI_PASS1", *doc.value("CONNECTIVITY", "WIFI_PASS1"));
    EXPECT_EQ(doc.toBytes(), original);

    // Changed, then set back: the file's own bytes return.
    doc.setValue("CONNECTIVITY", "WIFI_SSID1", "Cafe");
    EXPECT_EQ(doc.toBytes(), QByteArray("[CONNECTIVITY]\r\nWIFI_SSID1=Cafe\r\nWIFI_PASS1=\xFF\xFE\r\n"));
    doc.setRawValue("CONNECTIVITY", "WIFI_SSID1", "Caf\xE9");
    EXPECT_EQ(doc.toBytes(), original);
    EXPECT_EQ(doc.rawValue("connectivity", "wifi_ssid1"), QByteArray("Caf\xE9"));

    // A carriage return inside a line is part of its value; unchanged, it stays.
    auto cr = IniDocument::fromBytes("[A]\nK=a\rb\n");
    cr.setValue("A", "K", *cr.value("A", "K"));
    EXPECT_EQ(cr.toBytes(), QByteArray("[A]\nK=a\rb\n"));
}

TEST(IniDocument, LineBreaksInAValueCannotStartNewLines)
{
    auto doc = IniDocument::fromBytes("[A]\nK=1\n");
    doc.setValue("A", "K", "x\r\n[B]\nL=1");
    doc.setValue("A", "M", "y\nZ=2");
    const auto again = IniDocument::fromBytes(doc.toBytes());
    EXPECT_EQ(again.value("A", "K"), QStringLiteral("x  [B] L=1"));
    EXPECT_FALSE(again.value("B", "L").has_value());
    EXPECT_FALSE(again.value("A", "Z").has_value());
}

// The index must give the answers a plain top-to-bottom scan gives.
TEST(IniDocument, IndexFindsTheFirstSectionAndKeyOfEachName)
{
    auto doc = IniDocument::fromBytes("K=before any section\n"
                                      "[A]\nk=1\nK=2\n; K=comment\n"
                                      "[a]\nK=3\nONLY_IN_SECOND=4\n"
                                      "[ B ]\n  Grüße  = ja \n[x=1\n"
                                      "[C]\n\n\n");
    EXPECT_EQ(doc.value("A", "K"), QStringLiteral("1"));
    EXPECT_FALSE(doc.value("A", "ONLY_IN_SECOND").has_value()) << "a repeated section is not looked in";
    EXPECT_EQ(doc.value("b", "GRÜSSE").has_value(), false) << "simple case folding only, as before";
    EXPECT_EQ(doc.value("b", "GRÜßE"), QStringLiteral("ja"));
    EXPECT_EQ(doc.value("B", "[x"), QStringLiteral("1")) << "no closing bracket: a key, not a section";

    // A missing key goes to the first section of the name, after its last entry.
    doc.setValue("a", "NEW", "5");
    doc.setValue("C", "N", "6");
    doc.setValue("C", "N2", "7");
    EXPECT_EQ(doc.toBytes(), QByteArray("K=before any section\n"
                                        "[A]\nk=1\nK=2\n; K=comment\nNEW=5\n"
                                        "[a]\nK=3\nONLY_IN_SECOND=4\n"
                                        "[ B ]\n  Grüße  = ja \n[x=1\n"
                                        "[C]\nN=6\nN2=7\n\n\n"));
    EXPECT_EQ(doc.value("A", "new"), QStringLiteral("5"));

    // Keys with equal hashes in different sections stay apart; many keys stay findable.
    QByteArray many = "[S1]\n";
    for (int i = 0; i < 2000; ++i) many += "KEY" + QByteArray::number(i) + "=" + QByteArray::number(i) + "\n";
    many += "[S2]\nKEY7=other\n";
    const auto big = IniDocument::fromBytes(many);
    for (int i = 0; i < 2000; i += 97) EXPECT_EQ(big.value("s1", QStringLiteral("key%1").arg(i)), QString::number(i));
    EXPECT_EQ(big.value("S2", "KEY7"), QStringLiteral("other"));
    EXPECT_FALSE(big.value("S2", "KEY8").has_value());
}
