// Journeys through the editor's windows, made by the app library in this test
// program and shown on the session's display. Controls are found by their
// object names and driven with the mouse and keyboard through the X server;
// the dialogs are the real ones (QFileDialog, QMessageBox).

#include "app_journey.h"
#include "app_windows.h"
#include "device/device_link.h"
#include "device/form_websocket.h"
#include "main_window.h"
#include "settings/settings_schema.h"
#include "support/in_process.h"
#include "support/journey.h"
#include "support/tool_process.h"
#include "sim_process.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>

using journeys::ModalAnswers;
using journeys::waitUntil;
using journeys::WidgetInput;

namespace {

// KEY=value of every section, read the plain way, independent of the editor's reader.
std::map<QString, QString> keysOf(const QString& path)
{
    std::map<QString, QString> out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return out;
    for (QString line : QString::fromUtf8(f.readAll()).split(u'\n')) {
        line = line.trimmed();
        const qsizetype eq = line.indexOf(u'=');
        if (line.startsWith(u'[') || eq <= 0) continue;
        out[line.left(eq)] = line.mid(eq + 1);
    }
    return out;
}

class EditorJourney : public journeys::AppJourney {
protected:
    void SetUp() override
    {
        AppJourney::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        // As the program's main sets them: the titles the dialogs carry depend on them.
        QApplication::setApplicationName(QStringLiteral("BrindleConfigTool"));
        QApplication::setApplicationDisplayName(QStringLiteral("Brindle Configuration Tool"));
        windows = std::make_unique<AppWindows>();
        main = windows->mainWindow.get();
        main->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(main, 30000));
        main->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(main, 30000));
    }

    template <class W>
    W* control(QWidget* window, const char* name)
    {
        W* w = window->findChild<W*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QWidget* topLevel(const char* name)
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String(name)) return w;
        ADD_FAILURE() << "no window " << name;
        return nullptr;
    }
    // Shows the page that holds the control, as the user clicks its tab.
    bool showPageOf(QWidget* w)
    {
        auto* pages = control<QTabWidget>(main, "PageControl1");
        for (int i = 0; i < pages->count(); ++i)
            if (pages->widget(i)->isAncestorOf(w)) return input->showPage(pages, i);
        return false;
    }
    bool retype(const char* field, const QString& text)
    {
        auto* edit = control<QLineEdit>(main, field);
        return edit && showPageOf(edit) && input->retype(edit, text);
    }
    bool choose(const char* box, const QString& item)
    {
        auto* combo = control<QComboBox>(main, box);
        return combo && showPageOf(combo) && input->choose(combo, item);
    }
    // Presses the button that opens a file dialog and answers it with `name`.
    bool throughFileDialog(const char* button, const QString& name)
    {
        answers.expect(QStringLiteral("file dialog for %1").arg(name), [this, name](QWidget* dialog) {
            EXPECT_TRUE(input->chooseFile(dialog, name)) << name.toStdString();
        });
        return input->click(control<QPushButton>(main, button)) && answers.waitAllAnswered();
    }
    bool titleShows(const QString& text)
    {
        return waitUntil([&] { return main->windowTitle().contains(text); }, 10000);
    }
    // The title's mark of edits not yet saved, as the window manager shows it.
    bool markedModified(bool modified = true)
    {
        return waitUntil([&] { return main->isWindowModified() == modified; }, 10000);
    }

    QWidget* main = nullptr;
    ModalAnswers answers;
};

