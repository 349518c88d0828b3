#include "device/form_websocket.h"

#include "device/bounded_log.h"
#include "device/device_link.h"
#include "device/device_message.h"
#include "settings_file_actions.h"
#include "show_window.h"
#include "toolkit/exception_display.h"
#include "toolkit/exceptions.h"

#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The recorder's own access point hands out this private network.
const QString kDefaultUrl = QStringLiteral("ws://192.168.1.1:5000");
const QString kDefaultId = QStringLiteral("installer");
const QString kDefaultPassword = QStringLiteral("0000");
const QString kNotSupported = QStringLiteral("Not supported: the recorder protocol has no command for this.");

enum class Button { Unsupported, Always, Connected };
struct ButtonRow {
    const char* name;
    const char* caption;
    Button kind;
};
// In the console's order; the unsupported ones are shown, disabled, and the
// requests to the recorder only while connected.
constexpr ButtonRow kButtons[] = {
    {"bConnect", "&Connect", Button::Always},
    {"bDisconnect", "&Disconnect", Button::Always},
    {"btnSessionRequest", "Session Request", Button::Connected},
    {"btnDownRequestSetting", "Download Request-Setting", Button::Connected},
    {"Button1", "Upload Setting", Button::Connected},
    {"Button8", "Reboot Device", Button::Unsupported},
    {"Button11", "G-Sensor Init Request", Button::Connected},
    {"Button4", "Upload Main Firmware", Button::Unsupported},
    {"Button12", "Upload MCU Firmware", Button::Unsupported},
    {"Button13", "Default Setting", Button::Unsupported},
    {"Button16", "MMV/DVR/LOG", Button::Always},
    {"bEcho", "Converter (MMV -> MP4)", Button::Unsupported},
    {"btnIniSave", "Save (Configuration -> ini File)", Button::Always},
    {"btnIniLoad", "ini File -> Configuration", Button::Always},
    {"Button14", "DRV Viewer", Button::Always},
};
const char* const kSessionLabels[] = {"lbMainApFileName", "lbMCUFileName", "lbDeviceId"};

QLabel* named(const char* name, const QString& text)
{
    auto* label = new QLabel(text);
    label->setObjectName(QLatin1String(name));
    return label;
}

}  // namespace

TformWebsocket::TformWebsocket(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("formWebsocket"));
    setWindowTitle(QStringLiteral("W-Fi Configuration"));
    auto* layout = new QVBoxLayout(this);

    auto* fields = new QGridLayout;
    const struct {
        const char* caption;
        const char* name;
        QString value;
    } edits[] = {{"URL", "txtServer", kDefaultUrl}, {"ID", "edId", kDefaultId}, {"PS", "edPassword", kDefaultPassword}};
    int row = 0;
    for (const auto& e : edits) {
        auto* edit = new QLineEdit(e.value);
        edit->setObjectName(QLatin1String(e.name));
        fields->addWidget(new QLabel(QLatin1String(e.caption)), row, 0);
        fields->addWidget(edit, row++, 1);
    }
    layout->addLayout(fields);
    txtServer = control<QLineEdit>("txtServer");
    edId = control<QLineEdit>("edId");
    edPassword = control<QLineEdit>("edPassword");
    edPassword->setEchoMode(QLineEdit::Password);

    auto* buttons = new QGridLayout;
    int index = 0;
    for (const ButtonRow& b : kButtons) {
        auto* button = new QPushButton(QLatin1String(b.caption));
        button->setObjectName(QLatin1String(b.name));
        if (b.kind == Button::Unsupported) {
            button->setEnabled(false);
            button->setToolTip(kNotSupported);
        }
        buttons->addWidget(button, index / 3, index % 3);
        ++index;
    }
    layout->addLayout(buttons);

    auto* checks = new QHBoxLayout;
    for (const auto& [name, caption] : {std::pair{"cbServer", "Server"}, std::pair{"cbMp4Merge", "MP4 Merge"},
                                        std::pair{"cbMmvMerge", "MMV Merge"}}) {
        auto* box = new QCheckBox(QLatin1String(caption));
        box->setObjectName(QLatin1String(name));
        box->setEnabled(false);
        box->setToolTip(kNotSupported);
        checks->addWidget(box);
    }
    layout->addLayout(checks);

    auto* info = new QGridLayout;
    const struct {
        const char* caption;
        const char* name;
        const char* value;
    } labels[] = {{"Status:", "lblStatus", "Not Connected"},
                  {"Data received from the server:", "lbGetDataLength", "0"},
                  {"Main AP:", "lbMainApFileName", "None"},
                  {"MCU:", "lbMCUFileName", "None"},
                  {"Device ID:", "lbDeviceId", "None"}};
    row = 0;
    for (const auto& l : labels) {
        info->addWidget(new QLabel(QLatin1String(l.caption)), row, 0);
        info->addWidget(named(l.name, QLatin1String(l.value)), row++, 1);
    }
    layout->addLayout(info);
    lblStatus = control<QLabel>("lblStatus");
    lblStatus->setWordWrap(true);

    for (const char* name : {"txtReceived", "memoMessage"}) {
        auto* memo = new QPlainTextEdit;
        memo->setObjectName(QLatin1String(name));
        memo->setReadOnly(true);
        layout->addWidget(memo, 1);
    }
    memoMessage = control<QPlainTextEdit>("memoMessage");
    receivedLog_ = new BoundedLog(control<QPlainTextEdit>("txtReceived"));
    messageLog_ = new BoundedLog(memoMessage);
    auto* bar = new QProgressBar;
    bar->setObjectName(QStringLiteral("barFile"));
    bar->hide();
    layout->addWidget(bar);
    control<QPushButton>("bDisconnect")->setEnabled(false);
    enableRequests(false);
    resize(560, 620);

    const std::pair<const char*, void (TformWebsocket::*)()> handlers[] = {
        {"bConnect", &TformWebsocket::bConnectClick},
        {"bDisconnect", &TformWebsocket::bDisconnectClick},
        {"btnSessionRequest", &TformWebsocket::btnSessionRequestClick},
        {"btnDownRequestSetting", &TformWebsocket::btnDownRequestSettingClick},
        {"Button1", &TformWebsocket::Button1Click},
        {"Button11", &TformWebsocket::Button11Click},
        {"Button16", &TformWebsocket::Button16Click},
        {"Button14", &TformWebsocket::Button14Click},
        {"btnIniSave", &TformWebsocket::btnIniSaveClick},
        {"btnIniLoad", &TformWebsocket::btnIniLoadClick},
    };
    for (const auto& [name, handler] : handlers)
        toolkit::connectGuarded(control<QPushButton>(name), &QPushButton::clicked, this, [this, h = handler] { (this->*h)(); });
}

