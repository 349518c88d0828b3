#pragma once
// The editor's number fields and what they accept: digits, a point where the
// value may have decimals, a sign where it may be negative, within the range
// its label's unit allows. One table; the input filter, the check before a
// save and the normalising of collected numbers all walk it.

#include "settings_values.h"

#include <QStringList>

#include <span>

class QWidget;

namespace settings {

struct NumberField {
    const char* field;  // object name of the QLineEdit
    const char* key;    // the settings key it carries
    const char* what;   // how the user knows it
    double min;         // in the unit the file carries
    double max;
    bool decimals;      // a point may be typed (also where inch or mph show decimals)
    bool negative;      // a sign may be typed
    const char* unit;
};

std::span<const NumberField> numberFields();

// Gives every number field of the editor below `root` its input filter and a
// tool tip with its range.
void installNumberInput(QWidget* root);

// Collected numbers go to the file without the blanks the shown format pads with.
void trimNumberValues(SettingsValues& values);

// What a save would write that the recorder does not expect: empty numbers,
// numbers outside their range, a Wi-Fi password shorter than 8 characters.
// One line per problem, in the file's order; empty when all is well.
QStringList problemsBeforeSave(const SettingsValues& values);

inline constexpr int kMinWifiPasswordLength = 8;

}  // namespace settings
