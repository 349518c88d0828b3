#include "device/camera_angle_panel.h"

#include "device/device_link.h"
#include "toolkit/display_scale.h"
#include "toolkit/exception_display.h"
#include "toolkit/exceptions.h"
#include "toolkit/number_text.h"

#include <QCloseEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace {

struct Geometry {
    const char* name;
    int left, top, width, height;
};

// Every control of the panel at 100 % scale. The two lines' tops are where
// their rows lie; these are only their places before any row is known.
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
    {"lbImageStatus", 495, 115, 110, 145},
    {"Button3", 495, 270, 110, 30},
};
// Tall enough for a line on the picture's last row and its read-out below it.
constexpr int kPanelWidth = 615, kPanelHeight = 330;
constexpr int kPictureHeight = 305;  // at 100 %
constexpr int kReadOutBelowLine = 5;
constexpr int kGrabMargin = 4;  // a line can be taken this far above or below it

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

qint64 steadyMsecs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::optional<int> integerIn(const QString& text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

}  // namespace

const CameraAnglePanel::Line CameraAnglePanel::kVanishing{"shapeVerticalLine", "lbVerticalLine", "maskEdVanishingLine"};
const CameraAnglePanel::Line CameraAnglePanel::kHood{"shapeHoodLine", "lbHoodLine", "maskEdHoodLine"};

CameraAnglePanel::CameraAnglePanel(QWidget* editor, QWidget* parent)
    : QFrame(parent, Qt::Tool), editor_(editor), clock_(steadyMsecs)
{
    setObjectName(QStringLiteral("panelImage"));
    setWindowTitle(QStringLiteral("Camera Angle Setting"));

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
    for (const Line* l : {&kVanishing, &kHood}) {
        auto* marker = part<QWidget>(l->marker);
        marker->setCursor(Qt::SizeVerCursor);
        marker->setToolTip(QStringLiteral("Drag the line, or move it with + and -"));
    }
    for (const auto& [name, text] : {std::pair{"lbVerticalLine", ""}, std::pair{"lbHoodLine", ""},
                                     std::pair{"lbVanishing", "Vanishing"}, std::pair{"lbHood", "Hood"},
                                     std::pair{"lbImageStatus", ""}}) {
        auto* label = new QLabel(QLatin1String(text), this);
        label->setObjectName(QLatin1String(name));
    }
    auto* status = part<QLabel>("lbImageStatus");
    status->setWordWrap(true);
    status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);

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

    // The editor's fill moves the markers to places of its own; they go back to their rows.
    for (const Line* l : {&kVanishing, &kHood}) {
        part<QWidget>(l->marker)->installEventFilter(this);
        part<QWidget>(l->readOut)->installEventFilter(this);
        // The line follows its field: a file opened, a value typed.
        if (auto* field = editor_->findChild<QLineEdit*>(QLatin1String(l->editorField)))
            connect(field, &QLineEdit::textChanged, this, [this, l](const QString& text) { takeRowFromEditor(*l, text); });
    }
    if (auto* height = editor_->findChild<QLineEdit*>(QStringLiteral("maskEdImageHeight")))
        connect(height, &QLineEdit::textChanged, this, [this] { placeLinesSoon(); });
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
    placeLines();
}

void CameraAnglePanel::attach(DeviceLink* link)
{
    link_ = link;
    connect(link, &DeviceLink::cameraImage, this, &CameraAnglePanel::showImage);
    connect(link, &DeviceLink::recorderError, this, [this](int, const QString& text) { showRecorderError(text); });
}

// ---- Where the lines are ----

int CameraAnglePanel::imageRows() const
{
    if (cameraImageSize_.height() > 0) return cameraImageSize_.height();
    if (auto* field = editor_->findChild<QLineEdit*>(QStringLiteral("maskEdImageHeight")))
        if (const auto rows = integerIn(field->text()); rows && *rows > 0) return *rows;
    return kPictureHeight;
}

int CameraAnglePanel::pictureTop() const { return part<QWidget>("imageCameraAngle")->y(); }

