#pragma once
// The one place that creates the program's windows and wires them together.
// main(), the screenshot tool and the tests all start the program through it.

#include <memory>

class TFormWebsocketclientf;
class TformDrvViewer;
class TformDownload;
class TformWebsocket;
class TformAbout;
class TformSettings;
class TformShowText;
class TformInitSd;

struct AppWindows {
    AppWindows();
    ~AppWindows();
    AppWindows(const AppWindows&) = delete;
    AppWindows& operator=(const AppWindows&) = delete;

    // Created in this order and kept for the whole run; only the main window is
    // shown. The download dialog and the console window come after the DRV
    // viewer, the SD card chooser after the text view.
    std::unique_ptr<TFormWebsocketclientf> mainWindow;
    std::unique_ptr<TformDrvViewer> drvViewer;
    std::unique_ptr<TformDownload> download;
    std::unique_ptr<TformWebsocket> console;
    std::unique_ptr<TformAbout> about;
    std::unique_ptr<TformSettings> preferences;
    std::unique_ptr<TformShowText> textView;
    std::unique_ptr<TformInitSd> sdCardChooser;  // never shown: the folder dialog serves instead
};
