#pragma once
// What a settings file holds, told before and after it is loaded: a file with
// none of the recorder's keys is refused before anything changes, and the keys
// a file lacks (which take the format's defaults, not the window's start
// state) are named to the user afterwards.

#include <QString>
#include <QStringList>

namespace toolkit {
class IniDocument;
}

namespace settings {

struct LoadReport {
    QString path;             // absolute
    bool exists = false;      // a name that does not exist reads every default
    QStringList missingKeys;  // "SECTION/KEY", in the file's order
    int knownKeys = 0;        // keys of the schema the file holds
    QStringList unknownValues;  // enumerations holding a value the recorder does not know
};

// Looks at the file without changing anything. Raises toolkit::EFileError
// "<path> is not a settings file: ..." for an existing file that holds none of
// the recorder's keys (a binary file, another program's INI), and whatever
// reading the file raises.
LoadReport inspectSettingsFile(const QString& path);
// The same on a document in memory; `path` names it in the report and the refusal.
LoadReport inspectSettings(const toolkit::IniDocument& doc, const QString& path, bool exists = true);

// The notice shown after a load; empty when the file lacked nothing and held
// nothing unknown.
QString loadNotice(const LoadReport& report);
// The list behind the notice: "KEY in [SECTION] = default" for a missing key,
// then the unknown values.
QString loadNoticeDetails(const LoadReport& report);

// "SPEED_SOURCE in [DEVICE] of /path/x.ini: 'abc' is not a valid integer value";
// without a path: "SPEED_SOURCE in [DEVICE]: ...".
QString keyContextMessage(const QString& key, const QString& path, const QString& problem);

}  // namespace settings
