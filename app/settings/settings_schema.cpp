#include "settings_schema.h"

#include "toolkit/exceptions.h"

#include <QHash>

namespace settings {

namespace {

using F = ValueForm;

// Writing order is the recorder's own; WIFI_SSIDn is always followed by WIFI_PASSn,
// and CAR_MODEL sits between the two ADASANGLE lines.
constexpr SettingKey kSchema[] = {
    // DEVICE
    {"DEVICE", "SPEED_SOURCE", F::Index, "0"},
    {"DEVICE", "SLEEP_VOLTAGE", F::NumberText, "11.8"},
    {"DEVICE", "WINTER_PERIOD_START", F::ListText, "11"},
    {"DEVICE", "WINTER_PERIOD_END", F::ListText, "2"},
    // RECORD
    {"RECORD", "RECORD_MODE", F::Index, "1"},
    {"RECORD", "VIDEO_QUALITY", F::Index, "1"},
    {"RECORD", "VIDEO_FPS", F::ListText, "30"},
    {"RECORD", "CONTINUOUS_RATIO", F::Integer, "80"},
    {"RECORD", "EVTREC_PRE", F::ListText, "10"},
    {"RECORD", "EVTREC_POST", F::ListText, "10"},
    {"RECORD", "AUDIO", F::Flag, "0"},
    {"RECORD", "OVERWRITE", F::Flag, "1"},
    {"RECORD", "PARKING_MODE_ENABLE", F::Flag, "1"},
    {"RECORD", "SD_DRIVING_ENABLE", F::Flag, "1"},
    {"RECORD", "SD_DRIVING_OVERWRITE", F::Flag, "1"},
    {"RECORD", "ENCRYPTION_NO", F::Base64Text, ""},
    // EVENT
    {"EVENT", "GSENSOR_BEEP", F::Flag, "1"},
    {"EVENT", "GSENSOR_RECORD", F::Flag, "1"},
    {"EVENT", "GSENSOR_MODE", F::Flag, "1"},
    {"EVENT", "GSENSOR_ADJUST_SPEED", F::Flag, "1"},
    {"EVENT", "GSENSOR_Z_AXIS_ON", F::Flag, "1"},
    {"EVENT", "GSENSOR_SENSITIVITY", F::ListText, "5"},
    {"EVENT", "GSENSOR_IMPACT_THRESHOLD_X", F::IntegerText, "2500"},
    {"EVENT", "GSENSOR_IMPACT_HZ_X", F::IntegerText, "1"},
    {"EVENT", "GSENSOR_IMPACT_THRESHOLD_Y", F::IntegerText, "2500"},
    {"EVENT", "GSENSOR_IMPACT_HZ_Y", F::IntegerText, "1"},
    {"EVENT", "GSENSOR_IMPACT_THRESHOLD_Z", F::IntegerText, "2500"},
    {"EVENT", "GSENSOR_IMPACT_HZ_Z", F::IntegerText, "1"},
    {"EVENT", "GSENSOR_HARSHBRK_THRESHOLD_X", F::IntegerText, "750"},
    {"EVENT", "GSENSOR_HARSHBRK_HZ_X", F::IntegerText, "3"},
    {"EVENT", "GSENSOR_HARSHTURN_THRESHOLD_Y", F::IntegerText, "750"},
    {"EVENT", "GSENSOR_HARSHTURN_HZ_Y", F::IntegerText, "3"},
    {"EVENT", "GSENSOR_T_ECALL_X", F::IntegerText, "3000"},
    {"EVENT", "GSENSOR_T_ECALL_Y", F::IntegerText, "3000"},
    {"EVENT", "GSENSOR_T_ECALL_Z", F::IntegerText, "3000"},
    {"EVENT", "GSENSOR_HIGHIMPACT_ONLY", F::Flag, "1"},
    {"EVENT", "PANIC_BEEP", F::ListText, "1"},
    {"EVENT", "PANIC_RECORD", F::Flag, "1"},
    {"EVENT", "SPEEDING_LIMIT", F::IntegerText, "120"},
    {"EVENT", "SPEEDING_RECORD", F::Flag, "0"},
    {"EVENT", "SPEEDING_BEEP", F::ListText, "0"},
    {"EVENT", "FCW_ENABLE", F::Flag, "1"},
    {"EVENT", "FCW_REPEAT", F::Flag, "0"},
    {"EVENT", "FCW_RECORD", F::Flag, "1"},
    {"EVENT", "FCW_SENSITIVITY", F::ListText, "3"},
    {"EVENT", "FCW_WARN_SOUND", F::ListText, "4"},
    {"EVENT", "FCW2_WARN_SOUND", F::ListText, "4"},
    {"EVENT", "HMW_ENABLE", F::Flag, "1"},
    {"EVENT", "HMW_REPEAT", F::Flag, "0"},
    {"EVENT", "HMW_RE_ALERT", F::Flag, "0"},
    {"EVENT", "HMW_SENSITIVITY", F::ListText, "3"},
    {"EVENT", "HMW_BEEP", F::ListText, "1"},
    {"EVENT", "LDW_ENABLE", F::Flag, "1"},
    {"EVENT", "LDW_ACTIVATION_SPEED", F::IntegerText, "40"},
    {"EVENT", "LDW_WARN_SOUND", F::ListText, "1"},
    {"EVENT", "LDW_LEFT_SENSITIVITY", F::ListText, "3"},
    {"EVENT", "LDW_RIGHT_SENSITIVITY", F::ListText, "3"},
    {"EVENT", "LDW_RAPID_LC_ENABLE", F::Flag, "1"},
    {"EVENT", "LDW_RAPID_LC_WARN_SOUND", F::ListText, "1"},
    {"EVENT", "LDW_RAPID_LC_LATERAL_VELOCITY", F::IntegerText, "150"},
    {"EVENT", "LDW_FREQ_LC_ENABLE", F::Flag, "1"},
    {"EVENT", "LDW_FREQ_LC_WARN_SOUND", F::ListText, "3"},
    {"EVENT", "LDW_FREQ_LC_COUNT", F::IntegerText, "5"},
    {"EVENT", "LDW_FREQ_LC_SECONDS", F::IntegerText, "60"},
    {"EVENT", "RAPID_DECEL_ENABLE", F::Flag, "1"},
    {"EVENT", "RAPID_DECEL_WARN_SOUND", F::ListText, "1"},
    {"EVENT", "RAPID_DECEL_SPEED", F::IntegerText, "10"},
    {"EVENT", "RAPID_DECEL_SECONDS", F::IntegerText, "1"},
    {"EVENT", "FPW_ENABLE", F::Flag, "0"},
    {"EVENT", "FPW_BEEP", F::ListText, "1"},
    {"EVENT", "FPW_SENSITIVITY", F::ListText, "2"},
    {"EVENT", "FVSA_ENABLE", F::Flag, "1"},
    {"EVENT", "FVSA_SENSITIVITY", F::ListText, "5"},
    {"EVENT", "FVSA_BEEP", F::ListText, "1"},
    // SYSTEM
    {"SYSTEM", "TIME_OFFSET", F::Minutes, "0"},
    {"SYSTEM", "GPSTIMESYNC", F::Flag, "1"},
    {"SYSTEM", "DST_ENABLE", F::Flag, "0"},
    {"SYSTEM", "DST_START", F::DstCode, "01.01.00.00"},
    {"SYSTEM", "DST_END", F::DstCode, "01.01.00.00"},
    {"SYSTEM", "MANUAL_TIME_ENABLE", F::Flag, "0"},
    {"SYSTEM", "MANUAL_TIME", F::TimeCode, "29.09.21.14.37.20"},
    {"SYSTEM", "VEHICLE_NO", F::Text, ""},
    {"SYSTEM", "DRIVER_ID", F::Text, ""},
    {"SYSTEM", "MODEL", F::Text, "5310"},
    {"SYSTEM", "VIN", F::Text, ""},
    // CONNECTIVITY
    {"CONNECTIVITY", "NET_3G_ENABLE", F::Flag, "1"},
    {"CONNECTIVITY", "NET_3G_DIAL", F::Text, "0"},
    {"CONNECTIVITY", "NET_3G_APN", F::Text, "internet"},
    {"CONNECTIVITY", "NET_3G_USER", F::Text, ""},
    {"CONNECTIVITY", "NET_3G_PASS", F::Text, ""},
    {"CONNECTIVITY", "NET_3G_AUTH", F::Index, ""},
    {"CONNECTIVITY", "NET_3G_SMSC", F::Text, ""},
    {"CONNECTIVITY", "HOTSPOT_ENABLE", F::Flag, "0"},
    {"CONNECTIVITY", "WIFI_AP", F::ListText, "1"},
    {"CONNECTIVITY", "WIFI_AP_SELECTED", F::ListText, "1"},
    {"CONNECTIVITY", "WIFI_SSID1", F::Text, ""},
    {"CONNECTIVITY", "WIFI_PASS1", F::Text, ""},
    {"CONNECTIVITY", "WIFI_SSID2", F::Text, ""},
    {"CONNECTIVITY", "WIFI_PASS2", F::Text, ""},
    {"CONNECTIVITY", "WIFI_SSID3", F::Text, ""},
    {"CONNECTIVITY", "WIFI_PASS3", F::Text, ""},
    {"CONNECTIVITY", "WIFI_SSID4", F::Text, ""},
    {"CONNECTIVITY", "WIFI_PASS4", F::Text, ""},
    {"CONNECTIVITY", "WIFI_SSID5", F::Text, ""},
    {"CONNECTIVITY", "WIFI_PASS5", F::Text, ""},
    {"CONNECTIVITY", "WIFI_SSID6", F::Text, ""},
    {"CONNECTIVITY", "WIFI_PASS6", F::Text, ""},
    {"CONNECTIVITY", "WIFI_SSID7", F::Text, ""},
    {"CONNECTIVITY", "WIFI_PASS7", F::Text, ""},
    {"CONNECTIVITY", "WIFI_SSID8", F::Text, ""},
    {"CONNECTIVITY", "WIFI_PASS8", F::Text, ""},
    {"CONNECTIVITY", "WIFI_SSID9", F::Text, ""},
    {"CONNECTIVITY", "WIFI_PASS9", F::Text, ""},
    {"CONNECTIVITY", "WIFI_SSID10", F::Text, ""},
    {"CONNECTIVITY", "WIFI_PASS10", F::Text, ""},
    {"CONNECTIVITY", "REMOTE_WIFI_SSID", F::Text, ""},
    {"CONNECTIVITY", "REMOTE_WIFI_PASS", F::Text, ""},
    {"CONNECTIVITY", "AGPS_TOKEN", F::Text, "Hc7Lp2Wq9XzN4bTa"},
    // SERVER
    {"SERVER", "NET_ENABLE", F::Flag, "1"},
    {"SERVER", "NET_URL", F::Text, "ws://192.168.10.1:5000/wsapi"},
    {"SERVER", "NET_DASKEY", F::Text, ""},
    {"SERVER", "NET_UPLOAD_LIVE_TRACK", F::Flag, "1"},
    {"SERVER", "NET_UPLOAD_EVENT", F::Flag, "1"},
    {"SERVER", "NET_UPLOAD_DRV", F::Flag, "1"},
    {"SERVER", "NET_UPLOAD_DRV_WITH_GVALUE", F::ListText, "4"},
    {"SERVER", "NET_EVENT_PRE", F::ListText, "1"},
    {"SERVER", "NET_EVENT_POST", F::ListText, "1"},
    {"SERVER", "NET_IMAGE_QUALITY", F::IndexPlusOne, "1"},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_GSENSOR", F::ImageUploadCode, "4"},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_ECALL", F::ImageUploadCode, "0"},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_PANIC", F::ImageUploadCode, "1"},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_SPEEDING", F::ImageUploadCode, "0"},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_FCW", F::ImageUploadCode, "1"},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_IGNITION_ON", F::ImageUploadCode, "2"},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_IGNITION_OFF", F::ImageUploadCode, "2"},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_LDW", F::ImageUploadCode, "1"},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_LDW_RAPID_LC", F::ImageUploadCode, "1"},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_LDW_FREQ_LC", F::ImageUploadCode, "1"},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_RAPID_DECEL", F::ImageUploadCode, "1"},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_FVSA", F::ImageUploadCode, "1"},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_FPW", F::ImageUploadCode, "1"},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_ALARM1", F::ImageUploadCode, "0"},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_HMW", F::ImageUploadCode, "1"},
    // ADASCAMERA
    {"ADASCAMERA", "ADAS_DISABLE", F::Index, "1"},
    {"ADASCAMERA", "ADASLOC_HEIGHT", F::NumberText, "150"},
    {"ADASCAMERA", "ADASLOC_OFFSET_CENTER", F::NumberText, "0"},
    {"ADASCAMERA", "ADASLOC_CAM_TO_WHEEL", F::NumberText, "80"},
    {"ADASCAMERA", "ADASLOC_VEHICLE_WIDTH", F::NumberText, "180"},
    {"ADASCAMERA", "ADASLOC_CAM_TO_BUMPER", F::NumberText, "120"},
    {"ADASCAMERA", "ADASANGLE_IMAGE_HEIGHT", F::IntegerText, "720"},
    {"ADASCAMERA", "ADASANGLE_IMAGE_WIDTH", F::IntegerText, "1280"},
    {"ADASCAMERA", "ADASANGLE_VANISHING_LINE", F::Integer, "342"},
    {"ADASCAMERA", "CAR_MODEL", F::Text, ""},
    {"ADASCAMERA", "ADASANGLE_HOOD_LINE", F::Integer, "720"},
    {"ADASCAMERA", "CAR_MANUFACTURER", F::Text, ""},
    {"ADASCAMERA", "CAR_YEAR", F::ListText, ""},
};

}  // namespace

std::span<const SettingKey> settingsSchema() { return kSchema; }

std::optional<std::size_t> schemaIndex(const QString& key)
{
    static const QHash<QString, std::size_t> index = [] {
        QHash<QString, std::size_t> h;
        for (std::size_t i = 0; i < std::size(kSchema); ++i) h.insert(QString::fromLatin1(kSchema[i].key), i);
        return h;
    }();
    const auto it = index.constFind(key);
    if (it == index.constEnd()) return std::nullopt;
    return *it;
}

const SettingKey& schemaKey(const QString& key)
{
    const auto i = schemaIndex(key);
    if (!i) throw toolkit::EArgumentException(QStringLiteral("Unknown settings key %1").arg(key));
    return kSchema[*i];
}

QString wifiSsidKey(int slot) { return QStringLiteral("WIFI_SSID%1").arg(slot); }
QString wifiPasswordKey(int slot) { return QStringLiteral("WIFI_PASS%1").arg(slot); }

}  // namespace settings
