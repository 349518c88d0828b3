// The editor as a user meets it: what a load tells, what a save asks, the title,
// closing with edits, keyboard and drag-and-drop, where the dialogs start.
#include "editor_fixture.h"

#include "app_windows.h"
#include "drv/drv_viewer.h"
#include "form_settings.h"
#include "settings/load_report.h"
#include "settings/value_checks.h"
#include "settings/settings_document.h"
#include "toolkit/exceptions.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QUrl>

using Kind = toolkit::ScriptedUserInteraction::Kind;

namespace {

const QString kSamples = QStringLiteral(BRINDLE_SOURCE_DIR "/docs/samples");

void settle() { QCoreApplication::processEvents(); }

settings::SettingsValues savedValues(const QString& file)
{
    settings::SettingsValues v;
    settings::readSettingsFile(file, v);
    return v;
}

}  // namespace

TEST_F(EditorTest, AfterAnOpenTheKeysTheFileLackedAreNamed)
{
    auto& w = makeWindow();
    writeFile("part.ini", "[SERVER]\nNET_URL=ws://10.0.0.9:5000/wsapi\n[CONNECTIVITY]\nNET_3G_AUTH=1\n");
    dialogs.answerOpen(path("part.ini"));
    w.Button6Click();
    const auto notices = dialogs.requestsOf(Kind::Notice);
    ASSERT_EQ(notices.size(), 1);
    const int total = int(settings::settingsSchema().size());
    EXPECT_EQ(notices[0].text, QStringLiteral("%1 lacked %2 of %3 keys; they were given their defaults.")
                                   .arg(path("part.ini"))
                                   .arg(total - 2)
                                   .arg(total));
    EXPECT_TRUE(notices[0].details.contains("NET_ENABLE in [SERVER] = 1\n")) << "the list, with each default";
    EXPECT_TRUE(notices[0].details.contains("ADAS_DISABLE in [ADASCAMERA] = 1"));
    EXPECT_FALSE(notices[0].details.contains("NET_URL in"));
    EXPECT_EQ(ctl<QLineEdit>("maskEdServerUrl")->text(), "ws://10.0.0.9:5000/wsapi");

    // Values of enumerations the recorder does not know are named too: they show as something else.
    dialogs.clear();
    writeFile("odd.ini", settingsFileText({{"AUDIO", "7"}, {"SPEED_SOURCE", "5"}, {"NET_UPLOAD_EVENT_IMAGE_PANIC", "3"}}));
    dialogs.answerOpen(path("odd.ini"));
    w.Button6Click();
    const auto odd = dialogs.requestsOf(Kind::Notice);
    ASSERT_EQ(odd.size(), 1);
    for (const char* named : {"SPEED_SOURCE in [DEVICE] = 5 (known: 0, 1, 2)", "AUDIO in [RECORD] = 7 (known: 0, 1)",
                              "NET_UPLOAD_EVENT_IMAGE_PANIC in [SERVER] = 3 (known: 0, 1, 2)"})
        EXPECT_TRUE(odd[0].text.contains(QLatin1String(named))) << named << "\n" << odd[0].text.toStdString();
    EXPECT_FALSE(odd[0].text.contains("NET_3G_AUTH"));

    // The full sample file lacks nothing: no notice, and nothing to warn about on save.
    dialogs.clear();
    dialogs.answerOpen(kSamples + "/setting.ini");
    w.Button6Click();
    EXPECT_TRUE(dialogs.requests().size() == 1) << dialogs.messages().join('|').toStdString();
    EXPECT_EQ(doc().lastLoad().missingKeys, QStringList{});
    EXPECT_EQ(settings::problemsBeforeSave(values()), QStringList{});
    EXPECT_EQ(ctl<QLineEdit>("maskEdWifiSsid")->text(), "Depot-Yard");
}

