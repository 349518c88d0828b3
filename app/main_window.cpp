#include "main_window.h"

#include "device/bounded_log.h"
#include "device/camera_angle_panel.h"
#include "device/device_link.h"
#include "editor_layout.h"
#include "media/sd_card_tools.h"
#include "select_all_on_focus.h"
#include "settings/settings_document.h"
#include "settings_file_actions.h"
#include "toolkit/exception_display.h"

#include <QAbstractButton>
#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <optional>
#include <string_view>

namespace {

const QString kHiddenEncryption = QStringLiteral("####");
const QString kAppTitle = QStringLiteral("Brindle Configuration Tool");

struct BottomButton {
    const char* name;
    const char* caption;
};
constexpr BottomButton kBottomButtons[] = {
    {"Button1", "About"},  {"Button2", "Settings"}, {"Button4", "Initialize SD Card"},
    {"Button6", "Open"},   {"Button7", "Save"},     {"btnEjectSdCard", "Eject SD Card"},
};

std::optional<QString> openableFileOf(const QMimeData* mime)
{
    if (!mime || !mime->hasUrls()) return std::nullopt;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile() && TFormWebsocketclientf::isOpenable(url.toLocalFile())) return url.toLocalFile();
    return std::nullopt;
}

}  // namespace

TFormWebsocketclientf::TFormWebsocketclientf(settings::SettingsDocument& document, DeviceLink& link, int displayScale,
                                             QWidget* parent)
    : QMainWindow(parent), document_(document), link_(link), displayScale_(displayScale)
{
    setObjectName(QStringLiteral("FormWebsocketclientf"));
    buildWindow();
    buildMenu();
    buildFileShortcuts();

    pushTimer_ = new QTimer(this);
    pushTimer_->setSingleShot(true);
    pushTimer_->setInterval(0);
    connect(pushTimer_, &QTimer::timeout, this, [this] { pushEdits(); });
    watchEdits();

    connect(&document_, &settings::SettingsDocument::replaced, this, [this] { showDocument(); });
    connect(&document_, &settings::SettingsDocument::unitsChanged, this, [this] { showUnits(); });
    connect(&document_, &settings::SettingsDocument::stateChanged, this, [this] { updateTitle(); });

    cameraPanel_->applyDisplayScale(displayScale_);
    control<QWidget>("panelImage")->hide();
    Button5Click();
    showDocument();
    updateTitle();
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

    // The device-link log lives on the first page, hidden. The camera angle
    // panel is a tool window of its own, so opening it never reshapes the
    // editor; it hangs below the page so that the editor's fill finds its read-outs.
    QWidget* devicePage = PageControl1->widget(0);
    auto* deviceLayout = qobject_cast<QBoxLayout*>(devicePage->layout());
    auto* extras = new QVBoxLayout;
    cameraPanel_ = new CameraAnglePanel(this, devicePage);
    Memo1 = new QPlainTextEdit;
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->hide();
    extras->addWidget(Memo1);
    deviceLayout->addLayout(extras);
    control<QPushButton>("btnCameraImage")->hide();
    memo1Log_ = new BoundedLog(Memo1);
    connect(&link_, &DeviceLink::memoLine, memo1Log_, &BoundedLog::append);
    cameraPanel_->attach(&link_);
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
    sdCard_ = new media::SdCardTools(this, [this](const QString& line) { memo1Log_->append(line); }, this);
    connect(sdCard_, &media::SdCardTools::busyChanged, this, [this](bool busy) {
        for (const char* name : {"Button4", "btnEjectSdCard"}) control<QPushButton>(name)->setEnabled(!busy);
    });
    const std::pair<const char*, void (TFormWebsocketclientf::*)()> handlers[] = {
        {"Button4", &TFormWebsocketclientf::Button4Click}, {"btnEjectSdCard", &TFormWebsocketclientf::btnEjectSdCardClick},
        {"Button1", &TFormWebsocketclientf::Button1Click}, {"Button2", &TFormWebsocketclientf::Button2Click},
        {"Button5", &TFormWebsocketclientf::Button5Click}, {"Button6", &TFormWebsocketclientf::Button6Click},
        {"Button7", &TFormWebsocketclientf::Button7Click},
    };
    for (const auto& [name, handler] : handlers)
        toolkit::connectGuarded(control<QPushButton>(name), &QPushButton::clicked, this, [this, h = handler] { (this->*h)(); });

    binding_ = std::make_unique<EditorBinding>(PageControl1, displayScale_);
    binding_->installNumberInput();
    // What the user types into the visible encryption field replaces "####".
    selectAllOnFocus(control<QLineEdit>("maskEdEncryptionDisplay"));

    // Before anything fills the window, so the rules see every value arrive.
    rules_ = std::make_unique<editor_rules::EditorRules>(this, document_);
    rules_->bind();
}

