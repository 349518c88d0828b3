// Display units in the main window through the preferences dialog, and the
// files written while inch or mph is shown.
#include "editor_fixture.h"

#include "form_settings.h"
#include "form_show_text.h"
#include "settings/settings_file.h"
#include "toolkit/exceptions.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <map>

namespace {

const char* const kLengthFields[] = {"maskEdVehicleWidth", "maskEdCameraWheel", "maskEdCameraBumper",
                                     "maskEdCameraHeight", "maskEdCameraCenter", "maskEdEventRlcSpeed"};
const char* const kSpeedFields[] = {"maskEdEventLdwSpeed", "maskEdEventSpeedLimit", "maskEdEventDecelSpeed"};

}  // namespace

class UnitsTest : public EditorTest {
protected:
    void SetUp() override
    {
        EditorTest::SetUp();
        makeWindow();
        preferences = app->preferences.get();
        window->Button2Click();
    }
    QRadioButton* unit(const char* name) const { return preferences->control<QRadioButton>(name); }
    QString field(const char* name) const { return ctl<QLineEdit>(name)->text(); }
    QStringList texts(std::span<const char* const> names) const
    {
        QStringList out;
        for (const char* n : names) out << field(n);
        return out;
    }
    QString caption(const char* label) const { return ctl<QLabel>(label)->text(); }
    settings::SettingsValues saved(const QString& name) const
    {
        settings::SettingsValues v;
        settings::readSettingsFile(path(name), v);
        return v;
    }

    TformSettings* preferences = nullptr;
};

TEST_F(UnitsTest, LengthsRoundTripThroughInch)
{
    QTest::mouseClick(unit("rbSettingsInch"), Qt::LeftButton);
    EXPECT_EQ(texts(kLengthFields), (QStringList{"70.9", "31.5", "47.2", "59.1", "0.0", " 59"}));
    EXPECT_EQ(caption("lbVehicleWidth"), QStringLiteral("Vehicle Width (inch)"));
    EXPECT_EQ(caption("lbCameraHeight"), QStringLiteral("Camera ~ Height (inch)"));
    EXPECT_EQ(caption("lbEventRlcSpeed"), QStringLiteral("inch/sec"));
    EXPECT_EQ(texts(kSpeedFields), (QStringList{"40", "120", "10"})) << "speeds are another family";

    QTest::mouseClick(unit("rbSettingsCm"), Qt::LeftButton);
    EXPECT_EQ(texts(kLengthFields), (QStringList{"180", " 80", "120", "150", "  0", "150"}));
    EXPECT_EQ(caption("lbVehicleWidth"), QStringLiteral("Vehicle Width (cm)")) << "the numbering is gone";
    EXPECT_EQ(caption("lbCameraCenter"), QStringLiteral("Camera ~ Off-Center (cm)"));
}

TEST_F(UnitsTest, SpeedsRoundTripThroughMph)
{
    QTest::mouseClick(unit("rbSettingsMph"), Qt::LeftButton);
    EXPECT_EQ(texts(kSpeedFields), (QStringList{"24.9", "74.6", "6.2"}));
    for (const char* label : {"lbEventLdwSpeed", "lbEventSpeed", "lbEventDecelSpeed"})
        EXPECT_EQ(caption(label), QStringLiteral("mph")) << label;
    QTest::mouseClick(unit("rbSettingsKm"), Qt::LeftButton);
    EXPECT_EQ(texts(kSpeedFields), (QStringList{" 40", "120", " 10"}));
    EXPECT_EQ(caption("lbEventSpeed"), QStringLiteral("km/h"));
}

TEST_F(UnitsTest, ANegativeOffCentreKeepsItsSign)
{
    ctl<QLineEdit>("maskEdCameraCenter")->setText(QStringLiteral("-10"));
    unit("rbSettingsInch")->click();
    EXPECT_EQ(field("maskEdCameraCenter"), QStringLiteral("-3.9"));
    unit("rbSettingsCm")->click();
    EXPECT_EQ(field("maskEdCameraCenter"), QStringLiteral("-10"));
}

TEST_F(UnitsTest, ClickingTheCheckedUnitChangesNothing)
{
    const QStringList before = texts(kLengthFields);
    QTest::mouseClick(unit("rbSettingsCm"), Qt::LeftButton);
    QTest::mouseClick(unit("rbSettingsKm"), Qt::LeftButton);
    EXPECT_TRUE(unit("rbSettingsCm")->isChecked());
    EXPECT_EQ(texts(kLengthFields), before);
    EXPECT_EQ(texts(kSpeedFields), (QStringList{"40", "120", "10"}));
    EXPECT_EQ(caption("lbVehicleWidth"), QStringLiteral("1. Vehicle Width (cm)")) << "not even relabelled";
}

