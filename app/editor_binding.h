#pragma once
// The editor's controls for every row of the settings schema, found once when
// the window is built and held as typed pointers. Shows the states the
// settings document computed and reads them back; it never converts a value
// itself, so showing cannot fail half-way.

#include "settings/shown_values.h"

#include <array>
#include <vector>

class QComboBox;
class QLabel;
class QWidget;

namespace settings {
class SettingsValues;
}

class EditorBinding {
public:
    // Raises EArgumentException when a control the schema names is missing or of another kind.
    EditorBinding(QWidget* root, int displayScale);

    // Every row's controls take `shown` through their ordinary setters, in the
    // schema's order, so the rules attached to them run as the values arrive.
    void show(const std::vector<settings::Shown>& shown);
    // One field that carries a unit, and its label, in `units`.
    void showUnitField(const settings::UnitField& field, const settings::Shown& shown, const settings::Units& units);

    settings::Shown read(std::size_t row) const;
    // Every row into `values`, in the units the file carries. EConvertError names
    // the key of the first field that holds no valid value; `values` may then be
    // partly updated, so callers collect into a copy.
    void collect(settings::SettingsValues& values, const settings::Units& units) const;

    // Gives every number field its input filter and a tool tip with its range.
    void installNumberInput() const;

    // Every control of the schema (the document watches them for edits).
    std::vector<QWidget*> controls() const;

private:
    void showRow(std::size_t row, const settings::Shown& shown);

    std::vector<std::array<QWidget*, 4>> rows_;  // per schema row, in the schema's control order
    // What each unit field was given to show: while it still shows that, its
    // value stays the document's, not a conversion of a rounded conversion.
    std::vector<QString> shownUnitText_;
    std::vector<QLabel*> unitLabels_;  // per schema row: the label naming the unit, for rows that carry one
    QComboBox* wifiSelector_ = nullptr;
    int displayScale_ = 100;
};

// Sets an editable list's text; picks the matching item when there is one.
void setComboText(QComboBox* combo, const QString& text);
