#pragma once
// Reading and writing setting.ini through the schema.

#include "settings_values.h"

namespace settings {

// Every key of the schema from the file; a missing key (or file) gives its default,
// a key present with nothing after "=" gives the empty text.
void readSettingsFile(const QString& path, SettingsValues& values);

// Every key into the file, updated in place where it stands, added where missing;
// every other line is kept. Written atomically: a failure raises toolkit::EFileError
// and leaves the previous file as it was.
void writeSettingsFile(const QString& path, const SettingsValues& values);

}  // namespace settings
