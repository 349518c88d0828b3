#pragma once
// Every key of the recorder's setting.ini, in the order the tool writes it.
// The reader, the writer and the editor binding all walk this one table.

#include <QString>

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

struct SettingKey {
    const char* section;
    const char* key;
    ValueForm form;
    const char* defaultValue;
};

inline constexpr const char* kSections[] = {"DEVICE", "RECORD", "EVENT", "SYSTEM", "CONNECTIVITY", "SERVER",
                                            "ADASCAMERA"};

std::span<const SettingKey> settingsSchema();
// Position of `key` in the schema (exact, upper-case name), or nothing.
std::optional<std::size_t> schemaIndex(const QString& key);
const SettingKey& schemaKey(const QString& key);  // throws EArgumentException for an unknown key

inline constexpr int kWifiSlots = 10;
QString wifiSsidKey(int slot);      // "WIFI_SSID<slot>", slot 1..10
QString wifiPasswordKey(int slot);  // "WIFI_PASS<slot>"

}  // namespace settings
