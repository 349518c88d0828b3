// The editor window between settings file and controls: start-up, every binding
// kind both ways, the file buttons and their dialogs.
#include "editor_fixture.h"
#include "settings/value_checks.h"

#include "settings/binding_codecs.h"
#include "settings/settings_file.h"
#include "toolkit/exceptions.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

using settings::SettingsValues;

namespace {

SettingsValues valuesOf(const QString& path)
{
    SettingsValues v;
    settings::readSettingsFile(path, v);
    return v;
}

// A file holding every key, each with a value the controls can show, and
// values for the Wi-Fi slots and the mobile authentication that differ from the defaults.
QByteArray fullFile(std::map<QString, QString> overrides = {})
{
    std::map<QString, QString> all = filledWifiSlots();
    all["NET_3G_AUTH"] = "2";
    for (auto& [k, v] : overrides) all[k] = v;
    return settingsFileText(all);
}

}  // namespace

// A fresh start is what opening an empty settings file shows: every key at the
// file format's default, none of them written empty.
TEST_F(EditorTest, AFreshStartIsAnEmptySettingsFile)
{
    auto& w = makeWindow();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Brindle Configuration Tool"));
    EXPECT_FALSE(w.isWindowModified());
    EXPECT_FALSE(ctl<QWidget>("panelImage")->isVisibleTo(&w));
    EXPECT_EQ(ctl<QDateEdit>("DateTimePicker1")->date(), QDate::currentDate());
    EXPECT_EQ(ctl<QComboBox>("cbVideoFPS")->currentText(), QStringLiteral("30"));
    EXPECT_EQ(ctl<QComboBox>("cbVideoFPS")->count(), 7) << "the frame rates of 720P HIGH are offered";

    save(path("fresh.ini"));
    const SettingsValues fresh = valuesOf(path("fresh.ini"));
    const SettingsValues defaults = valuesOf(path("none.ini"));  // a file that does not exist reads every default
    const auto schema = settings::settingsSchema();
    for (std::size_t i = 0; i < schema.size(); ++i) {
        const QString key = QLatin1String(schema[i].key);
        if (key == "MANUAL_TIME") continue;  // the pickers' now, never a value read
        const QString expected = key == "NET_3G_AUTH" ? QStringLiteral("0") : defaults.at(i);  // "None"
        EXPECT_EQ(fresh.at(i), expected) << key.toStdString();
    }
    EXPECT_EQ(settings::emptyRequiredValues(fresh), QStringList{});

    // Changing the quality works at once: the frame rate is a number from the start.
    dialogs.clear();
    auto* quality = ctl<QComboBox>("cbVideoQuality");
    quality->setCurrentIndex(7);
    emit quality->activated(7);
    EXPECT_TRUE(dialogs.errors().isEmpty()) << dialogs.errors().join('|').toStdString();
    EXPECT_EQ(ctl<QComboBox>("cbVideoFPS")->currentText(), QStringLiteral("15"));
}

TEST_F(EditorTest, DisplayScalePlacesTheCameraLineMarkers)
{
    toolkit::setScreenDpiOverride(std::pair{120.0, 120.0});
    makeWindow();
    EXPECT_EQ(app->displayScale, 125);
    writeFile("a.ini", "[ADASCAMERA]\nADASANGLE_VANISHING_LINE=342\n");
    load(path("a.ini"));
    EXPECT_EQ(ctl<QWidget>("shapeVerticalLine")->y(), 427);
    EXPECT_EQ(ctl<QLabel>("lbVerticalLine")->y(), 432);
    EXPECT_EQ(ctl<QLabel>("lbVerticalLine")->text(), "342");
}

TEST_F(EditorTest, LoadsTheDefaultSetAtStart)
{
    writeFile("setting.ini", "[DEVICE]\nSLEEP_VOLTAGE=12.4\n[SYSTEM]\nVIN=WDB123\n[CONNECTIVITY]\nNET_3G_AUTH=1\n");
    makeWindow();
    EXPECT_EQ(ctl<QLineEdit>("maskEdSleepVoltage")->text(), "12.4");
    EXPECT_EQ(ctl<QLineEdit>("maskEdVin")->text(), "WDB123");
    EXPECT_EQ(ctl<QComboBox>("cbMobileAuth")->currentText(), "CHAP");
    EXPECT_EQ(values().value("MODEL"), "5310");
    EXPECT_TRUE(dialogs.errors().isEmpty());
}