void TFormWebsocketclientf::buildMenu()
{
    QMenu* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
    tools->setObjectName(QStringLiteral("menuTools"));
    QAction* drv = tools->addAction(QStringLiteral("DRV Viewer..."));
    drv->setObjectName(QStringLiteral("actionDrvViewer"));
    connect(drv, &QAction::triggered, this, &TFormWebsocketclientf::drvViewerRequested);

    QMenu* device = menuBar()->addMenu(QStringLiteral("&Device"));
    device->setObjectName(QStringLiteral("menuDevice"));
    const auto add = [&](const char* name, const char* caption) {
        QAction* a = device->addAction(QLatin1String(caption));
        a->setObjectName(QLatin1String(name));
        return a;
    };
    connect(add("actionConnectionConsole", "Connection Console..."), &QAction::triggered, this,
            &TFormWebsocketclientf::consoleRequested);
    toolkit::connectGuarded(add("actionCameraAngle", "Camera Angle Setting..."), &QAction::triggered, this,
                            [this] { cameraPanel_->btnCameraImageClick(); });
    connect(add("actionDownload", "Download Recorded Data..."), &QAction::triggered, this,
            &TFormWebsocketclientf::downloadRequested);
}

void TFormWebsocketclientf::buildFileShortcuts()
{
    auto* open = new QAction(QStringLiteral("Open..."), this);
    open->setObjectName(QStringLiteral("actionOpen"));
    open->setShortcut(QKeySequence::Open);
    auto* save = new QAction(QStringLiteral("Save..."), this);
    save->setObjectName(QStringLiteral("actionSave"));
    save->setShortcut(QKeySequence::Save);
    addAction(open);
    addAction(save);
    toolkit::connectGuarded(open, &QAction::triggered, this, [this] { Button6Click(); });
    toolkit::connectGuarded(save, &QAction::triggered, this, [this] { Button7Click(); });

    // A file dropped anywhere on the window opens, also over a text field, which
    // would otherwise insert the file's name.
    setAcceptDrops(true);
    installEventFilter(this);
    for (auto* w : findChildren<QWidget*>())
        if (w->acceptDrops()) w->installEventFilter(this);
}

void TFormWebsocketclientf::watchEdits()
{
    const auto schedule = [this] {
        if (!showing_) pushTimer_->start();
    };
    for (QWidget* w : binding_->controls()) {
        if (auto* e = qobject_cast<QLineEdit*>(w)) connect(e, &QLineEdit::textChanged, this, schedule);
        else if (auto* c = qobject_cast<QComboBox*>(w)) {
            connect(c, &QComboBox::currentIndexChanged, this, schedule);
            connect(c, &QComboBox::editTextChanged, this, schedule);
        } else if (auto* b = qobject_cast<QAbstractButton*>(w)) connect(b, &QAbstractButton::toggled, this, schedule);
        else if (auto* s = qobject_cast<QSlider*>(w)) connect(s, &QSlider::valueChanged, this, schedule);
        else if (auto* d = qobject_cast<QDateEdit*>(w)) connect(d, &QDateEdit::dateChanged, this, schedule);
    }
}

void TFormWebsocketclientf::showDocument()
{
    const std::vector<settings::Shown> shown = document_.shown();  // checked by the load: cannot fail half-way
    showing_ = true;
    binding_->show(shown);
    rules_->noteWifiSlotFilled();
    showing_ = false;
    pushTimer_->stop();
    // A fill shows some values in their canonical form ("030" as 30): that is what the file holds now.
    settings::SettingsValues values = document_.values();
    try {
        binding_->collect(values, document_.units());
        document_.settle(values);
    } catch (const std::exception&) {
        document_.setUnreadableEdit();
    }
}

void TFormWebsocketclientf::showUnits()
{
    // Only the family whose unit changed. Back in the unit the file carries, whole
    // numbers are padded as a conversion shows them; the value behind them is the
    // document's, unrounded.
    const settings::Units units = document_.units();
    const std::vector<settings::Shown> shown = document_.shown();
    showing_ = true;
    for (const settings::UnitField& f : settings::unitFields()) {
        const settings::Quantity q = f.display->quantity;
        if (units.of(q) == shownUnits_.of(q)) continue;
        settings::Shown s = shown[f.row];
        if (units.of(q) == settings::storedUnit(q)) s.text = settings::paddedWholeNumber(s.text);
        binding_->showUnitField(f, s, units);
    }
    showing_ = false;
    shownUnits_ = units;
    pushTimer_->stop();
}

