// The engine's about box as a message box. It is the engine's only use of
// Qt Widgets, so it lives in this plugin, which the library loads when a host
// with a QApplication asks for the box: other hosts never map Qt Widgets.
#include <QMessageBox>
#include <QString>

extern "C" __attribute__((visibility("default"))) int corvanews20_about_box(const char* title, const char* text)
{
    QMessageBox::about(nullptr, QString::fromUtf8(title), QString::fromUtf8(text));
    return 0;
}
