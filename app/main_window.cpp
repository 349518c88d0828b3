#include "main_window.h"

#include "device/camera_angle_panel.h"
#include "device/device_link.h"
#include "drv/drv_viewer.h"
#include "editor_document.h"
#include "editor_layout.h"
#include "form_about.h"
#include "form_settings.h"
#include "media/sd_card_tools.h"
#include "select_all_on_focus.h"
#include "settings/number_fields.h"
#include "settings/settings_file.h"
#include "toolkit/display_scale.h"
#include "toolkit/exception_display.h"
#include "toolkit/exceptions.h"
#include "toolkit/user_interaction.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QFile>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <exception>
#include <string_view>
#include <vector>

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

void showWindow(QWidget* window)
{
    if (!window) return;
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace

TFormWebsocketclientf::TFormWebsocketclientf(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("FormWebsocketclientf"));
    setWindowTitle(QStringLiteral("Brindle Configuration Tool"));
    buildWindow();
    document_ = new EditorDocument(this);
    FormCreate();
    if (document_->path().isEmpty()) document_->setClean({});
}

TFormWebsocketclientf::~TFormWebsocketclientf() = default;  // the link closes an open connection

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
    deviceLink_ = std::make_unique<DeviceLink>(this, device::makeWebSocketConnection());
    deviceLink_->setSettingsLoader([this](const QString& path) { LoadSettingsFile(path); });
    connect(deviceLink_.get(), &DeviceLink::memoLine, Memo1, &QPlainTextEdit::appendPlainText);
    cameraPanel_->attach(deviceLink_.get());
    toolkit::connectGuarded(control<QPushButton>("btnCameraImage"), &QPushButton::clicked, this,
                            [this] { cameraPanel_->btnCameraImageClick(); });

    auto* buttons = new QHBoxLayout;
    for (const BottomButton& b : kBottomButtons) {
        auto* button = new QPushButton(QLatin1String(b.caption));
        button->setObjectName(QLatin1String(b.name));
        buttons->addWidget(button);
        if (b.name == std::string_view("Button6")) buttons->addStretch(1);
    }
    layout->addLayout(buttons);

    // Both SD card buttons rest while either one's work is under way.
    sdCard_ = new media::SdCardTools(this, [this](const QString& line) { Memo1->appendPlainText(line); }, this);
    connect(sdCard_, &media::SdCardTools::busyChanged, this, [this](bool busy) {
        for (const char* name : {"Button4", "btnEjectSdCard"}) control<QPushButton>(name)->setEnabled(!busy);
    });
    toolkit::connectGuarded(control<QPushButton>("Button4"), &QPushButton::clicked, this, [this] { Button4Click(); });
    toolkit::connectGuarded(control<QPushButton>("btnEjectSdCard"), &QPushButton::clicked, this,
                            [this] { btnEjectSdCardClick(); });

    toolkit::connectGuarded(control<QPushButton>("Button1"), &QPushButton::clicked, this, [this] { Button1Click(); });
    toolkit::connectGuarded(control<QPushButton>("Button2"), &QPushButton::clicked, this, [this] { Button2Click(); });

    toolkit::connectGuarded(control<QPushButton>("Button5"), &QPushButton::clicked, this, [this] { Button5Click(); });
    toolkit::connectGuarded(control<QPushButton>("Button6"), &QPushButton::clicked, this, [this] { Button6Click(); });
    toolkit::connectGuarded(control<QPushButton>("Button7"), &QPushButton::clicked, this, [this] { Button7Click(); });

    settings::installNumberInput(PageControl1);
    // What the user types into the visible encryption field replaces "####".
    selectAllOnFocus(control<QLineEdit>("maskEdEncryptionDisplay"));

    // Before anything fills the window, so the rules see every value arrive.
    rules_.bind();
    buildMenu();
}

void TFormWebsocketclientf::buildMenu()
{
    QMenu* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
    tools->setObjectName(QStringLiteral("menuTools"));
    QAction* drv = tools->addAction(QStringLiteral("DRV Viewer..."));
    drv->setObjectName(QStringLiteral("actionDrvViewer"));
    toolkit::connectGuarded(drv, &QAction::triggered, this, [this] { showDrvViewer(); });

    QMenu* device = menuBar()->addMenu(QStringLiteral("&Device"));
    device->setObjectName(QStringLiteral("menuDevice"));
    const std::pair<const char*, const char*> actions[] = {{"actionConnectionConsole", "Connection Console..."},
                                                           {"actionCameraAngle", "Camera Angle Setting..."},
                                                           {"actionDownload", "Download Recorded Data..."}};
    for (const auto& [name, caption] : actions) device->addAction(QLatin1String(caption))->setObjectName(QLatin1String(name));
    const auto triggered = [&](const char* name, auto handler) {
        toolkit::connectGuarded(device->findChild<QAction*>(QLatin1String(name)), &QAction::triggered, this, handler);
    };
    triggered("actionConnectionConsole", [this] { showWindow(formWebsocket); });
    triggered("actionCameraAngle", [this] { cameraPanel_->btnCameraImageClick(); });
    triggered("actionDownload", [this] { showWindow(formDownload); });
}

