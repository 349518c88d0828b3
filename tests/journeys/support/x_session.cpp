#include "x_session.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace journeys {

namespace {

QString tail(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray all = f.readAll();
    return QString::fromLocal8Bit(all.right(2000)).trimmed();
}

}  // namespace

void endWithParent(QProcess& process, bool ownProcessGroup)
{
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent, ownProcessGroup] {
        if (ownProcessGroup) ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        // The parent may have gone between fork and prctl: then nobody would stop us.
        if (::getppid() != parent) ::_exit(127);
    });
}

XSession::XSession()
{
    if (!scratch_.isValid()) {
        failure_ = QStringLiteral("no scratch folder for the X session");
        return;
    }
    for (const char* sub : {"runtime", "config", "cache"}) QDir(scratch_.path()).mkpath(QLatin1String(sub));
    QFile::setPermissions(scratchPath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (startDisplay()) startWindowManager();
}

XSession::~XSession()
{
    stop(windowManager_);
    stop(xvfb_);
}

bool XSession::startDisplay()
{
    // -displayfd: Xvfb takes the first free display itself and tells which on
    // standard output once it accepts clients, so parallel sessions never collide
    // and no guessed display number is ever waited on.
    xvfb_.setProgram(QStringLiteral("Xvfb"));
    xvfb_.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                        QStringLiteral("1600x1200x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                        QStringLiteral("-noreset")});
    xvfb_.setStandardErrorFile(scratchPath(QStringLiteral("xvfb.log")));
    endWithParent(xvfb_);
    xvfb_.start(QIODevice::ReadOnly);
    if (!xvfb_.waitForStarted(10000)) {
        failure_ = QStringLiteral("Xvfb cannot be started: %1").arg(xvfb_.errorString());
        return false;
    }
    QDeadlineTimer deadline(30000);
    while (!xvfb_.canReadLine()) {
        if (xvfb_.state() == QProcess::NotRunning || deadline.hasExpired()) {
            failure_ = QStringLiteral("Xvfb did not come up: %1").arg(tail(scratchPath(QStringLiteral("xvfb.log"))));
            stop(xvfb_);
            return false;
        }
        xvfb_.waitForReadyRead(100);
    }
    const QByteArray number = xvfb_.readLine().trimmed();
    if (number.isEmpty()) {
        failure_ = QStringLiteral("Xvfb named no display");
        stop(xvfb_);
        return false;
    }
    display_ = QStringLiteral(":") + QString::fromLatin1(number);
    return true;
}

bool XSession::startWindowManager()
{
    // Openbox runs without a session and manages windows as a desktop does:
    // decorations, focus on map, transient dialogs above their windows, and
    // WM_DELETE_WINDOW for a close request.
    windowManager_.setProgram(QStringLiteral("openbox"));
    windowManager_.setArguments({QStringLiteral("--sm-disable")});
    windowManager_.setProcessEnvironment(environment());
    windowManager_.setProcessChannelMode(QProcess::MergedChannels);
    windowManager_.setStandardOutputFile(scratchPath(QStringLiteral("openbox.log")));
    endWithParent(windowManager_);
    windowManager_.start();
    if (!windowManager_.waitForStarted(10000)) {
        failure_ = QStringLiteral("the window manager (openbox) cannot be started: %1").arg(windowManager_.errorString());
        return false;
    }
    // An EWMH window manager announces itself on the root window once it runs.
    QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired()) {
        if (windowManager_.state() == QProcess::NotRunning) break;
        QProcess probe;
        probe.setProcessEnvironment(environment());
        probe.start(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
        if (!probe.waitForStarted(5000)) {
            failure_ = QStringLiteral("xprop cannot be started: %1").arg(probe.errorString());
            return false;
        }
        probe.waitForFinished(10000);
        if (probe.readAllStandardOutput().contains("window id")) {
            windowManagerUp_ = true;
            return true;
        }
        QThread::msleep(50);
    }
    failure_ = QStringLiteral("the window manager did not come up: %1").arg(tail(scratchPath(QStringLiteral("openbox.log"))));
    return false;
}

void XSession::stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning) return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

QProcessEnvironment XSession::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display_);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("SESSION_MANAGER"));
    // The desktop's settings (a file dialog's history, a window manager's theme)
    // must not steer a journey, nor a journey change them.
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), scratchPath(QStringLiteral("runtime")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), scratchPath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), scratchPath(QStringLiteral("cache")));
    env.insert(QStringLiteral("QT_ACCESSIBILITY"), QStringLiteral("0"));
    env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
    return env;
}

void XSession::useInThisProcess() const
{
    const QProcessEnvironment env = environment();
    for (const QString& name : env.keys()) qputenv(name.toLocal8Bit().constData(), env.value(name).toLocal8Bit());
    for (const char* gone : {"WAYLAND_DISPLAY", "SESSION_MANAGER"}) qunsetenv(gone);
}

}  // namespace journeys
