// The rules between dependent controls, driven as the user and as a fill drive them.
#include "editor_fixture.h"

#include "editor_rules.h"
#include "settings/settings_file.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTest>

#include <map>

namespace {

// What the user does when picking an entry from a list.
void pick(QComboBox* combo, const QString& text)
{
    const int item = combo->findText(text);
    ASSERT_GE(item, 0) << text.toStdString();
    combo->setCurrentIndex(item);
    emit combo->activated(item);
}

}  // namespace

class RulesTest : public EditorTest {
protected:
    QAbstractButton* box(const char* name) const { return ctl<QAbstractButton>(name); }
    QString text(const char* label) const { return ctl<QLabel>(label)->text(); }
    QStringList items(QComboBox* c) const
    {
        QStringList out;
        for (int i = 0; i < c->count(); ++i) out << c->itemText(i);
        return out;
    }
    void loadWith(const std::map<QString, QString>& overrides)
    {
        writeFile("load.ini", settingsFileText(overrides));
        load(path("load.ini"));
    }
};

TEST_F(RulesTest, RecordRatioReadOutsAlwaysAddUpToHundred)
{
    makeWindow();
    EXPECT_EQ(text("lbContinuousRatio"), QStringLiteral("80")) << "the file default";
    EXPECT_EQ(text("lbEventRatio"), QStringLiteral("20"));
    auto* slider = ctl<QSlider>("tbRecordRatio");
    const std::tuple<int, const char*, const char*> cases[] = {{0, "0", "100"}, {100, "100", "0"}, {35, "35", "65"}};
    for (const auto& [position, continuous, event] : cases) {
        slider->setValue(position);
        EXPECT_EQ(text("lbContinuousRatio"), QLatin1String(continuous));
        EXPECT_EQ(text("lbEventRatio"), QLatin1String(event));
    }
    loadWith({{"CONTINUOUS_RATIO", "20"}});
    EXPECT_EQ(text("lbContinuousRatio"), QStringLiteral("20")) << "a fill moves the bar and the read-outs follow";
    EXPECT_EQ(text("lbEventRatio"), QStringLiteral("80"));
}

TEST_F(RulesTest, GsensorModeKeepsExactlyOneButtonChecked)
{
    makeWindow();
    auto* preset = ctl<QRadioButton>("rbGsensorPreset");
    auto* custom = ctl<QRadioButton>("rbGsensorCustom");
    auto* sensitivity = ctl<QComboBox>("cbGsensorSensitivity");
    preset->click();
    EXPECT_TRUE(preset->isChecked());
    EXPECT_FALSE(custom->isChecked());
    custom->click();
    EXPECT_TRUE(custom->isChecked());
    EXPECT_FALSE(preset->isChecked());
    custom->click();  // clicking the checked one hands the check to the other
    EXPECT_FALSE(custom->isChecked());
    EXPECT_TRUE(preset->isChecked());
    EXPECT_TRUE(sensitivity->isEnabled()) << "the rule enables and disables nothing else";

    loadWith({{"GSENSOR_MODE", "1"}});
    EXPECT_TRUE(custom->isChecked());
    EXPECT_FALSE(preset->isChecked());
    loadWith({{"GSENSOR_MODE", "0"}});
    EXPECT_FALSE(custom->isChecked());
    EXPECT_TRUE(preset->isChecked());
}

TEST_F(RulesTest, UncheckingATriggerClearsAndDisablesOnlyItsOwnRow)
{
    makeWindow();
    const auto rows = editor_rules::serverTriggerRows();
    ASSERT_EQ(rows.size(), 15u);
    // Every row ticked to start with, as a user would tick them.
    for (const auto& row : rows)
        for (const char* b : {row.trigger, row.transmit, row.hz100})
            if (b) box(b)->setChecked(true);
    for (const auto& row : rows) {
        box(row.trigger)->click();
        for (const auto& other : rows) {
            const bool own = &other == &row;
            for (const char* companion : {other.transmit, other.hz100}) {
                if (!companion) continue;
                EXPECT_EQ(box(companion)->isChecked(), !own) << row.trigger << " -> " << companion;
                EXPECT_EQ(box(companion)->isEnabled(), !own) << row.trigger << " -> " << companion;
            }
        }
        box(row.trigger)->click();
        EXPECT_TRUE(box(row.transmit)->isEnabled()) << row.trigger;
        EXPECT_FALSE(box(row.transmit)->isChecked()) << "comes back unticked: " << row.trigger;
        if (row.hz100) {
            EXPECT_FALSE(box(row.hz100)->isChecked()) << row.trigger;
        }
        // Back to the start state for the next row.
        box(row.transmit)->setChecked(true);
        if (row.hz100) box(row.hz100)->setChecked(true);
    }
}

