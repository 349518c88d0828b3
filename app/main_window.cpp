#include "main_window.h"

#include "editor_layout.h"
#include "settings/settings_file.h"
#include "toolkit/display_scale.h"
#include "toolkit/exception_display.h"
#include "toolkit/user_interaction.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QFile>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

int gDisplayScale = 100;

namespace {

const QString kHiddenEncryption = QStringLiteral("####");

struct BottomButton {
    const char* name;
    const char* caption;
};
constexpr BottomButton kBottomButtons[] = {
    {"Button1", "About"},  {"Button2", "Settings"}, {"Button4", "Initialize SD Card"},
    {"Button6", "Open"},   {"Button7", "Save"},     {"btnEjectSdCard", "Eject SD Card"},
};

QFrame* lineMarker(QWidget* parent, const char* name, int width, int height, int top, const char* style)
{
    auto* line = new QFrame(parent);
    line->setObjectName(QLatin1String(name));
    line->setGeometry(0, top, width, height);
    line->setStyleSheet(QLatin1String(style));
    return line;
}

}  // namespace

TFormWebsocketclientf::TFormWebsocketclientf(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("FormWebsocketclientf"));
    setWindowTitle(QStringLiteral("Brindle Configuration Tool"));
    buildWindow();
    FormCreate();
}

TFormWebsocketclientf::~TFormWebsocketclientf() = default;

void TFormWebsocketclientf::buildWindow()
{
    auto* central = new QWidget;
    setCentralWidget(central);  // first, so that control() finds what is built below
    auto* layout = new QVBoxLayout(central);

    PageControl1 = new QTabWidget;
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    editor_layout::buildPages(PageControl1);
    layout->addWidget(PageControl1, 1);

    // The camera angle panel and the device-link log live on the first page, hidden.
    QWidget* devicePage = PageControl1->widget(0);
    auto* deviceLayout = qobject_cast<QBoxLayout*>(devicePage->layout());
    auto* extras = new QVBoxLayout;
    extras->addWidget(buildCameraAnglePanel());
    Memo1 = new QPlainTextEdit;
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->hide();
    extras->addWidget(Memo1);
    deviceLayout->addLayout(extras);
    control<QPushButton>("btnCameraImage")->hide();

    auto* buttons = new QHBoxLayout;
    for (const BottomButton& b : kBottomButtons) {
        auto* button = new QPushButton(QLatin1String(b.caption));
        button->setObjectName(QLatin1String(b.name));
        buttons->addWidget(button);
        if (b.name == std::string_view("Button6")) buttons->addStretch(1);
    }
    layout->addLayout(buttons);

    // Buttons whose work arrives with the device and media parts stay visible but inert.
    for (const char* name : {"Button1", "Button2", "Button4", "btnEjectSdCard"})
        control<QPushButton>(name)->setEnabled(false);

    toolkit::connectGuarded(control<QPushButton>("Button5"), &QPushButton::clicked, this, [this] { Button5Click(); });
    toolkit::connectGuarded(control<QPushButton>("Button6"), &QPushButton::clicked, this, [this] { Button6Click(); });
    toolkit::connectGuarded(control<QPushButton>("Button7"), &QPushButton::clicked, this, [this] { Button7Click(); });
}

QWidget* TFormWebsocketclientf::buildCameraAnglePanel()
{
    auto* panel = new QFrame;
    panel->setObjectName(QStringLiteral("panelImage"));
    panel->setFixedSize(560, 320);

    auto* image = new QLabel(panel);
    image->setObjectName(QStringLiteral("imageCameraAngle"));
    image->setGeometry(5, 0, 385, 305);
    image->setScaledContents(true);
    image->setStyleSheet(QStringLiteral("background: #202020;"));

    lineMarker(panel, "shapeVerticalLine", 420, 3, 132, "background: #00c000;");
    lineMarker(panel, "shapeHoodLine", 420, 3, 281, "background: #0060ff;");
    lineMarker(panel, "shapeVerticalHigh", 417, 2, 100, "border-top: 2px dotted red;");
    lineMarker(panel, "shapeVerticalLow", 417, 2, 158, "border-top: 2px dotted red;");

    for (const auto& [name, top] : {std::pair{"lbVerticalLine", 137}, std::pair{"lbHoodLine", 286}}) {
        auto* label = new QLabel(panel);
        label->setObjectName(QLatin1String(name));
        label->setGeometry(425, top, 60, 16);
    }
    return panel;
}

