#include "number_fields.h"

#include "settings_binding.h"
#include "toolkit/number_text.h"

#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QWidget>

#include <cmath>

namespace settings {

namespace {

constexpr NumberField kFields[] = {
    {"maskEdSleepVoltage", "SLEEP_VOLTAGE", "Sleep Voltage", 0, 36, true, false, "V"},
    {"maskEdCustomImpactGX", "GSENSOR_IMPACT_THRESHOLD_X", "High Impact X", 0, 4000, false, false, "mG"},
    {"maskEdCustomImpactHzX", "GSENSOR_IMPACT_HZ_X", "High Impact X filter", 1, 20, false, false, "Hz"},
    {"maskEdCustomImpactGY", "GSENSOR_IMPACT_THRESHOLD_Y", "High Impact Y", 0, 4000, false, false, "mG"},
    {"maskEdCustomImpactHzY", "GSENSOR_IMPACT_HZ_Y", "High Impact Y filter", 1, 20, false, false, "Hz"},
    {"maskEdCustomImpactGZ", "GSENSOR_IMPACT_THRESHOLD_Z", "High Impact Z", 0, 4000, false, false, "mG"},
    {"maskEdCustomImpactHzZ", "GSENSOR_IMPACT_HZ_Z", "High Impact Z filter", 1, 20, false, false, "Hz"},
    {"maskEdCustomBrkGX", "GSENSOR_HARSHBRK_THRESHOLD_X", "Harsh Accel/Brake X", 0, 4000, false, false, "mG"},
    {"maskEdCustomBrkHzX", "GSENSOR_HARSHBRK_HZ_X", "Harsh Accel/Brake X filter", 1, 20, false, false, "Hz"},
    {"maskEdCustomTurnGY", "GSENSOR_HARSHTURN_THRESHOLD_Y", "Harsh Turn Y", 0, 4000, false, false, "mG"},
    {"maskEdCustomTurnHzY", "GSENSOR_HARSHTURN_HZ_Y", "Harsh Turn Y filter", 1, 20, false, false, "Hz"},
    {"maskEdGsensorEcallX", "GSENSOR_T_ECALL_X", "eCall X", 0, 4000, false, false, "mG"},
    {"maskEdGsensorEcallY", "GSENSOR_T_ECALL_Y", "eCall Y", 0, 4000, false, false, "mG"},
    {"maskEdGsensorEcallZ", "GSENSOR_T_ECALL_Z", "eCall Z", 0, 4000, false, false, "mG"},
    // Speeds show one decimal in mph.
    {"maskEdEventSpeedLimit", "SPEEDING_LIMIT", "Speed Limit", 0, 300, true, false, "km/h"},
    {"maskEdEventLdwSpeed", "LDW_ACTIVATION_SPEED", "LDW Activation Speed", 0, 300, true, false, "km/h"},
    {"maskEdEventRlcSpeed", "LDW_RAPID_LC_LATERAL_VELOCITY", "Rapid LC Velocity", 0, 1000, false, false, "cm/sec"},
    {"maskEdEventFlcCount", "LDW_FREQ_LC_COUNT", "Freq LC Count", 1, 100, false, false, "lane changes"},
    {"maskEdEventFlcSeconds", "LDW_FREQ_LC_SECONDS", "Freq LC Seconds", 1, 3600, false, false, "s"},
    {"maskEdEventDecelSpeed", "RAPID_DECEL_SPEED", "Rapid Deceleration Speed", 0, 300, true, false, "km/h"},
    {"maskEdEventDecelSeconds", "RAPID_DECEL_SECONDS", "Rapid Deceleration Seconds", 1, 60, false, false, "s"},
    {"maskEdCameraHeight", "ADASLOC_HEIGHT", "Camera Height", 0, 1000, true, false, "cm"},
    {"maskEdCameraCenter", "ADASLOC_OFFSET_CENTER", "Camera Off-Center", -500, 500, true, true, "cm"},
    {"maskEdCameraWheel", "ADASLOC_CAM_TO_WHEEL", "Camera ~ Wheel", 0, 1000, true, false, "cm"},
    {"maskEdVehicleWidth", "ADASLOC_VEHICLE_WIDTH", "Vehicle Width", 0, 1000, true, false, "cm"},
    {"maskEdCameraBumper", "ADASLOC_CAM_TO_BUMPER", "Camera ~ Bumper", 0, 1000, true, false, "cm"},
    {"maskEdImageHeight", "ADASANGLE_IMAGE_HEIGHT", "Image Height", 1, 4320, false, false, "pixels"},
    {"maskEdImageWidth", "ADASANGLE_IMAGE_WIDTH", "Image Width", 1, 7680, false, false, "pixels"},
    {"maskEdVanishingLine", "ADASANGLE_VANISHING_LINE", "Vanishing Line", 0, 4320, false, false, "pixel row"},
    {"maskEdHoodLine", "ADASANGLE_HOOD_LINE", "Hood Line", 0, 4320, false, false, "pixel row"},
};

QString number(double v) { return QString::number(v, 'g', 12); }

QString rangeText(const NumberField& f)
{
    return QStringLiteral("%1 to %2 %3").arg(number(f.min), number(f.max), QLatin1String(f.unit));
}

// Blanks around the digits stay acceptable: the unit conversion pads what it shows.
QRegularExpression inputPattern(const NumberField& f)
{
    const int digits = int(std::floor(std::log10(std::max(std::fabs(f.min), std::fabs(f.max))))) + 1;
    QString p = QStringLiteral(" *");
    if (f.negative) p += QStringLiteral("-?");
    p += QStringLiteral("\\d{0,%1}").arg(digits);
    if (f.decimals) p += QStringLiteral("(\\.\\d{0,2})?");
    p += QStringLiteral(" *");
    return QRegularExpression(p);
}

}  // namespace

std::span<const NumberField> numberFields() { return kFields; }

void installNumberInput(QWidget* root)
{
    for (const NumberField& f : kFields) {
        auto* edit = root->findChild<QLineEdit*>(QLatin1String(f.field));
        if (!edit) continue;
        edit->setValidator(new QRegularExpressionValidator(inputPattern(f), edit));
        edit->setToolTip(rangeText(f));
    }
}

void trimNumberValues(SettingsValues& values)
{
    for (const NumberField& f : kFields) {
        const QString key = QLatin1String(f.key);
        values.set(key, values.value(key).trimmed());
    }
}

QStringList problemsBeforeSave(const SettingsValues& values)
{
    QStringList problems;
    for (const NumberField& f : kFields) {
        const QString text = values.value(QLatin1String(f.key)).trimmed();
        const QString what = QLatin1String(f.what);
        if (text.isEmpty()) {
            problems << QStringLiteral("%1 is empty (%2).").arg(what, rangeText(f));
            continue;
        }
        double v = 0;
        try {
            v = toolkit::StrToFloat(text);
        } catch (const std::exception&) {
            problems << QStringLiteral("%1: '%2' is not a number (%3).").arg(what, text, rangeText(f));
            continue;
        }
        if (v < f.min || v > f.max)
            problems << QStringLiteral("%1: %2 is outside %3.").arg(what, text, rangeText(f));
    }
    const int slot = wifiSlotOf(values.value(QStringLiteral("WIFI_AP_SELECTED")));
    if (slot) {
        const QString ssid = values.value(wifiSsidKey(slot));
        const QString password = values.value(wifiPasswordKey(slot));
        if ((!ssid.isEmpty() || !password.isEmpty()) && password.size() < kMinWifiPasswordLength)
            problems << QStringLiteral("The Wi-Fi password of slot %1 has %2 characters; it must have at least %3.")
                            .arg(slot)
                            .arg(password.size())
                            .arg(kMinWifiPasswordLength);
    }
    return problems;
}

}  // namespace settings