void TFormWebsocketclientf::Button4Click() { sdCard_->initializeSdCard(); }
void TFormWebsocketclientf::btnEjectSdCardClick() { sdCard_->ejectSdCard(); }

void TFormWebsocketclientf::setAboutBox(TformAbout* about) { formAbout = about; }
void TFormWebsocketclientf::setPreferencesDialog(TformSettings* preferences) { formSettings = preferences; }
void TFormWebsocketclientf::setDrvViewer(QWidget* viewer) { formDrvViewer = viewer; }

void TFormWebsocketclientf::showDrvViewer() { showWindow(formDrvViewer); }

QWidget* TFormWebsocketclientf::buildCameraAnglePanel()
{
    cameraPanel_ = new CameraAnglePanel(this);
    return cameraPanel_;
}

void TFormWebsocketclientf::FormCreate()
{
    gDisplayScale = toolkit::screenDisplayScale();
    cameraPanel_->applyDisplayScale(gDisplayScale);
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

void TFormWebsocketclientf::FillWindowFromValues()
{
    rowsFilled_ = 0;
    try {
        settings::fillWindowFromValues(editor(), values_, &rowsFilled_);
    } catch (...) {
        rules_.noteWifiSlotFilled();
        throw;
    }
    rules_.noteWifiSlotFilled();
}

settings::DisplayUnit TFormWebsocketclientf::shownUnitOf(settings::Quantity quantity) const
{
    return quantity == settings::Quantity::Speed ? speedUnit_ : lengthUnit_;
}

QString TFormWebsocketclientf::keyOfField(const char* field) const
{
    if (const auto row = settings::bindingRowOf(field)) {
        const settings::ControlBinding& b = settings::controlBindings()[*row];
        if (b.binding == settings::Binding::Text) return QLatin1String(b.key);
    }
    throw toolkit::EArgumentException(QStringLiteral("No settings key shows in %1").arg(QLatin1String(field)));
}

void TFormWebsocketclientf::CollectValuesFromWindow() { collectInto(values_); }

void TFormWebsocketclientf::collectInto(settings::SettingsValues& values) const
{
    // Files carry cm, cm/sec and km/h whatever the window shows. Each field is taken
    // back from the unit its number is in; converted first, so a field that holds no
    // number stops the collect before anything changes.
    std::vector<std::pair<QString, QString>> stored;
    const auto fields = settings::unitFields();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const settings::UnitField& f = fields[i];
        const settings::DisplayUnit file = settings::storedUnit(f.quantity);
        if (fieldUnits_[i] == file) continue;
        stored.emplace_back(keyOfField(f.field),
                            settings::convertToStoredText(control<QLineEdit>(f.field)->text(),
                                                          settings::conversionInto(file, f.quantity)));
    }
    std::size_t rowsCollected = 0;
    try {
        settings::collectValuesFromWindow(editor(), values, &rowsCollected);
    } catch (const toolkit::EConvertError& e) {
        throw toolkit::EConvertError(settings::keyContextMessage(
            QLatin1String(settings::controlBindings()[rowsCollected].key), {}, e.message()));
    }
    for (const auto& [key, text] : stored) values.set(key, text);
    settings::trimNumberValues(values);
}

void TFormWebsocketclientf::ShowFieldsIn(settings::DisplayUnit unit)
{
    (settings::isLengthUnit(unit) ? lengthUnit_ : speedUnit_) = unit;
    const auto fields = settings::unitFields();
    for (const settings::UnitField& f : fields)
        if (settings::governs(unit, f.quantity)) control<QLabel>(f.label)->setText(settings::captionIn(f, unit));
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const settings::UnitField& f = fields[i];
        // A field already in this unit (left so by a conversion that stopped) is not converted twice.
        if (!settings::governs(unit, f.quantity) || fieldUnits_[i] == unit) continue;
        auto* field = control<QLineEdit>(f.field);
        try {
            field->setText(settings::convertShownText(field->text(), settings::conversionInto(unit, f.quantity)));
        } catch (...) {
            // Its label names the new unit now, so that is what the user will type there.
            fieldUnits_[i] = unit;
            throw;
        }
        fieldUnits_[i] = unit;
    }
}

