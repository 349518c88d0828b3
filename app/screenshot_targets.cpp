#include "screenshot_targets.h"

#include "app_windows.h"
#include "device/camera_angle_panel.h"
#include "device/form_download.h"
#include "device/form_websocket.h"
#include "form_about.h"
#include "form_settings.h"
#include "form_show_text.h"
#include "main_window.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>

namespace {

bool grabTo(QWidget* w, const QString& path)
{
    QApplication::processEvents();
    return w->grab().save(path, "PNG");
}

// The text view writes "./temp.ini" when shown; it goes to a scratch folder, not wherever we run.
class ScratchWorkingFolder {
public:
    ScratchWorkingFolder() : previous_(QDir::currentPath())
    {
        if (dir_.isValid()) QDir::setCurrent(dir_.path());
    }
    ~ScratchWorkingFolder() { QDir::setCurrent(previous_); }
    ScratchWorkingFolder(const ScratchWorkingFolder&) = delete;
    ScratchWorkingFolder& operator=(const ScratchWorkingFolder&) = delete;

private:
    QString previous_;
    QTemporaryDir dir_;
};

}  // namespace

QStringList renderScreenshots(const QString& outputDirectory)
{
    QStringList written;
    const QDir out(QDir(outputDirectory).absolutePath());  // the text view works in a scratch folder
    auto save = [&](QWidget* w, const QString& name) {
        const QString path = out.filePath(name);
        if (grabTo(w, path)) written << path;
    };

    AppWindows windows;
    TFormWebsocketclientf& window = *windows.mainWindow;
    TformAbout& about = *windows.about;
    TformSettings& preferences = *windows.preferences;
    TformShowText& textView = *windows.textView;
    window.resize(1100, 720);
    window.show();
    auto* tabs = window.control<QTabWidget>("PageControl1");
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        const QString name = tabs->widget(i)->objectName().mid(3).toLower();
        save(&window, QStringLiteral("main-%1-%2.png").arg(i + 1).arg(name));
    }

    window.Button1Click();
    save(&about, QStringLiteral("dialog-about.png"));
    about.close();

    window.Button2Click();
    save(&preferences, QStringLiteral("dialog-settings.png"));
    {
        const ScratchWorkingFolder scratch;
        preferences.Button4Click();
        save(&textView, QStringLiteral("dialog-show-text.png"));
        textView.close();
    }
    preferences.close();

    // The device link's windows and the camera angle panel.
    windows.console->show();
    save(windows.console.get(), QStringLiteral("dialog-connection-console.png"));
    windows.console->close();
    windows.download->show();
    save(windows.download.get(), QStringLiteral("dialog-download.png"));
    windows.download->close();
    tabs->setCurrentIndex(0);
    window.cameraAnglePanel().btnCameraImageClick();
    save(&window.cameraAnglePanel(), QStringLiteral("panel-camera-angle.png"));
    return written;
}
