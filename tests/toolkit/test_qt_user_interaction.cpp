// The real dialogs, driven by a timer as a user would, on the offscreen platform.
#include "toolkit/qt_user_interaction.h"

#include <QApplication>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// Runs `act` on the file dialog as soon as it is up.
void whenDialogShows(std::function<void(QFileDialog*)> act)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(dialog);
        }
    });
    timer->start();
}

}  // namespace

TEST(QtUserInteraction, SaveTakesTheExtensionOfTheChosenFilter)
{
    QTemporaryDir dir;
    toolkit::QtUserInteraction ui;
    toolkit::FileDialogRequest request;
    request.directory = dir.path();
    request.filter = QStringLiteral("CSV table|*.csv|GPX 1.1 track|*.gpx");

    const QString gpx = QStringLiteral("GPX 1.1 track (*.gpx)");
    whenDialogShows([&](QFileDialog* dialog) {
        dialog->selectNameFilter(gpx);
        emit dialog->filterSelected(gpx);
        dialog->selectFile(dir.filePath("track"));
        QMetaObject::invokeMethod(dialog, "accept");
    });
    EXPECT_EQ(ui.saveFile(request), dir.filePath("track.gpx"));

    whenDialogShows([&](QFileDialog* dialog) {
        dialog->selectFile(dir.filePath("table"));
        QMetaObject::invokeMethod(dialog, "accept");
    });
    EXPECT_EQ(ui.saveFile(request), dir.filePath("table.csv")) << "the first filter is the preset one";

    whenDialogShows([](QFileDialog* dialog) { dialog->reject(); });
    EXPECT_EQ(ui.saveFile(request), std::nullopt);
}

TEST(QtUserInteraction, FilterPairsBecomeQtFilters)
{
    EXPECT_EQ(toolkit::qtFilterFromPairs("ini|*.ini"), QStringLiteral("ini (*.ini)"));
    EXPECT_EQ(toolkit::qtFilterFromPairs("Tracks|*.drv;*.DRV|All|*"), QStringLiteral("Tracks (*.drv *.DRV);;All (*)"));
}
