// The camera angle panel as an installer uses it: opened from the Device menu,
// the lines moved with "+" and "-" and by dragging, all through the X server.
// What the panel shows is read from its own picture (QWidget::grab): a line is
// where its colour is.

#include "app_journey.h"
#include "app_windows.h"
#include "main_window.h"
#include "support/in_process.h"
#include "support/journey.h"
#include "support/tool_process.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <memory>
#include <optional>

using journeys::waitUntil;
using journeys::WidgetInput;

namespace {

const QRgb kVanishingColour = qRgb(0x00, 0xc0, 0x00);
const QRgb kHoodColour = qRgb(0x00, 0x60, 0xff);

// The rows of one column of the panel's picture that show `colour`.
QList<int> rowsOf(QWidget* panel, QRgb colour, int x)
{
    const QImage shot = panel->grab().toImage();
    QList<int> rows;
    for (int y = 0; y < shot.height(); ++y)
        if ((shot.pixel(x, y) & 0xffffff) == (colour & 0xffffff)) rows << y;
    return rows;
}

class PanelJourney : public journeys::AppJourney {
protected:
    void startWindows(int scale)
    {
        windows.reset();
        windows = std::make_unique<AppWindows>(scale);
        main = windows->mainWindow.get();
        main->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(main, 30000));
        main->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(main, 30000));
    }
    template <class W>
    W* control(const char* name)
    {
        W* w = main->findChild<W*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    // Device > Camera Angle Setting..., clicked as the user does.
    bool openPanelFromTheMenu()
    {
        QMenuBar* bar = main->menuBar();
        auto* device = control<QMenu>("menuDevice");
        auto* action = control<QAction>("actionCameraAngle");
        if (!device || !action) return false;
        if (!input->click(bar, bar->actionGeometry(device->menuAction()).center())) return false;
        if (!waitUntil([&] { return device->isVisible(); }, 10000)) return false;
        if (!input->click(device, device->actionGeometry(action).center())) return false;
        QWidget* panel = control<QWidget>("panelImage");
        return waitUntil([&] { return panel->isVisible() && panel->window()->windowHandle()->isExposed(); }, 10000);
    }
    // Presses the button and waits until the line's first row moved to `expected`.
    bool pressAndSee(const char* button, QRgb colour, int expected)
    {
        // xdotool's "mousemove --sync" waits for a move that never comes when the
        // pointer is already there: a press lands beside the one before.
        auto* pressed = control<QPushButton>(button);
        if (!pressed) return false;
        nudge_ = -nudge_;
        if (!input->click(pressed, pressed->rect().center() + QPoint(nudge_, 0))) return false;
        return waitUntil([&] { return rowsOf(panel(), colour, column()).value(0, -1) == expected; }, 10000);
    }
    bool drag(int fromY, int toY)
    {
        const QPoint from = panel()->mapToGlobal(QPoint(column(), fromY));
        QStringList args{QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(from.x()),
                         QString::number(from.y()), QStringLiteral("mousedown"), QStringLiteral("1")};
        // In steps, as a hand moves.
        for (int step = 1; step <= 4; ++step) {
            const QPoint at = panel()->mapToGlobal(QPoint(column(), fromY + (toY - fromY) * step / 4));
            args << QStringLiteral("mousemove") << QStringLiteral("--sync") << QString::number(at.x())
                 << QString::number(at.y());
        }
        args << QStringLiteral("mouseup") << QStringLiteral("1");
        return input->x().run(QStringLiteral("xdotool"), args).has_value();
    }
    QWidget* panel() { return main->findChild<QWidget*>(QStringLiteral("panelImage")); }
    int column() { return panel()->findChild<QWidget*>(QStringLiteral("imageCameraAngle"))->geometry().center().x(); }
    QString readOut(const char* name) { return panel()->findChild<QLabel*>(QLatin1String(name))->text(); }

    TFormWebsocketclientf* main = nullptr;
    int nudge_ = 2;
};

}  // namespace