// The picture is kPictureHeight x scale / 100 pixels tall; computed from the
// unrounded height, so an image of 305 rows puts row r at r x scale / 100.
int CameraAnglePanel::topOfRow(int row) const
{
    const long long rows = imageRows();
    const long long clamped = std::clamp<long long>(row, 0, rows);  // a row off the image shows at its edge
    return pictureTop() + int(clamped * kPictureHeight * scale_ / (100 * rows));
}

// The smallest row whose top is at the picture row or below it:
// ceil(pixel x 100 x rows / (305 x scale)).
int CameraAnglePanel::firstRowAt(int y) const
{
    const long long rows = imageRows();
    const long long pixel = std::max(0, y - pictureTop());
    const long long num = pixel * 100 * rows;
    const long long den = 1LL * kPictureHeight * scale_;
    return int(std::min<long long>((num + den - 1) / den, rows));
}

std::optional<int> CameraAnglePanel::rowOf(const Line& line) const { return integerIn(part<QLabel>(line.readOut)->text()); }

void CameraAnglePanel::setRow(const Line& line, int row)
{
    part<QLabel>(line.readOut)->setText(QString::number(row));
    placeLines();
}

void CameraAnglePanel::takeRowFromEditor(const Line& line, const QString& text)
{
    const auto row = integerIn(text);
    if (!row) return;  // half typed: the line stays until the field holds a row
    part<QLabel>(line.readOut)->setText(QString::number(*row));
    placeLinesSoon();
}

void CameraAnglePanel::placeLines()
{
    placing_ = true;
    for (const Line* l : {&kVanishing, &kHood}) {
        const auto row = rowOf(*l);
        if (!row) continue;
        auto* marker = part<QWidget>(l->marker);
        auto* label = part<QWidget>(l->readOut);
        const int top = topOfRow(*row);
        marker->move(marker->x(), top);
        label->move(label->x(), top + toolkit::scaled(kReadOutBelowLine, scale_));
    }
    placing_ = false;
}

void CameraAnglePanel::placeLinesSoon()
{
    if (placeScheduled_) return;
    placeScheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        placeScheduled_ = false;
        placeLines();
    });
}

bool CameraAnglePanel::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Move && !placing_) placeLinesSoon();
    return QFrame::eventFilter(watched, event);
}

void CameraAnglePanel::showEvent(QShowEvent* event)
{
    QFrame::showEvent(event);
    placeLines();
}

void CameraAnglePanel::closeEvent(QCloseEvent* event)
{
    // Closed from its title bar: nothing is taken, and the stream ends with the panel.
    btnTimerStopClick();
    QFrame::closeEvent(event);
}

// One press moves the line one picture pixel: to the first image row on the
// next picture row. When the picture shows fewer pixels than the image has
// rows that skips rows; when it shows more, the line moves one row.
void CameraAnglePanel::stepLine(const Line& line, int step)
{
    const int row = rowOf(line).value_or(0);
    int next = firstRowAt(topOfRow(row) + step);
    next = step < 0 ? std::min(next, row - 1) : std::max(next, row + 1);
    setRow(line, std::clamp(next, 0, imageRows()));
}

void CameraAnglePanel::SpeedButton1Click() { stepLine(kHood, -1); }
void CameraAnglePanel::SpeedButton2Click() { stepLine(kHood, +1); }
void CameraAnglePanel::SpeedButton3Click() { stepLine(kVanishing, -1); }
void CameraAnglePanel::SpeedButton4Click() { stepLine(kVanishing, +1); }

const CameraAnglePanel::Line* CameraAnglePanel::lineAt(int y) const
{
    const Line* nearest = nullptr;
    int distance = toolkit::scaled(kGrabMargin, scale_) + 1;
    for (const Line* l : {&kVanishing, &kHood}) {
        if (!rowOf(*l)) continue;
        const QRect r = part<QWidget>(l->marker)->geometry();
        const int d = y < r.top() ? r.top() - y : y > r.bottom() ? y - r.bottom() : 0;
        if (d < distance) {
            distance = d;
            nearest = l;
        }
    }
    return nearest;
}

