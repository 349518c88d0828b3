#include "app_windows.h"

#include "app_icon.h"
#include "device/device_link.h"
#include "device/form_download.h"
#include "device/form_websocket.h"
#include "drv/drv_viewer.h"
#include "form_about.h"
#include "form_settings.h"
#include "form_show_text.h"
#include "main_window.h"
#include "media/form_init_sd.h"
#include "settings/settings_document.h"
#include "settings_file_actions.h"
#include "show_window.h"
#include "toolkit/display_scale.h"
#include "toolkit/exception_display.h"

#include <QApplication>
#include <QFile>

AppWindows::AppWindows(int scale) : displayScale(scale > 0 ? scale : toolkit::screenDisplayScale())
{
    QApplication::setWindowIcon(brindleAppIcon());
    document = std::make_unique<settings::SettingsDocument>();
    deviceLink = std::make_unique<DeviceLink>(nullptr, device::makeWebSocketConnection());

    mainWindow = std::make_unique<TFormWebsocketclientf>(*document, *deviceLink, displayScale);
    files = std::make_unique<SettingsFileActions>(*document, *mainWindow);
    drvViewer = std::make_unique<TformDrvViewer>(displayScale);
    download = std::make_unique<TformDownload>();
    console = std::make_unique<TformWebsocket>();
    about = std::make_unique<TformAbout>();
    preferences = std::make_unique<TformSettings>(*document, *files);
    textView = std::make_unique<TformShowText>(*files);
    sdCardChooser = std::make_unique<TformInitSd>();

    TFormWebsocketclientf* main = mainWindow.get();
    deviceLink->setDialogParent(main);
    main->setFileActions(files.get());
    preferences->setTextView(textView.get());
    download->attach(deviceLink.get());
    console->attach(deviceLink.get(), files.get(), download.get(), drvViewer.get());

    QObject::connect(main, &TFormWebsocketclientf::aboutRequested, about.get(), [this] { about->showFrom(mainWindow.get()); });
    QObject::connect(main, &TFormWebsocketclientf::preferencesRequested, preferences.get(),
                     [this] { preferences->showFrom(mainWindow.get()); });
    QObject::connect(main, &TFormWebsocketclientf::drvViewerRequested, drvViewer.get(), [this] { showWindow(drvViewer.get()); });
    QObject::connect(main, &TFormWebsocketclientf::drvFileOpenRequested, drvViewer.get(), [this](const QString& path) {
        showWindow(drvViewer.get());
        drvViewer->openFile(path);
    });
    QObject::connect(main, &TFormWebsocketclientf::consoleRequested, console.get(), [this] { showWindow(console.get()); });
    QObject::connect(main, &TFormWebsocketclientf::downloadRequested, download.get(), [this] { showWindow(download.get()); });
    QObject::connect(files.get(), &SettingsFileActions::logLine, main, &TFormWebsocketclientf::appendLog);
    files->setFailureReporter([this](const std::function<void()>& work) { deviceLink->reportFailures(work); });
    deviceLink->setSettingsReceiver([this](const QByteArray& bytes) { files->receiveFromRecorder(bytes); });

    // The default set, when there is one; a fresh start shows what an empty settings file reads as.
    const QString defaults = QStringLiteral("./setting.ini");
    if (QFile::exists(defaults)) toolkit::runGuarded([&] { document->load(defaults); }, main);
}

// The windows refer to the document and the link; they go first, the main window last of them.
AppWindows::~AppWindows()
{
    sdCardChooser.reset();
    textView.reset();
    preferences.reset();
    about.reset();
    console.reset();
    download.reset();
    drvViewer.reset();
    files.reset();
    mainWindow.reset();
    deviceLink.reset();  // closes an open connection
    document.reset();
}
