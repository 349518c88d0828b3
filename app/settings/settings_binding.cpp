#include "settings_binding.h"

#include "binding_codecs.h"
#include "toolkit/display_scale.h"
#include "toolkit/exceptions.h"
#include "toolkit/number_text.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>

#include <string_view>

namespace settings {

namespace {

using B = Binding;
using toolkit::StrToInt;

constexpr ControlBinding kBindings[] = {
    {"SPEED_SOURCE", B::Index, {"cbSpeedSource"}},
    {"SLEEP_VOLTAGE", B::Text, {"maskEdSleepVoltage"}},
    {"WINTER_PERIOD_START", B::Text, {"cbWinterStart"}},
    {"WINTER_PERIOD_END", B::Text, {"cbWinterStop"}},
    {"RECORD_MODE", B::Index, {"cbRecordMode"}},
    {"VIDEO_QUALITY", B::Index, {"cbVideoQuality"}},
    {"VIDEO_FPS", B::FrameRate, {"cbVideoFPS", "cbVideoQuality"}},
    {"CONTINUOUS_RATIO", B::Position, {"tbRecordRatio"}},
    {"EVTREC_PRE", B::Text, {"cbRecordPreEvent"}},
    {"EVTREC_POST", B::Text, {"cbRecordPostEvent"}},
    {"AUDIO", B::Flag, {"checkBoxAudio"}},
    {"OVERWRITE", B::Flag, {"checkBoxOverwrite"}},
    {"PARKING_MODE_ENABLE", B::Flag, {"checkBoxParking"}},
    {"SD_DRIVING_ENABLE", B::Flag, {"checkBoxRecordDRV"}},
    {"SD_DRIVING_OVERWRITE", B::Flag, {"checkBoxOverwriteDRV"}},
    {"ENCRYPTION_NO", B::Encryption, {"maskEdEncryption"}},
    {"GSENSOR_BEEP", B::Flag, {"checkBoxGsensorBeep"}},
    {"GSENSOR_RECORD", B::Flag, {"checkBoxGsensorRecord"}},
    {"GSENSOR_MODE", B::Flag, {"rbGsensorCustom"}},
    {"GSENSOR_ADJUST_SPEED", B::Flag, {"checkBoxAdjust"}},
    {"GSENSOR_Z_AXIS_ON", B::Flag, {"checkBoxTurnZ"}},
    {"GSENSOR_SENSITIVITY", B::Text, {"cbGsensorSensitivity"}},
    {"GSENSOR_IMPACT_THRESHOLD_X", B::Text, {"maskEdCustomImpactGX"}},
    {"GSENSOR_IMPACT_HZ_X", B::Text, {"maskEdCustomImpactHzX"}},
    {"GSENSOR_IMPACT_THRESHOLD_Y", B::Text, {"maskEdCustomImpactGY"}},
    {"GSENSOR_IMPACT_HZ_Y", B::Text, {"maskEdCustomImpactHzY"}},
    {"GSENSOR_IMPACT_THRESHOLD_Z", B::Text, {"maskEdCustomImpactGZ"}},
    {"GSENSOR_IMPACT_HZ_Z", B::Text, {"maskEdCustomImpactHzZ"}},
    {"GSENSOR_HARSHBRK_THRESHOLD_X", B::Text, {"maskEdCustomBrkGX"}},
    {"GSENSOR_HARSHBRK_HZ_X", B::Text, {"maskEdCustomBrkHzX"}},
    {"GSENSOR_HARSHTURN_THRESHOLD_Y", B::Text, {"maskEdCustomTurnGY"}},
    {"GSENSOR_HARSHTURN_HZ_Y", B::Text, {"maskEdCustomTurnHzY"}},
    {"GSENSOR_T_ECALL_X", B::Text, {"maskEdGsensorEcallX"}},
    {"GSENSOR_T_ECALL_Y", B::Text, {"maskEdGsensorEcallY"}},
    {"GSENSOR_T_ECALL_Z", B::Text, {"maskEdGsensorEcallZ"}},
    {"GSENSOR_HIGHIMPACT_ONLY", B::Flag, {"checkBoxCustomTriggerImpact"}},
    {"PANIC_BEEP", B::Text, {"cbPanicSound"}},
    {"PANIC_RECORD", B::Flag, {"checkBoxPanicRecord"}},
    {"SPEEDING_LIMIT", B::Text, {"maskEdEventSpeedLimit"}},
    {"SPEEDING_RECORD", B::Flag, {"checkBoxSpeedingRecord"}},
    {"SPEEDING_BEEP", B::Text, {"cbSpeedingSound"}},
    {"FCW_ENABLE", B::Flag, {"checkBoxFcwEnable"}},
    {"FCW_REPEAT", B::Flag, {"checkBoxFcwRepeat"}},
    {"FCW_RECORD", B::Flag, {"checkBoxFcwRecord"}},
    {"FCW_SENSITIVITY", B::Text, {"cbFcwSensitivity"}},
    {"FCW_WARN_SOUND", B::Text, {"cbFcwSound"}},
    {"FCW2_WARN_SOUND", B::Text, {"cbFcw2Sound"}},
    {"HMW_ENABLE", B::Flag, {"checkBoxHmwEnable"}},
    {"HMW_REPEAT", B::Flag, {"checkBoxHmwRepeat"}},
    {"HMW_RE_ALERT", B::Flag, {"checkBoxHmwRealert"}},
    {"HMW_SENSITIVITY", B::Text, {"cbHmwSensitivity"}},
    {"HMW_BEEP", B::Text, {"cbHmwSound"}},
    {"LDW_ENABLE", B::Flag, {"checkBoxLdwEnable"}},
    {"LDW_ACTIVATION_SPEED", B::Text, {"maskEdEventLdwSpeed"}},
    {"LDW_WARN_SOUND", B::Text, {"cbLdwSound"}},
    {"LDW_LEFT_SENSITIVITY", B::Text, {"cbLdwLeftSensitivity"}},
    {"LDW_RIGHT_SENSITIVITY", B::Text, {"cbLdwRightSensitivity"}},
    {"LDW_RAPID_LC_ENABLE", B::Flag, {"checkBoxRlcEnable"}},
    {"LDW_RAPID_LC_WARN_SOUND", B::Text, {"cbLdw_Rlc_Sound"}},
    {"LDW_RAPID_LC_LATERAL_VELOCITY", B::Text, {"maskEdEventRlcSpeed"}},
    {"LDW_FREQ_LC_ENABLE", B::Flag, {"checkBoxFlcEnable"}},
    {"LDW_FREQ_LC_WARN_SOUND", B::Text, {"cbLdw_Flc_Sound"}},
    {"LDW_FREQ_LC_COUNT", B::Text, {"maskEdEventFlcCount"}},
    {"LDW_FREQ_LC_SECONDS", B::Text, {"maskEdEventFlcSeconds"}},
    {"RAPID_DECEL_ENABLE", B::Flag, {"checkBoxDecelEnable"}},
    {"RAPID_DECEL_WARN_SOUND", B::Text, {"cbDecelSound"}},
    {"RAPID_DECEL_SPEED", B::Text, {"maskEdEventDecelSpeed"}},
    {"RAPID_DECEL_SECONDS", B::Text, {"maskEdEventDecelSeconds"}},
    {"FPW_ENABLE", B::Flag, {"checkBoxFpwEnable"}},
    {"FPW_BEEP", B::Text, {"cbFpwSound"}},
    {"FPW_SENSITIVITY", B::Text, {"cbFpwSensitivity"}},
    {"FVSA_ENABLE", B::Flag, {"checkBoxFvsaEnable"}},
    {"FVSA_SENSITIVITY", B::Text, {"cbFvsaSensitivity"}},
    {"FVSA_BEEP", B::Text, {"cbFvsaSound"}},
    {"TIME_OFFSET", B::TimeZone, {"cbTimeZone"}},
    {"GPSTIMESYNC", B::Flag, {"checkBoxTimeGpsSync"}},
    {"DST_ENABLE", B::Flag, {"checkBoxTimeDts"}},
    {"DST_START", B::DstCode, {"cbTimeDtsStartMonth", "cbTimeDtsStartOrder", "cbTimeDtsStartWeek", "cbTimeDtsStartHour"}},
    {"DST_END", B::DstCode, {"cbTimeDtsStopMonth", "cbTimeDtsStopOrder", "cbTimeDtsStopWeek", "cbTimeDtsStopHour"}},
    {"MANUAL_TIME_ENABLE", B::Flag, {"checkBoxTimeManual"}},
    {"MANUAL_TIME", B::ManualTime, {"DateTimePicker1", "cbTimeManualHour", "cbTimeManualMin", "cbTimeManualSec"}},
    {"VEHICLE_NO", B::Text, {"maskEdTimeVehicleNumber"}},
    {"DRIVER_ID", B::Text, {"maskEdTimeUserId"}},
    {"MODEL", B::Text, {"maskEdModel"}},
    {"VIN", B::Text, {"maskEdVin"}},
    {"NET_3G_ENABLE", B::Flag, {"checkBoxConnectivityMobileEnable"}},
    {"NET_3G_DIAL", B::Text, {"maskEdDialNumber"}},
    {"NET_3G_APN", B::Text, {"maskEdApn"}},
    {"NET_3G_USER", B::Text, {"maskEdMobileUserId"}},
    {"NET_3G_PASS", B::Text, {"maskEdMobilePassword"}},
    {"NET_3G_AUTH", B::Index, {"cbMobileAuth"}, "0"},
    {"NET_3G_SMSC", B::Text, {"maskEdMobileSmsNumber"}},
    {"HOTSPOT_ENABLE", B::Flag, {"checkBoxWifiEnable"}},
    {"WIFI_AP", B::Text, {"cbWifiAp"}},
    {"WIFI_AP_SELECTED", B::Text, {"cbWifiSelected"}},
    {"WIFI_SSID1", B::WifiSlot, {"maskEdWifiSsid", "maskEdWifiPassword", "cbWifiSelected"}},
    {"REMOTE_WIFI_SSID", B::Text, {"maskEdRemoteWifiSsid"}},
    {"REMOTE_WIFI_PASS", B::Text, {"maskEdRemoteWifiPassword"}},
    {"AGPS_TOKEN", B::Text, {"maskEdAgpsToken"}},
    {"NET_ENABLE", B::Flag, {"checkBoxServerEnable"}},
    {"NET_URL", B::Text, {"maskEdServerUrl"}},
    {"NET_DASKEY", B::Text, {"maskEdNetDasKey"}},
    {"NET_UPLOAD_LIVE_TRACK", B::Flag, {"checkBoxServerTransmitLive"}},
    {"NET_UPLOAD_EVENT", B::Flag, {"checkBoxServerTransmitEvent"}},
    {"NET_UPLOAD_DRV", B::Flag, {"checkBoxServerTransmitDrv"}},
    {"NET_UPLOAD_DRV_WITH_GVALUE", B::Text, {"cbServerTransmitDrvHz"}},
    {"NET_EVENT_PRE", B::Text, {"cbSeverEventImagePre"}},
    {"NET_EVENT_POST", B::Text, {"cbSeverEventImagePost"}},
    {"NET_IMAGE_QUALITY", B::IndexPlusOne, {"cbSeverEventImageQuality"}},
    {"NET_UPLOAD_EVENT_IMAGE_GSENSOR", B::ImageUpload, {"checkBoxServerTriggerGsensor", "checkBoxServerTriggerGsensorTransmit", "checkBoxServerTriggerGsensor100hzTransmit"}},
    {"NET_UPLOAD_EVENT_IMAGE_ECALL", B::ImageUpload, {"checkBoxServerTriggerEcall", "checkBoxServerTriggerEcallTransmit", "checkBoxServerTriggerEcall100hzTransmit"}},
    {"NET_UPLOAD_EVENT_IMAGE_PANIC", B::ImageUpload, {"checkBoxServerTriggerPanic", "checkBoxServerTriggerPanicTransmit"}},
    {"NET_UPLOAD_EVENT_IMAGE_SPEEDING", B::ImageUpload, {"checkBoxServerTriggerOverspeed", "checkBoxServerTriggerOverspeedTransmit"}},
    {"NET_UPLOAD_EVENT_IMAGE_FCW", B::ImageUpload, {"checkBoxServerTriggerFcw", "checkBoxServerTriggerFcwTransmit"}},
    {"NET_UPLOAD_EVENT_IMAGE_IGNITION_ON", B::ImageUpload, {"checkBoxServerTriggerIgnitionOn", "checkBoxServerTriggerIgnitionOnTransmit"}},
    {"NET_UPLOAD_EVENT_IMAGE_IGNITION_OFF", B::ImageUpload, {"checkBoxServerTriggerIgnitionOff", "checkBoxServerTriggerIgnitionOffTransmit"}},
    {"NET_UPLOAD_EVENT_IMAGE_LDW", B::ImageUpload, {"checkBoxServerTriggerLdw", "checkBoxServerTriggerLdwTransmit"}},
    {"NET_UPLOAD_EVENT_IMAGE_LDW_RAPID_LC", B::ImageUpload, {"checkBoxServerTriggerRlc", "checkBoxServerTriggerRlcTransmit"}},
    {"NET_UPLOAD_EVENT_IMAGE_LDW_FREQ_LC", B::ImageUpload, {"checkBoxServerTriggerFlc", "checkBoxServerTriggerFlcTransmit"}},
    {"NET_UPLOAD_EVENT_IMAGE_RAPID_DECEL", B::ImageUpload, {"checkBoxServerTriggerDecel", "checkBoxServerTriggerDecelTransmit"}},
    {"NET_UPLOAD_EVENT_IMAGE_FVSA", B::ImageUpload, {"checkBoxServerTriggerFvsa", "checkBoxServerTriggerFvsaTransmit"}},
    {"NET_UPLOAD_EVENT_IMAGE_FPW", B::ImageUpload, {"checkBoxServerTriggerFpw", "checkBoxServerTriggerFpwTransmit"}},
    {"NET_UPLOAD_EVENT_IMAGE_ALARM1", B::ImageUpload, {"checkBoxServerTriggerAlarm1", "checkBoxServerTriggerAlarm1Transmit"}},
    {"NET_UPLOAD_EVENT_IMAGE_HMW", B::ImageUpload, {"checkBoxServerTriggerHmw", "checkBoxServerTriggerHmwTransmit"}},
    {"ADAS_DISABLE", B::Index, {"cbAdasDisable"}},
    {"ADASLOC_HEIGHT", B::Text, {"maskEdCameraHeight"}},
    {"ADASLOC_OFFSET_CENTER", B::Text, {"maskEdCameraCenter"}},
    {"ADASLOC_CAM_TO_WHEEL", B::Text, {"maskEdCameraWheel"}},
    {"ADASLOC_VEHICLE_WIDTH", B::Text, {"maskEdVehicleWidth"}},
    {"ADASLOC_CAM_TO_BUMPER", B::Text, {"maskEdCameraBumper"}},
    {"ADASANGLE_IMAGE_HEIGHT", B::Text, {"maskEdImageHeight"}},
    {"ADASANGLE_IMAGE_WIDTH", B::Text, {"maskEdImageWidth"}},
    {"ADASANGLE_VANISHING_LINE", B::Line, {"maskEdVanishingLine", "lbVerticalLine", "shapeVerticalLine"}},
    {"CAR_MODEL", B::Text, {"maskEdCarModel"}},
    {"ADASANGLE_HOOD_LINE", B::Line, {"maskEdHoodLine", "lbHoodLine", "shapeHoodLine"}},
    {"CAR_MANUFACTURER", B::Text, {"maskEdCarManufacturer"}},
    {"CAR_YEAR", B::Text, {"cbCarYear"}},};

template <class W>
W* control(const EditorContext& editor, const char* name)
{
    auto* w = editor.root->findChild<W*>(QLatin1String(name));
    if (!w)
        throw toolkit::EArgumentException(
            QStringLiteral("The editor has no control %1 of the expected kind").arg(QLatin1String(name)));
    return w;
}

QString textOf(QWidget* w)
{
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    throw toolkit::EArgumentException(QStringLiteral("%1 holds no text").arg(w->objectName()));
}

void setTextOf(QWidget* w, const QString& text)
{
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->setText(text);
    if (auto* c = qobject_cast<QComboBox*>(w)) return setComboText(c, text);
    if (auto* l = qobject_cast<QLabel*>(w)) return l->setText(text);
    throw toolkit::EArgumentException(QStringLiteral("%1 holds no text").arg(w->objectName()));
}

void chooseItem(QComboBox* combo, int index)
{
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

void fillOne(const EditorContext& editor, const ControlBinding& b, const SettingsValues& values)
{
    const QString key = QLatin1String(b.key);
    const auto& c = b.controls;
    switch (b.binding) {
    case B::Text:
        setTextOf(control<QWidget>(editor, c[0]), values.value(key));
        break;
    case B::Index: {
        const QString& v = values.value(key);
        chooseItem(control<QComboBox>(editor, c[0]),
                   StrToInt(v.isEmpty() && b.emptyShows ? QLatin1String(b.emptyShows) : v));
        break;
    }
    case B::IndexPlusOne:
        chooseItem(control<QComboBox>(editor, c[0]), StrToInt(values.value(key)) - 1);
        break;
    case B::Flag:
        control<QAbstractButton>(editor, c[0])->setChecked(StrToInt(values.value(key)) != 0);
        break;
    case B::Position:
        control<QSlider>(editor, c[0])->setValue(StrToInt(values.value(key)));
        break;
    case B::FrameRate:
        setTextOf(control<QComboBox>(editor, c[0]),
                  frameRateText(control<QComboBox>(editor, c[1])->currentIndex(), values.value(key)));
        break;
    case B::Encryption:
        control<QLineEdit>(editor, c[0])->setText(decodeEncryption(values.value(key)));
        break;
    case B::TimeZone:
        setTextOf(control<QComboBox>(editor, c[0]), timeZoneText(StrToInt(values.value(key))));
        break;
    case B::DstCode: {
        const DstFields f = parseDstCode(values.value(key));
        setTextOf(control<QComboBox>(editor, c[0]), f.month);
        setTextOf(control<QComboBox>(editor, c[1]), f.order);
        chooseItem(control<QComboBox>(editor, c[2]), f.weekday);
        setTextOf(control<QComboBox>(editor, c[3]), f.hour);
        break;
    }
    case B::ManualTime:
        break;  // the recorder's stored clock is never shown; the pickers keep "now"
    case B::WifiSlot:
        if (const int slot = wifiSlotOf(textOf(control<QComboBox>(editor, c[2])))) {
            control<QLineEdit>(editor, c[0])->setText(values.value(wifiSsidKey(slot)));
            control<QLineEdit>(editor, c[1])->setText(values.value(wifiPasswordKey(slot)));
        }
        break;
    case B::ImageUpload: {
        const bool hasHz100 = c[2] != nullptr;
        const auto boxes = uploadBoxesFor(values.value(key), hasHz100);
        if (!boxes) break;
        // The trigger first, so its rule has cleared or enabled the companions before they are set.
        control<QAbstractButton>(editor, c[0])->setChecked(boxes->trigger);
        auto* transmit = control<QAbstractButton>(editor, c[1]);
        auto* hz100 = hasHz100 ? control<QAbstractButton>(editor, c[2]) : nullptr;
        transmit->setChecked(boxes->transmit);
        if (hz100) hz100->setChecked(boxes->hz100);
        if (!boxes->trigger) {
            transmit->setEnabled(false);
            if (hz100) hz100->setEnabled(false);
        }
        break;
    }
    case B::Line: {
        const int v = StrToInt(values.value(key));
        const QString text = QString::number(v);
        control<QLineEdit>(editor, c[0])->setText(text);
        auto* label = control<QLabel>(editor, c[1]);
        label->setText(text);
        auto* marker = control<QWidget>(editor, c[2]);
        const int top = static_cast<int>(static_cast<long long>(v) * editor.displayScale / 100);
        marker->move(marker->x(), top);
        label->move(label->x(), top + 5);
        break;
    }
    }
}

void collectOne(const EditorContext& editor, const ControlBinding& b, SettingsValues& values)
{
    const QString key = QLatin1String(b.key);
    const auto& c = b.controls;
    switch (b.binding) {
    case B::Text:
    case B::FrameRate:
    case B::Line:
        values.set(key, textOf(control<QWidget>(editor, c[0])));
        break;
    case B::Index:
        values.set(key, QString::number(control<QComboBox>(editor, c[0])->currentIndex()));
        break;
    case B::IndexPlusOne:
        values.set(key, QString::number(control<QComboBox>(editor, c[0])->currentIndex() + 1));
        break;
    case B::Flag:
        values.set(key, control<QAbstractButton>(editor, c[0])->isChecked() ? QStringLiteral("1")
                                                                            : QStringLiteral("0"));
        break;
    case B::Position:
        values.set(key, QString::number(control<QSlider>(editor, c[0])->value()));
        break;
    case B::Encryption:
        values.set(key, encodeEncryption(control<QLineEdit>(editor, c[0])->text()));
        break;
    case B::TimeZone:
        values.set(key, timeZoneMinutes(textOf(control<QComboBox>(editor, c[0]))));
        break;
    case B::DstCode:
        values.set(key, dstCode(textOf(control<QComboBox>(editor, c[0])), textOf(control<QComboBox>(editor, c[1])),
                                control<QComboBox>(editor, c[2])->currentIndex(),
                                textOf(control<QComboBox>(editor, c[3]))));
        break;
    case B::ManualTime:
        values.set(key, manualTimeCode(control<QDateEdit>(editor, c[0])->date(),
                                       textOf(control<QComboBox>(editor, c[1])),
                                       textOf(control<QComboBox>(editor, c[2])),
                                       textOf(control<QComboBox>(editor, c[3]))));
        break;
    case B::WifiSlot:
        if (const int slot = wifiSlotOf(textOf(control<QComboBox>(editor, c[2])))) {
            values.set(wifiSsidKey(slot), control<QLineEdit>(editor, c[0])->text());
            values.set(wifiPasswordKey(slot), control<QLineEdit>(editor, c[1])->text());
        }
        break;
    case B::ImageUpload: {
        const bool hasHz100 = c[2] != nullptr;
        UploadBoxes boxes;
        boxes.trigger = control<QAbstractButton>(editor, c[0])->isChecked();
        boxes.transmit = control<QAbstractButton>(editor, c[1])->isChecked();
        boxes.hz100 = hasHz100 && control<QAbstractButton>(editor, c[2])->isChecked();
        values.set(key, uploadCodeFor(boxes, hasHz100));
        break;
    }
    }
}

}  // namespace

std::span<const ControlBinding> controlBindings() { return kBindings; }

int wifiSlotOf(const QString& selectorText)
{
    for (int slot = 1; slot <= kWifiSlots; ++slot)
        if (selectorText == QString::number(slot)) return slot;
    return 0;
}

void setComboText(QComboBox* combo, const QString& text)
{
    const int item = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (item >= 0)
        combo->setCurrentIndex(item);
    else if (combo->isEditable())
        combo->setEditText(text);
    else
        combo->setCurrentIndex(-1);
}

void fillWindowFromValues(const EditorContext& editor, const SettingsValues& values, std::size_t* rowsFilled)
{
    std::size_t done = 0;
    if (rowsFilled) *rowsFilled = 0;
    for (const ControlBinding& b : kBindings) {
        fillOne(editor, b, values);
        if (rowsFilled) *rowsFilled = ++done;
    }
}

std::optional<std::size_t> bindingRowOf(const char* controlName)
{
    for (std::size_t i = 0; i < std::size(kBindings); ++i)
        if (std::string_view(kBindings[i].controls[0]) == controlName) return i;
    return std::nullopt;
}

void collectValuesFromWindow(const EditorContext& editor, SettingsValues& values, std::size_t* rowsCollected)
{
    std::size_t done = 0;
    if (rowsCollected) *rowsCollected = 0;
    for (const ControlBinding& b : kBindings) {
        collectOne(editor, b, values);
        if (rowsCollected) *rowsCollected = ++done;
    }
}

}  // namespace settings