// Open a file, edit on several pages, show lengths in inches and speeds in mph,
// save, open the saved file again: the file carries cm and km/h, holds the
// edits, and every other value as it was; the editor shows the same again.
TEST_F(EditorJourney, EditsSurviveAUnitChangeSaveAndReopen)
{
    const QString original = folder.filePath(QStringLiteral("car.ini"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(BRINDLE_SOURCE_DIR "/docs/samples/setting.ini"), original));
    ASSERT_TRUE(throughFileDialog("Button6", QStringLiteral("car.ini")));
    ASSERT_TRUE(titleShows(QStringLiteral("car.ini")));

    // The edits, in the units the file carries: cm and km/h.
    ASSERT_TRUE(retype("maskEdSleepVoltage", QStringLiteral("12.4")));
    ASSERT_TRUE(retype("maskEdVehicleWidth", QStringLiteral("183")));
    ASSERT_TRUE(choose("cbVideoQuality", QStringLiteral("1080P_HIGH")));
    ASSERT_TRUE(choose("cbVideoFPS", QStringLiteral("10")));
    ASSERT_TRUE(retype("maskEdEventSpeedLimit", QStringLiteral("95")));
    ASSERT_TRUE(markedModified());

    ASSERT_TRUE(input->click(control<QPushButton>(main, "Button2")));
    QWidget* preferences = topLevel("formSettings");
    ASSERT_TRUE(preferences);
    ASSERT_TRUE(waitUntil([&] { return preferences->isVisible(); }, 10000));
    for (const char* unit : {"rbSettingsInch", "rbSettingsMph"}) {
        auto* radio = control<QRadioButton>(preferences, unit);
        ASSERT_TRUE(input->click(radio));
        ASSERT_TRUE(waitUntil([&] { return radio->isChecked(); }, 10000)) << unit;
    }
    ASSERT_TRUE(input->click(control<QPushButton>(preferences, "btnOk")));
    ASSERT_TRUE(waitUntil([&] { return !preferences->isVisible(); }, 10000));

    // The fields now show inches and mph: 183 cm and 95 km/h, within the shown rounding.
    auto shown = [&](const char* field) { return control<QLineEdit>(main, field)->text(); };
    EXPECT_NEAR(shown("maskEdVehicleWidth").toDouble() * 2.54, 183, 0.2);
    EXPECT_NEAR(shown("maskEdEventSpeedLimit").toDouble() * 1.609344, 95, 0.9);
    std::map<QString, QString> before;
    for (const char* field : {"maskEdSleepVoltage", "maskEdVehicleWidth", "maskEdCameraHeight", "maskEdEventSpeedLimit",
                              "maskEdEventLdwSpeed", "maskEdEventRlcSpeed"})
        before[QLatin1String(field)] = shown(field);

    ASSERT_TRUE(throughFileDialog("Button7", QStringLiteral("saved.ini")));
    const QString saved = folder.filePath(QStringLiteral("saved.ini"));
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(saved); }, 10000));
    EXPECT_TRUE(titleShows(QStringLiteral("saved.ini")));
    EXPECT_TRUE(markedModified(false)) << main->windowTitle().toStdString();

    const auto was = keysOf(original);
    const auto now = keysOf(saved);
    const int quality = control<QComboBox>(main, "cbVideoQuality")->findText(QStringLiteral("1080P_HIGH"));
    const std::map<QString, QString> edited = {
        {QStringLiteral("SLEEP_VOLTAGE"), QStringLiteral("12.4")},
        {QStringLiteral("ADASLOC_VEHICLE_WIDTH"), QStringLiteral("183")},
        {QStringLiteral("VIDEO_QUALITY"), QString::number(quality)},
        {QStringLiteral("VIDEO_FPS"), QStringLiteral("10")},
        {QStringLiteral("SPEEDING_LIMIT"), QStringLiteral("95")},
    };
    ASSERT_FALSE(now.empty());
    for (const auto& [key, value] : was) {
        // The manual clock is never loaded: the pickers show the time the editor started.
        if (key == QLatin1String("MANUAL_TIME")) continue;
        const auto e = edited.find(key);
        const QString expected = e == edited.end() ? value : e->second;
        EXPECT_EQ((now.count(key) ? now.at(key) : QStringLiteral("<missing>")).toStdString(), expected.toStdString())
            << key.toStdString();
    }

    // Opened again, the editor shows what it showed before saving, still in inches and mph.
    ASSERT_TRUE(retype("maskEdSleepVoltage", QStringLiteral("9.9")));
    ASSERT_TRUE(markedModified());
    answers.expect(QStringLiteral("the unsaved-edits question"),
                   [this](QWidget* box) { EXPECT_TRUE(input->pressButton(box, QStringLiteral("Discard"))); });
    ASSERT_TRUE(throughFileDialog("Button6", QStringLiteral("saved.ini")));
    EXPECT_TRUE(answers.unexpected().isEmpty()) << answers.unexpected().join(u',').toStdString();
    for (const auto& [field, text] : before)
        EXPECT_EQ(shown(field.toLatin1().constData()).toStdString(), text.toStdString()) << field.toStdString();
    EXPECT_EQ(control<QComboBox>(main, "cbVideoQuality")->currentText().toStdString(), "1080P_HIGH");
    EXPECT_EQ(control<QComboBox>(main, "cbVideoFPS")->currentText().toStdString(), "10");
}

}  // namespace

