#include "editor_layout.h"

#include "settings/settings_schema.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>

namespace editor_layout {

namespace {

using K = Kind;

const char* const kTimeZones =
    "UTC-12:00|UTC-11:00|UTC-10:00|UTC-09:30|UTC-09:00|UTC-08:00|UTC-07:00|UTC-06:00|UTC-05:00|UTC-04:00|"
    "UTC-03:30|UTC-03:00|UTC-02:00|UTC-01:00|UTC|UTC+01:00|UTC+02:00|UTC+03:00|UTC+03:30|UTC+04:00|UTC+04:30|"
    "UTC+05:00|UTC+05:30|UTC+05:45|UTC+06:00|UTC+06:30|UTC+07:00|UTC+08:00|UTC+08:45|UTC+09:00|UTC+09:30|"
    "UTC+10:00|UTC+10:30|UTC+11:00|UTC+11:30|UTC+12:00|UTC+12:45|UTC+13:00|UTC+14:00";
const char* const kWeekdays = "Sunday|Monday|Tuesday|Wednesday|Thursday|Friday|Saturday";

Field check(const char* name, const char* caption, const char* initial, bool sameRow = false)
{
    Field f{K::Check, name, caption};
    f.initial = initial;
    f.sameRow = sameRow;
    return f;
}

Field edit(const char* name, const char* caption, const char* initial = "", bool sameRow = false)
{
    Field f{K::Edit, name, caption};
    f.initial = initial;
    f.sameRow = sameRow;
    return f;
}

Field unitEdit(const char* name, const char* caption, const char* initial, const char* unit, const char* unitName)
{
    Field f{K::Edit, name, caption};
    f.initial = initial;
    f.suffix = unit;
    f.suffixName = unitName;
    return f;
}

Field labelledEdit(const char* name, const char* caption, const char* labelName, const char* initial)
{
    Field f{K::Edit, name, caption};
    f.initial = initial;
    f.labelName = labelName;
    return f;
}

Field combo(const char* name, const char* caption, const char* items, const char* initial, bool sameRow = false)
{
    Field f{K::Combo, name, caption, items, initial};
    f.sameRow = sameRow;
    return f;
}

// A control that shows one settings key: its name, kind and list come from the key's row.
Field keyed(const char* key, const char* caption, bool sameRow = false)
{
    const settings::SettingKey& row = settings::schemaKey(QLatin1String(key));
    Field f{K::Edit, row.controls[0], caption};
    f.sameRow = sameRow;
    switch (row.codec) {
    case settings::Codec::Index:
    case settings::Codec::IndexPlusOne:
        f.kind = K::Choice;
        break;
    case settings::Codec::Flag:
        f.kind = K::Check;
        break;
    case settings::Codec::Encryption:
        f.kind = K::HiddenEdit;
        break;
    default:
        f.kind = row.choices ? K::Combo : K::Edit;
        break;
    }
    f.items = row.choices ? row.choices : "";
    return f;
}

Field choice(const char* name, const char* caption, const char* items, const char* initial, bool sameRow = false)
{
    Field f{K::Choice, name, caption, items, initial};
    f.sameRow = sameRow;
    return f;
}

// The server trigger rows: a trigger box followed by its companions on one row.
std::vector<Field> triggerRows()
{
    struct Row {
        const char* trigger;
        const char* caption;
        const char* transmit;
        const char* hz100;
    };
    static const Row rows[] = {
        {"checkBoxServerTriggerGsensor", "G-Sensor", "checkBoxServerTriggerGsensorTransmit",
         "checkBoxServerTriggerGsensor100hzTransmit"},
        {"checkBoxServerTriggerEcall", "eCall", "checkBoxServerTriggerEcallTransmit",
         "checkBoxServerTriggerEcall100hzTransmit"},
        {"checkBoxServerTriggerPanic", "Panic Button", "checkBoxServerTriggerPanicTransmit", nullptr},
        {"checkBoxServerTriggerOverspeed", "Overspeed", "checkBoxServerTriggerOverspeedTransmit", nullptr},
        {"checkBoxServerTriggerFcw", "FCW", "checkBoxServerTriggerFcwTransmit", nullptr},
        {"checkBoxServerTriggerIgnitionOn", "Ignition On", "checkBoxServerTriggerIgnitionOnTransmit", nullptr},
        {"checkBoxServerTriggerIgnitionOff", "Ignition Off", "checkBoxServerTriggerIgnitionOffTransmit", nullptr},
        {"checkBoxServerTriggerLdw", "LDW", "checkBoxServerTriggerLdwTransmit", nullptr},
        {"checkBoxServerTriggerFvsa", "FVSA", "checkBoxServerTriggerFvsaTransmit", nullptr},
        {"checkBoxServerTriggerFpw", "FPW", "checkBoxServerTriggerFpwTransmit", nullptr},
        {"checkBoxServerTriggerHmw", "HMW", "checkBoxServerTriggerHmwTransmit", nullptr},
        {"checkBoxServerTriggerAlarm1", "ALARM1", "checkBoxServerTriggerAlarm1Transmit", nullptr},
        {"checkBoxServerTriggerRlc", "Rapid LC", "checkBoxServerTriggerRlcTransmit", nullptr},
        {"checkBoxServerTriggerFlc", "Freq LC", "checkBoxServerTriggerFlcTransmit", nullptr},
        {"checkBoxServerTriggerDecel", "Rapid Decel", "checkBoxServerTriggerDecelTransmit", nullptr},
    };
    std::vector<Field> out;
    for (const Row& r : rows) {
        out.push_back(check(r.trigger, r.caption, "1"));
        out.push_back(check(r.transmit, "Transmit Image", "1", true));
        if (r.hz100) out.push_back(check(r.hz100, "100Hz G-Sensor", "1", true));
    }
    return out;
}

std::vector<Page> makePages()
{
    Field slider{K::Slider, "tbRecordRatio", "Continuous / Event"};
    slider.initial = "70";
    Field continuous{K::Label, "lbContinuousRatio", "Continuous"};
    continuous.initial = "70";
    Field event{K::Label, "lbEventRatio", "Event"};
    event.initial = "30";
    event.sameRow = true;
    Field ssid{K::Edit, "maskEdWifiSsid", "SSID1"};
    ssid.labelName = "lbSsid";
    Field password{K::Edit, "maskEdWifiPassword", "Password1"};
    password.labelName = "lbPassword";
    password.suffix = "Must be at least 8 char.";
    Field preset{K::Radio, "rbGsensorPreset", "Pre Set"};
    preset.initial = "1";
    Field custom{K::Radio, "rbGsensorCustom", "Custom"};
    custom.initial = "0";
    Field encryption{K::HiddenEdit, "maskEdEncryption"};
    Field agps{K::HiddenEdit, "maskEdAgpsToken"};
    Field picker{K::Date, "DateTimePicker1", "Date"};
    Field pcTime{K::Button, "Button5", "PC Time"};
    Field cameraButton{K::Button, "btnCameraImage", "Camera Angle Setting"};

    return {
        {"tabDevice", "Device/Vehicle",
         {
             {" Device ",
              {
                  keyed("SPEED_SOURCE", "Speed Source"),
                  keyed("SLEEP_VOLTAGE", "Sleep Voltage (V)"),
                  keyed("WINTER_PERIOD_START", "Winter Period Start"),
                  keyed("WINTER_PERIOD_END", "Winter Period End"),
              }},
             {" Vehicle ",
              {
                  keyed("CAR_MANUFACTURER", "Manufacturer"),
                  keyed("CAR_MODEL", "Model"),
                  keyed("CAR_YEAR", "Year"),
              }},
             {" ADAS ",
              {
                  keyed("ADAS_DISABLE", "Disable"),
                  labelledEdit("maskEdVehicleWidth", "1. Vehicle Width (cm)", "lbVehicleWidth", "180"),
                  labelledEdit("maskEdCameraWheel", "2. Camera ~ Wheel (cm)", "lbCameraWheel", "80"),
                  labelledEdit("maskEdCameraBumper", "3. Camera ~ Bumper (cm)", "lbCameraBumper", "120"),
                  labelledEdit("maskEdCameraHeight", "4. Camera Height (cm)", "lbCameraHeight", "150"),
                  labelledEdit("maskEdCameraCenter", "5. Camera Off-Center (cm)", "lbCameraCenter", "0"),
              },
              1},
             {" Camera Angle ",
              {
                  keyed("ADASANGLE_IMAGE_HEIGHT", "Image Height"),
                  keyed("ADASANGLE_IMAGE_WIDTH", "Image Width"),
                  edit("maskEdVanishingLine", "Vanishing Line"),
                  edit("maskEdHoodLine", "Hood Line"),
                  cameraButton,
              },
              1},
         }},
        {"tabRecord", "Record",
         {
             {" Record  ",
              {
                  keyed("RECORD_MODE", "Record Mode"),
                  keyed("VIDEO_QUALITY", "Video Quality"),
                  keyed("VIDEO_FPS", "Video FPS"),
                  slider,
                  continuous,
                  event,
                  keyed("EVTREC_PRE", "Pre Event (sec)"),
                  keyed("EVTREC_POST", "Post Event (sec)"),
                  keyed("AUDIO", "Audio"),
                  keyed("OVERWRITE", "Overwrite"),
                  keyed("PARKING_MODE_ENABLE", "Parking Mode"),
                  keyed("SD_DRIVING_ENABLE", "Record DRV"),
                  keyed("SD_DRIVING_OVERWRITE", "Overwrite DRV"),
                  edit("maskEdEncryptionDisplay", "Encryption Number", "####"),
                  encryption,
              }},
             {" Speeding ",
              {
                  unitEdit("maskEdEventSpeedLimit", "Speed Limit", "120", "km/h", "lbEventSpeed"),
                  keyed("SPEEDING_RECORD", "Record"),
                  keyed("SPEEDING_BEEP", "Sound"),
              },
              1},
             {"Rapid Deceleration",
              {
                  keyed("RAPID_DECEL_ENABLE", "Enable"),
                  keyed("RAPID_DECEL_WARN_SOUND", "Sound"),
                  unitEdit("maskEdEventDecelSpeed", "Speed", "10", "km/h", "lbEventDecelSpeed"),
                  keyed("RAPID_DECEL_SECONDS", "Seconds"),
              },
              1},
             {" LDW ",
              {
                  keyed("LDW_ENABLE", "Enable"),
                  unitEdit("maskEdEventLdwSpeed", "Activation Speed", "40", "km/h", "lbEventLdwSpeed"),
                  keyed("LDW_WARN_SOUND", "Sound"),
                  keyed("LDW_LEFT_SENSITIVITY", "Left Sensitivity"),
                  keyed("LDW_RIGHT_SENSITIVITY", "Right Sensitivity"),
                  keyed("LDW_RAPID_LC_ENABLE", "Rapid Lane Change"),
                  keyed("LDW_RAPID_LC_WARN_SOUND", "Rapid LC Sound"),
                  unitEdit("maskEdEventRlcSpeed", "Rapid LC Velocity", "150", "cm/sec", "lbEventRlcSpeed"),
                  keyed("LDW_FREQ_LC_ENABLE", "Frequent Lane Change"),
                  keyed("LDW_FREQ_LC_WARN_SOUND", "Freq LC Sound"),
                  keyed("LDW_FREQ_LC_COUNT", "Freq LC Count"),
                  keyed("LDW_FREQ_LC_SECONDS", "Freq LC Seconds"),
              },
              2},
         }},
        {"tabEvent", "Event",
         {
             {" Panic Button ",
              {
                  keyed("PANIC_BEEP", "Sound"),
                  keyed("PANIC_RECORD", "Record"),
              }},
             {" FPW ",
              {
                  keyed("FPW_ENABLE", "Enable"),
                  keyed("FPW_BEEP", "Sound"),
                  keyed("FPW_SENSITIVITY", "Sensitivity"),
              }},
             {" FVSA ",
              {
                  keyed("FVSA_ENABLE", "Enable"),
                  keyed("FVSA_SENSITIVITY", "Sensitivity"),
                  keyed("FVSA_BEEP", "Sound"),
              }},
             {" FCW ",
              {
                  keyed("FCW_ENABLE", "Enable"),
                  keyed("FCW_REPEAT", "Repeat"),
                  keyed("FCW_RECORD", "Record"),
                  keyed("FCW_SENSITIVITY", "Sensitivity"),
                  keyed("FCW_WARN_SOUND", "Sound"),
                  keyed("FCW2_WARN_SOUND", "2nd Stage Sound"),
              },
              1},
             {" HMW ",
              {
                  keyed("HMW_ENABLE", "Enable"),
                  keyed("HMW_REPEAT", "Repeat"),
                  keyed("HMW_RE_ALERT", "Re-Alert"),
                  keyed("HMW_SENSITIVITY", "Sensitivity"),
                  keyed("HMW_BEEP", "Sound"),
              },
              1},
         }},
        {"tabConnectivity", "Connectivity",
         {
             {" Mobile Network ",
              {
                  keyed("NET_3G_ENABLE", "Enable"),
                  keyed("NET_3G_DIAL", "Dial Number"),
                  keyed("NET_3G_APN", "APN"),
                  keyed("NET_3G_USER", "User ID"),
                  keyed("NET_3G_PASS", "Password"),
                  keyed("NET_3G_AUTH", "Authentication"),
                  keyed("NET_3G_SMSC", "SMS Center Number"),
                  agps,
              }},
             {" Wi-Fi (Hotspot)  ",
              {
                  keyed("HOTSPOT_ENABLE", "Enable"),
                  keyed("WIFI_AP", "AP"),
                  keyed("WIFI_AP_SELECTED", "Selected"),
                  ssid,
                  password,
              },
              1},
             {" Remote Wi-Fi ",
              {
                  keyed("REMOTE_WIFI_SSID", "SSID"),
                  keyed("REMOTE_WIFI_PASS", "Password"),
              },
              1},
         }},
        {"tabServer", "Server",
         {
             {" Server ",
              {
                  keyed("NET_ENABLE", "Enable"),
                  keyed("NET_URL", "URL"),
                  keyed("NET_DASKEY", "DAS Key"),
                  keyed("NET_UPLOAD_LIVE_TRACK", "Transmit Live Tracking"),
                  keyed("NET_UPLOAD_EVENT", "Transmit Event"),
                  keyed("NET_UPLOAD_DRV", "Transmit DRV"),
                  keyed("NET_UPLOAD_DRV_WITH_GVALUE", "DRV Rate (Hz)"),
              }},
             {" Event Image ",
              {
                  keyed("NET_EVENT_PRE", "Pre Event (sec)"),
                  keyed("NET_EVENT_POST", "Post Event (sec)"),
                  keyed("NET_IMAGE_QUALITY", "Image Quality"),
              }},
             {" Event Triggered by ", triggerRows(), 1},
         }},
        {"tabInformation", "Information",
         {
             {" Time ",
              {
                  combo("cbTimeZone", "Time Zone", kTimeZones, "UTC"),
                  keyed("GPSTIMESYNC", "GPS Time Sync"),
                  keyed("DST_ENABLE", "Daylight Saving Time"),
                  combo("cbTimeDtsStartMonth", "DST Start (month, st, day, hour)", "@01-12", "01"),
                  combo("cbTimeDtsStartOrder", "", "@01-05", "01", true),
                  choice("cbTimeDtsStartWeek", "", kWeekdays, "Sunday", true),
                  combo("cbTimeDtsStartHour", "", "@00-23", "00", true),
                  combo("cbTimeDtsStopMonth", "DST End (month, st, day, hour)", "@01-12", "01"),
                  combo("cbTimeDtsStopOrder", "", "@01-05", "01", true),
                  choice("cbTimeDtsStopWeek", "", kWeekdays, "Sunday", true),
                  combo("cbTimeDtsStopHour", "", "@00-23", "00", true),
                  keyed("MANUAL_TIME_ENABLE", "Manual Time"),
                  picker,
                  combo("cbTimeManualHour", "Time (h : m : s)", "@00-23", "00"),
                  combo("cbTimeManualMin", "", "@00-59", "00", true),
                  combo("cbTimeManualSec", "", "@00-59", "00", true),
                  pcTime,
              }},
             {" Vehicle Information ",
              {
                  keyed("VEHICLE_NO", "Vehicle Number"),
                  keyed("DRIVER_ID", "Driver ID"),
                  keyed("MODEL", "Model"),
                  keyed("VIN", "VIN"),
              },
              1},
         }},
        {"tabGsensor", "G-Sensor",
         {
             {" G-Sensor ",
              {
                  keyed("GSENSOR_BEEP", "Beep"),
                  keyed("GSENSOR_RECORD", "Record"),
                  keyed("GSENSOR_ADJUST_SPEED", "Adjust to Vehicle Speed"),
                  keyed("GSENSOR_Z_AXIS_ON", "Turn Z Axis On"),
                  keyed("GSENSOR_HIGHIMPACT_ONLY", "Trigger High Impact Only"),
              }},
             {" Sensitivity Setting ",
              {
                  preset,
                  keyed("GSENSOR_SENSITIVITY", "Sensitivity"),
                  custom,
              }},
             {" Custom Thresholds ",
              {
                  keyed("GSENSOR_IMPACT_THRESHOLD_X", "High Impact X (mG / Hz)"),
                  keyed("GSENSOR_IMPACT_HZ_X", "", true),
                  keyed("GSENSOR_IMPACT_THRESHOLD_Y", "High Impact Y (mG / Hz)"),
                  keyed("GSENSOR_IMPACT_HZ_Y", "", true),
                  keyed("GSENSOR_IMPACT_THRESHOLD_Z", "High Impact Z (mG / Hz)"),
                  keyed("GSENSOR_IMPACT_HZ_Z", "", true),
                  keyed("GSENSOR_HARSHBRK_THRESHOLD_X", "Harsh Accel/Brake X (mG / Hz)"),
                  keyed("GSENSOR_HARSHBRK_HZ_X", "", true),
                  keyed("GSENSOR_HARSHTURN_THRESHOLD_Y", "Harsh Turn Y (mG / Hz)"),
                  keyed("GSENSOR_HARSHTURN_HZ_Y", "", true),
              },
              1},
             {" eCall ",
              {
                  keyed("GSENSOR_T_ECALL_X", "eCall X (mG)"),
                  keyed("GSENSOR_T_ECALL_Y", "eCall Y (mG)"),
                  keyed("GSENSOR_T_ECALL_Z", "eCall Z (mG)"),
              },
              1},
         }},
    };
}

QWidget* makeControl(const Field& f)
{
    QWidget* w = nullptr;
    const QString initial = QString::fromUtf8(f.initial);
    switch (f.kind) {
    case K::Edit:
    case K::HiddenEdit: {
        auto* e = new QLineEdit(initial);
        if (f.kind == K::HiddenEdit) e->setVisible(false);
        w = e;
        break;
    }
    case K::Combo:
    case K::Choice: {
        auto* c = new QComboBox;
        c->addItems(itemsOf(f.items));
        c->setEditable(f.kind == K::Combo);
        if (c->isEditable()) c->setInsertPolicy(QComboBox::NoInsert);
        const int item = c->findText(initial);
        c->setCurrentIndex(item);
        if (item < 0 && c->isEditable()) c->setEditText(initial);
        w = c;
        break;
    }
    case K::Check: {
        auto* b = new QCheckBox(QString::fromUtf8(f.caption));
        b->setChecked(initial == QLatin1String("1"));
        w = b;
        break;
    }
    case K::Radio: {
        auto* b = new QRadioButton(QString::fromUtf8(f.caption));
        b->setAutoExclusive(false);
        b->setChecked(initial == QLatin1String("1"));
        w = b;
        break;
    }
    case K::Slider: {
        auto* s = new QSlider(Qt::Horizontal);
        s->setRange(0, 100);
        s->setValue(initial.toInt());
        w = s;
        break;
    }
    case K::Date: {
        auto* d = new QDateEdit(QDate::currentDate());
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        w = d;
        break;
    }
    case K::Label:
        w = new QLabel(initial);
        break;
    case K::Button:
        w = new QPushButton(QString::fromUtf8(f.caption));
        break;
    }
    w->setObjectName(QString::fromUtf8(f.name));
    return w;
}

bool carriesOwnCaption(Kind k) { return k == K::Check || k == K::Radio || k == K::Button; }

QGroupBox* buildGroup(const Group& g)
{
    auto* box = new QGroupBox(QString::fromUtf8(g.title));
    auto* grid = new QGridLayout(box);
    int row = -1, column = 0;
    for (const Field& f : g.fields) {
        QWidget* w = makeControl(f);
        if (f.kind == K::HiddenEdit) {
            w->setParent(box);
            w->hide();
            continue;
        }
        if (!f.sameRow) {
            ++row;
            column = 0;
        }
        if (!carriesOwnCaption(f.kind) && (*f.caption || *f.labelName)) {
            auto* label = new QLabel(QString::fromUtf8(f.caption));
            if (*f.labelName) label->setObjectName(QString::fromUtf8(f.labelName));
            label->setBuddy(w);
            grid->addWidget(label, row, column++);
        } else if (!f.sameRow && !carriesOwnCaption(f.kind)) {
            ++column;
        }
        grid->addWidget(w, row, column++);
        if (*f.suffix) {
            auto* unit = new QLabel(QString::fromUtf8(f.suffix));
            if (*f.suffixName) unit->setObjectName(QString::fromUtf8(f.suffixName));
            grid->addWidget(unit, row, column++);
        }
    }
    grid->setRowStretch(row + 1, 1);
    return box;
}

}  // namespace

const std::vector<Page>& editorPages()
{
    static const std::vector<Page> pages = makePages();
    return pages;
}

QStringList itemsOf(const char* spec) { return settings::choicesOf(spec); }

void buildPages(QTabWidget* tabs)
{
    for (const Page& p : editorPages()) {
        auto* page = new QWidget;
        page->setObjectName(QString::fromUtf8(p.name));
        auto* columns = new QHBoxLayout(page);
        std::vector<QVBoxLayout*> stacks;
        for (const Group& g : p.groups) {
            while (int(stacks.size()) <= g.column) {
                stacks.push_back(new QVBoxLayout);
                columns->addLayout(stacks.back(), 1);
            }
            stacks[g.column]->addWidget(buildGroup(g));
        }
        for (auto* stack : stacks) stack->addStretch(1);
        tabs->addTab(page, QString::fromUtf8(p.caption));
    }
}

}  // namespace editor_layout
