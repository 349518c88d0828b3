#include "form_settings.h"

#include "form_show_text.h"
#include "settings/settings_document.h"
#include "settings_file_actions.h"
#include "toolkit/exception_display.h"
#include "toolkit/user_interaction.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTimer>

namespace {

QRadioButton* radio(QGroupBox* group, const char* name, const char* caption, QRect geometry)
{
    auto* button = new QRadioButton(QLatin1String(caption), group);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(geometry);
    return button;
}

QPushButton* button(QWidget* parent, const char* name, const char* caption, QRect geometry)
{
    auto* b = new QPushButton(QLatin1String(caption), parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(geometry);
    return b;
}

}  // namespace

TformSettings::TformSettings(settings::SettingsDocument& document, SettingsFileActions& files)
    : TformToolDialog(QStringLiteral("formSettings"), QStringLiteral("Settings"), {344, 233}),
      document_(document),
      files_(files)
{
    auto* languageLabel = new QLabel(QStringLiteral("Language"), this);
    languageLabel->setGeometry(16, 14, 80, 22);
    auto* language = new QComboBox(this);
    language->setObjectName(QStringLiteral("cbLanguage"));
    language->addItem(QStringLiteral("English"));
    language->setGeometry(104, 12, 224, 24);
    languageLabel->setBuddy(language);

    auto* measurements = new QGroupBox(QStringLiteral(" Measurements "), this);
    measurements->setGeometry(16, 46, 150, 56);
    auto* cm = radio(measurements, "rbSettingsCm", "cm", {12, 24, 60, 22});
    auto* inch = radio(measurements, "rbSettingsInch", "inch", {78, 24, 64, 22});
    auto* speed = new QGroupBox(QStringLiteral(" Speed "), this);
    speed->setGeometry(178, 46, 150, 56);
    auto* km = radio(speed, "rbSettingsKm", "km/h", {12, 24, 60, 22});
    auto* mph = radio(speed, "rbSettingsMph", "mph", {78, 24, 64, 22});
    cm->setChecked(true);
    km->setChecked(true);

    auto* saveDefault = button(this, "Button1", "Save Current Settings as Default", {16, 114, 312, 30});
    auto* showText = button(this, "Button4", "Show Text", {16, 150, 312, 30});
    auto* ok = button(this, "btnOk", "OK", {148, 194, 86, 28});
    auto* cancel = button(this, "btnCancel", "Cancel", {242, 194, 86, 28});
    ok->setDefault(true);

    // Each group is exclusive, so a button becomes checked only from unchecked,
    // and clicking the checked one emits nothing: the conversion never runs twice.
    // A change the document refuses (a field holds no number) leaves the buttons on the units it shows.
    auto onChecked = [this](QRadioButton* b, void (TformSettings::*handler)()) {
        toolkit::connectGuarded(b, &QRadioButton::toggled, this, [this, handler](bool checked) {
            if (!checked) return;
            try {
                (this->*handler)();
            } catch (...) {
                QTimer::singleShot(0, this, [this] { showDocumentUnits(); });
                throw;
            }
        });
    };
    onChecked(cm, &TformSettings::rbSettingsCmClick);
    onChecked(inch, &TformSettings::rbSettingsInchClick);
    onChecked(km, &TformSettings::rbSettingsKmClick);
    onChecked(mph, &TformSettings::rbSettingsMphClick);
    toolkit::connectGuarded(saveDefault, &QPushButton::clicked, this, [this] { Button1Click(); });
    toolkit::connectGuarded(showText, &QPushButton::clicked, this, [this] { Button4Click(); });
    toolkit::connectGuarded(ok, &QPushButton::clicked, this, [this] { btnOkClick(); });
    toolkit::connectGuarded(cancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
}

void TformSettings::showEvent(QShowEvent* event)
{
    TformToolDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TformSettings::FormShow()
{
    savedCm_ = control<QRadioButton>("rbSettingsCm")->isChecked();
    savedKm_ = control<QRadioButton>("rbSettingsKm")->isChecked();
}

void TformSettings::rbSettingsCmClick() { files_.showUnit(settings::DisplayUnit::Cm); }
void TformSettings::rbSettingsInchClick() { files_.showUnit(settings::DisplayUnit::Inch); }
void TformSettings::rbSettingsKmClick() { files_.showUnit(settings::DisplayUnit::KmH); }
void TformSettings::rbSettingsMphClick() { files_.showUnit(settings::DisplayUnit::Mph); }

void TformSettings::showDocumentUnits()
{
    const settings::Units& units = document_.units();
    for (auto [name, checked] : {std::pair{"rbSettingsCm", units.length == settings::DisplayUnit::Cm},
                                 std::pair{"rbSettingsInch", units.length == settings::DisplayUnit::Inch},
                                 std::pair{"rbSettingsKm", units.speed == settings::DisplayUnit::KmH},
                                 std::pair{"rbSettingsMph", units.speed == settings::DisplayUnit::Mph}}) {
        auto* button = control<QRadioButton>(name);
        const QSignalBlocker quiet(button);
        button->setChecked(checked);
    }
}

void TformSettings::btnOkClick() { close(); }

void TformSettings::btnCancelClick()
{
    // Checking a button runs its conversion, which brings the fields back.
    control<QRadioButton>(savedCm_ ? "rbSettingsCm" : "rbSettingsInch")->setChecked(true);
    control<QRadioButton>(savedKm_ ? "rbSettingsKm" : "rbSettingsMph")->setChecked(true);
    close();
}

void TformSettings::Button1Click()
{
    const QString defaults = QStringLiteral("./setting.ini");
    if (!files_.saveAsDefault()) return;
    // Where it went: the working folder is not always the folder the user thinks of.
    toolkit::userInteraction().information(
        this, QStringLiteral("Saved Current Settings as Default.\n%1").arg(QDir::cleanPath(QFileInfo(defaults).absoluteFilePath())));
}

void TformSettings::Button4Click()
{
    if (!textView_) return;
    // The user may have moved this dialog; the text view still opens over the editor.
    textView_->showFrom(this, opener());
}