TEST_F(EditorTest, FillShowsEachBindingKind)
{
    makeWindow();
    writeFile("in.ini", fullFile({{"WIFI_AP_SELECTED", "3"},
                                  {"VIDEO_QUALITY", "7"},
                                  {"VIDEO_FPS", "30"},
                                  {"NET_IMAGE_QUALITY", "3"},
                                  {"TIME_OFFSET", "-570"},
                                  {"DST_START", "03.02.00.02"},
                                  {"DST_END", "11.01.06.03"},
                                  {"MANUAL_TIME", "01.01.99.01.02.03"},
                                  {"NET_UPLOAD_EVENT_IMAGE_ECALL", "0"},
                                  {"NET_UPLOAD_EVENT_IMAGE_PANIC", "2"},
                                  {"NET_UPLOAD_EVENT_IMAGE_GSENSOR", "4"},
                                  {"CONTINUOUS_RATIO", "150"},
                                  {"GSENSOR_MODE", "1"},
                                  {"CAR_YEAR", "1999"}}));
    const QDate pickerBefore = ctl<QDateEdit>("DateTimePicker1")->date();
    const QString hourBefore = ctl<QComboBox>("cbTimeManualHour")->currentText();
    load(path("in.ini"));

    EXPECT_EQ(ctl<QComboBox>("cbVideoQuality")->currentText(), "1080P_HIGH");
    EXPECT_EQ(ctl<QComboBox>("cbVideoFPS")->currentText(), "15");
    EXPECT_EQ(ctl<QComboBox>("cbSeverEventImageQuality")->currentText(), "High");
    EXPECT_EQ(ctl<QComboBox>("cbTimeZone")->currentText(), "UTC-09:30");
    EXPECT_EQ(ctl<QComboBox>("cbTimeDtsStartMonth")->currentText(), "03");
    EXPECT_EQ(ctl<QComboBox>("cbTimeDtsStartOrder")->currentText(), "02");
    EXPECT_EQ(ctl<QComboBox>("cbTimeDtsStartWeek")->currentText(), "Sunday");
    EXPECT_EQ(ctl<QComboBox>("cbTimeDtsStartHour")->currentText(), "02");
    EXPECT_EQ(ctl<QComboBox>("cbTimeDtsStopWeek")->currentText(), "Saturday");
    EXPECT_EQ(ctl<QDateEdit>("DateTimePicker1")->date(), pickerBefore) << "the stored clock is never shown";
    EXPECT_EQ(ctl<QComboBox>("cbTimeManualHour")->currentText(), hourBefore);
    EXPECT_EQ(ctl<QLineEdit>("maskEdWifiSsid")->text(), "net-3");
    EXPECT_EQ(ctl<QLabel>("lbSsid")->text(), "SSID3") << "captions follow the loaded selection";
    EXPECT_EQ(ctl<QLabel>("lbPassword")->text(), "Password3");
    EXPECT_EQ(ctl<QLineEdit>("maskEdWifiPassword")->text(), "secret-3");
    EXPECT_FALSE(ctl<QCheckBox>("checkBoxServerTriggerEcall")->isChecked());
    EXPECT_FALSE(ctl<QCheckBox>("checkBoxServerTriggerEcallTransmit")->isChecked());
    EXPECT_FALSE(ctl<QCheckBox>("checkBoxServerTriggerEcallTransmit")->isEnabled());
    EXPECT_FALSE(ctl<QCheckBox>("checkBoxServerTriggerEcall100hzTransmit")->isEnabled());
    EXPECT_TRUE(ctl<QCheckBox>("checkBoxServerTriggerPanic")->isChecked());
    EXPECT_TRUE(ctl<QCheckBox>("checkBoxServerTriggerPanicTransmit")->isChecked());
    EXPECT_FALSE(ctl<QCheckBox>("checkBoxServerTriggerGsensorTransmit")->isChecked());
    EXPECT_TRUE(ctl<QCheckBox>("checkBoxServerTriggerGsensor100hzTransmit")->isChecked());
    EXPECT_EQ(ctl<QSlider>("tbRecordRatio")->value(), 100) << "the bar holds its range";
    EXPECT_TRUE(ctl<QRadioButton>("rbGsensorCustom")->isChecked());
    EXPECT_EQ(ctl<QComboBox>("cbCarYear")->currentText(), "1999") << "lists take text outside their items";
    EXPECT_EQ(ctl<QComboBox>("cbMobileAuth")->currentText(), "PAP");

    writeFile("in2.ini", "[RECORD]\nVIDEO_QUALITY=1\nVIDEO_FPS=030\n[SERVER]\nNET_IMAGE_QUALITY=0\n"
                         "[SYSTEM]\nTIME_OFFSET=345\n[CONNECTIVITY]\nNET_3G_AUTH=0\n");
    load(path("in2.ini"));
    EXPECT_EQ(ctl<QComboBox>("cbVideoFPS")->currentText(), "30");
    EXPECT_EQ(ctl<QComboBox>("cbSeverEventImageQuality")->currentIndex(), -1) << "0 names no item";
    EXPECT_EQ(ctl<QComboBox>("cbTimeZone")->currentText(), "UTC+05:45");
}

