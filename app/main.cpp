#include "app_windows.h"
#include "main_window.h"

#include "toolkit/exception_display.h"

#include <QApplication>
#include <QTimer>

#include <memory>

namespace {

// The other windows are top-level and may be open (the DRV viewer), so the last
// window closing is not the signal: the main window closing is. The filter sees
// the close before the window does, and the window may refuse it (edits not
// saved, the user cancels), so whether it closed is looked at afterwards.
class QuitWhenClosed : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Close) {
            auto* window = static_cast<QWidget*>(watched);
            QTimer::singleShot(0, window, [window] {
                if (!window->isVisible()) QCoreApplication::quit();
            });
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
