#pragma once
// The main window: the tabbed editor of the recorder's settings file.

#include "editor_rules.h"
#include "settings/load_report.h"
#include "settings/settings_binding.h"
#include "settings/settings_values.h"
#include "settings/unit_conversion.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

// The screen's display scale in percent, set once when the main window is created.
extern int gDisplayScale;

class EditorDocument;
class TformAbout;
class TformSettings;
class DeviceLink;
class CameraAnglePanel;
namespace media {
class SdCardTools;
}

class TFormWebsocketclientf : public QMainWindow {
    Q_OBJECT

public:
    // Loads "./setting.ini" from the working folder when it exists.
    explicit TFormWebsocketclientf(QWidget* parent = nullptr);
    ~TFormWebsocketclientf() override;

    // The four moves between file, table and controls, and the two user-visible pairs.
    void ReadSettingsFile(const QString& path);
    void FillWindowFromValues();
    void CollectValuesFromWindow();
    void WriteSettingsFile(const QString& path);
    void LoadSettingsFile(const QString& path);
    void SaveSettingsFile(const QString& path);

    const settings::SettingsValues& SettingsValues() const { return values_; }
    // What CollectValuesFromWindow would put into the table, put into `values` instead.
    void collectInto(settings::SettingsValues& values) const;

    // A load the user asked for (Open, a dropped file): the file is refused when it
    // is no settings file, and the keys it lacked are named afterwards.
    void openSettingsFile(const QString& path);
    // What the last successful LoadSettingsFile found in its file.
    const settings::LoadReport& lastLoadReport() const { return lastLoad_; }
    // Collect, then ask before writing values the recorder does not expect (go
    // back or save anyway), then write. False when the user went back.
    bool SaveSettingsFileChecked(const QString& path);
    EditorDocument* document() const { return document_; }
    void openDrvFile(const QString& path);

    // Handlers, public so that tests and the other windows can drive them.
    void Button5Click();  // "PC Time"
    void Button6Click();  // "Open"
    void Button7Click();  // "Save"
    void Button1Click();  // "About"
    void Button2Click();  // "Settings"
    void Button4Click();         // "Initialize SD Card"
    void btnEjectSdCardClick();  // "Eject SD Card"
    media::SdCardTools& sdCard() { return *sdCard_; }

    // Takes a number typed into the visible encryption field as the new number.
    void CommitEncryptionNumber();

    template <class W>
    W* control(const char* name) const
    {
        return findChild<W*>(QLatin1String(name));
    }

    editor_rules::EditorRules& rules() { return rules_; }

    // The units the length and speed fields are shown in. Choosing one relabels
    // the fields and converts their numbers in place; files always carry cm and
    // km/h, so collecting converts back and loading converts the fresh numbers.
    void ShowFieldsIn(settings::DisplayUnit unit);
    settings::DisplayUnit lengthUnit() const { return lengthUnit_; }
    settings::DisplayUnit speedUnit() const { return speedUnit_; }

    // The windows the buttons and the menu open; the application owns them.
    void setAboutBox(TformAbout* about);
    void setPreferencesDialog(TformSettings* preferences);
    void setDrvViewer(QWidget* viewer);
    void showDrvViewer();
    void setDownloadDialog(QWidget* dialog) { formDownload = dialog; }
    void setConsoleWindow(QWidget* console) { formWebsocket = console; }

    // The device link (client, reassembly, transfers) and the camera angle panel.
    DeviceLink& deviceLink() { return *deviceLink_; }
    CameraAnglePanel& cameraAnglePanel() { return *cameraPanel_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void buildWindow();
    QWidget* buildCameraAnglePanel();
    void buildMenu();
    settings::EditorContext editor() const { return {const_cast<TFormWebsocketclientf*>(this), gDisplayScale}; }
    settings::DisplayUnit shownUnitOf(settings::Quantity quantity) const;
    QString keyOfField(const char* field) const;
    void convertFreshFieldsToShownUnits(bool fillCompleted);

    settings::SettingsValues values_;
    editor_rules::EditorRules rules_{this, values_};
    settings::DisplayUnit lengthUnit_ = settings::DisplayUnit::Cm;
    settings::DisplayUnit speedUnit_ = settings::DisplayUnit::KmH;
    // The unit each unit field's number is in, in unitFields() order. Normally the
    // chosen unit; a conversion stopped by a field that holds no number leaves the
    // fields after it in the old one.
    std::vector<settings::DisplayUnit> fieldUnits_ = [] {
        std::vector<settings::DisplayUnit> units;
        for (const settings::UnitField& f : settings::unitFields()) units.push_back(settings::storedUnit(f.quantity));
        return units;
    }();
    std::size_t rowsFilled_ = 0;  // binding rows the last fill completed
    settings::LoadReport lastLoad_;
    EditorDocument* document_ = nullptr;
    QPointer<TformAbout> formAbout;
    QPointer<TformSettings> formSettings;
    QPointer<QWidget> formDrvViewer;
    QPointer<QWidget> formDownload;
    QPointer<QWidget> formWebsocket;
    CameraAnglePanel* cameraPanel_ = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    media::SdCardTools* sdCard_ = nullptr;
    // Last, so it goes first: closing the window closes the connection.
    std::unique_ptr<DeviceLink> deviceLink_;
};
