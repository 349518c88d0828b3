#pragma once
// The main window: shows the settings document in the tabbed editor and sends
// the user's edits to it. The document, the device link and the other windows
// belong to the application (AppWindows), which hands them in and wires them.

#include "editor_binding.h"
#include "editor_rules.h"
#include "editor_view.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

class QPlainTextEdit;
class QTabWidget;
class QTimer;

class CameraAnglePanel;
class BoundedLog;
class DeviceLink;
class SettingsFileActions;
namespace media {
class SdCardTools;
}
namespace settings {
class SettingsDocument;
}

class TFormWebsocketclientf : public QMainWindow, public EditorView {
    Q_OBJECT

public:
    // Shows `document` as it stands; `displayScale` is the screen's scale in percent.
    TFormWebsocketclientf(settings::SettingsDocument& document, DeviceLink& link, int displayScale,
                          QWidget* parent = nullptr);
    ~TFormWebsocketclientf() override;

    // Open, Save, the close question and dropped files go through these actions.
    void setFileActions(SettingsFileActions* actions) { actions_ = actions; }

    // EditorView
    void commitEdits() override;
    void commitEncryptionNumber() override;
    void resetEncryptionDisplay() override;
    QWidget* dialogParent() override { return this; }

    // Handlers, public so that tests and the other windows can drive them.
    void Button5Click();  // "PC Time"
    void Button6Click();  // "Open"
    void Button7Click();  // "Save"
    void Button1Click();  // "About"
    void Button2Click();  // "Settings"
    void Button4Click();         // "Initialize SD Card"
    void btnEjectSdCardClick();  // "Eject SD Card"
    media::SdCardTools& sdCard() { return *sdCard_; }

    template <class W>
    W* control(const char* name) const
    {
        return findChild<W*>(QLatin1String(name));
    }

    editor_rules::EditorRules& rules() { return *rules_; }
    CameraAnglePanel& cameraAnglePanel() { return *cameraPanel_; }

    // A line for the hidden device-link log.
    void appendLog(const QString& line);

    // A file dropped on the window or named otherwise: .ini into the editor, .drv into the viewer.
    static bool isOpenable(const QString& path);
    void openDropped(const QString& path);

signals:
    // The windows the buttons and the menu open; the application shows them.
    void aboutRequested();
    void preferencesRequested();
    void drvViewerRequested();
    void drvFileOpenRequested(const QString& path);
    void consoleRequested();
    void downloadRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWindow();
    void buildMenu();
    void buildFileShortcuts();
    void watchEdits();
    void showDocument();
    void showUnits();
    void pushEdits();
    void updateTitle();

    settings::SettingsDocument& document_;
    DeviceLink& link_;
    int displayScale_;
    SettingsFileActions* actions_ = nullptr;
    std::unique_ptr<EditorBinding> binding_;
    std::unique_ptr<editor_rules::EditorRules> rules_;
    QTimer* pushTimer_ = nullptr;
    bool showing_ = false;  // a fill is under way: its changes are not edits
    settings::Units shownUnits_;  // what the unit fields show now
    CameraAnglePanel* cameraPanel_ = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    BoundedLog* memo1Log_ = nullptr;  // feeds Memo1, bounded and a few times a second
    media::SdCardTools* sdCard_ = nullptr;
};
