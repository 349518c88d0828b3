#pragma once
// Reading and writing setting.ini through the schema.

#include "settings_values.h"

namespace toolkit {
class IniDocument;
}

namespace settings {

// Every key of the schema from the file; a missing key (or file) gives its default,
// a key present with nothing after "=" gives the empty text. Anything but a regular
// file, and a file larger than toolkit::IniDocument::kLargestFile, raise
// toolkit::EFileError naming the file and the reason; values stay as they were.
void readSettingsFile(const QString& path, SettingsValues& values);

// Every key into the file, updated in place where it stands, added where missing;
// every other line is kept, and so is a value written back unchanged, byte for byte.
// Written atomically: a failure raises toolkit::EFileError and leaves the previous
// file as it was. The same refusals as for reading apply to the file written over.
void writeSettingsFile(const QString& path, const SettingsValues& values);

// The same on a document in memory.
void readSettings(const toolkit::IniDocument& doc, SettingsValues& values);
void writeSettings(toolkit::IniDocument& doc, const SettingsValues& values);

}  // namespace settings