TEST_F(UnitsTest, CancelReturnsToTheUnitsShownAtOpening)
{
    unit("rbSettingsInch")->click();
    unit("rbSettingsMph")->click();
    preferences->control<QPushButton>("btnCancel")->click();
    EXPECT_FALSE(preferences->isVisible());
    EXPECT_TRUE(window->isEnabled());
    EXPECT_TRUE(unit("rbSettingsCm")->isChecked());
    EXPECT_EQ(doc().units().length, settings::DisplayUnit::Cm);
    EXPECT_EQ(texts(kLengthFields), (QStringList{"180", " 80", "120", "150", "  0", "150"}));
    EXPECT_EQ(texts(kSpeedFields), (QStringList{" 40", "120", " 10"}));
    EXPECT_EQ(caption("lbCameraBumper"), QStringLiteral("Camera ~ Bumper (cm)"));

    // OK keeps the choice, and the next Cancel returns to it rather than to the start.
    window->Button2Click();
    unit("rbSettingsInch")->click();
    preferences->control<QPushButton>("btnOk")->click();
    window->Button2Click();
    unit("rbSettingsCm")->click();
    preferences->control<QPushButton>("btnCancel")->click();
    EXPECT_TRUE(unit("rbSettingsInch")->isChecked());
    EXPECT_EQ(field("maskEdVehicleWidth"), QStringLiteral("70.9"));
    EXPECT_EQ(caption("lbVehicleWidth"), QStringLiteral("Vehicle Width (inch)"));
}

// A unit change converts the document's values once, so a field that holds no
// number is named before anything changes: no half-converted window, nothing
// converted twice, no wrong number in a file.
TEST_F(UnitsTest, AFieldThatIsNoNumberStopsTheUnitChangeBeforeAnythingChanges)
{
    ctl<QLineEdit>("maskEdCameraBumper")->setText(QStringLiteral("abc"));
    unit("rbSettingsInch")->click();
    QCoreApplication::processEvents();
    ASSERT_EQ(dialogs.errors().size(), 1);
    EXPECT_EQ(dialogs.errors().first(),
              QStringLiteral("ADASLOC_CAM_TO_BUMPER in [ADASCAMERA]: 'abc' is not a valid floating point value"));
    EXPECT_EQ(texts(kLengthFields), (QStringList{"180", "80", "abc", "150", "0", "150"}));
    EXPECT_EQ(caption("lbEventRlcSpeed"), QStringLiteral("cm/sec"));
    EXPECT_TRUE(unit("rbSettingsCm")->isChecked()) << "the buttons show the units the window shows";
    EXPECT_EQ(doc().units().length, settings::DisplayUnit::Cm);

    ctl<QLineEdit>("maskEdCameraBumper")->setText(QStringLiteral("121"));
    unit("rbSettingsInch")->click();
    EXPECT_EQ(texts(kLengthFields), (QStringList{"70.9", "31.5", "47.6", "59.1", "0.0", " 59"}));
    ctl<QLineEdit>("maskEdCameraWheel")->setText(QStringLiteral("40"));  // typed under its inch label
    save(path("inch.ini"));
    const settings::SettingsValues v = saved("inch.ini");
    EXPECT_EQ(v.value("ADASLOC_VEHICLE_WIDTH"), "180") << "shown in inch, never converted back";
    EXPECT_EQ(v.value("ADASLOC_CAM_TO_WHEEL"), "102");
    EXPECT_EQ(v.value("ADASLOC_CAM_TO_BUMPER"), "121");
    EXPECT_EQ(v.value("LDW_RAPID_LC_LATERAL_VELOCITY"), "150");
}

TEST_F(UnitsTest, FilesCarryCentimetresAndKilometresWhateverIsShown)
{
    unit("rbSettingsInch")->click();
    unit("rbSettingsMph")->click();
    const QStringList lengthsShown = texts(kLengthFields);
    const QStringList speedsShown = texts(kSpeedFields);

    dialogs.answerSave(path("saved.ini"));
    window->Button7Click();
    preferences->control<QPushButton>("Button1")->click();  // "./setting.ini"
    preferences->control<QPushButton>("Button4")->click();  // "./temp.ini" and the text view
    for (const char* file : {"saved.ini", "setting.ini", "temp.ini"}) {
        const auto v = saved(QLatin1String(file));
        EXPECT_EQ(v.value("ADASLOC_VEHICLE_WIDTH"), QStringLiteral("180")) << file;
        EXPECT_EQ(v.value("ADASLOC_CAM_TO_WHEEL"), QStringLiteral("80")) << file << ": no padding";
        EXPECT_EQ(v.value("ADASLOC_OFFSET_CENTER"), QStringLiteral("0")) << file;
        EXPECT_EQ(v.value("LDW_RAPID_LC_LATERAL_VELOCITY"), QStringLiteral("150")) << file;
        EXPECT_EQ(v.value("LDW_ACTIVATION_SPEED"), QStringLiteral("40")) << file;
        EXPECT_EQ(v.value("SPEEDING_LIMIT"), QStringLiteral("120")) << file;
        EXPECT_EQ(v.value("RAPID_DECEL_SPEED"), QStringLiteral("10")) << file;
    }
    EXPECT_TRUE(app->textView->memo()->toPlainText().contains(QStringLiteral("ADASLOC_VEHICLE_WIDTH=180")));
    EXPECT_EQ(texts(kLengthFields), lengthsShown) << "the fields on screen do not change";
    EXPECT_EQ(texts(kSpeedFields), speedsShown);
}

