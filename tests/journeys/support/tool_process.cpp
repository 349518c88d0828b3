#include "tool_process.h"

#include "x_session.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <atomic>
#include <csignal>

namespace journeys {

bool waitUntil(const std::function<bool()>& done, int timeoutMs, int pollMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, pollMs);
        QThread::msleep(std::max(1, pollMs / 5));
    }
    return true;
}

ToolProcess::ToolProcess(const XSession& session, QString workingFolder)
    : env_(session.environment()), x_(session), folder_(std::move(workingFolder))
{
    static std::atomic<int> serial{0};
    errorLog_ = session.scratchPath(QStringLiteral("tool-%1.stderr").arg(++serial));
}

ToolProcess::~ToolProcess() { kill(); }

bool ToolProcess::start(const QString& program, const QStringList& arguments)
{
    process_.setProgram(program);
    process_.setArguments(arguments);
    process_.setWorkingDirectory(folder_);
    process_.setProcessEnvironment(env_);
    // Into a file, not a pipe: a program that writes a lot while nobody reads
    // must not block on a full pipe.
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.setStandardErrorFile(errorLog_);
    endWithParent(process_, ownGroup_);
    process_.start();
    return process_.waitForStarted(10000);
}

std::optional<XWindow> ToolProcess::waitForWindow(const QRegularExpression& title, int timeoutMs,
                                                  const QStringList& except) const
{
    std::optional<XWindow> found;
    waitUntil(
        [&] {
            for (const XWindow& w : windows())
                if (!except.contains(w.id) && title.match(w.title).hasMatch()) {
                    found = w;
                    return true;
                }
            return !running();
        },
        timeoutMs, 100);
    return found;
}

bool ToolProcess::waitForTitle(const QString& window, const QRegularExpression& title, int timeoutMs) const
{
    return waitUntil([&] { return title.match(x_.titleOf(window)).hasMatch(); }, timeoutMs, 100);
}

bool ToolProcess::waitForWindowGone(const QString& window, int timeoutMs) const
{
    return waitUntil(
        [&] {
            for (const XWindow& w : windows())
                if (w.id == window) return false;
            return true;
        },
        timeoutMs, 100);
}

bool ToolProcess::waitForExit(int timeoutMs)
{
    if (!running()) return true;
    return process_.waitForFinished(timeoutMs);
}

void ToolProcess::signal(int signalNumber) const
{
    if (running()) ::kill(pid_t(process_.processId()), signalNumber);
}

void ToolProcess::signalGroup(int signalNumber) const
{
    if (running() && ownGroup_) ::killpg(pid_t(process_.processId()), signalNumber);
}

void ToolProcess::kill()
{
    if (!running()) return;
    process_.kill();
    process_.waitForFinished(10000);
}

QString ToolProcess::standardError() const
{
    QFile f(errorLog_);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromLocal8Bit(f.readAll());
}

}  // namespace journeys
