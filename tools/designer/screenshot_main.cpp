// brindle-designer-screenshot [OUTPUT_DIR]: the designer host with the package
// loaded, one component of each class on the form and the server selected,
// rendered into designer.png (docs/screenshots/ by default). Rendered on
// whatever platform Qt runs on (offscreen in tests and CI).
#include "designer_window.h"
#include "toolkit/scripted_user_interaction.h"

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QTreeWidget>

#include <cstdio>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots");
    if (!QDir().mkpath(outDir)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(outDir));
        return 1;
    }
    toolkit::ScriptedUserInteraction quiet;  // nothing may wait for an answer here
    designer::DesignerWindow window;
    if (!window.loadPackage(QStringLiteral(BRINDLE_DESIGNER_DEFAULT_PACKAGE))) {
        std::fprintf(stderr, "%s\n", qPrintable(quiet.errors().join(u'\n')));
        return 1;
    }
    window.resize(1100, 620);
    toolkit::TComponent* server = nullptr;
    for (const char* cls : {"TwskCertMgr", "TwskWebSocketClient", "TwskWebSocketProxy", "TwskWebSocketServer"})
        if (auto* c = window.addComponent(QString::fromLatin1(cls))) server = c;
    // A picture without every class on it is no picture of the designer.
    if (!quiet.errors().isEmpty() || server == nullptr) {
        for (const QString& e : quiet.errors()) std::fprintf(stderr, "%s\n", qPrintable(e));
        return 1;
    }
    window.selectComponent(server);
    window.show();
    QApplication::processEvents();
    const QString path = QDir(outDir).filePath(QStringLiteral("designer.png"));
    if (!window.grab().save(path, "PNG")) return 1;
    std::printf("%s\n", qPrintable(path));
    return 0;
}
