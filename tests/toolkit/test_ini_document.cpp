#include "toolkit/exceptions.h"
#include "toolkit/ini_document.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>

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
