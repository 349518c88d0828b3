// brindle-designer [PACKAGE]: a small designer host for component packages.
// It loads the package (the installed libcorvanews20pkg.so, in the build
// tree the built one, unless another is named), lists its palette, places
// components on a form, edits their published properties and saves and
// opens forms.
#include "designer_window.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

namespace {

// The installed package beside the installed designer's libraries when there
// is one, otherwise the one this designer was built with.
QString defaultPackage()
{
    const QString installed = QDir(QCoreApplication::applicationDirPath())
                                  .absoluteFilePath(QStringLiteral(BRINDLE_DESIGNER_INSTALLED_PACKAGE));
    if (QFileInfo::exists(installed)) return QDir::cleanPath(installed);
    return QStringLiteral(BRINDLE_DESIGNER_DEFAULT_PACKAGE);
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    designer::DesignerWindow window;
    const QString package = argc > 1 ? QString::fromLocal8Bit(argv[1]) : defaultPackage();
    if (argc > 1 || QFileInfo::exists(package)) window.loadPackage(package);
    window.resize(1100, 650);
    window.show();
    return app.exec();
}
