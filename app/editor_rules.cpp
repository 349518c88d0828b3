#include "editor_rules.h"

#include "settings/binding_codecs.h"
#include "editor_binding.h"
#include "settings/settings_document.h"
#include "settings/settings_schema.h"
#include "toolkit/exception_display.h"
#include "toolkit/exceptions.h"
#include "toolkit/number_text.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>

#include <vector>

namespace editor_rules {

namespace {

std::vector<TriggerRow> triggerRowsFromSchema()
{
    std::vector<TriggerRow> rows;
    for (const settings::SettingKey& k : settings::settingsSchema())
        if (k.codec == settings::Codec::ImageUpload) rows.push_back({k.controls[0], k.controls[1], k.controls[2]});
    return rows;
}

const QStringList kAllFrameRates = {QStringLiteral("1"),  QStringLiteral("5"),  QStringLiteral("10"),
                                    QStringLiteral("15"), QStringLiteral("20"), QStringLiteral("25"),
                                    QStringLiteral("30")};

}  // namespace

std::span<const TriggerRow> serverTriggerRows()
{
    static const std::vector<TriggerRow> rows = triggerRowsFromSchema();
    return rows;
}

QStringList frameRatesOffered(int videoQualityIndex)
{
    return settings::is1080pQuality(videoQualityIndex) ? kAllFrameRates.mid(0, 4) : kAllFrameRates;
}

QString frameRateKept(int videoQualityIndex, int framesPerSecond)
{
    // The same cap a fill applies to a loaded frame rate.
    return settings::frameRateText(videoQualityIndex, QString::number(framesPerSecond));
}

EditorRules::EditorRules(QWidget* window, settings::SettingsDocument& document) : window_(window), document_(document) {}

template <class W>
W* EditorRules::control(const char* name) const
{
    auto* w = window_->findChild<W*>(QLatin1String(name));
    if (!w)
        throw toolkit::EArgumentException(QStringLiteral("The editor has no control %1").arg(QLatin1String(name)));
    return w;
}

void EditorRules::bind()
{
    shownWifiSlot_ = settings::wifiSlotOf(control<QComboBox>("cbWifiSelected")->currentText());

    // Position changes by the user and by a fill alike.
    toolkit::connectGuarded(control<QSlider>("tbRecordRatio"), &QSlider::valueChanged, window_,
                            [this] { tbRecordRatioChange(); });

    // toggled, not clicked: a fill that ticks or unticks a box must run the rule as well.
    toolkit::connectGuarded(control<QAbstractButton>("rbGsensorPreset"), &QAbstractButton::toggled, window_,
                            [this] { rbGsensorPresetClick(); });
    toolkit::connectGuarded(control<QAbstractButton>("rbGsensorCustom"), &QAbstractButton::toggled, window_,
                            [this] { rbGsensorCustomClick(); });
    for (const TriggerRow& row : serverTriggerRows()) {
        auto* box = control<QAbstractButton>(row.trigger);
        toolkit::connectGuarded(box, &QAbstractButton::toggled, window_,
                                [this, box] { checkBoxServerTriggerClick(box); });
    }

    // User changes only: a fill does its own slot lookup and FPS cap. A pick from
    // the list arrives as activated; typing in the selector's edit arrives as
    // textEdited, key by key, which never fires for text the program sets. Since
    // the change stores the fields into the slot shown before it shows another,
    // the half-typed texts in between ("1" on the way to "10") lose nothing.
    auto* selector = control<QComboBox>("cbWifiSelected");
    toolkit::connectGuarded(selector, &QComboBox::activated, window_, [this] { cbWifiSelectedChange(); });
    if (selector->lineEdit())
        toolkit::connectGuarded(selector->lineEdit(), &QLineEdit::textEdited, window_,
                                [this] { cbWifiSelectedChange(); });
    toolkit::connectGuarded(control<QComboBox>("cbVideoQuality"), &QComboBox::activated, window_,
                            [this] { cbVideoQualityChange(); });
}

void EditorRules::tbRecordRatioChange()
{
    const int position = control<QSlider>("tbRecordRatio")->value();
    control<QLabel>("lbContinuousRatio")->setText(QString::number(position));
    control<QLabel>("lbEventRatio")->setText(QString::number(100 - position));
}

namespace {

// The buttons are not auto-exclusive, so the pair keeps exactly one checked itself.
void keepOneOfTwo(QAbstractButton* changed, QAbstractButton* other) { other->setChecked(!changed->isChecked()); }

}  // namespace

void EditorRules::rbGsensorPresetClick()
{
    keepOneOfTwo(control<QAbstractButton>("rbGsensorPreset"), control<QAbstractButton>("rbGsensorCustom"));
}

void EditorRules::rbGsensorCustomClick()
{
    keepOneOfTwo(control<QAbstractButton>("rbGsensorCustom"), control<QAbstractButton>("rbGsensorPreset"));
}

void EditorRules::cbWifiSelectedChange()
{
    const QString selected = control<QComboBox>("cbWifiSelected")->currentText();
    auto* ssid = control<QLineEdit>("maskEdWifiSsid");
    auto* password = control<QLineEdit>("maskEdWifiPassword");

    // What was typed for the slot on screen goes back into that slot before the fields show another.
    if (shownWifiSlot_) {
        document_.setValue(settings::wifiSsidKey(shownWifiSlot_), ssid->text());
        document_.setValue(settings::wifiPasswordKey(shownWifiSlot_), password->text());
    }

    control<QLabel>("lbSsid")->setText(QStringLiteral("SSID") + selected);
    control<QLabel>("lbPassword")->setText(QStringLiteral("Password") + selected);

    if (const int slot = settings::wifiSlotOf(selected)) {
        ssid->setText(document_.values().value(settings::wifiSsidKey(slot)));
        password->setText(document_.values().value(settings::wifiPasswordKey(slot)));
        shownWifiSlot_ = slot;
    }
}

void EditorRules::noteWifiSlotFilled()
{
    const QString selected = control<QComboBox>("cbWifiSelected")->currentText();
    // A loaded file may select another slot; captions naming the old one would mislabel the fields.
    control<QLabel>("lbSsid")->setText(QStringLiteral("SSID") + selected);
    control<QLabel>("lbPassword")->setText(QStringLiteral("Password") + selected);
    if (const int slot = settings::wifiSlotOf(selected)) shownWifiSlot_ = slot;
}

void EditorRules::checkBoxServerTriggerClick(QAbstractButton* sender)
{
    for (const TriggerRow& row : serverTriggerRows())
        if (sender->objectName() == QLatin1String(row.trigger)) return applyTriggerRule(row);
    throw toolkit::EArgumentException(QStringLiteral("%1 is no server trigger box").arg(sender->objectName()));
}

void EditorRules::applyTriggerRule(const TriggerRow& row)
{
    auto* transmit = control<QAbstractButton>(row.transmit);
    auto* hz100 = row.hz100 ? control<QAbstractButton>(row.hz100) : nullptr;
    if (control<QAbstractButton>(row.trigger)->isChecked()) {
        transmit->setEnabled(true);
        if (hz100) hz100->setEnabled(true);
        return;
    }
    // Unticked before disabled, so re-ticking the trigger brings the companions back empty.
    transmit->setChecked(false);
    if (hz100) hz100->setChecked(false);
    transmit->setEnabled(false);
    if (hz100) hz100->setEnabled(false);
}

void EditorRules::cbVideoQualityChange()
{
    auto* fps = control<QComboBox>("cbVideoFPS");
    // Converted before anything changes, so a text that is no number leaves list and text as they were.
    const int framesPerSecond = toolkit::StrToInt(fps->currentText());
    const int quality = control<QComboBox>("cbVideoQuality")->currentIndex();
    fps->clear();
    fps->addItems(frameRatesOffered(quality));
    setComboText(fps, frameRateKept(quality, framesPerSecond));
}

}  // namespace editor_rules
