#pragma once
// Every key of the recorder's setting.ini, in the order the tool writes it, one
// row per key: its file default, the control(s) that show it and how (the
// codec), the values the recorder knows, the range of a number and its unit.
// The reader, the writer, the document, the editor's binding, its layout and
// its checks all walk this one table, so adding a key touches one row.

#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <span>

namespace settings {

enum class ValueForm {
    Flag,             // "0" / "1"
    Index,            // position in a fixed list, from 0; -1 for none
    IndexPlusOne,     // position from 1
    ListText,         // one of a list's texts, or typed text
    IntegerText,      // digits as typed
    NumberText,       // decimal number as typed
    Text,             // free text
    Integer,          // normalised decimal integer
    Base64Text,       // RFC 4648 Base64 of the UTF-8 text
    Minutes,          // signed minutes from UTC
    DstCode,          // MM.OO.0W.HH
    TimeCode,         // dd.mm.yy.hh.nn.ss
    ImageUploadCode,  // trigger and companions as one digit
};

// How the editor shows a value and takes it back.
enum class Codec {
    Text,          // control text as is
    Index,         // list position from 0
    IndexPlusOne,  // list position from 1
    Flag,          // box ticked when not 0
    Position,      // track bar position
    FrameRate,     // VIDEO_FPS, capped for the 1080P qualities
    Encryption,    // Base64 into the hidden encryption field
    TimeZone,      // minutes <-> "UTC+hh:mm"
    DstCode,       // month, order, weekday, hour lists
    ManualTime,    // collect only: date picker and three time lists
    WifiSlot,      // WIFI_SSIDn / WIFI_PASSn: the field shows the selected slot's
    ImageUpload,   // trigger box and its companions
    Line,          // camera-angle line: edit, read-out label, marker
};

// What a field measures; lengths and the lateral velocity follow the length
// unit, the speeds the speed unit.
enum class Quantity { Length, Velocity, Speed };

// The range the recorder accepts for a number, in the unit the file carries.
struct NumberRule {
    const char* what;  // how the user knows the field
    double min;
    double max;
    bool decimals;     // a point may be typed (also where inch or mph show decimals)
    bool negative;     // a sign may be typed
    const char* unit;
};

// A field shown in a unit the user chooses: its label and the label's captions.
struct UnitDisplay {
    Quantity quantity;
    const char* label;
    const char* metricCaption;
    const char* imperialCaption;
};

struct SettingKey {
    const char* section;
    const char* key;
    ValueForm form;
    const char* defaultValue;
    Codec codec;
    // The object names of the controls that show it; the value is typed into the first.
    std::array<const char*, 4> controls;
    // The values the recorder knows ("a|b|c", or "@1-12" for a numbered range),
    // which the list control offers; nullptr where any text goes.
    const char* choices = nullptr;
    const NumberRule* number = nullptr;
    const UnitDisplay* unit = nullptr;
    // What an empty value shows, for keys whose file default is empty but whose
    // control cannot show emptiness (NET_3G_AUTH); nullptr: empty is an error.
    const char* emptyShows = nullptr;
};

inline constexpr const char* kSections[] = {"DEVICE", "RECORD", "EVENT", "SYSTEM", "CONNECTIVITY", "SERVER",
                                            "ADASCAMERA"};

std::span<const SettingKey> settingsSchema();
// Position of `key` in the schema (exact, upper-case name), or nothing.
std::optional<std::size_t> schemaIndex(const QString& key);
const SettingKey& schemaKey(const QString& key);  // throws EArgumentException for an unknown key
// The row whose first control is `controlName`, or nothing.
std::optional<std::size_t> schemaRowOfControl(const QString& controlName);

// "KEY in [SECTION]", how messages and notices name a key.
QString placeOf(const SettingKey& key);

// The texts of a choices spec: "a|b|c", or "@01-12" for a range padded to its first number's width.
QStringList choicesOf(const char* spec);
// The values a key may hold that the recorder knows; empty when any value goes.
// Flags know "0" and "1", indexes the positions of their lists, image-upload
// codes their digits, list texts their list.
QStringList knownValuesOf(const SettingKey& key);

inline constexpr int kWifiSlots = 10;
QString wifiSsidKey(int slot);      // "WIFI_SSID<slot>", slot 1..10
QString wifiPasswordKey(int slot);  // "WIFI_PASS<slot>"
// The slot number a selector text names ("1" to "10" exactly), or 0.
int wifiSlotOf(const QString& selectorText);
// The slot a WIFI_SSIDn / WIFI_PASSn row belongs to.
int wifiSlotOfKey(const SettingKey& key);

}  // namespace settings
