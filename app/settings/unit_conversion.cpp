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

constexpr UnitField kFields[] = {
    {"maskEdVehicleWidth", "lbVehicleWidth", Q::Length, "Vehicle Width (cm)", "Vehicle Width (inch)"},
    {"maskEdCameraWheel", "lbCameraWheel", Q::Length, "Camera ~ Wheel (cm)", "Camera ~ Wheel (inch)"},
    {"maskEdCameraBumper", "lbCameraBumper", Q::Length, "Camera ~ Bumper (cm)", "Camera ~ Bumper (inch)"},
    {"maskEdCameraHeight", "lbCameraHeight", Q::Length, "Camera ~ Height (cm)", "Camera ~ Height (inch)"},
    {"maskEdCameraCenter", "lbCameraCenter", Q::Length, "Camera ~ Off-Center (cm)", "Camera ~ Off-Center (inch)"},
    {"maskEdEventRlcSpeed", "lbEventRlcSpeed", Q::Velocity, "cm/sec", "inch/sec"},
    {"maskEdEventLdwSpeed", "lbEventLdwSpeed", Q::Speed, "km/h", "mph"},
    {"maskEdEventSpeedLimit", "lbEventSpeed", Q::Speed, "km/h", "mph"},
    {"maskEdEventDecelSpeed", "lbEventDecelSpeed", Q::Speed, "km/h", "mph"},
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

std::span<const UnitField> unitFields() { return kFields; }

QString captionIn(const UnitField& field, DisplayUnit unit)
{
    const bool metric = unit == U::Cm || unit == U::KmH;
    return QString::fromUtf8(metric ? field.metricCaption : field.imperialCaption);
}

QString convertShownText(const QString& text, const UnitConversion& row)
{
    return toolkit::FormatFloat(row.format, converted(text, row));
}

QString convertToStoredText(const QString& text, const UnitConversion& row)
{
    return convertShownText(text, row).trimmed();
}

}  // namespace settings
