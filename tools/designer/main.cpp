// brindle-designer [PACKAGE]: a small designer host for component packages.
// It loads the package (the built libcorvanews20pkg.so unless another is
// named), lists its palette, places components on a form, edits their
// published properties and saves and opens forms.
#include "designer_window.h"

#include <QApplication>
#include <QFileInfo>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    designer::DesignerWindow window;
    const QString package =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(BRINDLE_DESIGNER_DEFAULT_PACKAGE);
    if (argc > 1 || QFileInfo::exists(package)) window.loadPackage(package);
    window.resize(1100, 650);
    window.show();
    return app.exec();
}
