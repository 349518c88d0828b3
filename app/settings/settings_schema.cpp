#include "settings_schema.h"

#include "toolkit/exceptions.h"

#include <QHash>

namespace settings {

namespace {

using F = ValueForm;
using C = Codec;
using Q = Quantity;

constexpr const char* kVideoQualities =
    "720P SUPER|720P HIGH|720P STANDARD|480P SUPER|480P HIGH|480P STANDARD|1080P_SUPER|1080P_HIGH|1080P_STANDARD";
constexpr const char* kFrameRates = "1|5|10|15|20|25|30";

constexpr NumberRule kSleepVoltageRange{"Sleep Voltage", 0, 36, true, false, "V"};
constexpr NumberRule kGsensorImpactThresholdXRange{"High Impact X", 0, 4000, false, false, "mG"};
constexpr NumberRule kGsensorImpactHzXRange{"High Impact X filter", 1, 20, false, false, "Hz"};
constexpr NumberRule kGsensorImpactThresholdYRange{"High Impact Y", 0, 4000, false, false, "mG"};
constexpr NumberRule kGsensorImpactHzYRange{"High Impact Y filter", 1, 20, false, false, "Hz"};
constexpr NumberRule kGsensorImpactThresholdZRange{"High Impact Z", 0, 4000, false, false, "mG"};
constexpr NumberRule kGsensorImpactHzZRange{"High Impact Z filter", 1, 20, false, false, "Hz"};
constexpr NumberRule kGsensorHarshbrkThresholdXRange{"Harsh Accel/Brake X", 0, 4000, false, false, "mG"};
constexpr NumberRule kGsensorHarshbrkHzXRange{"Harsh Accel/Brake X filter", 1, 20, false, false, "Hz"};
constexpr NumberRule kGsensorHarshturnThresholdYRange{"Harsh Turn Y", 0, 4000, false, false, "mG"};
constexpr NumberRule kGsensorHarshturnHzYRange{"Harsh Turn Y filter", 1, 20, false, false, "Hz"};
constexpr NumberRule kGsensorTEcallXRange{"eCall X", 0, 4000, false, false, "mG"};
constexpr NumberRule kGsensorTEcallYRange{"eCall Y", 0, 4000, false, false, "mG"};
constexpr NumberRule kGsensorTEcallZRange{"eCall Z", 0, 4000, false, false, "mG"};
constexpr NumberRule kSpeedingLimitRange{"Speed Limit", 0, 300, true, false, "km/h"};
constexpr NumberRule kLdwActivationSpeedRange{"LDW Activation Speed", 0, 300, true, false, "km/h"};
constexpr NumberRule kLdwRapidLcLateralVelocityRange{"Rapid LC Velocity", 0, 1000, false, false, "cm/sec"};
constexpr NumberRule kLdwFreqLcCountRange{"Freq LC Count", 1, 100, false, false, "lane changes"};
constexpr NumberRule kLdwFreqLcSecondsRange{"Freq LC Seconds", 1, 3600, false, false, "s"};
constexpr NumberRule kRapidDecelSpeedRange{"Rapid Deceleration Speed", 0, 300, true, false, "km/h"};
constexpr NumberRule kRapidDecelSecondsRange{"Rapid Deceleration Seconds", 1, 60, false, false, "s"};
constexpr NumberRule kAdaslocHeightRange{"Camera Height", 0, 1000, true, false, "cm"};
constexpr NumberRule kAdaslocOffsetCenterRange{"Camera Off-Center", -500, 500, true, true, "cm"};
constexpr NumberRule kAdaslocCamToWheelRange{"Camera ~ Wheel", 0, 1000, true, false, "cm"};
constexpr NumberRule kAdaslocVehicleWidthRange{"Vehicle Width", 0, 1000, true, false, "cm"};
constexpr NumberRule kAdaslocCamToBumperRange{"Camera ~ Bumper", 0, 1000, true, false, "cm"};
constexpr NumberRule kAdasangleImageHeightRange{"Image Height", 1, 4320, false, false, "pixels"};
constexpr NumberRule kAdasangleImageWidthRange{"Image Width", 1, 7680, false, false, "pixels"};
constexpr NumberRule kAdasangleVanishingLineRange{"Vanishing Line", 0, 4320, false, false, "pixel row"};
constexpr NumberRule kAdasangleHoodLineRange{"Hood Line", 0, 4320, false, false, "pixel row"};

constexpr UnitDisplay kSpeedingLimitUnit{Q::Speed, "lbEventSpeed", "km/h", "mph"};
constexpr UnitDisplay kLdwActivationSpeedUnit{Q::Speed, "lbEventLdwSpeed", "km/h", "mph"};
constexpr UnitDisplay kLdwRapidLcLateralVelocityUnit{Q::Velocity, "lbEventRlcSpeed", "cm/sec", "inch/sec"};
constexpr UnitDisplay kRapidDecelSpeedUnit{Q::Speed, "lbEventDecelSpeed", "km/h", "mph"};
constexpr UnitDisplay kAdaslocHeightUnit{Q::Length, "lbCameraHeight", "Camera ~ Height (cm)", "Camera ~ Height (inch)"};
constexpr UnitDisplay kAdaslocOffsetCenterUnit{Q::Length, "lbCameraCenter", "Camera ~ Off-Center (cm)", "Camera ~ Off-Center (inch)"};
constexpr UnitDisplay kAdaslocCamToWheelUnit{Q::Length, "lbCameraWheel", "Camera ~ Wheel (cm)", "Camera ~ Wheel (inch)"};
constexpr UnitDisplay kAdaslocVehicleWidthUnit{Q::Length, "lbVehicleWidth", "Vehicle Width (cm)", "Vehicle Width (inch)"};
constexpr UnitDisplay kAdaslocCamToBumperUnit{Q::Length, "lbCameraBumper", "Camera ~ Bumper (cm)", "Camera ~ Bumper (inch)"};

// Writing order is the recorder's own; WIFI_SSIDn is always followed by WIFI_PASSn,
// and CAR_MODEL sits between the two ADASANGLE lines.
constexpr SettingKey kSchema[] = {
    // DEVICE
    {"DEVICE", "SPEED_SOURCE", F::Index, "0", C::Index, {"cbSpeedSource"}, "Auto|OBD II|GPS"},
    {"DEVICE", "SLEEP_VOLTAGE", F::NumberText, "11.8", C::Text, {"maskEdSleepVoltage"}, nullptr, &kSleepVoltageRange},
    {"DEVICE", "WINTER_PERIOD_START", F::ListText, "11", C::Text, {"cbWinterStart"}, "@1-12"},
    {"DEVICE", "WINTER_PERIOD_END", F::ListText, "2", C::Text, {"cbWinterStop"}, "@1-12"},
    // RECORD
    {"RECORD", "RECORD_MODE", F::Index, "1", C::Index, {"cbRecordMode"}, "Continuous+Event|Only Continuous|Only Event|Do not record"},
    {"RECORD", "VIDEO_QUALITY", F::Index, "1", C::Index, {"cbVideoQuality"}, kVideoQualities},
    {"RECORD", "VIDEO_FPS", F::ListText, "30", C::FrameRate, {"cbVideoFPS", "cbVideoQuality"}, kFrameRates},
    {"RECORD", "CONTINUOUS_RATIO", F::Integer, "80", C::Position, {"tbRecordRatio"}},
    {"RECORD", "EVTREC_PRE", F::ListText, "10", C::Text, {"cbRecordPreEvent"}, "1|5|10|15"},
    {"RECORD", "EVTREC_POST", F::ListText, "10", C::Text, {"cbRecordPostEvent"}, "1|5|10|15"},
    {"RECORD", "AUDIO", F::Flag, "0", C::Flag, {"checkBoxAudio"}},
    {"RECORD", "OVERWRITE", F::Flag, "1", C::Flag, {"checkBoxOverwrite"}},
    {"RECORD", "PARKING_MODE_ENABLE", F::Flag, "1", C::Flag, {"checkBoxParking"}},
    {"RECORD", "SD_DRIVING_ENABLE", F::Flag, "1", C::Flag, {"checkBoxRecordDRV"}},
    {"RECORD", "SD_DRIVING_OVERWRITE", F::Flag, "1", C::Flag, {"checkBoxOverwriteDRV"}},
    {"RECORD", "ENCRYPTION_NO", F::Base64Text, "", C::Encryption, {"maskEdEncryption"}},
    // EVENT
    {"EVENT", "GSENSOR_BEEP", F::Flag, "1", C::Flag, {"checkBoxGsensorBeep"}},
    {"EVENT", "GSENSOR_RECORD", F::Flag, "1", C::Flag, {"checkBoxGsensorRecord"}},
    {"EVENT", "GSENSOR_MODE", F::Flag, "1", C::Flag, {"rbGsensorCustom"}},
    {"EVENT", "GSENSOR_ADJUST_SPEED", F::Flag, "1", C::Flag, {"checkBoxAdjust"}},
    {"EVENT", "GSENSOR_Z_AXIS_ON", F::Flag, "1", C::Flag, {"checkBoxTurnZ"}},
    {"EVENT", "GSENSOR_SENSITIVITY", F::ListText, "5", C::Text, {"cbGsensorSensitivity"}, "@1-9"},
    {"EVENT", "GSENSOR_IMPACT_THRESHOLD_X", F::IntegerText, "2500", C::Text, {"maskEdCustomImpactGX"}, nullptr, &kGsensorImpactThresholdXRange},
    {"EVENT", "GSENSOR_IMPACT_HZ_X", F::IntegerText, "1", C::Text, {"maskEdCustomImpactHzX"}, nullptr, &kGsensorImpactHzXRange},
    {"EVENT", "GSENSOR_IMPACT_THRESHOLD_Y", F::IntegerText, "2500", C::Text, {"maskEdCustomImpactGY"}, nullptr, &kGsensorImpactThresholdYRange},
    {"EVENT", "GSENSOR_IMPACT_HZ_Y", F::IntegerText, "1", C::Text, {"maskEdCustomImpactHzY"}, nullptr, &kGsensorImpactHzYRange},
    {"EVENT", "GSENSOR_IMPACT_THRESHOLD_Z", F::IntegerText, "2500", C::Text, {"maskEdCustomImpactGZ"}, nullptr, &kGsensorImpactThresholdZRange},
    {"EVENT", "GSENSOR_IMPACT_HZ_Z", F::IntegerText, "1", C::Text, {"maskEdCustomImpactHzZ"}, nullptr, &kGsensorImpactHzZRange},
    {"EVENT", "GSENSOR_HARSHBRK_THRESHOLD_X", F::IntegerText, "750", C::Text, {"maskEdCustomBrkGX"}, nullptr, &kGsensorHarshbrkThresholdXRange},
    {"EVENT", "GSENSOR_HARSHBRK_HZ_X", F::IntegerText, "3", C::Text, {"maskEdCustomBrkHzX"}, nullptr, &kGsensorHarshbrkHzXRange},
    {"EVENT", "GSENSOR_HARSHTURN_THRESHOLD_Y", F::IntegerText, "750", C::Text, {"maskEdCustomTurnGY"}, nullptr, &kGsensorHarshturnThresholdYRange},
    {"EVENT", "GSENSOR_HARSHTURN_HZ_Y", F::IntegerText, "3", C::Text, {"maskEdCustomTurnHzY"}, nullptr, &kGsensorHarshturnHzYRange},
    {"EVENT", "GSENSOR_T_ECALL_X", F::IntegerText, "3000", C::Text, {"maskEdGsensorEcallX"}, nullptr, &kGsensorTEcallXRange},
    {"EVENT", "GSENSOR_T_ECALL_Y", F::IntegerText, "3000", C::Text, {"maskEdGsensorEcallY"}, nullptr, &kGsensorTEcallYRange},
    {"EVENT", "GSENSOR_T_ECALL_Z", F::IntegerText, "3000", C::Text, {"maskEdGsensorEcallZ"}, nullptr, &kGsensorTEcallZRange},
    {"EVENT", "GSENSOR_HIGHIMPACT_ONLY", F::Flag, "1", C::Flag, {"checkBoxCustomTriggerImpact"}},
    {"EVENT", "PANIC_BEEP", F::ListText, "1", C::Text, {"cbPanicSound"}, "@0-3"},
    {"EVENT", "PANIC_RECORD", F::Flag, "1", C::Flag, {"checkBoxPanicRecord"}},
    {"EVENT", "SPEEDING_LIMIT", F::IntegerText, "120", C::Text, {"maskEdEventSpeedLimit"}, nullptr, &kSpeedingLimitRange, &kSpeedingLimitUnit},
    {"EVENT", "SPEEDING_RECORD", F::Flag, "0", C::Flag, {"checkBoxSpeedingRecord"}},
    {"EVENT", "SPEEDING_BEEP", F::ListText, "0", C::Text, {"cbSpeedingSound"}, "@0-3"},
    {"EVENT", "FCW_ENABLE", F::Flag, "1", C::Flag, {"checkBoxFcwEnable"}},
    {"EVENT", "FCW_REPEAT", F::Flag, "0", C::Flag, {"checkBoxFcwRepeat"}},
    {"EVENT", "FCW_RECORD", F::Flag, "1", C::Flag, {"checkBoxFcwRecord"}},
    {"EVENT", "FCW_SENSITIVITY", F::ListText, "3", C::Text, {"cbFcwSensitivity"}, "@1-5"},
    {"EVENT", "FCW_WARN_SOUND", F::ListText, "4", C::Text, {"cbFcwSound"}, "@0-5"},
    {"EVENT", "FCW2_WARN_SOUND", F::ListText, "4", C::Text, {"cbFcw2Sound"}, "@0-5"},
    {"EVENT", "HMW_ENABLE", F::Flag, "1", C::Flag, {"checkBoxHmwEnable"}},
    {"EVENT", "HMW_REPEAT", F::Flag, "0", C::Flag, {"checkBoxHmwRepeat"}},
    {"EVENT", "HMW_RE_ALERT", F::Flag, "0", C::Flag, {"checkBoxHmwRealert"}},
    {"EVENT", "HMW_SENSITIVITY", F::ListText, "3", C::Text, {"cbHmwSensitivity"}, "@1-5"},
    {"EVENT", "HMW_BEEP", F::ListText, "1", C::Text, {"cbHmwSound"}, "@0-5"},
    {"EVENT", "LDW_ENABLE", F::Flag, "1", C::Flag, {"checkBoxLdwEnable"}},
    {"EVENT", "LDW_ACTIVATION_SPEED", F::IntegerText, "40", C::Text, {"maskEdEventLdwSpeed"}, nullptr, &kLdwActivationSpeedRange, &kLdwActivationSpeedUnit},
    {"EVENT", "LDW_WARN_SOUND", F::ListText, "1", C::Text, {"cbLdwSound"}, "@0-4"},
    {"EVENT", "LDW_LEFT_SENSITIVITY", F::ListText, "3", C::Text, {"cbLdwLeftSensitivity"}, "@1-5"},
    {"EVENT", "LDW_RIGHT_SENSITIVITY", F::ListText, "3", C::Text, {"cbLdwRightSensitivity"}, "@1-5"},
    {"EVENT", "LDW_RAPID_LC_ENABLE", F::Flag, "1", C::Flag, {"checkBoxRlcEnable"}},
    {"EVENT", "LDW_RAPID_LC_WARN_SOUND", F::ListText, "1", C::Text, {"cbLdw_Rlc_Sound"}, "@0-4"},
    {"EVENT", "LDW_RAPID_LC_LATERAL_VELOCITY", F::IntegerText, "150", C::Text, {"maskEdEventRlcSpeed"}, nullptr, &kLdwRapidLcLateralVelocityRange, &kLdwRapidLcLateralVelocityUnit},
    {"EVENT", "LDW_FREQ_LC_ENABLE", F::Flag, "1", C::Flag, {"checkBoxFlcEnable"}},
    {"EVENT", "LDW_FREQ_LC_WARN_SOUND", F::ListText, "3", C::Text, {"cbLdw_Flc_Sound"}, "@0-4"},
    {"EVENT", "LDW_FREQ_LC_COUNT", F::IntegerText, "5", C::Text, {"maskEdEventFlcCount"}, nullptr, &kLdwFreqLcCountRange},
    {"EVENT", "LDW_FREQ_LC_SECONDS", F::IntegerText, "60", C::Text, {"maskEdEventFlcSeconds"}, nullptr, &kLdwFreqLcSecondsRange},
    {"EVENT", "RAPID_DECEL_ENABLE", F::Flag, "1", C::Flag, {"checkBoxDecelEnable"}},
    {"EVENT", "RAPID_DECEL_WARN_SOUND", F::ListText, "1", C::Text, {"cbDecelSound"}, "0|1"},
    {"EVENT", "RAPID_DECEL_SPEED", F::IntegerText, "10", C::Text, {"maskEdEventDecelSpeed"}, nullptr, &kRapidDecelSpeedRange, &kRapidDecelSpeedUnit},
    {"EVENT", "RAPID_DECEL_SECONDS", F::IntegerText, "1", C::Text, {"maskEdEventDecelSeconds"}, nullptr, &kRapidDecelSecondsRange},
    {"EVENT", "FPW_ENABLE", F::Flag, "0", C::Flag, {"checkBoxFpwEnable"}},
    {"EVENT", "FPW_BEEP", F::ListText, "1", C::Text, {"cbFpwSound"}, "@0-3"},
    {"EVENT", "FPW_SENSITIVITY", F::ListText, "2", C::Text, {"cbFpwSensitivity"}, "@1-3"},
    {"EVENT", "FVSA_ENABLE", F::Flag, "1", C::Flag, {"checkBoxFvsaEnable"}},
    {"EVENT", "FVSA_SENSITIVITY", F::ListText, "5", C::Text, {"cbFvsaSensitivity"}, "@1-5"},
    {"EVENT", "FVSA_BEEP", F::ListText, "1", C::Text, {"cbFvsaSound"}, "@0-3"},
    // SYSTEM
    {"SYSTEM", "TIME_OFFSET", F::Minutes, "0", C::TimeZone, {"cbTimeZone"}},
    {"SYSTEM", "GPSTIMESYNC", F::Flag, "1", C::Flag, {"checkBoxTimeGpsSync"}},
    {"SYSTEM", "DST_ENABLE", F::Flag, "0", C::Flag, {"checkBoxTimeDts"}},
    {"SYSTEM", "DST_START", F::DstCode, "01.01.00.00", C::DstCode, {"cbTimeDtsStartMonth", "cbTimeDtsStartOrder", "cbTimeDtsStartWeek", "cbTimeDtsStartHour"}},
    {"SYSTEM", "DST_END", F::DstCode, "01.01.00.00", C::DstCode, {"cbTimeDtsStopMonth", "cbTimeDtsStopOrder", "cbTimeDtsStopWeek", "cbTimeDtsStopHour"}},
    {"SYSTEM", "MANUAL_TIME_ENABLE", F::Flag, "0", C::Flag, {"checkBoxTimeManual"}},
    {"SYSTEM", "MANUAL_TIME", F::TimeCode, "29.09.21.14.37.20", C::ManualTime, {"DateTimePicker1", "cbTimeManualHour", "cbTimeManualMin", "cbTimeManualSec"}},
    {"SYSTEM", "VEHICLE_NO", F::Text, "", C::Text, {"maskEdTimeVehicleNumber"}},
    {"SYSTEM", "DRIVER_ID", F::Text, "", C::Text, {"maskEdTimeUserId"}},
    {"SYSTEM", "MODEL", F::Text, "5310", C::Text, {"maskEdModel"}},
    {"SYSTEM", "VIN", F::Text, "", C::Text, {"maskEdVin"}},
    // CONNECTIVITY
    {"CONNECTIVITY", "NET_3G_ENABLE", F::Flag, "1", C::Flag, {"checkBoxConnectivityMobileEnable"}},
    {"CONNECTIVITY", "NET_3G_DIAL", F::Text, "0", C::Text, {"maskEdDialNumber"}},
    {"CONNECTIVITY", "NET_3G_APN", F::Text, "internet", C::Text, {"maskEdApn"}},
    {"CONNECTIVITY", "NET_3G_USER", F::Text, "", C::Text, {"maskEdMobileUserId"}},
    {"CONNECTIVITY", "NET_3G_PASS", F::Text, "", C::Text, {"maskEdMobilePassword"}},
    {"CONNECTIVITY", "NET_3G_AUTH", F::Index, "", C::Index, {"cbMobileAuth"}, "None|CHAP|PAP", nullptr, nullptr, "0"},
    {"CONNECTIVITY", "NET_3G_SMSC", F::Text, "", C::Text, {"maskEdMobileSmsNumber"}},
    {"CONNECTIVITY", "HOTSPOT_ENABLE", F::Flag, "0", C::Flag, {"checkBoxWifiEnable"}},
    {"CONNECTIVITY", "WIFI_AP", F::ListText, "1", C::Text, {"cbWifiAp"}, "@1-10"},
    {"CONNECTIVITY", "WIFI_AP_SELECTED", F::ListText, "1", C::Text, {"cbWifiSelected"}, "@1-10"},
    {"CONNECTIVITY", "WIFI_SSID1", F::Text, "", C::WifiSlot, {"maskEdWifiSsid"}},
    {"CONNECTIVITY", "WIFI_PASS1", F::Text, "", C::WifiSlot, {"maskEdWifiPassword"}},
    {"CONNECTIVITY", "WIFI_SSID2", F::Text, "", C::WifiSlot, {"maskEdWifiSsid"}},
    {"CONNECTIVITY", "WIFI_PASS2", F::Text, "", C::WifiSlot, {"maskEdWifiPassword"}},
    {"CONNECTIVITY", "WIFI_SSID3", F::Text, "", C::WifiSlot, {"maskEdWifiSsid"}},
    {"CONNECTIVITY", "WIFI_PASS3", F::Text, "", C::WifiSlot, {"maskEdWifiPassword"}},
    {"CONNECTIVITY", "WIFI_SSID4", F::Text, "", C::WifiSlot, {"maskEdWifiSsid"}},
    {"CONNECTIVITY", "WIFI_PASS4", F::Text, "", C::WifiSlot, {"maskEdWifiPassword"}},
    {"CONNECTIVITY", "WIFI_SSID5", F::Text, "", C::WifiSlot, {"maskEdWifiSsid"}},
    {"CONNECTIVITY", "WIFI_PASS5", F::Text, "", C::WifiSlot, {"maskEdWifiPassword"}},
    {"CONNECTIVITY", "WIFI_SSID6", F::Text, "", C::WifiSlot, {"maskEdWifiSsid"}},
    {"CONNECTIVITY", "WIFI_PASS6", F::Text, "", C::WifiSlot, {"maskEdWifiPassword"}},
    {"CONNECTIVITY", "WIFI_SSID7", F::Text, "", C::WifiSlot, {"maskEdWifiSsid"}},
    {"CONNECTIVITY", "WIFI_PASS7", F::Text, "", C::WifiSlot, {"maskEdWifiPassword"}},
    {"CONNECTIVITY", "WIFI_SSID8", F::Text, "", C::WifiSlot, {"maskEdWifiSsid"}},
    {"CONNECTIVITY", "WIFI_PASS8", F::Text, "", C::WifiSlot, {"maskEdWifiPassword"}},
    {"CONNECTIVITY", "WIFI_SSID9", F::Text, "", C::WifiSlot, {"maskEdWifiSsid"}},
    {"CONNECTIVITY", "WIFI_PASS9", F::Text, "", C::WifiSlot, {"maskEdWifiPassword"}},
    {"CONNECTIVITY", "WIFI_SSID10", F::Text, "", C::WifiSlot, {"maskEdWifiSsid"}},
    {"CONNECTIVITY", "WIFI_PASS10", F::Text, "", C::WifiSlot, {"maskEdWifiPassword"}},
    {"CONNECTIVITY", "REMOTE_WIFI_SSID", F::Text, "", C::Text, {"maskEdRemoteWifiSsid"}},
    {"CONNECTIVITY", "REMOTE_WIFI_PASS", F::Text, "", C::Text, {"maskEdRemoteWifiPassword"}},
    {"CONNECTIVITY", "AGPS_TOKEN", F::Text, "Hc7Lp2Wq9XzN4bTa", C::Text, {"maskEdAgpsToken"}},
    // SERVER
    {"SERVER", "NET_ENABLE", F::Flag, "1", C::Flag, {"checkBoxServerEnable"}},
    {"SERVER", "NET_URL", F::Text, "ws://192.168.10.1:5000/wsapi", C::Text, {"maskEdServerUrl"}},
    {"SERVER", "NET_DASKEY", F::Text, "", C::Text, {"maskEdNetDasKey"}},
    {"SERVER", "NET_UPLOAD_LIVE_TRACK", F::Flag, "1", C::Flag, {"checkBoxServerTransmitLive"}},
    {"SERVER", "NET_UPLOAD_EVENT", F::Flag, "1", C::Flag, {"checkBoxServerTransmitEvent"}},
    {"SERVER", "NET_UPLOAD_DRV", F::Flag, "1", C::Flag, {"checkBoxServerTransmitDrv"}},
    {"SERVER", "NET_UPLOAD_DRV_WITH_GVALUE", F::ListText, "4", C::Text, {"cbServerTransmitDrvHz"}, "1|4|5|10|20|100"},
    {"SERVER", "NET_EVENT_PRE", F::ListText, "1", C::Text, {"cbSeverEventImagePre"}, "@1-10"},
    {"SERVER", "NET_EVENT_POST", F::ListText, "1", C::Text, {"cbSeverEventImagePost"}, "@1-10"},
    {"SERVER", "NET_IMAGE_QUALITY", F::IndexPlusOne, "1", C::IndexPlusOne, {"cbSeverEventImageQuality"}, "Low|Middle|High"},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_GSENSOR", F::ImageUploadCode, "4", C::ImageUpload, {"checkBoxServerTriggerGsensor", "checkBoxServerTriggerGsensorTransmit", "checkBoxServerTriggerGsensor100hzTransmit"}},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_ECALL", F::ImageUploadCode, "0", C::ImageUpload, {"checkBoxServerTriggerEcall", "checkBoxServerTriggerEcallTransmit", "checkBoxServerTriggerEcall100hzTransmit"}},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_PANIC", F::ImageUploadCode, "1", C::ImageUpload, {"checkBoxServerTriggerPanic", "checkBoxServerTriggerPanicTransmit"}},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_SPEEDING", F::ImageUploadCode, "0", C::ImageUpload, {"checkBoxServerTriggerOverspeed", "checkBoxServerTriggerOverspeedTransmit"}},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_FCW", F::ImageUploadCode, "1", C::ImageUpload, {"checkBoxServerTriggerFcw", "checkBoxServerTriggerFcwTransmit"}},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_IGNITION_ON", F::ImageUploadCode, "2", C::ImageUpload, {"checkBoxServerTriggerIgnitionOn", "checkBoxServerTriggerIgnitionOnTransmit"}},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_IGNITION_OFF", F::ImageUploadCode, "2", C::ImageUpload, {"checkBoxServerTriggerIgnitionOff", "checkBoxServerTriggerIgnitionOffTransmit"}},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_LDW", F::ImageUploadCode, "1", C::ImageUpload, {"checkBoxServerTriggerLdw", "checkBoxServerTriggerLdwTransmit"}},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_LDW_RAPID_LC", F::ImageUploadCode, "1", C::ImageUpload, {"checkBoxServerTriggerRlc", "checkBoxServerTriggerRlcTransmit"}},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_LDW_FREQ_LC", F::ImageUploadCode, "1", C::ImageUpload, {"checkBoxServerTriggerFlc", "checkBoxServerTriggerFlcTransmit"}},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_RAPID_DECEL", F::ImageUploadCode, "1", C::ImageUpload, {"checkBoxServerTriggerDecel", "checkBoxServerTriggerDecelTransmit"}},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_FVSA", F::ImageUploadCode, "1", C::ImageUpload, {"checkBoxServerTriggerFvsa", "checkBoxServerTriggerFvsaTransmit"}},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_FPW", F::ImageUploadCode, "1", C::ImageUpload, {"checkBoxServerTriggerFpw", "checkBoxServerTriggerFpwTransmit"}},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_ALARM1", F::ImageUploadCode, "0", C::ImageUpload, {"checkBoxServerTriggerAlarm1", "checkBoxServerTriggerAlarm1Transmit"}},
    {"SERVER", "NET_UPLOAD_EVENT_IMAGE_HMW", F::ImageUploadCode, "1", C::ImageUpload, {"checkBoxServerTriggerHmw", "checkBoxServerTriggerHmwTransmit"}},
    // ADASCAMERA
    {"ADASCAMERA", "ADAS_DISABLE", F::Index, "1", C::Index, {"cbAdasDisable"}, "Off|On"},
    {"ADASCAMERA", "ADASLOC_HEIGHT", F::NumberText, "150", C::Text, {"maskEdCameraHeight"}, nullptr, &kAdaslocHeightRange, &kAdaslocHeightUnit},
    {"ADASCAMERA", "ADASLOC_OFFSET_CENTER", F::NumberText, "0", C::Text, {"maskEdCameraCenter"}, nullptr, &kAdaslocOffsetCenterRange, &kAdaslocOffsetCenterUnit},
    {"ADASCAMERA", "ADASLOC_CAM_TO_WHEEL", F::NumberText, "80", C::Text, {"maskEdCameraWheel"}, nullptr, &kAdaslocCamToWheelRange, &kAdaslocCamToWheelUnit},
    {"ADASCAMERA", "ADASLOC_VEHICLE_WIDTH", F::NumberText, "180", C::Text, {"maskEdVehicleWidth"}, nullptr, &kAdaslocVehicleWidthRange, &kAdaslocVehicleWidthUnit},
    {"ADASCAMERA", "ADASLOC_CAM_TO_BUMPER", F::NumberText, "120", C::Text, {"maskEdCameraBumper"}, nullptr, &kAdaslocCamToBumperRange, &kAdaslocCamToBumperUnit},
    {"ADASCAMERA", "ADASANGLE_IMAGE_HEIGHT", F::IntegerText, "720", C::Text, {"maskEdImageHeight"}, nullptr, &kAdasangleImageHeightRange},
    {"ADASCAMERA", "ADASANGLE_IMAGE_WIDTH", F::IntegerText, "1280", C::Text, {"maskEdImageWidth"}, nullptr, &kAdasangleImageWidthRange},
    {"ADASCAMERA", "ADASANGLE_VANISHING_LINE", F::Integer, "342", C::Line, {"maskEdVanishingLine", "lbVerticalLine", "shapeVerticalLine"}, nullptr, &kAdasangleVanishingLineRange},
    {"ADASCAMERA", "CAR_MODEL", F::Text, "", C::Text, {"maskEdCarModel"}},
    {"ADASCAMERA", "ADASANGLE_HOOD_LINE", F::Integer, "720", C::Line, {"maskEdHoodLine", "lbHoodLine", "shapeHoodLine"}, nullptr, &kAdasangleHoodLineRange},
    {"ADASCAMERA", "CAR_MANUFACTURER", F::Text, "", C::Text, {"maskEdCarManufacturer"}},
    {"ADASCAMERA", "CAR_YEAR", F::ListText, "", C::Text, {"cbCarYear"}, "@2000-2026"},
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

