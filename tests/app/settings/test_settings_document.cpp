// The settings document without any window: what a load, an edit, a save and a
// unit change do to its values, its file and its modified flag.
#include "settings/settings_document.h"
#include "toolkit/exceptions.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace settings;

namespace {

void write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

}  // namespace

TEST(SettingsDocument, LoadsAreAllOrNothingAndEditsAreTracked)
{
    QTemporaryDir dir;
    const QString good = dir.filePath("good.ini");
    write(good, "[DEVICE]\nSLEEP_VOLTAGE=12.2\n[RECORD]\nVIDEO_FPS=030\n");
    SettingsDocument doc;
    EXPECT_EQ(doc.values().value("SLEEP_VOLTAGE"), "11.8") << "a new document reads as an empty file";
    EXPECT_TRUE(doc.path().isEmpty());
    QSignalSpy replaced(&doc, &SettingsDocument::replaced);
    doc.load(good);
    EXPECT_EQ(replaced.count(), 1);
    EXPECT_EQ(doc.path(), good);
    EXPECT_EQ(doc.values().value("SLEEP_VOLTAGE"), "12.2");
    EXPECT_EQ(doc.lastLoad().missingKeys.size(), qsizetype(settingsSchema().size()) - 2);

    doc.setValue("SLEEP_VOLTAGE", "12.6");
    EXPECT_TRUE(doc.isModified());
    const SettingsValues edited = doc.values();

    // Each refusal leaves values, path and the edit as they were.
    const struct {
        const char* bytes;
        const char* says;
    } refused[] = {
        {"[DEVICE]\nSLEEP_VOLTAGE=13.1\n[RECORD]\nVIDEO_FPS=abc\n", "VIDEO_FPS in [RECORD]"},
        {"[EVENT]\nFCW_ENABLE=on\n", "FCW_ENABLE in [EVENT]"},
        {"[Desktop Entry]\nName=x\n", "is not a settings file"},
    };
    for (const auto& r : refused) {
        write(dir.filePath("bad.ini"), r.bytes);
        try {
            doc.load(dir.filePath("bad.ini"));
            ADD_FAILURE() << r.bytes;
        } catch (const toolkit::Exception& e) {
            EXPECT_TRUE(e.message().contains(QLatin1String(r.says))) << e.message().toStdString();
        }
        EXPECT_TRUE(doc.values() == edited) << r.bytes;
        EXPECT_EQ(doc.path(), good);
        EXPECT_TRUE(doc.isModified());
    }
    EXPECT_EQ(replaced.count(), 1);

    // Going back to the loaded value is no edit; a save makes the file the document's.
    doc.setValue("SLEEP_VOLTAGE", "12.2");
    EXPECT_FALSE(doc.isModified());
    doc.setValue("VIDEO_FPS", "");
    EXPECT_THROW(doc.save(dir.filePath("out.ini")), toolkit::EConvertError) << "an empty frame rate is never written";
    EXPECT_FALSE(QFile::exists(dir.filePath("out.ini")));
    doc.setValue("VIDEO_FPS", "25");
    doc.save(dir.filePath("out.ini"));
    EXPECT_EQ(doc.path(), dir.filePath("out.ini"));
    EXPECT_FALSE(doc.isModified());
    EXPECT_TRUE(doc.toBytes().contains("VIDEO_FPS=25\r\n"));

    // A unit change that a value cannot follow is refused before anything changes.
    doc.setValue("ADASLOC_HEIGHT", "tall");
    EXPECT_THROW(doc.setUnit(DisplayUnit::Inch), toolkit::EConvertError);
    EXPECT_EQ(doc.units().length, DisplayUnit::Cm);
    doc.setValue("ADASLOC_HEIGHT", "150");
    doc.setUnit(DisplayUnit::Inch);
    EXPECT_EQ(doc.shown()[*schemaIndex("ADASLOC_HEIGHT")].text, "59.1");
    EXPECT_EQ(doc.values().value("ADASLOC_HEIGHT"), "150") << "values stay in the units the file carries";
}