// From a fresh start (vanishing line 342, hood line 720 of a 720-row image):
// both lines show on the picture, every press moves one a pixel, a drag moves
// it with the pointer, a click beside the lines moves nothing, and "OK" takes
// the rows the read-outs show. The editor keeps its size throughout.
TEST_F(PanelJourney, TheLinesMoveAPixelPerPressAndWithThePointer)
{
    for (const int scale : {100, 125}) {
        SCOPED_TRACE(scale);
        startWindows(scale);
        ASSERT_FALSE(HasFatalFailure());
        const QSize editor = main->size();
        ASSERT_TRUE(openPanelFromTheMenu());
        EXPECT_TRUE(panel()->isWindow());
        EXPECT_EQ(main->size(), editor) << "the panel has a window of its own";

        const QRect picture = panel()->findChild<QWidget*>(QStringLiteral("imageCameraAngle"))->geometry();
        const int lineHeight = panel()->findChild<QWidget*>(QStringLiteral("shapeVerticalLine"))->height();
        const QList<int> vanishing = rowsOf(panel(), kVanishingColour, column());
        const QList<int> hood = rowsOf(panel(), kHoodColour, column());
        ASSERT_EQ(vanishing.size(), lineHeight);
        ASSERT_EQ(hood.size(), lineHeight);
        // Row 342 of 720 a little below the picture's middle; row 720 at its lower edge.
        EXPECT_NEAR(vanishing[0] - picture.top(), picture.height() * 342 / 720, 1);
        EXPECT_NEAR(hood[0], picture.bottom() + 1, 1);

        int top = vanishing[0];
        for (int press = 0; press < 45; ++press) {
            ASSERT_TRUE(pressAndSee("SpeedButton3", kVanishingColour, top - 1)) << "press " << press;
            --top;
        }
        EXPECT_LT(readOut("lbVerticalLine").toInt(), 342);
        ASSERT_TRUE(pressAndSee("SpeedButton4", kVanishingColour, top + 1));
        ++top;
        ASSERT_TRUE(pressAndSee("SpeedButton1", kHoodColour, hood[0] - 1));
        ASSERT_TRUE(pressAndSee("SpeedButton1", kHoodColour, hood[0] - 2));
        EXPECT_LT(readOut("lbHoodLine").toInt(), 720);

        // Dragged from its middle 30 pixels down: the line follows the pointer.
        const QString before = readOut("lbVerticalLine");
        ASSERT_TRUE(drag(top + 1, top + 31));
        ASSERT_TRUE(waitUntil([&] { return rowsOf(panel(), kVanishingColour, column()).value(0) == top + 30; }, 10000))
            << "the line is at " << rowsOf(panel(), kVanishingColour, column()).value(0) << ", not " << top + 30;
        top += 30;
        EXPECT_GT(readOut("lbVerticalLine").toInt(), before.toInt());

        // A click on the picture away from the lines: nothing moves, no line appears.
        ASSERT_TRUE(input->click(panel(), QPoint(column(), (top + hood[0]) / 2)));
        ASSERT_TRUE(pressAndSee("SpeedButton2", kHoodColour, hood[0] - 1));  // something seen after the click
        const QList<int> green = rowsOf(panel(), kVanishingColour, column());
        EXPECT_EQ(green.size(), lineHeight);
        EXPECT_EQ(green.value(0), top);

        const QString vanishingRow = readOut("lbVerticalLine");
        const QString hoodRow = readOut("lbHoodLine");
        ASSERT_TRUE(input->click(panel()->findChild<QPushButton*>(QStringLiteral("Button3"))));
        ASSERT_TRUE(waitUntil([&] { return !panel()->isVisible(); }, 10000));
        EXPECT_EQ(control<QLineEdit>("maskEdVanishingLine")->text(), vanishingRow);
        EXPECT_EQ(control<QLineEdit>("maskEdHoodLine")->text(), hoodRow);
        EXPECT_EQ(main->size(), editor);
    }
}
