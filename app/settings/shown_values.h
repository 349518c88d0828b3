#pragma once
// What the editor's controls show for each key, and the way back: the codecs
// of the settings schema on values alone, without widgets. Showing every key
// before any control changes is what makes a load all or nothing; the window
// only copies these states into its controls and reads them back.

#include "binding_codecs.h"
#include "settings_values.h"
#include "unit_conversion.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <vector>

namespace settings {

// The state of one row's control(s). Which members count depends on the row's codec.
struct Shown {
    bool applies = true;  // false: the controls keep what they show (manual time, an unknown
                          // upload code, a Wi-Fi slot that is not the selected one)
    QString text;         // Text, FrameRate, TimeZone, Line, Encryption, WifiSlot
    int number = 0;       // Index/IndexPlusOne list position (-1: none), Position, Line value
    bool ticked = false;  // Flag
    UploadBoxes boxes;    // ImageUpload
    DstFields dst;        // DstCode
    QDate date;           // ManualTime: the picker, and hour, minute, second in `parts`
    QStringList parts;
};

// Every row as the controls show it, in `units`. The first value a control
// cannot show raises EConvertError naming its key (and `path`, when given);
// nothing is returned half done.
std::vector<Shown> showValues(const SettingsValues& values, const Units& units, const QString& path = {});

// One row's control state back into `values`, in the units the file carries.
// EConvertError naming the key for a text that is no number where one is needed.
void storeShown(std::size_t row, const Shown& shown, const Units& units, SettingsValues& values);

}  // namespace settings
