#include "app_windows.h"

#include "app_icon.h"
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
    about = std::make_unique<TformAbout>();
    preferences = std::make_unique<TformSettings>(mainWindow.get());
    textView = std::make_unique<TformShowText>(mainWindow.get());
    sdCardChooser = std::make_unique<TformInitSd>();

    preferences->setTextView(textView.get());
    mainWindow->setDrvViewer(drvViewer.get());
    mainWindow->setAboutBox(about.get());
    mainWindow->setPreferencesDialog(preferences.get());
}

// The dialogs refer to the main window; they go first.
AppWindows::~AppWindows()
{
    sdCardChooser.reset();
    textView.reset();
    preferences.reset();
    about.reset();
    drvViewer.reset();
    mainWindow.reset();
}
