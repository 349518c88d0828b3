#include "device/camera_angle_panel.h"

#include "device/device_link.h"
#include "toolkit/display_scale.h"
#include "toolkit/exception_display.h"
#include "toolkit/exceptions.h"
#include "toolkit/number_text.h"

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace {

struct Geometry {
    const char* name;
    int left, top, width, height;
};

// Every control of the panel at 100 % scale.
constexpr Geometry kLayout[] = {
    {"imageCameraAngle", 5, 0, 385, 305},
    {"shapeVerticalLine", 0, 132, 420, 3},
    {"shapeHoodLine", 0, 281, 420, 3},
    {"shapeVerticalHigh", 0, 100, 417, 2},
    {"shapeVerticalLow", 0, 158, 417, 2},
    {"lbVerticalLine", 425, 137, 60, 16},
    {"lbHoodLine", 425, 286, 60, 16},
    {"lbVanishing", 430, 10, 60, 16},
    {"SpeedButton3", 430, 28, 26, 24},
    {"SpeedButton4", 460, 28, 26, 24},
    {"lbHood", 430, 60, 60, 16},
    {"SpeedButton1", 430, 78, 26, 24},
    {"SpeedButton2", 460, 78, 26, 24},
    {"btnRequestImage", 495, 10, 110, 25},
    {"btnRepeatRequest", 495, 40, 110, 25},
    {"btnTimerStop", 495, 70, 110, 25},
    {"ActivityIndicatorImage", 495, 100, 110, 10},
    {"Button3", 495, 270, 110, 30},
};
constexpr int kPanelWidth = 615, kPanelHeight = 310;

// A neutral picture until the first camera image: grey sky over a darker road.
QPixmap placeholderPicture()
{
    QImage image(385, 305, QImage::Format_RGB32);
    QPainter p(&image);
    p.fillRect(0, 0, 385, 140, QColor(0x9a, 0xa4, 0xae));
    p.fillRect(0, 140, 385, 165, QColor(0x5a, 0x5a, 0x5a));
    p.setPen(QColor(0xd0, 0xd0, 0xd0));
    p.drawText(QRect(0, 0, 385, 305), Qt::AlignCenter, QStringLiteral("No camera image"));
    return QPixmap::fromImage(image);
}

}  // namespace

CameraAnglePanel::CameraAnglePanel(QWidget* editor) : editor_(editor)
{
    setObjectName(QStringLiteral("panelImage"));

    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("imageCameraAngle"));
    image->setScaledContents(true);
    image->setPixmap(placeholderPicture());

    const struct {
        const char* name;
        const char* style;
    } lines[] = {{"shapeVerticalLine", "background: #00c000;"},
                 {"shapeHoodLine", "background: #0060ff;"},
                 {"shapeVerticalHigh", "border-top: 2px dotted red;"},
                 {"shapeVerticalLow", "border-top: 2px dotted red;"}};
    for (const auto& l : lines) {
        auto* line = new QFrame(this);
        line->setObjectName(QLatin1String(l.name));
        line->setStyleSheet(QLatin1String(l.style));
    }
    for (const auto& [name, text] : {std::pair{"lbVerticalLine", ""}, std::pair{"lbHoodLine", ""},
                                     std::pair{"lbVanishing", "Vanishing"}, std::pair{"lbHood", "Hood"}}) {
        auto* label = new QLabel(QLatin1String(text), this);
        label->setObjectName(QLatin1String(name));
    }
    const std::pair<const char*, const char*> buttons[] = {
        {"SpeedButton3", "+"},         {"SpeedButton4", "-"},          {"SpeedButton1", "+"},
        {"SpeedButton2", "-"},         {"btnRequestImage", "Request-Image"}, {"btnRepeatRequest", "Repeat Request"},
        {"btnTimerStop", "Stop"},      {"Button3", "OK"}};
    for (const auto& [name, caption] : buttons) {
        auto* button = new QPushButton(QLatin1String(caption), this);
        button->setObjectName(QLatin1String(name));
    }
    part<QPushButton>("btnTimerStop")->hide();

    // A busy bar stands in for the activity indicator; it moves only while shown.
    auto* indicator = new QProgressBar(this);
    indicator->setObjectName(QStringLiteral("ActivityIndicatorImage"));
    indicator->setRange(0, 0);
    indicator->setTextVisible(false);
    indicator->hide();

    timerStreamImage = new QTimer(this);
    timerStreamImage->setObjectName(QStringLiteral("timerStreamImage"));
    timerStreamImage->setInterval(100);

    const std::pair<const char*, void (CameraAnglePanel::*)()> handlers[] = {
        {"btnRequestImage", &CameraAnglePanel::btnRequestImageClick},
        {"btnRepeatRequest", &CameraAnglePanel::btnRepeatRequestClick},
        {"btnTimerStop", &CameraAnglePanel::btnTimerStopClick},
        {"SpeedButton1", &CameraAnglePanel::SpeedButton1Click},
        {"SpeedButton2", &CameraAnglePanel::SpeedButton2Click},
        {"SpeedButton3", &CameraAnglePanel::SpeedButton3Click},
        {"SpeedButton4", &CameraAnglePanel::SpeedButton4Click},
        {"Button3", &CameraAnglePanel::Button3Click},
    };
    for (const auto& [name, handler] : handlers)
        toolkit::connectGuarded(part<QPushButton>(name), &QPushButton::clicked, this, [this, h = handler] { (this->*h)(); });
    toolkit::connectGuarded(timerStreamImage, &QTimer::timeout, this, [this] { timerStreamImageTimer(); });
    applyDisplayScale(100);
}