TEST_F(UnitsTest, ACollectStoppedByAnUnconvertibleFieldWritesNothing)
{
    unit("rbSettingsInch")->click();
    ctl<QLineEdit>("maskEdVehicleWidth")->setText(QStringLiteral("wide"));
    dialogs.answerSave(path("saved.ini"));
    EXPECT_THROW(window->Button7Click(), toolkit::EConvertError);
    EXPECT_FALSE(QFile::exists(path("saved.ini")));
}

TEST_F(UnitsTest, LoadingWhileInchAndMphAreShownConvertsTheFreshNumbers)
{
    unit("rbSettingsInch")->click();
    unit("rbSettingsMph")->click();
    writeFile("load.ini", settingsFileText({{"ADASLOC_VEHICLE_WIDTH", "200"}, {"SPEEDING_LIMIT", "100"}}));
    load(path("load.ini"));
    EXPECT_TRUE(dialogs.errors().isEmpty()) << dialogs.errors().join("\n").toStdString();
    EXPECT_EQ(field("maskEdVehicleWidth"), QStringLiteral("78.7"));
    EXPECT_EQ(field("maskEdEventSpeedLimit"), QStringLiteral("62.1"));
    EXPECT_EQ(field("maskEdEventRlcSpeed"), QStringLiteral(" 59"));
    EXPECT_EQ(caption("lbVehicleWidth"), QStringLiteral("Vehicle Width (inch)"));

    save(path("again.ini"));
    EXPECT_EQ(saved("again.ini").value("ADASLOC_VEHICLE_WIDTH"), QStringLiteral("200"));
    EXPECT_EQ(saved("again.ini").value("SPEEDING_LIMIT"), QStringLiteral("100"));
}

TEST_F(UnitsTest, AFailedLoadLeavesTheConvertedFieldsAsTheyWere)
{
    unit("rbSettingsInch")->click();
    unit("rbSettingsMph")->click();
    const QStringList lengths = texts(kLengthFields), speeds = texts(kSpeedFields);
    writeFile("load.ini", settingsFileText({{"SPEEDING_LIMIT", "100"}, {"NET_ENABLE", "x"}, {"ADASLOC_HEIGHT", "90"}}));
    EXPECT_THROW(load(path("load.ini")), toolkit::EConvertError);
    EXPECT_EQ(texts(kLengthFields), lengths);
    EXPECT_EQ(texts(kSpeedFields), speeds);
}

TEST_F(UnitsTest, SaveAsDefaultCommitsTheEncryptionNumberAndTellsTheUser)
{
    auto* display = ctl<QLineEdit>("maskEdEncryptionDisplay");
    auto* hidden = ctl<QLineEdit>("maskEdEncryption");
    const QString number = hidden->text();
    auto* saveDefault = preferences->control<QPushButton>("Button1");
    saveDefault->click();
    EXPECT_EQ(hidden->text(), number) << "#### commits nothing";
    ASSERT_EQ(dialogs.messages(),
              QStringList{QStringLiteral("Saved Current Settings as Default.\n") + QDir::currentPath() +
                          QStringLiteral("/setting.ini")})
        << "the message says where the file went";
    EXPECT_TRUE(QFile::exists(path("setting.ini")));

    display->setText(QString());
    saveDefault->click();
    EXPECT_EQ(hidden->text(), QString()) << "an empty text counts as a new number";
    EXPECT_EQ(display->text(), QStringLiteral("####"));
    display->setText(QStringLiteral("4321"));
    saveDefault->click();
    EXPECT_EQ(hidden->text(), QStringLiteral("4321"));
    EXPECT_EQ(saved("setting.ini").value("ENCRYPTION_NO"), QStringLiteral("NDMyMQ=="));
}