TEST_F(EditorTest, CollectWritesEachBindingKind)
{
    makeWindow();
    ctl<QCheckBox>("checkBoxServerTriggerGsensor")->setChecked(true);
    ctl<QCheckBox>("checkBoxServerTriggerGsensorTransmit")->setChecked(false);
    ctl<QCheckBox>("checkBoxServerTriggerGsensor100hzTransmit")->setChecked(true);
    ctl<QCheckBox>("checkBoxServerTriggerFpwTransmit")->setChecked(false);
    ctl<QComboBox>("cbSeverEventImageQuality")->setCurrentIndex(0);
    ctl<QComboBox>("cbTimeZone")->setCurrentText("UTC+10:00");
    ctl<QComboBox>("cbTimeDtsStopWeek")->setCurrentIndex(6);
    ctl<QDateEdit>("DateTimePicker1")->setDate(QDate(2024, 2, 29));
    ctl<QComboBox>("cbTimeManualHour")->setCurrentText("09");
    ctl<QComboBox>("cbTimeManualMin")->setCurrentText("05");
    ctl<QComboBox>("cbTimeManualSec")->setCurrentText("07");
    ctl<QComboBox>("cbWifiSelected")->setCurrentText("10");
    ctl<QLineEdit>("maskEdWifiSsid")->setText("garage");
    ctl<QComboBox>("cbVideoFPS")->setEditText("12");

    save(path("out.ini"));
    const SettingsValues v = valuesOf(path("out.ini"));
    EXPECT_EQ(v.value("NET_UPLOAD_EVENT_IMAGE_GSENSOR"), "4");
    EXPECT_EQ(v.value("NET_UPLOAD_EVENT_IMAGE_FPW"), "1");
    EXPECT_EQ(v.value("NET_IMAGE_QUALITY"), "1");
    EXPECT_EQ(v.value("TIME_OFFSET"), "600");
    EXPECT_EQ(v.value("DST_END"), "01.01.06.00");
    EXPECT_EQ(v.value("MANUAL_TIME"), "29.02.24.09.05.07");
    EXPECT_EQ(v.value("WIFI_AP_SELECTED"), "10");
    EXPECT_EQ(v.value("WIFI_SSID10"), "garage");
    EXPECT_EQ(v.value("WIFI_SSID1"), "") << "only the shown slot is collected";
    EXPECT_EQ(v.value("VIDEO_FPS"), "12");
}

// A load is all or nothing: the error names the key, and the window, the edits
// not yet saved, the title and the file named stay as they were.
TEST_F(EditorTest, AFailedLoadChangesNothing)
{
    auto& w = makeWindow();
    writeFile("good.ini", fullFile({{"SLEEP_VOLTAGE", "12.2"}}));
    load(path("good.ini"));
    ctl<QLineEdit>("maskEdSleepVoltage")->setText("12.6");  // an edit not yet saved
    QCoreApplication::processEvents();
    ASSERT_TRUE(w.isWindowModified());
    const QString title = w.windowTitle();

    const struct {
        const char* file;
        const char* message;
    } bad[] = {
        {"[DEVICE]\nSLEEP_VOLTAGE=13.1\n[RECORD]\nVIDEO_FPS=abc\n", "VIDEO_FPS in [RECORD] of %1: 'abc' is not a valid integer value"},
        {"[DEVICE]\nSLEEP_VOLTAGE=13.1\n[RECORD]\nRECORD_MODE=two\n", "RECORD_MODE in [RECORD] of %1: 'two' is not a valid integer value"},
        {"[DEVICE]\nSLEEP_VOLTAGE=13.1\n[SYSTEM]\nTIME_OFFSET=x\n", "TIME_OFFSET in [SYSTEM] of %1: 'x' is not a valid integer value"},
    };
    for (const auto& b : bad) {
        writeFile("bad.ini", b.file);
        dialogs.clear();
        dialogs.answerChoice(QStringLiteral("Discard"));  // asked first about the edit
        dialogs.answerOpen(path("bad.ini"));
        ctl<QPushButton>("Button6")->click();
        EXPECT_EQ(dialogs.requestsOf(toolkit::ScriptedUserInteraction::Kind::Choice).size(), 1) << "Open asks about the edit";
        const QStringList errors = dialogs.errors();
        ASSERT_EQ(errors.size(), 1) << b.file;
        EXPECT_EQ(errors[0], QString::fromLatin1(b.message).arg(path("bad.ini")));
        EXPECT_EQ(ctl<QLineEdit>("maskEdSleepVoltage")->text(), "12.6") << "the edit is not lost";
        EXPECT_EQ(w.windowTitle(), title);
        EXPECT_EQ(doc().path(), path("good.ini"));
        EXPECT_TRUE(w.isWindowModified());
    }

    // Cancel keeps everything, and no open dialog is shown.
    dialogs.clear();
    dialogs.answerChoice(QStringLiteral("Cancel"));
    ctl<QPushButton>("Button6")->click();
    EXPECT_TRUE(dialogs.requestsOf(toolkit::ScriptedUserInteraction::Kind::OpenFiles).isEmpty());
    EXPECT_EQ(ctl<QLineEdit>("maskEdSleepVoltage")->text(), "12.6");

    // A collect that fails writes nothing.
    ctl<QComboBox>("cbTimeZone")->setEditText("UTC+ab:00");
    writeFile("keep.ini", "[DEVICE]\nSPEED_SOURCE=1\n");
    EXPECT_THROW(save(path("keep.ini")), toolkit::EConvertError);
    EXPECT_EQ(readFile("keep.ini"), QByteArray("[DEVICE]\nSPEED_SOURCE=1\n"));
}

