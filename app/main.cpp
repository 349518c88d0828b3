#include "app_windows.h"
#include "main_window.h"

#include "toolkit/exception_display.h"

#include <QApplication>
#include <QEvent>

#include <memory>

namespace {

// The other windows are top-level and may be open (the DRV viewer), so the last
// window closing is not the signal: the main window closing is. The close
// request itself is no sign either: the window may refuse it (edits not saved,
// the user cancels), and the question it asks runs a nested event loop, so
// anything queued at the request runs while the window is still up. What counts
// is the window being hidden for good, which happens only after it accepted the
// close. Being minimized hides it too, but spontaneously and it stays "visible".
class QuitWhenClosed : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Hide && !event->spontaneous() && !static_cast<QWidget*>(watched)->isVisible()) {
            // Not quit(): that asks every other window to close first and gives up
            // when one stays; the main window gone ends the program whatever they do.
            QCoreApplication::exit(0);
        }
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
    QGuiApplication::setDesktopFileName(QStringLiteral("org.brindle.ConfigTool"));

    std::unique_ptr<AppWindows> windows;
    bool started = false;
    toolkit::runGuarded([&] {
        windows = std::make_unique<AppWindows>();
        started = true;
    });
    if (!started) return 1;

    QuitWhenClosed quitWhenClosed;
    windows->mainWindow->installEventFilter(&quitWhenClosed);
    windows->mainWindow->show();
    return app.exec();
}