TEST_F(RulesTest, AFillRunsTheTriggerRuleBeforeTheCompanions)
{
    makeWindow();
    loadWith({{"NET_UPLOAD_EVENT_IMAGE_GSENSOR", "0"}, {"NET_UPLOAD_EVENT_IMAGE_PANIC", "0"}});
    EXPECT_FALSE(box("checkBoxServerTriggerGsensor100hzTransmit")->isEnabled());
    EXPECT_FALSE(box("checkBoxServerTriggerPanicTransmit")->isEnabled());
    EXPECT_TRUE(box("checkBoxServerTriggerFcwTransmit")->isEnabled());

    // Ticking the trigger on the next load re-enables the row before its boxes take their states.
    loadWith({{"NET_UPLOAD_EVENT_IMAGE_GSENSOR", "4"}, {"NET_UPLOAD_EVENT_IMAGE_PANIC", "2"}});
    EXPECT_TRUE(box("checkBoxServerTriggerGsensorTransmit")->isEnabled());
    EXPECT_FALSE(box("checkBoxServerTriggerGsensorTransmit")->isChecked());
    EXPECT_TRUE(box("checkBoxServerTriggerGsensor100hzTransmit")->isChecked());
    EXPECT_TRUE(box("checkBoxServerTriggerPanicTransmit")->isEnabled());
    EXPECT_TRUE(box("checkBoxServerTriggerPanicTransmit")->isChecked());
}

TEST_F(RulesTest, VideoQualityLimitsTheFrameRates)
{
    makeWindow();
    auto* quality = ctl<QComboBox>("cbVideoQuality");
    auto* fps = ctl<QComboBox>("cbVideoFPS");
    const QStringList all = {"1", "5", "10", "15", "20", "25", "30"};
    const QStringList hd = {"1", "5", "10", "15"};

    setComboText(fps, QStringLiteral("25"));
    pick(quality, QStringLiteral("1080P_HIGH"));
    EXPECT_EQ(items(fps), hd);
    EXPECT_EQ(fps->currentText(), QStringLiteral("15"));
    pick(quality, QStringLiteral("720P HIGH"));
    EXPECT_EQ(items(fps), all);
    EXPECT_EQ(fps->currentText(), QStringLiteral("15")) << "widening the list does not raise the rate";

    for (const char* kept : {"10", "15", "12"}) {
        setComboText(fps, QLatin1String(kept));
        pick(quality, QStringLiteral("1080P_STANDARD"));
        EXPECT_EQ(fps->currentText(), QLatin1String(kept)) << "a rate within the limit stays, in the list or not";
        pick(quality, QStringLiteral("480P SUPER"));
        EXPECT_EQ(fps->currentText(), QLatin1String(kept));
    }
    setComboText(fps, QStringLiteral("030"));
    pick(quality, QStringLiteral("720P SUPER"));
    EXPECT_EQ(fps->currentText(), QStringLiteral("30")) << "read as a number and written back";

    // A program change of the quality is no user change: the list stays as it is.
    quality->setCurrentIndex(7);
    EXPECT_EQ(items(fps), all);
}

TEST_F(RulesTest, FrameRateThatIsNoNumberLeavesListAndTextAsTheyWere)
{
    makeWindow();
    auto* fps = ctl<QComboBox>("cbVideoFPS");
    fps->setEditText(QString());
    pick(ctl<QComboBox>("cbVideoQuality"), QStringLiteral("1080P_SUPER"));
    ASSERT_EQ(dialogs.errors().size(), 1);
    EXPECT_EQ(dialogs.errors().first(), QStringLiteral("'' is not a valid integer value"));
    EXPECT_EQ(fps->count(), 7);
    EXPECT_EQ(fps->currentText(), QString());
}

TEST(VideoQualityTable, OffersAndKeepsByQualityGroup)
{
    EXPECT_EQ(editor_rules::frameRatesOffered(-1).size(), 7);
    EXPECT_EQ(editor_rules::frameRatesOffered(5).size(), 7);
    for (int hd : {6, 7, 8}) EXPECT_EQ(editor_rules::frameRatesOffered(hd).last(), QStringLiteral("15")) << hd;
    EXPECT_EQ(editor_rules::frameRatesOffered(9).size(), 7) << "beyond the list is no 1080P entry";
    EXPECT_EQ(editor_rules::frameRateKept(8, 16), QStringLiteral("15"));
    EXPECT_EQ(editor_rules::frameRateKept(5, 30), QStringLiteral("30"));
    EXPECT_EQ(editor_rules::frameRateKept(6, -3), QStringLiteral("-3"));
}