TEST_F(EditorTest, AFileWithoutSettingsIsRefusedBeforeAnythingChanges)
{
    auto& w = makeWindow();
    writeFile("good.ini", settingsFileText({{"VEHICLE_NO", "B-1"}}));
    load(path("good.ini"));
    const settings::SettingsValues before = values();

    QByteArray noise(4096, '\0');
    QRandomGenerator rng(11);
    for (char& c : noise) c = char(rng.bounded(256));
    writeFile("noise.bin", noise);
    writeFile("other.ini", "[Desktop Entry]\nName=Other\n");
    for (const char* name : {"noise.bin", "other.ini"}) {
        dialogs.clear();
        dialogs.answerOpen(path(name));
        ctl<QPushButton>("Button6")->click();
        ASSERT_EQ(dialogs.errors().size(), 1) << name;
        EXPECT_TRUE(dialogs.errors()[0].startsWith(path(name) + " is not a settings file")) << dialogs.errors()[0].toStdString();
        EXPECT_TRUE(values() == before) << name;
        EXPECT_EQ(ctl<QLineEdit>("maskEdTimeVehicleNumber")->text(), "B-1") << name;
        EXPECT_EQ(doc().path(), path("good.ini"));
    }

    // A name that does not exist still reads every default, as the Open dialog allows it.
    dialogs.clear();
    dialogs.answerOpen(path("new.ini"));
    w.Button6Click();
    EXPECT_TRUE(dialogs.errors().isEmpty());
    ASSERT_EQ(dialogs.requestsOf(Kind::Notice).size(), 1);
    EXPECT_TRUE(dialogs.requestsOf(Kind::Notice)[0].text.contains("does not exist"));
}

TEST_F(EditorTest, AConversionErrorOfACollectNamesItsKey)
{
    auto& w = makeWindow();
    ctl<QComboBox>("cbTimeZone")->setEditText("UTC+ab:00");
    dialogs.answerSave(path("x.ini"));
    ctl<QPushButton>("Button7")->click();
    ASSERT_EQ(dialogs.errors().size(), 1);
    EXPECT_TRUE(dialogs.errors()[0].startsWith("TIME_OFFSET in [SYSTEM]: ")) << dialogs.errors()[0].toStdString();
    EXPECT_FALSE(QFile::exists(path("x.ini")));
    (void)w;
}

TEST_F(EditorTest, NumberFieldsTakeOnlyWhatTheirLabelsPromise)
{
    makeWindow();
    auto type = [&](const char* name, const char* keys) {
        auto* e = ctl<QLineEdit>(name);
        e->clear();
        QTest::keyClicks(e, QString::fromLatin1(keys));
        return e->text();
    };
    EXPECT_EQ(type("maskEdCustomImpactGX", "12a-3.45"), "1234") << "mG: four digits, no sign, no point";
    EXPECT_EQ(type("maskEdCustomImpactHzX", "2x05"), "20");
    EXPECT_EQ(type("maskEdCameraCenter", "-12.5"), "-12.5") << "the off-centre may be negative";
    EXPECT_EQ(type("maskEdCameraHeight", "-150.25"), "150.25");
    EXPECT_EQ(type("maskEdSleepVoltage", "11,.8"), "11.8") << "a point, not a comma";
    EXPECT_EQ(ctl<QLineEdit>("maskEdCustomImpactGX")->toolTip(), "0 to 4000 mG");
}