void CameraAnglePanel::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    const QWidget* marker = part<QWidget>(kVanishing.marker);
    dragged_ = event->button() == Qt::LeftButton && at.x() <= marker->geometry().right() ? lineAt(at.y()) : nullptr;
    if (!dragged_) {
        QFrame::mousePressEvent(event);
        return;
    }
    dragOffset_ = at.y() - part<QWidget>(dragged_->marker)->y();
    event->accept();
}

void CameraAnglePanel::mouseMoveEvent(QMouseEvent* event)
{
    if (!dragged_) {
        QFrame::mouseMoveEvent(event);
        return;
    }
    setRow(*dragged_, firstRowAt(event->position().toPoint().y() - dragOffset_));
    event->accept();
}

void CameraAnglePanel::mouseReleaseEvent(QMouseEvent* event)
{
    if (!dragged_) {
        QFrame::mouseReleaseEvent(event);
        return;
    }
    dragged_ = nullptr;
    event->accept();
}

// ---- Images ----

void CameraAnglePanel::showImage(const QImage& image)
{
    part<QLabel>("imageCameraAngle")->setPixmap(QPixmap::fromImage(image));
    cameraImageSize_ = image.size();
    awaitingImage_ = false;
    setStatus(QString());
    placeLines();  // the rows stay; where they lie depends on the image's height
}

void CameraAnglePanel::showRecorderError(const QString& text)
{
    // An error that answers some other request is the console's.
    if (!awaitingImage_) return;
    setStatus(QStringLiteral("The recorder answered: %1").arg(text.trimmed()));
}

void CameraAnglePanel::setStatus(const QString& text) { part<QLabel>("lbImageStatus")->setText(text); }

void CameraAnglePanel::requestImage()
{
    if (!link_) return;
    link_->requestCameraImage();
    awaitingImage_ = true;
    requestedAt_ = clock_();
}

bool CameraAnglePanel::streaming() const { return timerStreamImage->isActive(); }

void CameraAnglePanel::btnCameraImageClick()
{
    show();
    raise();
    activateWindow();
    const int height = toolkit::StrToInt(editorField<QLineEdit>("maskEdCameraHeight")->text());
    const auto [high, low] = height <= 140 ? std::pair{138, 157} : height <= 160 ? std::pair{128, 147} : std::pair{118, 138};
    auto place = [this](const char* name, int top) {
        auto* w = part<QWidget>(name);
        w->move(w->x(), toolkit::scaled(top, scale_));
    };
    place("shapeVerticalHigh", high);
    place("shapeVerticalLow", low);
}

void CameraAnglePanel::btnRequestImageClick() { requestImage(); }

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
    // Paced by the recorder: at most one image request is outstanding. A lost
    // image or an error in its place would stall the stream, so an answer not
    // come within the wait is given up and the image asked for again.
    if (!link_) return;
    if (link_->gImageReceived) {
        requestImage();
        return;
    }
    if (clock_() - requestedAt_ < kAnswerWaitMs) return;
    if (part<QLabel>("lbImageStatus")->text().isEmpty())
        setStatus(QStringLiteral("No image came within %1 s; asked again.").arg(kAnswerWaitMs / 1000));
    requestImage();
}

void CameraAnglePanel::btnTimerStopClick()
{
    timerStreamImage->stop();
    part<QPushButton>("btnTimerStop")->hide();
    part<QWidget>("ActivityIndicatorImage")->hide();
    part<QPushButton>("btnRequestImage")->setEnabled(true);
    part<QPushButton>("btnRepeatRequest")->setEnabled(true);
}

void CameraAnglePanel::Button3Click()
{
    hide();
    // The size of the image the rows were set on; without one the fields keep theirs.
    if (cameraImageSize_.isValid()) {
        editorField<QLineEdit>("maskEdImageHeight")->setText(QString::number(cameraImageSize_.height()));
        editorField<QLineEdit>("maskEdImageWidth")->setText(QString::number(cameraImageSize_.width()));
    }
    editorField<QLineEdit>("maskEdVanishingLine")->setText(part<QLabel>("lbVerticalLine")->text());
    editorField<QLineEdit>("maskEdHoodLine")->setText(part<QLabel>("lbHoodLine")->text());
    btnTimerStopClick();
}
