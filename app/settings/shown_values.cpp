#include "shown_values.h"

#include "load_report.h"
#include "toolkit/exceptions.h"
#include "toolkit/number_text.h"

#include <algorithm>

namespace settings {

namespace {

using C = Codec;
using toolkit::StrToInt;

// A list position the list has, or -1 (nothing chosen).
int positionIn(const SettingKey& key, int position)
{
    return position >= 0 && position < choicesOf(key.choices).size() ? position : -1;
}

int selectedWifiSlot(const SettingsValues& values) { return wifiSlotOf(values.value(QStringLiteral("WIFI_AP_SELECTED"))); }

Shown showOne(const SettingKey& key, const SettingsValues& values, const Units& units)
{
    const QString& v = values.value(QLatin1String(key.key));
    Shown s;
    switch (key.codec) {
    case C::Text:
        s.text = v;
        if (key.unit) {
            const DisplayUnit shown = units.of(key.unit->quantity);
            if (shown != storedUnit(key.unit->quantity))
                s.text = convertShownText(v, conversionInto(shown, key.unit->quantity));
        }
        break;
    case C::Index:
        s.number = positionIn(key, StrToInt(v.isEmpty() && key.emptyShows ? QLatin1String(key.emptyShows) : v));
        break;
    case C::IndexPlusOne:
        s.number = positionIn(key, StrToInt(v) - 1);
        break;
    case C::Flag:
        s.ticked = StrToInt(v) != 0;
        break;
    case C::Position:
        s.number = std::clamp(StrToInt(v), 0, 100);
        break;
    case C::FrameRate: {
        // The quality list, chosen before, caps the rate.
        const SettingKey& quality = settingsSchema()[*schemaRowOfControl(QLatin1String(key.controls[1]))];
        int index = -1;
        try {
            index = positionIn(quality, StrToInt(values.value(QLatin1String(quality.key))));
        } catch (const toolkit::EConvertError&) {
            // the quality's own row reports it
        }
        s.text = frameRateText(index, v);
        break;
    }
    case C::Encryption:
        s.text = decodeEncryption(v);
        break;
    case C::TimeZone:
        s.text = timeZoneText(StrToInt(v));
        break;
    case C::DstCode:
        s.dst = parseDstCode(v);
        break;
    case C::ManualTime:
        s.applies = false;  // the value read from a file is never shown
        break;
    case C::WifiSlot:
        s.applies = selectedWifiSlot(values) == wifiSlotOfKey(key);
        s.text = v;
        break;
    case C::ImageUpload:
        if (const auto boxes = uploadBoxesFor(v, key.controls[2] != nullptr)) s.boxes = *boxes;
        else s.applies = false;
        break;
    case C::Line:
        s.number = StrToInt(v);
        s.text = QString::number(s.number);
        break;
    }
    return s;
}

}  // namespace

std::vector<Shown> showValues(const SettingsValues& values, const Units& units, const QString& path)
{
    std::vector<Shown> out;
    const auto schema = settingsSchema();
    out.reserve(schema.size());
    for (const SettingKey& key : schema) {
        try {
            out.push_back(showOne(key, values, units));
        } catch (const toolkit::EConvertError& e) {
            throw toolkit::EConvertError(keyContextMessage(QLatin1String(key.key), path, e.message()));
        }
    }
    return out;
}

void storeShown(std::size_t row, const Shown& shown, const Units& units, SettingsValues& values)
{
    const SettingKey& key = settingsSchema()[row];
    const QString name = QLatin1String(key.key);
    try {
        switch (key.codec) {
        case C::Text:
        case C::FrameRate:
        case C::Line: {
            QString text = key.number ? shown.text.trimmed() : shown.text;
            if (key.unit) {
                const Quantity q = key.unit->quantity;
                if (units.of(q) != storedUnit(q)) text = convertToStoredText(text, conversionInto(storedUnit(q), q));
            }
            values.set(name, text);
            break;
        }
        case C::Index:
            values.set(name, QString::number(shown.number));
            break;
        case C::IndexPlusOne:
            values.set(name, QString::number(shown.number + 1));
            break;
        case C::Flag:
            values.set(name, shown.ticked ? QStringLiteral("1") : QStringLiteral("0"));
            break;
        case C::Position:
            values.set(name, QString::number(shown.number));
            break;
        case C::Encryption:
            values.set(name, encodeEncryption(shown.text));
            break;
        case C::TimeZone:
            values.set(name, timeZoneMinutes(shown.text));
            break;
        case C::DstCode:
            values.set(name, dstCode(shown.dst.month, shown.dst.order, shown.dst.weekday, shown.dst.hour));
            break;
        case C::ManualTime:
            values.set(name, manualTimeCode(shown.date, shown.parts.value(0), shown.parts.value(1), shown.parts.value(2)));
            break;
        case C::WifiSlot:
            if (shown.applies) values.set(name, shown.text);
            break;
        case C::ImageUpload:
            values.set(name, uploadCodeFor(shown.boxes, key.controls[2] != nullptr));
            break;
        }
    } catch (const toolkit::EConvertError& e) {
        throw toolkit::EConvertError(keyContextMessage(name, {}, e.message()));
    }
}

}  // namespace settings
