#include "unit_conversion.h"

#include "toolkit/exceptions.h"
#include "toolkit/number_text.h"

#include <cmath>

namespace settings {

namespace {

using U = DisplayUnit;
using Q = Quantity;

constexpr UnitConversion kConversions[] = {
    {U::Cm, Q::Length, 2.54, true, "%3.0f"},
    {U::Cm, Q::Velocity, 2.54, true, "%3.0f"},
    {U::Inch, Q::Length, 0.393701, false, "%3.1f"},
    // Whole numbers: the recorder's velocity threshold has no decimals in either unit.
    {U::Inch, Q::Velocity, 0.393701, true, "%3.0f"},
    {U::KmH, Q::Speed, 1.609344, true, "%3.0f"},
    {U::Mph, Q::Speed, 0.621371, false, "%3.1f"},
};

double converted(const QString& text, const UnitConversion& row)
{
    double value = toolkit::StrToFloat(text) * row.factor;
    if (row.roundToWhole) value = std::round(value) + 0.0;  // + 0.0 turns -0 into 0: no "-0" on screen
    return value;
}

}  // namespace

bool isLengthUnit(DisplayUnit unit) { return unit == U::Cm || unit == U::Inch; }

bool governs(DisplayUnit unit, Quantity quantity) { return isLengthUnit(unit) == (quantity != Q::Speed); }

DisplayUnit storedUnit(Quantity quantity) { return quantity == Q::Speed ? U::KmH : U::Cm; }

const UnitConversion& conversionInto(DisplayUnit chosen, Quantity quantity)
{
    for (const UnitConversion& row : kConversions)
        if (row.chosen == chosen && row.quantity == quantity) return row;
    throw toolkit::EArgumentException(QStringLiteral("No conversion of that quantity into that unit"));
}

std::span<const UnitField> unitFields()
{
    static const std::vector<UnitField> fields = [] {
        std::vector<UnitField> out;
        const auto schema = settingsSchema();
        for (std::size_t i = 0; i < schema.size(); ++i)
            if (schema[i].unit) out.push_back({i, schema[i].unit});
        return out;
    }();
    return fields;
}

QString captionIn(const UnitDisplay& display, DisplayUnit unit)
{
    const bool metric = unit == U::Cm || unit == U::KmH;
    return QString::fromUtf8(metric ? display.metricCaption : display.imperialCaption);
}

QString convertShownText(const QString& text, const UnitConversion& row)
{
    return toolkit::FormatFloat(row.format, converted(text, row));
}

QString paddedWholeNumber(const QString& text)
{
    bool ok = false;
    const int whole = text.trimmed().toInt(&ok);
    return ok ? toolkit::FormatFloat("%3.0f", whole) : text;
}

QString convertToStoredText(const QString& text, const UnitConversion& row)
{
    return convertShownText(text, row).trimmed();
}

}  // namespace settings
