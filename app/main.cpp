#include "drv/drv_viewer.h"
#include "form_about.h"
#include "form_settings.h"
#include "form_show_text.h"
#include "main_window.h"

#include "toolkit/exception_display.h"

#include <QApplication>
#include <QCloseEvent>
#include <QTimer>

#include <memory>

namespace {

// The other windows are top-level and may be open (the DRV viewer), so the last
// window closing is not the signal: the main window closing is.
class QuitWhenClosed : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Close && static_cast<QCloseEvent*>(event)->isAccepted())
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("BrindleConfigTool"));
    QApplication::setApplicationDisplayName(QStringLiteral("Brindle Configuration Tool"));
    QApplication::setQuitOnLastWindowClosed(false);

    // Created in this order and kept for the whole run; only the main window is shown.
    std::unique_ptr<TFormWebsocketclientf> mainWindow;
    std::unique_ptr<TformDrvViewer> drvViewer;
    std::unique_ptr<TformAbout> about;
    std::unique_ptr<TformSettings> preferences;
    std::unique_ptr<TformShowText> textView;
    bool started = false;
    toolkit::runGuarded([&] {
        mainWindow = std::make_unique<TFormWebsocketclientf>();
        drvViewer = std::make_unique<TformDrvViewer>();
        about = std::make_unique<TformAbout>();
        preferences = std::make_unique<TformSettings>(mainWindow.get());
        textView = std::make_unique<TformShowText>(mainWindow.get());
        preferences->setTextView(textView.get());
        mainWindow->setDrvViewer(drvViewer.get());
        mainWindow->setAboutBox(about.get());
        mainWindow->setPreferencesDialog(preferences.get());
        started = true;
    });
    if (!started) return 1;

    QuitWhenClosed quitWhenClosed;
    mainWindow->installEventFilter(&quitWhenClosed);
    mainWindow->show();
    return app.exec();
}
