#pragma once
// What a save would write that the recorder does not expect, and what a load
// read that the recorder does not know. Both walk the settings schema.

#include "settings_values.h"

#include <QStringList>

namespace settings {

// Values that must not be written empty: keys whose file default is not empty.
// One "KEY in [SECTION]" a line, in the file's order; empty when none.
QStringList emptyRequiredValues(const SettingsValues& values);

// Numbers that are no numbers or outside their range, list texts outside their
// list, camera lines below the image, a Wi-Fi password shorter than 8
// characters. One line per problem, in the file's order; empty when all is well.
QStringList problemsBeforeSave(const SettingsValues& values);

// Values of enumerations (flags, list positions, image-upload codes) that the
// recorder does not know: "AUDIO in [RECORD] = 7 (known: 0, 1)". Empty values
// are not listed; they read as the file holds them.
QStringList unknownEnumerationValues(const SettingsValues& values);

// The text a number rule's range reads as: "0 to 36 V".
QString rangeText(const NumberRule& rule);

inline constexpr int kMinWifiPasswordLength = 8;

}  // namespace settings
