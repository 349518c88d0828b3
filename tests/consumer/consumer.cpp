#include "main_window.h"

#include <QApplication>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TFormWebsocketclientf window;
    return window.windowTitle() == QLatin1String("Brindle Configuration Tool") ? 0 : 1;
}
