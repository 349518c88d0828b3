#include "screenshot_targets.h"

#include "main_window.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTabWidget>

namespace {

bool grabTo(QWidget* w, const QString& path)
{
    QApplication::processEvents();
    return w->grab().save(path, "PNG");
}

}  // namespace

QStringList renderScreenshots(const QString& outputDirectory)
{
    QStringList written;
    TFormWebsocketclientf window;
    window.resize(1100, 720);
    window.show();
    auto* tabs = window.control<QTabWidget>("PageControl1");
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        const QString name = tabs->widget(i)->objectName().mid(3).toLower();
        const QString path = QDir(outputDirectory).filePath(QStringLiteral("main-%1-%2.png").arg(i + 1).arg(name));
        if (grabTo(&window, path)) written << path;
    }
    return written;
}