std::optional<std::size_t> schemaRowOfControl(const QString& controlName)
{
    for (std::size_t i = 0; i < std::size(kSchema); ++i)
        if (controlName == QLatin1String(kSchema[i].controls[0])) return i;
    return std::nullopt;
}

QString placeOf(const SettingKey& key)
{
    return QStringLiteral("%1 in [%2]").arg(QLatin1String(key.key), QLatin1String(key.section));
}

QStringList choicesOf(const char* spec)
{
    const QString s = QString::fromUtf8(spec ? spec : "");
    if (s.isEmpty()) return {};
    if (!s.startsWith(u'@')) return s.split(u'|');
    const QStringList bounds = s.mid(1).split(u'-');
    const int width = int(bounds[0].size());
    QStringList out;
    for (int n = bounds[0].toInt(); n <= bounds[1].toInt(); ++n) out << QStringLiteral("%1").arg(n, width, 10, QLatin1Char('0'));
    return out;
}

QStringList knownValuesOf(const SettingKey& key)
{
    const auto numbers = [](int from, int to) {
        QStringList out;
        for (int n = from; n <= to; ++n) out << QString::number(n);
        return out;
    };
    switch (key.form) {
    case F::Flag:
        return numbers(0, 1);
    case F::Index:
        return numbers(0, int(choicesOf(key.choices).size()) - 1);
    case F::IndexPlusOne:
        return numbers(1, int(choicesOf(key.choices).size()));
    case F::ImageUploadCode:
        return numbers(0, key.controls[2] ? 4 : 2);
    case F::ListText:
        return choicesOf(key.choices);
    default:
        return {};
    }
}

QString wifiSsidKey(int slot) { return QStringLiteral("WIFI_SSID%1").arg(slot); }
QString wifiPasswordKey(int slot) { return QStringLiteral("WIFI_PASS%1").arg(slot); }

int wifiSlotOf(const QString& selectorText)
{
    for (int slot = 1; slot <= kWifiSlots; ++slot)
        if (selectorText == QString::number(slot)) return slot;
    return 0;
}

int wifiSlotOfKey(const SettingKey& key)
{
    const QLatin1String name(key.key);
    return name.sliced(9).toInt();  // after "WIFI_SSID" / "WIFI_PASS"
}

}  // namespace settings