void TformWebsocket::attach(DeviceLink* link, SettingsFileActions* files, QWidget* downloadDialog, QWidget* drvViewer)
{
    files_ = files;
    drvViewer_ = drvViewer;
    if (files) connect(files, &SettingsFileActions::logLine, this, &TformWebsocket::message);
    link_ = link;
    download_ = downloadDialog;
    connect(link, &DeviceLink::connectionChanged, this, &TformWebsocket::showConnection);
    // Told on every data event: the label is looked up once, not among all the children each time.
    connect(link, &DeviceLink::receivedBytes, this,
            [received = control<QLabel>("lbGetDataLength")](qint64 total) { received->setText(QString::number(total)); });
    connect(link, &DeviceLink::memoLine, receivedLog_, &BoundedLog::append);
    connect(link, &DeviceLink::serverCertificateAccepted, this, &TformWebsocket::message);
    connect(link, &DeviceLink::sessionStored, this, &TformWebsocket::showSession);
    if (!link->hasConnection()) {
        control<QPushButton>("bConnect")->setEnabled(false);
        lblStatus->setText(QStringLiteral("Not Connected (this build has no WebSocket engine)"));
    }
}

void TformWebsocket::message(const QString& line) { messageLog_->append(line); }

void TformWebsocket::enableRequests(bool connected)
{
    for (const ButtonRow& b : kButtons)
        if (b.kind == Button::Connected) control<QPushButton>(b.name)->setEnabled(connected);
}

void TformWebsocket::showConnection(bool connected, const QString& text)
{
    lblStatus->setText(device::printableText(text));
    message(text);
    control<QPushButton>("bConnect")->setEnabled(!connected);
    control<QPushButton>("bDisconnect")->setEnabled(connected);
    enableRequests(connected);
    if (connected) {
        message(QStringLiteral("Downloads are saved in the folders DRV, MMV and SystemLog in %1.")
                    .arg(QDir::toNativeSeparators(link_->dataFolderBase())));
    } else {
        // Device id and firmware were those of the recorder just left.
        for (const char* name : kSessionLabels) control<QLabel>(name)->setText(QStringLiteral("None"));
    }
}

void TformWebsocket::showSession(const device::SessionRecord& record)
{
    const QString texts[] = {record.first, record.second, record.third};
    for (int i = 0; i < 3; ++i) control<QLabel>(kSessionLabels[i])->setText(device::printableText(texts[i]));
}

void TformWebsocket::bConnectClick()
{
    if (!link_) return;
    const QString url = txtServer->text().trimmed();
    lblStatus->setText(QStringLiteral("Connecting to %1 ...").arg(url));
    control<QPushButton>("bConnect")->setEnabled(false);
    control<QPushButton>("bDisconnect")->setEnabled(true);  // abandons the attempt
    try {
        link_->connectTo(url);
    } catch (const std::exception&) {
        // The link has told the reason (status label and memo); no box on top of it.
    }
}

void TformWebsocket::bDisconnectClick()
{
    if (link_) link_->disconnectFromRecorder();
}

void TformWebsocket::btnSessionRequestClick()
{
    if (link_) link_->sendIfConnected(device::sessionRequest(edId->text(), edPassword->text()));
}

void TformWebsocket::btnDownRequestSettingClick()
{
    if (link_) link_->sendIfConnected(device::settingsRequest());
}

void TformWebsocket::Button1Click()
{
    if (!files_ || !link_ || !link_->isConnected()) return;
    if (const auto bytes = files_->currentFileBytes()) link_->sendIfConnected(device::settingsUpload(*bytes));
}

void TformWebsocket::Button11Click()
{
    if (link_) link_->requestGSensorInit();
}

void TformWebsocket::Button16Click()
{
    showWindow(download_);
}

void TformWebsocket::Button14Click()
{
    showWindow(drvViewer_);
}

void TformWebsocket::btnIniSaveClick()
{
    if (files_) files_->save();
}

void TformWebsocket::btnIniLoadClick()
{
    if (files_) files_->open();
}