void TFormWebsocketclientf::FormCreate()
{
    gDisplayScale = toolkit::screenDisplayScale();
    control<QWidget>("panelImage")->hide();
    Button5Click();

    // The read-outs start where the markers stand; the edits at the panel's image geometry.
    const auto* vertical = control<QWidget>("shapeVerticalLine");
    const auto* hood = control<QWidget>("shapeHoodLine");
    control<QLabel>("lbVerticalLine")->setText(QString::number(toolkit::scaled(vertical->y(), gDisplayScale)));
    control<QLabel>("lbHoodLine")->setText(QString::number(toolkit::scaled(hood->y(), gDisplayScale)));
    const std::pair<const char*, int> edits[] = {
        {"maskEdVanishingLine", 132}, {"maskEdHoodLine", 281}, {"maskEdImageHeight", 305}, {"maskEdImageWidth", 385}};
    for (const auto& [name, base] : edits)
        control<QLineEdit>(name)->setText(QString::number(toolkit::scaled(base, gDisplayScale)));

    const QString defaults = QStringLiteral("./setting.ini");
    if (QFile::exists(defaults)) toolkit::runGuarded([&] { LoadSettingsFile(defaults); }, this);
}

void TFormWebsocketclientf::ReadSettingsFile(const QString& path) { settings::readSettingsFile(path, values_); }

void TFormWebsocketclientf::FillWindowFromValues() { settings::fillWindowFromValues(editor(), values_); }

void TFormWebsocketclientf::CollectValuesFromWindow() { settings::collectValuesFromWindow(editor(), values_); }

void TFormWebsocketclientf::WriteSettingsFile(const QString& path) { settings::writeSettingsFile(path, values_); }

void TFormWebsocketclientf::LoadSettingsFile(const QString& path)
{
    ReadSettingsFile(path);
    FillWindowFromValues();
}

void TFormWebsocketclientf::SaveSettingsFile(const QString& path)
{
    CollectValuesFromWindow();
    WriteSettingsFile(path);
}

void TFormWebsocketclientf::Button5Click()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QString stamp = now.toString(QStringLiteral("yyyyMMddHHmmss"));
    control<QDateEdit>("DateTimePicker1")->setDate(now.date());
    settings::setComboText(control<QComboBox>("cbTimeManualHour"), stamp.mid(8, 2));
    settings::setComboText(control<QComboBox>("cbTimeManualMin"), stamp.mid(10, 2));
    settings::setComboText(control<QComboBox>("cbTimeManualSec"), stamp.mid(12, 2));
}

void TFormWebsocketclientf::Button6Click()
{
    toolkit::FileDialogRequest request;
    request.parent = this;
    request.title = QStringLiteral("Open");
    request.fileName = QStringLiteral("*.ini");
    request.filter = QStringLiteral("ini|*.ini");
    const auto file = toolkit::userInteraction().openFile(request);
    if (!file) return;
    LoadSettingsFile(*file);
    control<QLineEdit>("maskEdEncryptionDisplay")->setText(kHiddenEncryption);
}

void TFormWebsocketclientf::CommitEncryptionNumber()
{
    auto* display = control<QLineEdit>("maskEdEncryptionDisplay");
    if (display->text() != kHiddenEncryption) control<QLineEdit>("maskEdEncryption")->setText(display->text());
    display->setText(kHiddenEncryption);
}

void TFormWebsocketclientf::Button7Click()
{
    toolkit::FileDialogRequest request;
    request.parent = this;
    request.title = QStringLiteral("Save");
    request.fileName = QStringLiteral("setting.ini");
    request.filter = QStringLiteral("ini|*.ini");
    request.defaultSuffix = QStringLiteral("ini");
    const auto file = toolkit::userInteraction().saveFile(request);
    if (!file) return;
    CommitEncryptionNumber();
    SaveSettingsFile(*file);
}