TEST_F(RulesTest, SelectingSlotTenShowsSlotTenNotSlotOne)
{
    makeWindow();
    loadWith(filledWifiSlots());
    EXPECT_EQ(ctl<QLineEdit>("maskEdWifiSsid")->text(), QStringLiteral("net-1"));
    pick(ctl<QComboBox>("cbWifiSelected"), QStringLiteral("10"));
    EXPECT_EQ(text("lbSsid"), QStringLiteral("SSID10"));
    EXPECT_EQ(text("lbPassword"), QStringLiteral("Password10"));
    EXPECT_EQ(ctl<QLineEdit>("maskEdWifiSsid")->text(), QStringLiteral("net-10"));
    EXPECT_EQ(ctl<QLineEdit>("maskEdWifiPassword")->text(), QStringLiteral("secret-10"));
}

TEST_F(RulesTest, TypedWifiTextStaysWithItsSlot)
{
    makeWindow();
    loadWith(filledWifiSlots());
    auto* selector = ctl<QComboBox>("cbWifiSelected");
    auto* ssid = ctl<QLineEdit>("maskEdWifiSsid");
    auto* password = ctl<QLineEdit>("maskEdWifiPassword");
    pick(selector, QStringLiteral("2"));
    ssid->setText(QStringLiteral("typed-ssid"));
    password->setText(QStringLiteral("typed-pass"));
    pick(selector, QStringLiteral("3"));
    EXPECT_EQ(ssid->text(), QStringLiteral("net-3"));

    save(path("out.ini"));
    settings::SettingsValues saved;
    settings::readSettingsFile(path("out.ini"), saved);
    EXPECT_EQ(saved.value("WIFI_SSID2"), QStringLiteral("typed-ssid"));
    EXPECT_EQ(saved.value("WIFI_PASS2"), QStringLiteral("typed-pass"));
    EXPECT_EQ(saved.value("WIFI_SSID3"), QStringLiteral("net-3"));
    EXPECT_EQ(saved.value("WIFI_AP_SELECTED"), QStringLiteral("3"));

    pick(selector, QStringLiteral("2"));
    EXPECT_EQ(ssid->text(), QStringLiteral("typed-ssid"));
    EXPECT_EQ(password->text(), QStringLiteral("typed-pass"));
}

TEST_F(RulesTest, TypingASlotNumberKeyByKeyLosesNothing)
{
    makeWindow();
    loadWith(filledWifiSlots());
    auto* selector = ctl<QComboBox>("cbWifiSelected");
    auto* ssid = ctl<QLineEdit>("maskEdWifiSsid");
    pick(selector, QStringLiteral("3"));
    ssid->setText(QStringLiteral("typed-3"));

    selector->lineEdit()->selectAll();
    QTest::keyClick(selector->lineEdit(), Qt::Key_Backspace);
    EXPECT_EQ(text("lbSsid"), QStringLiteral("SSID")) << "captions follow any text";
    EXPECT_EQ(ssid->text(), QStringLiteral("typed-3")) << "no slot named: fields untouched";
    QTest::keyClicks(selector->lineEdit(), QStringLiteral("10"));
    EXPECT_EQ(text("lbSsid"), QStringLiteral("SSID10"));
    EXPECT_EQ(ssid->text(), QStringLiteral("net-10"));
    EXPECT_EQ(window->rules().shownWifiSlot(), 10);
    EXPECT_EQ(values().value("WIFI_SSID3"), QStringLiteral("typed-3"));
    EXPECT_EQ(values().value("WIFI_SSID1"), QStringLiteral("net-1")) << "passing through \"1\"";

    QTest::keyClick(selector->lineEdit(), Qt::Key_1);  // "101": no slot
    EXPECT_EQ(text("lbPassword"), QStringLiteral("Password101"));
    EXPECT_EQ(ssid->text(), QStringLiteral("net-10"));
}

TEST_F(RulesTest, TheSlotAFillShowedReceivesWhatIsTypedNext)
{
    makeWindow();
    auto wifi = filledWifiSlots();
    wifi["WIFI_AP_SELECTED"] = "4";
    loadWith(wifi);
    EXPECT_EQ(ctl<QLineEdit>("maskEdWifiSsid")->text(), QStringLiteral("net-4"));
    ctl<QLineEdit>("maskEdWifiSsid")->setText(QStringLiteral("typed-4"));
    pick(ctl<QComboBox>("cbWifiSelected"), QStringLiteral("5"));
    EXPECT_EQ(values().value("WIFI_SSID4"), QStringLiteral("typed-4"));
    EXPECT_EQ(values().value("WIFI_SSID1"), QStringLiteral("net-1")) << "not the slot shown at start";
}
