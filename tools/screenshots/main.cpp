// brindle-screenshots [OUTPUT_DIR]: one PNG per editor tab and per dialog,
// rendered on whatever platform Qt runs on (offscreen in tests and CI).
#include "screenshot_targets.h"

#include <QApplication>
#include <QDir>
#include <QTabWidget>

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
    const QStringList written = renderScreenshots(outDir);
    for (const QString& file : written) std::printf("%s\n", qPrintable(file));
    return written.isEmpty() ? 1 : 0;
}