void TFormWebsocketclientf::pushEdits()
{
    try {
        commitEdits();
    } catch (const std::exception&) {
        document_.setUnreadableEdit();  // a field holds no valid value: unsaved until it does
    }
}

void TFormWebsocketclientf::commitEdits()
{
    pushTimer_->stop();
    settings::SettingsValues values = document_.values();
    binding_->collect(values, document_.units());
    document_.setValues(values);
}

void TFormWebsocketclientf::updateTitle()
{
    // Qt puts the modified mark where "[*]" stands. A title that ends with the
    // program's name keeps the window manager from appending it a second time.
    const QString& path = document_.path();
    const bool modified = document_.isModified();
    QString title = kAppTitle;
    if (!path.isEmpty()) title = QFileInfo(path).fileName() + QStringLiteral("[*] - ") + kAppTitle;
    else if (modified) title = QStringLiteral("Unsaved settings[*] - ") + kAppTitle;
    if (isWindowModified() && !modified) setWindowModified(false);  // while the title still has its mark
    setWindowTitle(title);
    if (title.contains(QLatin1String("[*]"))) setWindowModified(modified);
}

void TFormWebsocketclientf::appendLog(const QString& line) { memo1Log_->append(line); }

void TFormWebsocketclientf::closeEvent(QCloseEvent* event)
{
    if (actions_ && !actions_->confirmClose()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

bool TFormWebsocketclientf::isOpenable(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("ini") || suffix == QLatin1String("drv");
}

void TFormWebsocketclientf::openDropped(const QString& path)
{
    if (QFileInfo(path).suffix().compare(QLatin1String("drv"), Qt::CaseInsensitive) == 0)
        emit drvFileOpenRequested(path);
    else if (actions_)
        actions_->openFile(path);
}

bool TFormWebsocketclientf::eventFilter(QObject* watched, QEvent* event)
{
    const auto type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return QMainWindow::eventFilter(watched, event);
    auto* drag = static_cast<QDropEvent*>(event);  // QDragEnterEvent and QDragMoveEvent derive from it
    const auto file = openableFileOf(drag->mimeData());
    if (!file) {
        // The fields keep taking dropped text; the window itself takes nothing else.
        if (watched != this) return false;
        drag->ignore();
        return true;
    }
    drag->acceptProposedAction();
    if (type == QEvent::Drop) {
        // After the drop returns, so the dragging application is not kept waiting on a message box.
        QTimer::singleShot(0, this, [this, path = *file] { toolkit::runGuarded([&] { openDropped(path); }, this); });
    }
    return true;
}

void TFormWebsocketclientf::Button4Click() { sdCard_->initializeSdCard(); }
void TFormWebsocketclientf::btnEjectSdCardClick() { sdCard_->ejectSdCard(); }

void TFormWebsocketclientf::Button5Click()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QString stamp = now.toString(QStringLiteral("yyyyMMddHHmmss"));
    control<QDateEdit>("DateTimePicker1")->setDate(now.date());
    setComboText(control<QComboBox>("cbTimeManualHour"), stamp.mid(8, 2));
    setComboText(control<QComboBox>("cbTimeManualMin"), stamp.mid(10, 2));
    setComboText(control<QComboBox>("cbTimeManualSec"), stamp.mid(12, 2));
}

void TFormWebsocketclientf::Button6Click()
{
    if (actions_) actions_->open();
}

void TFormWebsocketclientf::Button7Click()
{
    if (actions_) actions_->save();
}

void TFormWebsocketclientf::commitEncryptionNumber()
{
    auto* display = control<QLineEdit>("maskEdEncryptionDisplay");
    if (display->text() != kHiddenEncryption) control<QLineEdit>("maskEdEncryption")->setText(display->text());
    display->setText(kHiddenEncryption);
}

void TFormWebsocketclientf::resetEncryptionDisplay() { control<QLineEdit>("maskEdEncryptionDisplay")->setText(kHiddenEncryption); }

void TFormWebsocketclientf::Button1Click() { emit aboutRequested(); }
void TFormWebsocketclientf::Button2Click() { emit preferencesRequested(); }