TEST_F(EditorTest, ASaveWithValuesTheRecorderDoesNotExpectAsksFirst)
{
    makeWindow();
    ctl<QLineEdit>("maskEdCustomImpactGX")->setText("5000");
    ctl<QLineEdit>("maskEdCustomImpactHzY")->setText("0");
    ctl<QLineEdit>("maskEdWifiSsid")->setText("yard");
    ctl<QLineEdit>("maskEdWifiPassword")->setText("short");
    ctl<QComboBox>("cbWinterStart")->setEditText("15");
    ctl<QLineEdit>("maskEdImageHeight")->setText("480");
    ctl<QLineEdit>("maskEdHoodLine")->setText("500");

    dialogs.answerSave(path("a.ini"));
    dialogs.answerChoice("Go Back");
    ctl<QPushButton>("Button7")->click();
    const auto asked = dialogs.requestsOf(Kind::Choice);
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].buttons, QStringList({"Go Back", "Save Anyway"}));
    for (const char* expected : {"High Impact X: 5000 is outside 0 to 4000 mG.", "High Impact Y filter: 0 is outside 1 to 20 Hz.",
                                 "WINTER_PERIOD_START in [DEVICE]: 15 is not one of 1 to 12.",
                                 "Hood Line: 500 is below the image, whose height is 480.",
                                 "The Wi-Fi password of slot 1 has 5 characters; it must have at least 8."})
        EXPECT_TRUE(asked[0].text.contains(QLatin1String(expected))) << expected << "\n" << asked[0].text.toStdString();
    EXPECT_FALSE(asked[0].text.contains("Vanishing Line")) << "342 lies inside 480 rows";
    EXPECT_FALSE(QFile::exists(path("a.ini"))) << "going back writes nothing";

    dialogs.answerSave(path("b.ini"));  // closing the question is going back too
    ctl<QPushButton>("Button7")->click();
    EXPECT_FALSE(QFile::exists(path("b.ini")));

    dialogs.answerSave(path("c.ini"));
    dialogs.answerChoice("Save Anyway");
    ctl<QPushButton>("Button7")->click();
    EXPECT_EQ(savedValues(path("c.ini")).value("GSENSOR_IMPACT_THRESHOLD_X"), "5000");

    // An empty value the recorder needs is never written, not even anyway.
    ctl<QLineEdit>("maskEdEventSpeedLimit")->setText("");
    dialogs.clear();
    dialogs.answerSave(path("d.ini"));
    dialogs.answerChoice("Save Anyway");
    ctl<QPushButton>("Button7")->click();
    ASSERT_EQ(dialogs.errors().size(), 1);
    EXPECT_TRUE(dialogs.errors()[0].contains("SPEEDING_LIMIT in [EVENT]")) << dialogs.errors()[0].toStdString();
    EXPECT_FALSE(QFile::exists(path("d.ini")));

    // Save as default asks the same way.
    ctl<QLineEdit>("maskEdEventSpeedLimit")->setText("120");
    TformSettings& preferences = *app->preferences;
    dialogs.clear();
    preferences.Button1Click();
    EXPECT_EQ(dialogs.requestsOf(Kind::Choice).size(), 1);
    EXPECT_FALSE(QFile::exists(path("setting.ini")));
}

TEST_F(EditorTest, NumbersAreWrittenWithoutPaddingBlanks)
{
    makeWindow();
    ctl<QLineEdit>("maskEdEventSpeedLimit")->setText("97");
    ctl<QLineEdit>("maskEdCameraWheel")->setText("80");
    app->files->showUnit(settings::DisplayUnit::Mph);
    app->files->showUnit(settings::DisplayUnit::KmH);
    app->files->showUnit(settings::DisplayUnit::Inch);
    app->files->showUnit(settings::DisplayUnit::Cm);
    EXPECT_EQ(ctl<QLineEdit>("maskEdEventSpeedLimit")->text(), " 97") << "the shown text keeps its format";
    dialogs.answerSave(path("units.ini"));
    ctl<QPushButton>("Button7")->click();
    const QByteArray bytes = readFile("units.ini");
    EXPECT_TRUE(bytes.contains("\nSPEEDING_LIMIT=97\r\n")) << bytes.toStdString();
    EXPECT_TRUE(bytes.contains("\nADASLOC_CAM_TO_WHEEL=80\r\n"));
    EXPECT_TRUE(bytes.contains("\nRAPID_DECEL_SPEED=10\r\n"));
}

