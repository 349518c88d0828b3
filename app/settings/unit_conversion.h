#pragma once
// Display units of the editor's length and speed fields. The recorder always
// stores cm, cm/sec and km/h; the window may show inch and mph instead. Pure
// text work, so every factor, rounding and format is testable without widgets.

#include "settings_schema.h"

#include <QString>

#include <span>
#include <vector>

namespace settings {

enum class DisplayUnit { Cm, Inch, KmH, Mph };

bool isLengthUnit(DisplayUnit unit);
// Whether choosing `unit` converts fields of `quantity`.
bool governs(DisplayUnit unit, Quantity quantity);
// The unit the settings file carries for a quantity: cm (and cm/sec) or km/h.
DisplayUnit storedUnit(Quantity quantity);

// One row of the conversion table: what choosing a unit does to a field.
struct UnitConversion {
    DisplayUnit chosen;
    Quantity quantity;
    double factor;
    bool roundToWhole;
    const char* format;  // printf style
};
// The row for converting a field of `quantity` into `chosen`; throws
// EArgumentException when that unit does not govern the quantity.
const UnitConversion& conversionInto(DisplayUnit chosen, Quantity quantity);

// The units the window shows lengths and speeds in.
struct Units {
    DisplayUnit length = DisplayUnit::Cm;
    DisplayUnit speed = DisplayUnit::KmH;
    DisplayUnit of(Quantity quantity) const { return quantity == Quantity::Speed ? speed : length; }
    bool operator==(const Units&) const = default;
};

// A field that carries a unit: its row of the settings schema and how it is labelled.
struct UnitField {
    std::size_t row;
    const UnitDisplay* display;
};
// In the schema's order.
std::span<const UnitField> unitFields();
QString captionIn(const UnitDisplay& display, DisplayUnit unit);

// The field's text converted by `row`, formatted as the field shows it
// (padded to three characters). EConvertError when the text is not a number.
QString convertShownText(const QString& text, const UnitConversion& row);
// A whole number padded to three characters as the conversion formats it
// ("80" -> " 80"); any other text unchanged.
QString paddedWholeNumber(const QString& text);
// The same conversion without the padding, as a value the settings file carries.
QString convertToStoredText(const QString& text, const UnitConversion& row);

}  // namespace settings
