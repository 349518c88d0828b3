#pragma once
// The editor as a document: which file it shows, whether the window holds edits
// not yet saved (shown in the title, asked about on close), where the file
// dialogs start, and the keyboard and drag-and-drop ways to open and save.

#include "settings/settings_values.h"

#include <QObject>
#include <QString>

#include <optional>

class QTimer;
class TFormWebsocketclientf;

class EditorDocument : public QObject {
    Q_OBJECT
public:
    // Watches the editor's controls; call once the window is built.
    explicit EditorDocument(TFormWebsocketclientf* editor);

    // The file shown, absolute; empty before any file was loaded or saved.
    const QString& path() const { return path_; }
    // The window now shows `path` as loaded or saved: nothing is modified.
    void setClean(const QString& path);

    bool isModified();
    // The folder the open and save dialogs start in: the working folder until a
    // file was opened or saved, then that file's folder.
    QString dialogFolder() const;
    // The name the save dialog proposes.
    QString proposedSaveName() const;

    // Before the window closes: true when it may close (nothing to save, the
    // user discarded the edits, or saved them).
    bool confirmClose();

    // A file dropped on the window or named otherwise: .ini into the editor, .drv into the viewer.
    static bool isOpenable(const QString& path);
    void openDropped(const QString& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void watchControls();
    void scheduleRefresh();
    void refresh();
    std::optional<settings::SettingsValues> shownValues() const;
    void updateTitle();

    TFormWebsocketclientf* editor_;
    QString path_;
    std::optional<settings::SettingsValues> clean_;
    bool modified_ = false;
    QTimer* refreshTimer_;
};