// A file that cannot be loaded changes nothing: the error names the key, and the
// edit not yet saved, the title and the file the window names all stay.
TEST_F(EditorJourney, AFailedOpenChangesNothing)
{
    ASSERT_TRUE(QFile::copy(QStringLiteral(BRINDLE_SOURCE_DIR "/docs/samples/setting.ini"), folder.filePath("car.ini")));
    ASSERT_TRUE(throughFileDialog("Button6", QStringLiteral("car.ini")));
    ASSERT_TRUE(titleShows(QStringLiteral("car.ini")));
    ASSERT_TRUE(retype("maskEdSleepVoltage", QStringLiteral("12.6")));
    ASSERT_TRUE(markedModified());
    const QString title = main->windowTitle();
    QFile bad(folder.filePath("bad.ini"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("[DEVICE]\nSLEEP_VOLTAGE=13.1\n[RECORD]\nVIDEO_FPS=abc\n");
    bad.close();

    QString error;
    answers.expect(QStringLiteral("the unsaved-edits question"),
                   [this](QWidget* box) { EXPECT_TRUE(input->pressButton(box, QStringLiteral("Discard"))); });
    answers.expect(QStringLiteral("the open dialog"),
                   [this](QWidget* dialog) { EXPECT_TRUE(input->chooseFile(dialog, QStringLiteral("bad.ini"))); });
    answers.expect(QStringLiteral("the error"), [&](QWidget* box) {
        if (auto* m = qobject_cast<QMessageBox*>(box)) error = m->text();
        EXPECT_TRUE(input->pressButton(box, QStringLiteral("OK")));
    });
    ASSERT_TRUE(input->click(control<QPushButton>(main, "Button6")));
    ASSERT_TRUE(answers.waitAllAnswered());
    EXPECT_TRUE(error.contains(QStringLiteral("VIDEO_FPS in [RECORD]"))) << error.toStdString();
    EXPECT_EQ(control<QLineEdit>(main, "maskEdSleepVoltage")->text().toStdString(), "12.6");
    EXPECT_EQ(main->windowTitle(), title);
    EXPECT_TRUE(main->isWindowModified());
    EXPECT_TRUE(answers.unexpected().isEmpty()) << answers.unexpected().join(u',').toStdString();
}

// A fresh start saved at once writes the recorder's defaults, never an empty
// value where the recorder needs one.
TEST_F(EditorJourney, AFreshStartSavedAtOnceWritesNoEmptyValues)
{
    ASSERT_TRUE(throughFileDialog("Button7", QStringLiteral("fresh.ini")));
    const QString saved = folder.filePath(QStringLiteral("fresh.ini"));
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(saved); }, 10000));
    EXPECT_TRUE(answers.unexpected().isEmpty()) << answers.unexpected().join(u',').toStdString();
    const auto keys = keysOf(saved);
    for (const settings::SettingKey& k : settings::settingsSchema()) {
        const auto it = keys.find(QLatin1String(k.key));
        ASSERT_NE(it, keys.end()) << k.key;
        if (*k.defaultValue && k.form != settings::ValueForm::TimeCode) {
            EXPECT_EQ(it->second.toStdString(), k.defaultValue) << k.key;
        }
    }
}

// Settings the recorder (here its simulator) sends while the window holds edits
// not yet saved: kept when the user keeps them, taken when the user takes them.
TEST_F(EditorJourney, SettingsFromTheRecorderWhileEditsAreUnsaved)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start(QStringLiteral(RECORDER_SIM_PATH), {QStringLiteral("--port"), QStringLiteral("0")}));
    windows->deviceLink->connectTo(sim.url());
    ASSERT_TRUE(waitUntil([&] { return windows->deviceLink->isConnected(); }, 10000));
    QWidget* console = windows->console.get();
    console->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(console, 30000));
    const QString defaults = folder.filePath(QStringLiteral("setting.ini"));

    for (const QString& answer : {QStringLiteral("Keep My Changes"), QStringLiteral("Take the Recorder's Settings")}) {
        main->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(main, 30000));
        ASSERT_TRUE(retype("maskEdTimeVehicleNumber", QStringLiteral("EDIT-7")));
        ASSERT_TRUE(markedModified());
        console->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(console, 30000));
        answers.expect(QStringLiteral("the recorder's settings question"),
                       [&](QWidget* box) { EXPECT_TRUE(input->pressButton(box, answer)); });
        ASSERT_TRUE(input->click(control<QPushButton>(console, "btnDownRequestSetting")));
        ASSERT_TRUE(answers.waitAllAnswered()) << answer.toStdString();
        const bool taken = answer.startsWith(QStringLiteral("Take"));
        if (taken) ASSERT_TRUE(waitUntil([&] { return QFile::exists(defaults); }, 10000));
        else QTest::qWait(200);  // nothing more arrives: the question was the last step
        EXPECT_EQ(QFile::exists(defaults), taken) << answer.toStdString();
        EXPECT_EQ(control<QLineEdit>(main, "maskEdTimeVehicleNumber")->text() == QStringLiteral("EDIT-7"), !taken);
        EXPECT_EQ(main->isWindowModified(), !taken);
    }
    EXPECT_TRUE(answers.unexpected().isEmpty()) << answers.unexpected().join(u',').toStdString();
    windows->deviceLink->disconnectFromRecorder();
}