void TFormWebsocketclientf::convertFreshFieldsToShownUnits(bool fillCompleted)
{
    // The fields the fill reached hold the file's numbers, in the file's units.
    std::exception_ptr firstError;
    const auto fields = settings::unitFields();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const settings::UnitField& f = fields[i];
        const auto row = settings::bindingRowOf(f.field);
        if (!row || *row >= rowsFilled_) continue;
        fieldUnits_[i] = settings::storedUnit(f.quantity);
        const settings::DisplayUnit shown = shownUnitOf(f.quantity);
        if (shown == fieldUnits_[i]) continue;
        auto* field = control<QLineEdit>(f.field);
        try {
            field->setText(settings::convertShownText(field->text(), settings::conversionInto(shown, f.quantity)));
            fieldUnits_[i] = shown;
        } catch (...) {
            if (!firstError) firstError = std::current_exception();
        }
    }
    if (firstError && fillCompleted) std::rethrow_exception(firstError);
}

void TFormWebsocketclientf::WriteSettingsFile(const QString& path) { settings::writeSettingsFile(path, values_); }

void TFormWebsocketclientf::LoadSettingsFile(const QString& path)
{
    settings::LoadReport report = settings::inspectSettingsFile(path);  // refuses before anything changes
    ReadSettingsFile(path);
    try {
        FillWindowFromValues();
    } catch (const toolkit::EConvertError& e) {
        convertFreshFieldsToShownUnits(false);  // the fill's own error is the one to show
        throw toolkit::EConvertError(settings::keyContextMessage(
            QLatin1String(settings::controlBindings()[rowsFilled_].key), path, e.message()));
    } catch (...) {
        convertFreshFieldsToShownUnits(false);
        throw;
    }
    convertFreshFieldsToShownUnits(true);
    lastLoad_ = std::move(report);
    if (document_) document_->setClean(path);
}

void TFormWebsocketclientf::openSettingsFile(const QString& path)
{
    LoadSettingsFile(path);
    control<QLineEdit>("maskEdEncryptionDisplay")->setText(kHiddenEncryption);
    document_->setClean(path);
    if (const QString notice = settings::missingKeysNotice(lastLoad_); !notice.isEmpty())
        toolkit::userInteraction().notice(this, notice, settings::missingKeysDetails(lastLoad_));
}

bool TFormWebsocketclientf::SaveSettingsFileChecked(const QString& path)
{
    CollectValuesFromWindow();
    if (const QStringList problems = settings::problemsBeforeSave(values_); !problems.isEmpty()) {
        const QString text = QStringLiteral("These values are not what the recorder expects:\n\n%1\n\n"
                                            "Go back and correct them, or save anyway?")
                                 .arg(problems.join(u'\n'));
        const int answer = toolkit::userInteraction().choose(
            this, text, QStringLiteral("Save"), {QStringLiteral("Go Back"), QStringLiteral("Save Anyway")});
        if (answer != 1) return false;
    }
    WriteSettingsFile(path);
    return true;
}

void TFormWebsocketclientf::openDrvFile(const QString& path)
{
    auto* viewer = qobject_cast<TformDrvViewer*>(formDrvViewer.data());
    if (!viewer) return;
    showDrvViewer();
    viewer->openFile(path);
}

void TFormWebsocketclientf::closeEvent(QCloseEvent* event)
{
    if (document_ && !document_->confirmClose()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
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
    request.directory = document_->dialogFolder();
    const auto file = toolkit::userInteraction().openFile(request);
    if (!file) return;
    openSettingsFile(*file);
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
    request.fileName = document_->proposedSaveName();
    request.filter = QStringLiteral("ini|*.ini");
    request.defaultSuffix = QStringLiteral("ini");
    request.directory = document_->dialogFolder();
    const auto file = toolkit::userInteraction().saveFile(request);
    if (!file) return;
    CommitEncryptionNumber();
    if (SaveSettingsFileChecked(*file)) document_->setClean(*file);
}

void TFormWebsocketclientf::Button1Click()
{
    if (!formAbout) return;
    formAbout->showFrom(this);
}

void TFormWebsocketclientf::Button2Click()
{
    if (!formSettings) return;
    formSettings->showFrom(this);
}