template <class W>
W* CameraAnglePanel::editorField(const char* name) const
{
    W* w = editor_->findChild<W*>(QLatin1String(name));
    if (!w) throw toolkit::EArgumentException(QStringLiteral("The editor has no field %1").arg(QLatin1String(name)));
    return w;
}

void CameraAnglePanel::applyDisplayScale(int scalePercent)
{
    scale_ = scalePercent;
    auto s = [scalePercent](int v) { return toolkit::scaled(v, scalePercent); };
    for (const Geometry& g : kLayout)
        if (auto* w = part<QWidget>(g.name)) w->setGeometry(s(g.left), s(g.top), s(g.width), s(g.height));
    setFixedSize(s(kPanelWidth), s(kPanelHeight));
}

void CameraAnglePanel::attach(DeviceLink* link)
{
    link_ = link;
    connect(link, &DeviceLink::cameraImage, this, &CameraAnglePanel::showImage);
}

void CameraAnglePanel::showImage(const QImage& image) { part<QLabel>("imageCameraAngle")->setPixmap(QPixmap::fromImage(image)); }

bool CameraAnglePanel::streaming() const { return timerStreamImage->isActive(); }

void CameraAnglePanel::btnCameraImageClick()
{
    show();
    const int height = toolkit::StrToInt(editorField<QLineEdit>("maskEdCameraHeight")->text());
    const auto [high, low] = height <= 140 ? std::pair{138, 157} : height <= 160 ? std::pair{128, 147} : std::pair{118, 138};
    auto place = [this](const char* name, int top) {
        auto* w = part<QWidget>(name);
        w->move(w->x(), toolkit::scaled(top, scale_));
    };
    place("shapeVerticalHigh", high);
    place("shapeVerticalLow", low);
}

void CameraAnglePanel::btnRequestImageClick()
{
    if (link_) link_->requestCameraImage();
}

void CameraAnglePanel::btnRepeatRequestClick()
{
    btnRequestImageClick();
    timerStreamImage->start();
    part<QPushButton>("btnTimerStop")->show();
    part<QWidget>("ActivityIndicatorImage")->show();
    part<QPushButton>("btnRequestImage")->setEnabled(false);
    part<QPushButton>("btnRepeatRequest")->setEnabled(false);
}

void CameraAnglePanel::timerStreamImageTimer()
{
    // Paced by the recorder: at most one image request is outstanding.
    if (link_ && link_->gImageReceived) link_->requestCameraImage();
}

void CameraAnglePanel::btnTimerStopClick()
{
    timerStreamImage->stop();
    part<QPushButton>("btnTimerStop")->hide();
    part<QWidget>("ActivityIndicatorImage")->hide();
    part<QPushButton>("btnRequestImage")->setEnabled(true);
    part<QPushButton>("btnRepeatRequest")->setEnabled(true);
}

void CameraAnglePanel::moveLine(const char* line, const char* readOut, int step)
{
    auto* shape = part<QWidget>(line);
    auto* label = part<QLabel>(readOut);
    shape->move(shape->x(), shape->y() + step);
    label->move(label->x(), label->y() + step);
    label->setText(QString::number(toolkit::scaled(shape->y(), scale_)));
}

void CameraAnglePanel::SpeedButton1Click() { moveLine("shapeHoodLine", "lbHoodLine", -1); }
void CameraAnglePanel::SpeedButton2Click() { moveLine("shapeHoodLine", "lbHoodLine", +1); }
void CameraAnglePanel::SpeedButton3Click() { moveLine("shapeVerticalLine", "lbVerticalLine", -1); }
void CameraAnglePanel::SpeedButton4Click() { moveLine("shapeVerticalLine", "lbVerticalLine", +1); }

void CameraAnglePanel::Button3Click()
{
    hide();
    const QWidget* image = part<QWidget>("imageCameraAngle");
    editorField<QLineEdit>("maskEdImageHeight")->setText(QString::number(toolkit::scaled(image->height(), scale_)));
    editorField<QLineEdit>("maskEdImageWidth")->setText(QString::number(toolkit::scaled(image->width(), scale_)));
    editorField<QLineEdit>("maskEdVanishingLine")->setText(part<QLabel>("lbVerticalLine")->text());
    editorField<QLineEdit>("maskEdHoodLine")->setText(part<QLabel>("lbHoodLine")->text());
    btnTimerStopClick();
}
