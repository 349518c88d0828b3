// The camera angle panel's lines: a line's value is a row of the camera image,
// shown on the picture once scaled, moved one picture pixel per press, and
// taken into the editor as the row itself.
#include "editor_fixture.h"

#include "device/camera_angle_panel.h"
#include "device/device_link.h"

#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

class CameraPanelTest : public EditorTest {
protected:
    void openWindows(int scale)
    {
        app = std::make_unique<AppWindows>(scale);
        window = app->mainWindow.get();
    }
    CameraAnglePanel& panel() { return window->cameraAnglePanel(); }
    QWidget* part(const char* name) { return panel().findChild<QWidget*>(QLatin1String(name)); }
    int top(const char* marker) { return part(marker)->y(); }
    QString readOut(const char* label) { return panel().findChild<QLabel*>(QLatin1String(label))->text(); }
    void press(const char* button) { panel().findChild<QPushButton*>(QLatin1String(button))->click(); }
    // What the editor's fields and the panel show once the queued placing has run.
    void settle() { QCoreApplication::processEvents(); }
};

}  // namespace

// Worked examples: image rows H come from the editor's image height, or from
// the camera image once one arrived; row r lies on picture row
// r x 305 x scale / (100 x H), the fraction dropped.
TEST_F(CameraPanelTest, ALinesRowIsScaledOnceOntoThePictureAndTakenAsTheRow)
{
    const struct {
        const char* what;
        int scale;
        QSize image;          // a camera image that arrived; empty: none
        const char* rows;     // the editor's image height
        const char* vanishing, *hood;
        int vanishingTop, hoodTop;
        int presses;          // of the vanishing "+"
        int pressedTop;
        const char* pressedRow;
    } cases[] = {
        // The picture's own size: one row per pixel at 100 %, where a line's value is its pixel row.
        {"305 rows at 100 %", 100, {}, "305", "132", "281", 132, 281, 3, 129, "129"},
        // At 125 % a row is 1.25 pixels; pixel 164 holds no row's top, so a press moves two.
        {"305 rows at 125 %", 125, {}, "305", "132", "281", 165, 351, 1, 163, "131"},
        {"305 rows at 125 %, the field's 165", 125, {}, "305", "165", "281", 206, 351, 1, 205, "164"},
        // The file defaults: 720 rows on 305 pixels; each press one pixel, the
        // row the first on that pixel; the hood on the image's last row sits at its lower edge.
        {"720 rows at 100 %", 100, {}, "720", "342", "720", 144, 305, 45, 99, "234"},
        {"720 rows at 125 %", 125, {}, "720", "342", "720", 181, 381, 1, 180, "340"},
        {"a 640 x 480 image at 100 %", 100, {640, 480}, "720", "342", "720", 217, 305, 3, 214, "337"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        openWindows(c.scale);
        ctl<QLineEdit>("maskEdImageHeight")->setText(QLatin1String(c.rows));
        ctl<QLineEdit>("maskEdVanishingLine")->setText(QLatin1String(c.vanishing));
        ctl<QLineEdit>("maskEdHoodLine")->setText(QLatin1String(c.hood));
        if (c.image.isValid()) {
            QImage image(c.image, QImage::Format_RGB32);
            image.fill(Qt::darkGray);
            emit app->deviceLink->cameraImage(image);
        }
        panel().btnCameraImageClick();
        settle();
        EXPECT_EQ(top("shapeVerticalLine"), c.vanishingTop);
        EXPECT_EQ(top("shapeHoodLine"), c.hoodTop);
        EXPECT_LE(c.hoodTop, part("imageCameraAngle")->geometry().bottom() + 1) << "on the picture or at its edge";
        EXPECT_EQ(readOut("lbVerticalLine"), QLatin1String(c.vanishing));
        EXPECT_EQ(top("lbVerticalLine"), c.vanishingTop + (c.scale == 100 ? 5 : 6));

        int previousTop = c.vanishingTop;
        int previousRow = readOut("lbVerticalLine").toInt();
        for (int i = 0; i < c.presses; ++i) {
            press("SpeedButton3");
            EXPECT_LT(top("shapeVerticalLine"), previousTop);
            EXPECT_GE(top("shapeVerticalLine"), previousTop - 2) << "one pixel, two where a pixel holds no row";
            EXPECT_LT(readOut("lbVerticalLine").toInt(), previousRow);
            previousTop = top("shapeVerticalLine");
            previousRow = readOut("lbVerticalLine").toInt();
        }
        EXPECT_EQ(top("shapeVerticalLine"), c.pressedTop);
        EXPECT_EQ(readOut("lbVerticalLine"), QLatin1String(c.pressedRow));

        // The hood cannot leave the image: "-" on its last row keeps it there.
        ctl<QLineEdit>("maskEdHoodLine")->setText(QLatin1String(c.rows));
        press("SpeedButton2");
        EXPECT_EQ(readOut("lbHoodLine"), QString::number(c.image.isValid() ? c.image.height() : QString(c.rows).toInt()));

        press("Button3");
        EXPECT_EQ(ctl<QLineEdit>("maskEdVanishingLine")->text(), QLatin1String(c.pressedRow));
        EXPECT_EQ(ctl<QLineEdit>("maskEdHoodLine")->text(), readOut("lbHoodLine"));
        // The image's own size, or the fields' when none arrived.
        EXPECT_EQ(ctl<QLineEdit>("maskEdImageHeight")->text(),
                  c.image.isValid() ? QString::number(c.image.height()) : QLatin1String(c.rows));
        EXPECT_EQ(ctl<QLineEdit>("maskEdImageWidth")->text(),
                  c.image.isValid() ? QString::number(c.image.width()) : QStringLiteral("1280"));
    }
}

// The editor's fill places the markers by its own rule; the panel's places win,
// also when a file brings the same rows again or while the panel is closed.
TEST_F(CameraPanelTest, OpeningAFileOrTypingARowMovesTheLine)
{
    openWindows(125);
    panel().btnCameraImageClick();
    settle();
    const int defaultTop = top("shapeVerticalLine");  // 342 of 720 rows
    writeFile("a.ini", settingsFileText({{QStringLiteral("ADASANGLE_VANISHING_LINE"), QStringLiteral("360")}}));
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        load(path("a.ini"));
        settle();
        EXPECT_EQ(readOut("lbVerticalLine"), QStringLiteral("360"));
        EXPECT_EQ(top("shapeVerticalLine"), 190);  // 360 x 305 x 1.25 / 720 = 190.6
        EXPECT_GT(top("shapeVerticalLine"), defaultTop);
    }
    panel().hide();
    ctl<QLineEdit>("maskEdVanishingLine")->setText(QStringLiteral("0"));
    panel().btnCameraImageClick();
    settle();
    EXPECT_EQ(readOut("lbVerticalLine"), QStringLiteral("0"));
    EXPECT_EQ(top("shapeVerticalLine"), part("imageCameraAngle")->y());
}