TEST_F(EditorTest, TheEncryptionFieldSelectsItsTextOnFocus)
{
    makeWindow();
    auto* display = ctl<QLineEdit>("maskEdEncryptionDisplay");
    ASSERT_EQ(display->text(), "####");
    QFocusEvent focus(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(display, &focus);
    settle();
    EXPECT_EQ(display->selectedText(), "####");
    QTest::keyClicks(display, "5");
    EXPECT_EQ(display->text(), "5") << "typing replaces the placeholder";
}

TEST_F(EditorTest, TheTitleNamesTheFileAndMarksEdits)
{
    auto& w = makeWindow();
    EXPECT_EQ(w.windowTitle(), "Brindle Configuration Tool");
    ctl<QLineEdit>("maskEdTimeVehicleNumber")->setText("B-6");
    settle();
    EXPECT_EQ(w.windowTitle(), "Unsaved settings[*] - Brindle Configuration Tool");
    EXPECT_TRUE(w.isWindowModified());
    ctl<QLineEdit>("maskEdTimeVehicleNumber")->setText("");
    settle();
    EXPECT_EQ(w.windowTitle(), "Brindle Configuration Tool") << "every title ends with the program's name";
    EXPECT_FALSE(w.isWindowModified());
    writeFile("car.ini", settingsFileText());
    dialogs.answerOpen(path("car.ini"));
    w.Button6Click();
    EXPECT_EQ(w.windowTitle(), "car.ini[*] - Brindle Configuration Tool");
    ctl<QLineEdit>("maskEdTimeVehicleNumber")->setText("B-7");
    settle();
    EXPECT_EQ(w.windowTitle(), "car.ini[*] - Brindle Configuration Tool");
    EXPECT_TRUE(w.isWindowModified());
    ctl<QLineEdit>("maskEdTimeVehicleNumber")->setText("");
    settle();
    EXPECT_EQ(w.windowTitle(), "car.ini[*] - Brindle Configuration Tool") << "undoing the edit is no edit";

    ctl<QLineEdit>("maskEdTimeVehicleNumber")->setText("B-8");
    dialogs.answerSave(path("other.ini"));
    w.Button7Click();
    EXPECT_EQ(w.windowTitle(), "other.ini[*] - Brindle Configuration Tool");
    EXPECT_FALSE(w.isWindowModified());
}

TEST_F(EditorTest, ClosingWithUnsavedEditsAsks)
{
    auto& w = makeWindow();
    w.show();
    EXPECT_TRUE(w.close()) << "nothing edited: closes without asking";
    EXPECT_TRUE(dialogs.requestsOf(Kind::Choice).isEmpty());

    w.show();
    ctl<QLineEdit>("maskEdTimeVehicleNumber")->setText("B-9");
    dialogs.answerChoice("Cancel");
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
    const auto asked = dialogs.requestsOf(Kind::Choice);
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].buttons, QStringList({"Save", "Discard", "Cancel"}));

    dialogs.answerChoice("Save");
    dialogs.answerSave(std::nullopt);
    EXPECT_FALSE(w.close()) << "a cancelled save dialog keeps the window";

    dialogs.answerChoice("Save");
    dialogs.answerSave(path("kept.ini"));
    EXPECT_TRUE(w.close());
    EXPECT_EQ(savedValues(path("kept.ini")).value("VEHICLE_NO"), "B-9");

    w.show();
    ctl<QLineEdit>("maskEdTimeVehicleNumber")->setText("B-10");
    dialogs.answerChoice("Discard");
    EXPECT_TRUE(w.close());
    EXPECT_EQ(savedValues(path("kept.ini")).value("VEHICLE_NO"), "B-9");
}

