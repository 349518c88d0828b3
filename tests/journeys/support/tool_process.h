#pragma once
// A built program started as a user starts it, on the session's display, in a
// working folder of the journey's choosing; its windows found by title, its
// end awaited, its standard error kept for the journey to read.

#include "x_tools.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <optional>

namespace journeys {

class XSession;

class ToolProcess {
public:
    ToolProcess(const XSession& session, QString workingFolder);
    ~ToolProcess();  // ends the program when the journey left it running
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    // Variables added to the session's environment for the program.
    void setEnvironmentVariable(const QString& name, const QString& value) { env_.insert(name, value); }
    // A process group of its own, as a job started from a terminal has.
    void setOwnProcessGroup(bool own) { ownGroup_ = own; }
    bool start(const QString& program, const QStringList& arguments = {});

    qint64 pid() const { return process_.processId(); }
    bool running() const { return process_.state() != QProcess::NotRunning; }
    const XTools& x() const { return x_; }

    // The first mapped window of the program whose title matches and that is
    // not one of `except`; nothing when none came within the time.
    std::optional<XWindow> waitForWindow(const QRegularExpression& title, int timeoutMs = 30000,
                                         const QStringList& except = {}) const;
    bool waitForTitle(const QString& window, const QRegularExpression& title, int timeoutMs = 10000) const;
    bool waitForWindowGone(const QString& window, int timeoutMs = 10000) const;
    QList<XWindow> windows() const { return x_.windowsOf(pid()); }

    // True when the program ended within the time.
    bool waitForExit(int timeoutMs);
    int exitCode() const { return process_.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return process_.exitStatus(); }
    void signal(int signalNumber) const;
    // To the whole process group, as a terminal's Ctrl+C or hang-up is sent.
    void signalGroup(int signalNumber) const;
    void kill();

    // All the program wrote to standard error so far.
    QString standardError() const;
    QString workingFolder() const { return folder_; }

private:
    QProcessEnvironment env_;
    XTools x_;
    QString folder_;
    QString errorLog_;
    bool ownGroup_ = false;
    QProcess process_;
};

// Polls `done` until it holds or the time is up, keeping this program's own
// events going (its windows, its timers) meanwhile.
bool waitUntil(const std::function<bool()>& done, int timeoutMs, int pollMs = 50);

}  // namespace journeys
