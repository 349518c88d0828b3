#include "app_windows.h"
#include "main_window.h"

#include <QApplication>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    AppWindows windows;
    return windows.mainWindow->windowTitle().startsWith(QLatin1String("Brindle Configuration Tool")) ? 0 : 1;
}
