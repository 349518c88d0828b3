#include "editor_layout.h"

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
const char* const kVideoQualities =
    "720P SUPER|720P HIGH|720P STANDARD|480P SUPER|480P HIGH|480P STANDARD|1080P_SUPER|1080P_HIGH|1080P_STANDARD";
const char* const kFrameRates = "1|5|10|15|20|25|30";

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
    encryption.initial = "1234";
    Field agps{K::HiddenEdit, "maskEdAgpsToken"};
    Field picker{K::Date, "DateTimePicker1", "Date"};
    Field pcTime{K::Button, "Button5", "PC Time"};
    Field cameraButton{K::Button, "btnCameraImage", "Camera Angle Setting"};

    return {
        {"tabDevice", "Device/Vehicle",
         {
             {" Device ",
              {
                  choice("cbSpeedSource", "Speed Source", "Auto|OBD II|GPS", "Auto"),
                  edit("maskEdSleepVoltage", "Sleep Voltage (V)", "11.8"),
                  combo("cbWinterStart", "Winter Period Start", "@1-12", "11"),
                  combo("cbWinterStop", "Winter Period End", "@1-12", "2"),
              }},
             {" Vehicle ",
              {
                  edit("maskEdCarManufacturer", "Manufacturer", "Chevrolet"),
                  edit("maskEdCarModel", "Model", "Malibu"),
                  combo("cbCarYear", "Year", "@2000-2026", "2020"),
              }},
             {" ADAS ",
              {
                  choice("cbAdasDisable", "Disable", "Off|On", "Off"),
                  labelledEdit("maskEdVehicleWidth", "1. Vehicle Width (cm)", "lbVehicleWidth", "180"),
                  labelledEdit("maskEdCameraWheel", "2. Camera ~ Wheel (cm)", "lbCameraWheel", "80"),
                  labelledEdit("maskEdCameraBumper", "3. Camera ~ Bumper (cm)", "lbCameraBumper", "120"),
                  labelledEdit("maskEdCameraHeight", "4. Camera Height (cm)", "lbCameraHeight", "150"),
                  labelledEdit("maskEdCameraCenter", "5. Camera Off-Center (cm)", "lbCameraCenter", "0"),
              },
              1},
             {" Camera Angle ",
              {
                  edit("maskEdImageHeight", "Image Height"),
                  edit("maskEdImageWidth", "Image Width"),
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
                  choice("cbRecordMode", "Record Mode", "Continuous+Event|Only Continuous|Only Event|Do not record",
                         "Continuous+Event"),
                  choice("cbVideoQuality", "Video Quality", kVideoQualities, "720P HIGH"),
                  combo("cbVideoFPS", "Video FPS", kFrameRates, ""),
                  slider,
                  continuous,
                  event,
                  combo("cbRecordPreEvent", "Pre Event (sec)", "1|5|10|15", "10"),
                  combo("cbRecordPostEvent", "Post Event (sec)", "1|5|10|15", "10"),
                  check("checkBoxAudio", "Audio", "1"),
                  check("checkBoxOverwrite", "Overwrite", "1"),
                  check("checkBoxParking", "Parking Mode", "0"),
                  check("checkBoxRecordDRV", "Record DRV", "1"),
                  check("checkBoxOverwriteDRV", "Overwrite DRV", "1"),
                  edit("maskEdEncryptionDisplay", "Encryption Number", "####"),
                  encryption,
              }},
             {" Speeding ",
              {
                  unitEdit("maskEdEventSpeedLimit", "Speed Limit", "120", "km/h", "lbEventSpeed"),
                  check("checkBoxSpeedingRecord", "Record", "0"),
                  combo("cbSpeedingSound", "Sound", "@0-3", "1"),
              },
              1},
             {"Rapid Deceleration",
              {
                  check("checkBoxDecelEnable", "Enable", "1"),
                  combo("cbDecelSound", "Sound", "0|1", "1"),
                  unitEdit("maskEdEventDecelSpeed", "Speed", "10", "km/h", "lbEventDecelSpeed"),
                  edit("maskEdEventDecelSeconds", "Seconds", "1"),
              },
              1},
             {" LDW ",
              {
                  check("checkBoxLdwEnable", "Enable", "1"),
                  unitEdit("maskEdEventLdwSpeed", "Activation Speed", "40", "km/h", "lbEventLdwSpeed"),
                  combo("cbLdwSound", "Sound", "@0-4", "1"),
                  combo("cbLdwLeftSensitivity", "Left Sensitivity", "@1-5", "3"),
                  combo("cbLdwRightSensitivity", "Right Sensitivity", "@1-5", "3"),
                  check("checkBoxRlcEnable", "Rapid Lane Change", "1"),
                  combo("cbLdw_Rlc_Sound", "Rapid LC Sound", "@0-4", "1"),
                  unitEdit("maskEdEventRlcSpeed", "Rapid LC Velocity", "150", "cm/sec", "lbEventRlcSpeed"),
                  check("checkBoxFlcEnable", "Frequent Lane Change", "1"),
                  combo("cbLdw_Flc_Sound", "Freq LC Sound", "@0-4", "1"),
                  edit("maskEdEventFlcCount", "Freq LC Count", "5"),
                  edit("maskEdEventFlcSeconds", "Freq LC Seconds", "60"),
              },
              2},
         }},
        {"tabEvent", "Event",
         {
             {" Panic Button ",
              {
                  combo("cbPanicSound", "Sound", "@0-3", "1"),
                  check("checkBoxPanicRecord", "Record", "1"),
              }},
             {" FPW ",
              {
                  check("checkBoxFpwEnable", "Enable", "1"),
                  combo("cbFpwSound", "Sound", "@0-3", "1"),
                  combo("cbFpwSensitivity", "Sensitivity", "@1-3", "2"),
              }},
             {" FVSA ",
              {
                  check("checkBoxFvsaEnable", "Enable", "1"),
                  combo("cbFvsaSensitivity", "Sensitivity", "@1-5", "3"),
                  combo("cbFvsaSound", "Sound", "@0-3", "3"),
              }},
             {" FCW ",
              {
                  check("checkBoxFcwEnable", "Enable", "1"),
                  check("checkBoxFcwRepeat", "Repeat", "0"),
                  check("checkBoxFcwRecord", "Record", "1"),
                  combo("cbFcwSensitivity", "Sensitivity", "@1-5", "3"),
                  combo("cbFcwSound", "Sound", "@0-5", "1"),
                  combo("cbFcw2Sound", "2nd Stage Sound", "@0-5", "1"),
              },
              1},
             {" HMW ",
              {
                  check("checkBoxHmwEnable", "Enable", "1"),
                  check("checkBoxHmwRepeat", "Repeat", "0"),
                  check("checkBoxHmwRealert", "Re-Alert", "1"),
                  combo("cbHmwSensitivity", "Sensitivity", "@1-5", "3"),
                  combo("cbHmwSound", "Sound", "@0-5", "1"),
              },
              1},
         }},
        {"tabConnectivity", "Connectivity",
         {
             {" Mobile Network ",
              {
                  check("checkBoxConnectivityMobileEnable", "Enable", "1"),
                  edit("maskEdDialNumber", "Dial Number"),
                  edit("maskEdApn", "APN"),
                  edit("maskEdMobileUserId", "User ID"),
                  edit("maskEdMobilePassword", "Password"),
                  choice("cbMobileAuth", "Authentication", "None|CHAP|PAP", "None"),
                  edit("maskEdMobileSmsNumber", "SMS Center Number"),
                  agps,
              }},
             {" Wi-Fi (Hotspot)  ",
              {
                  check("checkBoxWifiEnable", "Enable", "0"),
                  combo("cbWifiAp", "AP", "@1-10", "1"),
                  combo("cbWifiSelected", "Selected", "@1-10", "1"),
                  ssid,
                  password,
              },
              1},
             {" Remote Wi-Fi ",
              {
                  edit("maskEdRemoteWifiSsid", "SSID"),
                  edit("maskEdRemoteWifiPassword", "Password"),
              },
              1},
         }},
        {"tabServer", "Server",
         {
             {" Server ",
              {
                  check("checkBoxServerEnable", "Enable", "0"),
                  edit("maskEdServerUrl", "URL"),
                  edit("maskEdNetDasKey", "DAS Key"),
                  check("checkBoxServerTransmitLive", "Transmit Live Tracking", "1"),
                  check("checkBoxServerTransmitEvent", "Transmit Event", "1"),
                  check("checkBoxServerTransmitDrv", "Transmit DRV", "1"),
                  combo("cbServerTransmitDrvHz", "DRV Rate (Hz)", "1|4|5|10|20|100", "4"),
              }},
             {" Event Image ",
              {
                  combo("cbSeverEventImagePre", "Pre Event (sec)", "@1-10", "5"),
                  combo("cbSeverEventImagePost", "Post Event (sec)", "@1-10", "5"),
                  choice("cbSeverEventImageQuality", "Image Quality", "Low|Middle|High", "High"),
              }},
             {" Event Triggered by ", triggerRows(), 1},
         }},
        {"tabInformation", "Information",
         {
             {" Time ",
              {
                  combo("cbTimeZone", "Time Zone", kTimeZones, "UTC"),
                  check("checkBoxTimeGpsSync", "GPS Time Sync", "1"),
                  check("checkBoxTimeDts", "Daylight Saving Time", "0"),
                  combo("cbTimeDtsStartMonth", "DST Start (month, st, day, hour)", "@01-12", "01"),
                  combo("cbTimeDtsStartOrder", "", "@01-05", "01", true),
                  choice("cbTimeDtsStartWeek", "", kWeekdays, "Sunday", true),
                  combo("cbTimeDtsStartHour", "", "@00-23", "00", true),
                  combo("cbTimeDtsStopMonth", "DST End (month, st, day, hour)", "@01-12", "01"),
                  combo("cbTimeDtsStopOrder", "", "@01-05", "01", true),
                  choice("cbTimeDtsStopWeek", "", kWeekdays, "Sunday", true),
                  combo("cbTimeDtsStopHour", "", "@00-23", "00", true),
                  check("checkBoxTimeManual", "Manual Time", "0"),
                  picker,
                  combo("cbTimeManualHour", "Time (h : m : s)", "@00-23", "00"),
                  combo("cbTimeManualMin", "", "@00-59", "00", true),
                  combo("cbTimeManualSec", "", "@00-59", "00", true),
                  pcTime,
              }},
             {" Vehicle Information ",
              {
                  edit("maskEdTimeVehicleNumber", "Vehicle Number"),
                  edit("maskEdTimeUserId", "Driver ID"),
                  edit("maskEdModel", "Model"),
                  edit("maskEdVin", "VIN"),
              },
              1},
         }},
        {"tabGsensor", "G-Sensor",
         {
             {" G-Sensor ",
              {
                  check("checkBoxGsensorBeep", "Beep", "1"),
                  check("checkBoxGsensorRecord", "Record", "1"),
                  check("checkBoxAdjust", "Adjust to Vehicle Speed", "1"),
                  check("checkBoxTurnZ", "Turn Z Axis On", "0"),
                  check("checkBoxCustomTriggerImpact", "Trigger High Impact Only", "0"),
              }},
             {" Sensitivity Setting ",
              {
                  preset,
                  combo("cbGsensorSensitivity", "Sensitivity", "@1-9", "5"),
                  custom,
              }},
             {" Custom Thresholds ",
              {
                  edit("maskEdCustomImpactGX", "High Impact X (mG / Hz)", "750"),
                  edit("maskEdCustomImpactHzX", "", "3", true),
                  edit("maskEdCustomImpactGY", "High Impact Y (mG / Hz)", "750"),
                  edit("maskEdCustomImpactHzY", "", "3", true),
                  edit("maskEdCustomImpactGZ", "High Impact Z (mG / Hz)", "2000"),
                  edit("maskEdCustomImpactHzZ", "", "20", true),
                  edit("maskEdCustomBrkGX", "Harsh Accel/Brake X (mG / Hz)", "750"),
                  edit("maskEdCustomBrkHzX", "", "3", true),
                  edit("maskEdCustomTurnGY", "Harsh Turn Y (mG / Hz)", "750"),
                  edit("maskEdCustomTurnHzY", "", "3", true),
              },
              1},
             {" eCall ",
              {
                  edit("maskEdGsensorEcallX", "eCall X (mG)", "3000"),
                  edit("maskEdGsensorEcallY", "eCall Y (mG)", "3000"),
                  edit("maskEdGsensorEcallZ", "eCall Z (mG)", "3000"),
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

QStringList itemsOf(const char* spec)
{
    const QString s = QString::fromUtf8(spec);
    if (s.isEmpty()) return {};
    if (!s.startsWith(u'@')) return s.split(u'|');
    // "@01-12": a numbered range, zero-padded to the width of its first number.
    const QStringList bounds = s.mid(1).split(u'-');
    const int width = bounds[0].size();
    QStringList out;
    for (int n = bounds[0].toInt(); n <= bounds[1].toInt(); ++n)
        out << QStringLiteral("%1").arg(n, width, 10, QLatin1Char('0'));
    return out;
}

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
