#pragma once
// Moves settings values between SettingsValues and the editor's controls.
// One table names the control(s) of every key and how the value is shown;
// fill and collect walk it in the file's key order.

#include "settings_values.h"

#include <array>
#include <optional>
#include <span>

class QComboBox;
class QWidget;

namespace settings {

enum class Binding {
    Text,          // control text as is
    Index,         // list position from 0
    IndexPlusOne,  // list position from 1
    Flag,          // box ticked when not 0
    Position,      // track bar position
    FrameRate,     // VIDEO_FPS, capped for the 1080P qualities
    Encryption,    // Base64 into the hidden encryption field
    TimeZone,      // minutes <-> "UTC+hh:mm"
    DstCode,       // month, order, weekday, hour lists
    ManualTime,    // collect only: date picker and three time lists
    WifiSlot,      // WIFI_SSIDn/WIFI_PASSn of the selected slot, all ten slots
    ImageUpload,   // trigger box and its companions
    Line,          // camera-angle line: edit, read-out label, marker
};

struct ControlBinding {
    const char* key;  // for WifiSlot the first of the twenty slot keys
    Binding binding;
    std::array<const char*, 4> controls;
    // What an empty value shows, for keys whose file default is empty but whose
    // control cannot show emptiness (NET_3G_AUTH); nullptr: an empty value is an error.
    const char* emptyShows = nullptr;
};

std::span<const ControlBinding> controlBindings();

// Where fill and collect find the controls, and what the line markers need.
struct EditorContext {
    QWidget* root = nullptr;
    int displayScale = 100;
};

// Controls take their values in table order through their ordinary setters, so
// the rules attached to ticking boxes and moving the track bar run as values
// arrive. A value a control cannot take raises EConvertError: the controls
// before it keep their new values, the ones after it their old ones.
// `rowsFilled`, when given, counts the rows of controlBindings() done so far, so a
// caller can tell after an error which controls took the new values.
void fillWindowFromValues(const EditorContext& editor, const SettingsValues& values,
                          std::size_t* rowsFilled = nullptr);

// The row of controlBindings() whose first control is `controlName`, or nothing.
std::optional<std::size_t> bindingRowOf(const char* controlName);

// Values from the controls, in the same order; stops at the first conversion error.
// `rowsCollected`, when given, counts the rows done, so the row that stopped it is known.
void collectValuesFromWindow(const EditorContext& editor, SettingsValues& values,
                             std::size_t* rowsCollected = nullptr);

// The slot number a selector text names ("1" to "10" exactly), or 0.
int wifiSlotOf(const QString& selectorText);

// Sets an editable list's text; picks the matching item when there is one.
void setComboText(QComboBox* combo, const QString& text);

}  // namespace settings