TEST_F(EditorTest, MissingMobileAuthenticationShowsNone)
{
    makeWindow();
    ctl<QComboBox>("cbMobileAuth")->setCurrentIndex(2);
    writeFile("noauth.ini", "[CONNECTIVITY]\nNET_3G_APN=telco\n");
    load(path("noauth.ini"));
    EXPECT_EQ(ctl<QComboBox>("cbMobileAuth")->currentText(), "None");
    EXPECT_EQ(ctl<QLineEdit>("maskEdApn")->text(), "telco");
    EXPECT_EQ(ctl<QLineEdit>("maskEdVin")->text(), "") << "the load went on past NET_3G_AUTH";
    EXPECT_EQ(ctl<QComboBox>("cbCarYear")->currentText(), "");
}

TEST_F(EditorTest, LoadThenSaveWritesEveryValueBackExceptTheManualTime)
{
    makeWindow();
    const QByteArray original = fullFile({{"MANUAL_TIME", "01.01.99.01.02.03"}, {"SLEEP_VOLTAGE", "12.25"}});
    writeFile("in.ini", original);
    load(path("in.ini"));
    save(path("in.ini"));
    const SettingsValues before = valuesOf(path("in.ini"));
    writeFile("ref.ini", original);
    const SettingsValues reference = valuesOf(path("ref.ini"));
    const auto schema = settings::settingsSchema();
    for (std::size_t i = 0; i < schema.size(); ++i) {
        if (QLatin1String(schema[i].key) == QLatin1String("MANUAL_TIME")) continue;
        EXPECT_EQ(before.at(i), reference.at(i)) << schema[i].key;
    }
    EXPECT_NE(before.value("MANUAL_TIME"), "01.01.99.01.02.03");
    EXPECT_EQ(readFile("in.ini").size(), original.size()) << "updated in place, nothing added";
}

TEST_F(EditorTest, OpenAndSaveGoThroughTheirDialogs)
{
    makeWindow();
    writeFile("picked.ini", "[SYSTEM]\nVEHICLE_NO=B-XY 12\n");
    ctl<QLineEdit>("maskEdEncryptionDisplay")->setText("5555");
    dialogs.answerOpen(std::nullopt);
    ctl<QPushButton>("Button6")->click();
    EXPECT_EQ(ctl<QLineEdit>("maskEdEncryptionDisplay")->text(), "5555") << "cancel changes nothing";

    dialogs.answerOpen(path("picked.ini"));
    ctl<QPushButton>("Button6")->click();
    EXPECT_EQ(ctl<QLineEdit>("maskEdTimeVehicleNumber")->text(), "B-XY 12");
    EXPECT_EQ(ctl<QLineEdit>("maskEdEncryptionDisplay")->text(), "####") << "a typed number is discarded";
    const auto opens = dialogs.requestsOf(toolkit::ScriptedUserInteraction::Kind::OpenFiles);
    ASSERT_EQ(opens.size(), 2);
    EXPECT_EQ(opens[1].file.fileName, "*.ini");
    EXPECT_EQ(opens[1].file.filter, "ini|*.ini");
    EXPECT_FALSE(opens[1].file.mustExist);

    dialogs.answerSave(std::nullopt);
    ctl<QPushButton>("Button7")->click();
    EXPECT_FALSE(QFile::exists(path("setting.ini")));
    dialogs.answerSave(path("saved.ini"));
    ctl<QPushButton>("Button7")->click();
    EXPECT_EQ(valuesOf(path("saved.ini")).value("VEHICLE_NO"), "B-XY 12");
    const auto saves = dialogs.requestsOf(toolkit::ScriptedUserInteraction::Kind::SaveFile);
    ASSERT_EQ(saves.size(), 2);
    EXPECT_EQ(saves[0].file.fileName, "picked.ini") << "Save proposes the opened file";
    EXPECT_EQ(saves[0].file.directory, dir.path());
    EXPECT_EQ(saves[1].file.defaultSuffix, "ini");
}

