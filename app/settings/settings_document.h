#pragma once
// The settings the editor works on, as one document: the value of every key,
// the file it came from, whether it holds edits not yet saved, and the units
// lengths and speeds are shown in. The windows show it and send edits to it;
// nothing else holds settings. Loading is all or nothing: a file is read and
// every value checked against what its control can show before anything here
// changes.

#include "load_report.h"
#include "settings_values.h"
#include "shown_values.h"
#include "unit_conversion.h"

#include <QObject>
#include <QString>

namespace settings {

class SettingsDocument : public QObject {
    Q_OBJECT

public:
    // Starts as an empty settings file reads: every key at its default.
    explicit SettingsDocument(QObject* parent = nullptr);

    const SettingsValues& values() const { return values_; }
    // The file shown, absolute; empty while no file was loaded or saved.
    const QString& path() const { return path_; }
    bool isModified() const { return modified_; }
    const Units& units() const { return units_; }
    // What the last successful load found in its file.
    const LoadReport& lastLoad() const { return lastLoad_; }

    // The controls' states for the current values in the current units.
    std::vector<Shown> shown() const { return showValues(values_, units_, path_); }

    // A settings file checked as a load would check it, without loading it:
    // the values it gives and what it lacked. Raises what a load would raise.
    struct Candidate {
        SettingsValues values;
        LoadReport report;
    };
    Candidate check(const QString& path) const;
    Candidate checkBytes(const QByteArray& bytes, const QString& name) const;

    // Replaces every value from the file; on any error nothing changes.
    void load(const QString& path);
    void adopt(Candidate candidate);

    // Writes every value into `path` (updated in place, foreign lines kept), and
    // the document now shows that file. Refuses, before writing, values that
    // must not be empty (toolkit::EConvertError naming them).
    void save(const QString& path);
    // The same write without making `path` the document's file (the default
    // set, the text view's scratch copy); saving over the document's own file
    // leaves nothing unsaved.
    void writeCopy(const QString& path);
    // The file's bytes as a new file holds them.
    QByteArray toBytes() const;

    // Edits: the values the controls now show. Modified when they differ from
    // what was loaded or saved.
    void setValues(const SettingsValues& values);
    void setValue(const QString& key, const QString& text);
    // The controls hold something that is no valid value (a letter in a number
    // field): that is an edit too, until they hold valid values again.
    void setUnreadableEdit();
    // Values as a fill left the controls ("030" shows as 30): what is shown now
    // is what the file holds.
    void settle(const SettingsValues& values);

    // The units lengths and speeds are shown in; the values stay in the units
    // the file carries.
    void setUnit(DisplayUnit unit);

signals:
    // Every value was replaced (a load): the controls show them again.
    void replaced();
    void unitsChanged();
    // The path or the modified flag changed.
    void stateChanged();

private:
    void refuseEmptyRequired() const;
    void markClean(const QString& path);

    SettingsValues values_;
    SettingsValues clean_;
    QString path_;
    bool modified_ = false;
    Units units_;
    LoadReport lastLoad_;
};

}  // namespace settings