TEST_F(EditorTest, KeyboardShortcutsAndDialogFolders)
{
    auto& w = makeWindow();
    auto* open = w.findChild<QAction*>("actionOpen");
    auto* save = w.findChild<QAction*>("actionSave");
    ASSERT_TRUE(open && save);
    EXPECT_EQ(open->shortcut(), QKeySequence(QKeySequence::Open));
    EXPECT_EQ(save->shortcut(), QKeySequence(QKeySequence::Save));

    QDir(dir.path()).mkpath("cars/one");
    const QString car = dir.filePath("cars/one/truck.ini");
    writeFile("cars/one/truck.ini", settingsFileText());
    dialogs.answerOpen(car);
    open->trigger();
    dialogs.answerSave(std::nullopt);
    save->trigger();
    dialogs.answerOpen(std::nullopt);
    open->trigger();
    const auto opens = dialogs.requestsOf(Kind::OpenFiles);
    const auto saves = dialogs.requestsOf(Kind::SaveFile);
    ASSERT_EQ(opens.size(), 2);
    ASSERT_EQ(saves.size(), 1);
    EXPECT_EQ(opens[0].file.directory, QDir::currentPath()) << "first in the working folder";
    EXPECT_EQ(opens[1].file.directory, dir.filePath("cars/one")) << "then in the opened file's folder";
    EXPECT_EQ(saves[0].file.directory, dir.filePath("cars/one"));
    EXPECT_EQ(saves[0].file.fileName, "truck.ini");
}

TEST_F(EditorTest, DroppedFilesOpenAndTheProgramHasItsIcon)
{
    AppWindows windows;
    TFormWebsocketclientf& w = *windows.mainWindow;
    EXPECT_FALSE(QApplication::windowIcon().isNull()) << "the program has its icon";
    EXPECT_FALSE(w.windowIcon().isNull());
    EXPECT_TRUE(w.acceptDrops());

    auto drop = [&](const QString& file, QWidget* target = nullptr) {
        target = target ? target : &w;
        auto* mime = new QMimeData;
        mime->setUrls({QUrl::fromLocalFile(file)});
        mime->setText(QUrl::fromLocalFile(file).toString());  // as file managers offer it
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        const bool accepted = enter.isAccepted();
        if (accepted) {
            QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(target, &dropped);
            settle();
        }
        delete mime;
        return accepted;
    };
    writeFile("drop.ini", settingsFileText({{"VEHICLE_NO", "DROP-1"}}));
    EXPECT_TRUE(drop(path("drop.ini")));
    EXPECT_EQ(w.control<QLineEdit>("maskEdTimeVehicleNumber")->text(), "DROP-1");

    EXPECT_TRUE(drop(kSamples + "/short.drv"));
    EXPECT_TRUE(windows.drvViewer->isVisible());
    ASSERT_TRUE(windows.drvViewer->currentFile());
    EXPECT_EQ(windows.drvViewer->currentFile()->count(), 10);

    writeFile("notes.txt", "hello");
    EXPECT_FALSE(drop(path("notes.txt"))) << "only .ini and .drv files are taken";

    // Over a text field the file opens too, instead of its name being typed in.
    auto* model = w.control<QLineEdit>("maskEdCarModel");
    writeFile("drop2.ini", settingsFileText({{"VEHICLE_NO", "DROP-2"}}));
    EXPECT_TRUE(drop(path("drop2.ini"), model));
    EXPECT_EQ(w.control<QLineEdit>("maskEdTimeVehicleNumber")->text(), "DROP-2");
    EXPECT_FALSE(model->text().contains("drop2"));
}

TEST_F(EditorTest, ADefaultSetThatIsNoSettingsFileIsRefusedAtStart)
{
    writeFile("setting.ini", QByteArray("\x7f" "ELF\x02\x01\x01\0\0\0\0", 12) + QByteArray(500, '\x90'));
    auto& w = makeWindow();
    ASSERT_EQ(dialogs.errors().size(), 1);
    EXPECT_TRUE(dialogs.errors()[0].contains("is not a settings file")) << dialogs.errors()[0].toStdString();
    EXPECT_TRUE(doc().path().isEmpty()) << "nothing was read";
    EXPECT_EQ(ctl<QLineEdit>("maskEdVehicleWidth")->text(), "180") << "the window keeps its start state";
    EXPECT_EQ(w.windowTitle(), "Brindle Configuration Tool");
}
