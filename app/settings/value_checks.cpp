#include "value_checks.h"

#include "toolkit/number_text.h"

#include <QLatin1String>

namespace settings {

namespace {

QString number(double v) { return QString::number(v, 'g', 12); }

// "1 to 12" for a numbered range, "a, b, c" for a list.
QString choicesText(const SettingKey& key, const QStringList& known)
{
    if (key.choices && key.choices[0] == '@') return known.first() + QStringLiteral(" to ") + known.last();
    return known.join(QStringLiteral(", "));
}

std::optional<double> numberIn(const QString& text)
{
    try {
        return toolkit::StrToFloat(text);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

QString rangeText(const NumberRule& rule)
{
    return QStringLiteral("%1 to %2 %3").arg(number(rule.min), number(rule.max), QLatin1String(rule.unit));
}

QStringList emptyRequiredValues(const SettingsValues& values)
{
    QStringList out;
    const auto schema = settingsSchema();
    for (std::size_t i = 0; i < schema.size(); ++i)
        if (*schema[i].defaultValue && values.at(i).trimmed().isEmpty()) out << placeOf(schema[i]);
    return out;
}

QStringList problemsBeforeSave(const SettingsValues& values)
{
    QStringList problems;
    const auto schema = settingsSchema();
    for (std::size_t i = 0; i < schema.size(); ++i) {
        const SettingKey& key = schema[i];
        const QString text = values.at(i).trimmed();
        if (key.number) {
            const NumberRule& rule = *key.number;
            const QString what = QLatin1String(rule.what);
            if (text.isEmpty()) {
                problems << QStringLiteral("%1 is empty (%2).").arg(what, rangeText(rule));
            } else if (const auto v = numberIn(text); !v) {
                problems << QStringLiteral("%1: '%2' is not a number (%3).").arg(what, text, rangeText(rule));
            } else if (*v < rule.min || *v > rule.max) {
                problems << QStringLiteral("%1: %2 is outside %3.").arg(what, text, rangeText(rule));
            } else if (key.codec == Codec::Line) {
                // A line below the image's last row is nowhere on the picture.
                const auto height = numberIn(values.value(QStringLiteral("ADASANGLE_IMAGE_HEIGHT")));
                if (height && *v > *height)
                    problems << QStringLiteral("%1: %2 is below the image, whose height is %3.")
                                    .arg(what, text, number(*height));
            }
            continue;
        }
        if (key.form == ValueForm::ListText && !text.isEmpty()) {
            const QStringList known = knownValuesOf(key);
            if (!known.isEmpty() && !known.contains(text))
                problems << QStringLiteral("%1: %2 is not one of %3.").arg(placeOf(key), text, choicesText(key, known));
        }
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

QStringList unknownEnumerationValues(const SettingsValues& values)
{
    QStringList out;
    const auto schema = settingsSchema();
    for (std::size_t i = 0; i < schema.size(); ++i) {
        const SettingKey& key = schema[i];
        if (key.form == ValueForm::ListText) continue;  // lists take typed text too
        const QStringList known = knownValuesOf(key);
        const QString text = values.at(i).trimmed();
        if (known.isEmpty() || text.isEmpty()) continue;
        // Read as the editor reads it: "030" is 30.
        QString normal = text;
        try {
            normal = QString::number(toolkit::StrToInt(text));
        } catch (const std::exception&) {
        }
        if (!known.contains(normal))
            out << QStringLiteral("%1 = %2 (known: %3)").arg(placeOf(key), text, known.join(QStringLiteral(", ")));
    }
    return out;
}

}  // namespace settings
