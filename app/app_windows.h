#pragma once
// The one place that creates the program's state and windows and wires them
// together: the settings document and the device link are owned here and
// handed to the windows that show them. main(), the screenshot tool and the
// tests all start the program through it.

#include <memory>

class DeviceLink;
class SettingsFileActions;
class TFormWebsocketclientf;
class TformDrvViewer;
class TformDownload;
class TformWebsocket;
class TformAbout;
class TformSettings;
class TformShowText;
class TformInitSd;
namespace settings {
class SettingsDocument;
}

struct AppWindows {
    // `displayScale`: the screen's display scale in percent; 0 reads it from the screen.
    explicit AppWindows(int displayScale = 0);
    ~AppWindows();
    AppWindows(const AppWindows&) = delete;
    AppWindows& operator=(const AppWindows&) = delete;

    int displayScale = 100;
    std::unique_ptr<settings::SettingsDocument> document;
    std::unique_ptr<DeviceLink> deviceLink;

    // Created in this order and kept for the whole run; only the main window is
    // shown. The download dialog and the console window come after the DRV
    // viewer, the SD card chooser after the text view.
    std::unique_ptr<TFormWebsocketclientf> mainWindow;
    std::unique_ptr<SettingsFileActions> files;
    std::unique_ptr<TformDrvViewer> drvViewer;
    std::unique_ptr<TformDownload> download;
    std::unique_ptr<TformWebsocket> console;
    std::unique_ptr<TformAbout> about;
    std::unique_ptr<TformSettings> preferences;
    std::unique_ptr<TformShowText> textView;
    std::unique_ptr<TformInitSd> sdCardChooser;  // never shown: the folder dialog serves instead
};
