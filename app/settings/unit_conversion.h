#pragma once
// Display units of the editor's length and speed fields. The recorder always
// stores cm, cm/sec and km/h; the window may show inch and mph instead. Pure
// text work, so every factor, rounding and format is testable without widgets.

#include <QString>

#include <span>

namespace settings {

enum class DisplayUnit { Cm, Inch, KmH, Mph };

// What a field measures; lengths and the lateral velocity follow the length
// unit, the speeds the speed unit.
enum class Quantity { Length, Velocity, Speed };

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

// A main-window field that carries a unit, with its label and the label's
// caption for the metric and the imperial unit.
struct UnitField {
    const char* field;
    const char* label;
    Quantity quantity;
    const char* metricCaption;
    const char* imperialCaption;
};
// In the order the conversion walks them: the five lengths, the velocity, the three speeds.
std::span<const UnitField> unitFields();
QString captionIn(const UnitField& field, DisplayUnit unit);

// The field's text converted by `row`, formatted as the field shows it
// (padded to three characters). EConvertError when the text is not a number.
QString convertShownText(const QString& text, const UnitConversion& row);
// The same conversion without the padding, as a value the settings file carries.
QString convertToStoredText(const QString& text, const UnitConversion& row);

}  // namespace settings
