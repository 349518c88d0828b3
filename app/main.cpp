#include "main_window.h"

#include "toolkit/exception_display.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("BrindleConfigTool"));
    QApplication::setApplicationDisplayName(QStringLiteral("Brindle Configuration Tool"));
    TFormWebsocketclientf mainWindow;
    mainWindow.show();
    return app.exec();
}
