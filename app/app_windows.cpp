#include "app_windows.h"

#include "app_icon.h"
#include "device/form_download.h"
#include "device/form_websocket.h"
#include "drv/drv_viewer.h"
#include "form_about.h"
#include "form_settings.h"
#include "form_show_text.h"
#include "main_window.h"
#include "media/form_init_sd.h"

#include <QApplication>

AppWindows::AppWindows()
{
    QApplication::setWindowIcon(brindleAppIcon());
    mainWindow = std::make_unique<TFormWebsocketclientf>();
    drvViewer = std::make_unique<TformDrvViewer>();
    download = std::make_unique<TformDownload>();
    console = std::make_unique<TformWebsocket>();
    about = std::make_unique<TformAbout>();
    preferences = std::make_unique<TformSettings>(mainWindow.get());
    textView = std::make_unique<TformShowText>(mainWindow.get());
    sdCardChooser = std::make_unique<TformInitSd>();

    preferences->setTextView(textView.get());
    mainWindow->setDrvViewer(drvViewer.get());
    mainWindow->setAboutBox(about.get());
    mainWindow->setPreferencesDialog(preferences.get());
    download->attach(&mainWindow->deviceLink());
    console->attach(mainWindow.get(), &mainWindow->deviceLink(), download.get());
    mainWindow->setDownloadDialog(download.get());
    mainWindow->setConsoleWindow(console.get());
}

// The dialogs refer to the main window; they go first.
AppWindows::~AppWindows()
{
    sdCardChooser.reset();
    textView.reset();
    preferences.reset();
    about.reset();
    console.reset();
    download.reset();
    drvViewer.reset();
    mainWindow.reset();
}
