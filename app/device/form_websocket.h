#pragma once
// The connection console "W-Fi Configuration": where the installer opens the
// connection to the recorder, asks for a session, fetches and sends the
// settings file, starts the G-sensor initialisation and opens the download
// dialog and the DRV viewer.

#include <QPointer>
#include <QWidget>

class BoundedLog;
class DeviceLink;
class SettingsFileActions;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
namespace device {
struct SessionRecord;
}

class TformWebsocket : public QWidget {
    Q_OBJECT

public:
    explicit TformWebsocket(QWidget* parent = nullptr);

    // The main window whose editor and link the buttons act on, and the download dialog.
    // The link it drives, where settings files go, and the windows its buttons open.
    void attach(DeviceLink* link, SettingsFileActions* files, QWidget* downloadDialog, QWidget* drvViewer);

    void bConnectClick();
    void bDisconnectClick();
    void btnSessionRequestClick();
    void btnDownRequestSettingClick();
    void Button1Click();   // "Upload Setting"
    void Button11Click();  // "G-Sensor Init Request"
    void Button16Click();  // "MMV/DVR/LOG"
    void Button14Click();  // "DRV Viewer"
    void btnIniSaveClick();
    void btnIniLoadClick();

    template <class W>
    W* control(const char* name) const
    {
        return findChild<W*>(QLatin1String(name));
    }

private:
    void showConnection(bool connected, const QString& text);
    void enableRequests(bool connected);
    void showSession(const device::SessionRecord& record);
    void message(const QString& line);

    QPointer<SettingsFileActions> files_;
    QPointer<QWidget> drvViewer_;
    QPointer<DeviceLink> link_;
    QPointer<QWidget> download_;
    QLineEdit* txtServer = nullptr;
    QLineEdit* edId = nullptr;
    QLineEdit* edPassword = nullptr;
    QLabel* lblStatus = nullptr;
    QPlainTextEdit* memoMessage = nullptr;
    BoundedLog* receivedLog_ = nullptr;
    BoundedLog* messageLog_ = nullptr;
};
