#pragma once
// A private X server (Xvfb on a display it picks itself) with a window manager
// on it, for the journeys: real windows, real focus and stacking, real input
// through XTEST. Nothing outside is needed, and nothing outside is touched:
// the session's programs get their own runtime and config folders.

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

namespace journeys {

class XSession {
public:
    // Starts Xvfb, then the window manager, and waits until both answer.
    XSession();
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    // Xvfb could not be started at all (not installed, refused to run): the
    // only reason a journey may be skipped.
    bool displayUp() const { return !display_.isEmpty(); }
    bool windowManagerUp() const { return windowManagerUp_; }
    // ":N"; empty when the display is not up.
    const QString& display() const { return display_; }
    // What went wrong, with the servers' own words.
    const QString& failure() const { return failure_; }

    // The environment for a program shown on this display: DISPLAY, Qt on xcb,
    // and runtime and config folders of the session's own.
    QProcessEnvironment environment() const;
    // The same environment for this program itself, before its QApplication
    // connects to a display.
    void useInThisProcess() const;
    // A folder that lives as long as the session, for logs and scratch files.
    QString scratchPath(const QString& name) const { return scratch_.filePath(name); }

private:
    bool startDisplay();
    bool startWindowManager();
    void stop(QProcess& process);

    QTemporaryDir scratch_;
    QProcess xvfb_;
    QProcess windowManager_;
    QString display_;
    QString failure_;
    bool windowManagerUp_ = false;
};

// Makes a child end with the test program that started it, even when the test
// program is killed outright (a ctest timeout): no server is left behind. With
// `ownProcessGroup` the child leads a process group of its own, as a shell's
// job does, so that a terminal's signals can be sent to it and its children.
void endWithParent(QProcess& process, bool ownProcessGroup = false);

}  // namespace journeys
