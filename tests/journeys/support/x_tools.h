#pragma once
// What a user does to windows, done through the X server of a session: input
// goes in through XTEST (xdotool), so the window manager, focus and stacking
// decide where it lands, as they do for a person; a close request goes through
// the window manager (wmctrl), as the title bar's close button does.

#include <QPoint>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

namespace journeys {

class XSession;

struct XWindow {
    QString id;  // X window id, decimal, as xdotool prints it
    QString title;
};

class XTools {
public:
    explicit XTools(const XSession& session);

    // Runs an X client program; its standard output, or nothing when it failed.
    std::optional<QString> run(const QString& program, const QStringList& arguments, int timeoutMs = 15000) const;

    // The mapped windows of a process, with their titles.
    QList<XWindow> windowsOf(qint64 pid) const;
    QString titleOf(const QString& window) const;

    // Raises and focuses a window and waits until the window manager says it is active.
    bool activate(const QString& window) const;
    // Key names as xdotool knows them ("Tab", "ctrl+a", "Return"), to the focused window.
    bool keys(const QStringList& keys) const;
    bool type(const QString& text) const;
    // Moves the pointer there (screen coordinates) and clicks the left button.
    bool click(QPoint global) const;
    // Asks the window manager to close the window, as its close button does.
    bool requestClose(const QString& window) const;

private:
    QProcessEnvironment env_;
};

}  // namespace journeys
