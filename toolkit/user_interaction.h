#pragma once
// Everything that asks the user something or tells them something goes through
// this interface, so that tests can answer dialogs without a window system.

#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace toolkit {

struct FileDialogRequest {
    QWidget* parent = nullptr;
    QString title;
    QString fileName;       // preset name, e.g. "*.ini" or "setting.ini"
    QString filter;         // "ini|*.ini" style: description|pattern pairs
    QString defaultSuffix;  // appended to a name typed without extension
    QString directory;      // start folder; empty for the current folder
    bool mustExist = false;
    bool multiSelect = false;
};

class UserInteraction {
public:
    virtual ~UserInteraction() = default;

    virtual void information(QWidget* parent, const QString& text, const QString& caption = {}) = 0;
    virtual void error(QWidget* parent, const QString& text, const QString& caption = {}) = 0;
    // OK/Cancel question; true for OK.
    virtual bool confirm(QWidget* parent, const QString& text, const QString& caption) = 0;
    // A message whose longer part (`details`, e.g. a list) is shown on request.
    virtual void notice(QWidget* parent, const QString& text, const QString& details, const QString& caption = {}) = 0;
    // A question with the given buttons, the first being the default; the index of
    // the one pressed, or -1 when the box was closed without an answer.
    virtual int choose(QWidget* parent, const QString& text, const QString& caption, const QStringList& buttons) = 0;

    // Chosen files (first is the one to use), or nothing when cancelled.
    virtual std::optional<QStringList> openFiles(const FileDialogRequest& request) = 0;
    virtual std::optional<QString> saveFile(const FileDialogRequest& request) = 0;
    virtual std::optional<QString> chooseFolder(QWidget* parent, const QString& title, const QString& startDirectory) = 0;

    std::optional<QString> openFile(const FileDialogRequest& request);
};

// The process-wide interaction; QtUserInteraction unless a test installed another.
UserInteraction& userInteraction();
// Installs `replacement` (not owned); nullptr restores the Qt one.
void setUserInteraction(UserInteraction* replacement);

// Converts a "desc|pattern|desc|pattern" filter into Qt's "desc (pattern);;..." form.
QString qtFilterFromPairs(const QString& filter);

// The extension of a Qt filter's first pattern ("GPX (*.gpx)" -> "gpx"); empty for "*".
// A save dialog appends it to a name typed without one.
QString suffixOfFilter(const QString& qtFilter);

}  // namespace toolkit