TEST_F(EditorTest, EncryptionNumberRoundTrip)
{
    makeWindow();
    const QString hiddenAtStart = ctl<QLineEdit>("maskEdEncryption")->text();
    dialogs.answerSave(path("a.ini"));
    dialogs.answerSave(path("b.ini"));
    ctl<QPushButton>("Button7")->click();
    ctl<QPushButton>("Button7")->click();
    EXPECT_EQ(valuesOf(path("a.ini")).value("ENCRYPTION_NO"), valuesOf(path("b.ini")).value("ENCRYPTION_NO"));
    EXPECT_EQ(ctl<QLineEdit>("maskEdEncryption")->text(), hiddenAtStart);

    ctl<QLineEdit>("maskEdEncryptionDisplay")->setText("8642");
    dialogs.answerSave(path("c.ini"));
    ctl<QPushButton>("Button7")->click();
    EXPECT_EQ(ctl<QLineEdit>("maskEdEncryptionDisplay")->text(), "####");
    EXPECT_EQ(valuesOf(path("c.ini")).value("ENCRYPTION_NO"), "ODY0Mg==");

    ctl<QLineEdit>("maskEdEncryption")->setText("0000");
    dialogs.answerChoice(QStringLiteral("Discard"));
    dialogs.answerOpen(path("c.ini"));
    ctl<QPushButton>("Button6")->click();
    EXPECT_EQ(ctl<QLineEdit>("maskEdEncryption")->text(), "8642") << dialogs.errors().join("|").toStdString();
    EXPECT_EQ(ctl<QLineEdit>("maskEdEncryptionDisplay")->text(), "####");

    ctl<QLineEdit>("maskEdEncryptionDisplay")->setText("");
    dialogs.answerSave(path("d.ini"));
    ctl<QPushButton>("Button7")->click();
    EXPECT_EQ(valuesOf(path("d.ini")).value("ENCRYPTION_NO"), "") << "an empty display counts as a new number";
}

TEST_F(EditorTest, AFailedSaveIsShownAndLeavesTheOldFile)
{
    makeWindow();
    dialogs.answerSave(path("missing-folder/setting.ini"));
    ctl<QPushButton>("Button7")->click();
    ASSERT_EQ(dialogs.errors().size(), 1);
    EXPECT_TRUE(dialogs.errors()[0].contains("No such file or directory")) << dialogs.errors()[0].toStdString();

    dialogs.answerOpen(path("bad.ini"));
    writeFile("bad.ini", "[RECORD]\nAUDIO=yes\n");
    ctl<QPushButton>("Button6")->click();
    ASSERT_EQ(dialogs.errors().size(), 2);
    EXPECT_EQ(dialogs.errors()[1], "AUDIO in [RECORD] of " + path("bad.ini") + ": 'yes' is not a valid integer value");
}

TEST_F(EditorTest, PcTimeSetsThePickersToNow)
{
    auto& w = makeWindow();
    ctl<QComboBox>("cbTimeManualHour")->setCurrentText("23");
    ctl<QDateEdit>("DateTimePicker1")->setDate(QDate(2001, 1, 1));
    const QTime before = QTime::currentTime();
    w.Button5Click();
    const QTime after = QTime::currentTime();
    EXPECT_EQ(ctl<QDateEdit>("DateTimePicker1")->date(), QDate::currentDate());
    const int hour = ctl<QComboBox>("cbTimeManualHour")->currentText().toInt();
    EXPECT_TRUE(hour == before.hour() || hour == after.hour());
    EXPECT_EQ(ctl<QComboBox>("cbTimeManualSec")->currentText().size(), 2) << "zero-padded";
}
