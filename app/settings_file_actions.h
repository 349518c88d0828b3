#pragma once
// What the user does with settings files, whichever window they do it from:
// open (asking first about edits not yet saved), save (checking the values the
// recorder would not expect), save as the default set, the text view's copy,
// the settings the recorder sends, and the question before the program ends.

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

#include "settings/unit_conversion.h"

class EditorView;
namespace settings {
class SettingsDocument;
}

class SettingsFileActions : public QObject {
    Q_OBJECT

public:
    SettingsFileActions(settings::SettingsDocument& document, EditorView& view, QObject* parent = nullptr);

    // "Open": asks about unsaved edits, then the open dialog, then openFile.
    void open();
    // Loads `path` as Open does (all or nothing, then the notice of what the file
    // lacked or held unknown). `askFirst`: asks about unsaved edits before.
    // False when nothing was loaded because the user kept the edits.
    bool openFile(const QString& path, bool askFirst = true);
    // "Save": the save dialog, the encryption number committed, then saveTo.
    void save();
    // Collects, asks before writing values the recorder does not expect (go back
    // or save anyway), then writes. False when the user went back.
    bool saveTo(const QString& path);
    // "Save Current Settings as Default": "./setting.ini", checked like Save.
    bool saveAsDefault();
    // The current settings written to `path` as they stand (the text view's copy).
    void writeCopy(const QString& path);
    // The current settings as the bytes of a new settings file, for the recorder;
    // checked like Save, nothing when the user went back.
    std::optional<QByteArray> currentFileBytes();

    // A settings file the recorder sent. It is checked as a load checks it before
    // anything is written; with edits not yet saved the user chooses whether it
    // replaces them; then it is written atomically to "./setting.ini" and loaded.
    void takeFromRecorder(const QByteArray& bytes);
    // The same, from the device link's data event: taken from the event loop, so
    // the link reads on while the user answers; of files that arrive meanwhile
    // only the newest is taken. `reportFailures` runs the taking and shows what
    // it raises.
    void receiveFromRecorder(const QByteArray& bytes);
    void setFailureReporter(std::function<void(const std::function<void()>&)> reportFailures)
    {
        reportFailures_ = std::move(reportFailures);
    }

    // Shows lengths or speeds in `unit`: the edits are taken first, so the fields
    // show the document's values converted once, never a conversion of a conversion.
    void showUnit(settings::DisplayUnit unit);

    // Before the program ends: true when it may (nothing to save, the user
    // discarded the edits, or saved them).
    bool confirmClose();

    // The folder the open and save dialogs start in: the working folder until a
    // file was opened or saved, then that file's folder.
    QString dialogFolder() const;

signals:
    // A line for the device link's log (what happened to settings it sent).
    void logLine(const QString& line);

private:
    // With edits not yet saved: save them, discard them, or stop (false).
    bool settleUnsavedEdits(const QString& question);
    // Takes the controls' pending edits into the document; an invalid one counts as an edit.
    void flushEdits();
    // Collects and asks about values the recorder does not expect; false when the user went back.
    bool collectChecked(const QString& action);

    void takePendingFromRecorder();

    settings::SettingsDocument& document_;
    EditorView& view_;
    std::function<void(const std::function<void()>&)> reportFailures_;
    std::optional<QByteArray> fromRecorder_;  // the newest file the recorder sent, not yet taken
    bool takingFromRecorder_ = false;
};
