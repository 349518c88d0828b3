// Journeys of the built tool as a process: started in a folder as a user
// starts it, its windows found, typed into and closed through the X server.

#include "support/journey.h"
#include "support/tool_process.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <csignal>

using journeys::JourneyTest;
using journeys::ToolProcess;
using journeys::XWindow;

namespace {

const QString kTool = QStringLiteral(BRINDLE_TOOL_EXE);
// The main window's title holds the program's name whatever file it shows and
// however it marks edits; the close question carries exactly that name.
const QRegularExpression kMainWindow(QStringLiteral("Brindle Configuration Tool"));
const QRegularExpression kCloseQuestion(QStringLiteral("^Brindle Configuration Tool$"));
// A window title shows unsaved edits with a '*'.
const QRegularExpression kModifiedMark(QStringLiteral("\\*"));

class ToolJourney : public JourneyTest {
protected:
    // Starts the tool in a fresh empty folder and waits for its main window.
    std::unique_ptr<ToolProcess> startTool(std::optional<XWindow>& main)
    {
        auto tool = std::make_unique<ToolProcess>(x(), fresh.emplace().path());
        EXPECT_TRUE(fresh->isValid());
        if (!tool->start(kTool)) return tool;
        main = tool->waitForWindow(kMainWindow);
        return tool;
    }

    // Edits whatever control the keyboard reaches first that takes an arrow key
    // (a list, a slider, a date), so the journey does not depend on the page's
    // layout: true once the title shows the edit.
    static bool editSomething(ToolProcess& tool, const XWindow& main)
    {
        if (!tool.x().activate(main.id)) return false;
        for (int attempt = 0; attempt < 40; ++attempt) {
            if (!tool.x().keys({QStringLiteral("Tab"), QStringLiteral("Down")})) return false;
            if (tool.waitForTitle(main.id, kModifiedMark, 500)) return true;
        }
        return false;
    }

    // Asks the window manager to close the main window and waits for the question.
    static std::optional<XWindow> closeAndAwaitQuestion(ToolProcess& tool, const XWindow& main)
    {
        if (!tool.x().requestClose(main.id)) return std::nullopt;
        auto box = tool.waitForWindow(kCloseQuestion, 10000, {main.id});
        if (box && !tool.x().activate(box->id)) return std::nullopt;
        return box;
    }

    std::optional<QTemporaryDir> fresh;
};

// The main window closes on the question's Save and Discard, and the program
// with it; Cancel keeps both.
TEST_F(ToolJourney, ClosingWithUnsavedEditsEndsTheProgramUnlessCancelled)
{
    enum class Outcome { Exits, SavesAndExits, Stays };
    struct Case {
        const char* answer;
        QStringList keys;  // from the default button, Save
        Outcome outcome;
    };
    const Case cases[] = {
        {"Discard", {QStringLiteral("Tab"), QStringLiteral("space")}, Outcome::Exits},
        {"Save", {QStringLiteral("space")}, Outcome::SavesAndExits},
        {"Cancel", {QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("space")}, Outcome::Stays},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        std::optional<XWindow> main;
        auto tool = startTool(main);
        ASSERT_TRUE(main) << tool->standardError().toStdString();
        ASSERT_TRUE(editSomething(*tool, *main));
        auto box = closeAndAwaitQuestion(*tool, *main);
        ASSERT_TRUE(box) << "no question about the unsaved edits";
        ASSERT_TRUE(tool->x().keys(c.keys));

        QElapsedTimer answered;
        if (c.outcome == Outcome::SavesAndExits) {
            auto dialog = tool->waitForWindow(QRegularExpression(QStringLiteral("^Save")), 10000, {main->id, box->id});
            ASSERT_TRUE(dialog) << "no save dialog";
            ASSERT_TRUE(tool->x().activate(dialog->id));
            // The dialog starts in the working folder, which is empty: no completion list to get in the way.
            ASSERT_TRUE(tool->x().keys({QStringLiteral("ctrl+a")}));
            ASSERT_TRUE(tool->x().type(QStringLiteral("answered.ini")));
            ASSERT_TRUE(tool->x().keys({QStringLiteral("Return")}));
        }
        answered.start();
        if (c.outcome == Outcome::Stays) {
            EXPECT_TRUE(tool->waitForWindowGone(box->id));
            EXPECT_FALSE(tool->waitForExit(2000)) << "the program ended although the close was cancelled";
            bool mainShown = false;
            for (const XWindow& w : tool->windows()) mainShown = mainShown || w.id == main->id;
            EXPECT_TRUE(mainShown) << "the main window went";
            // And the next close, answered, still ends it.
            box = closeAndAwaitQuestion(*tool, *main);
            ASSERT_TRUE(box);
            ASSERT_TRUE(tool->x().keys({QStringLiteral("Tab"), QStringLiteral("space")}));
            answered.restart();
        }
        EXPECT_TRUE(tool->waitForExit(2000)) << "still running " << answered.elapsed() << " ms after the answer";
        EXPECT_EQ(tool->exitCode(), 0);
        if (c.outcome == Outcome::SavesAndExits) {
            QFile saved(QDir(tool->workingFolder()).filePath(QStringLiteral("answered.ini")));
            ASSERT_TRUE(saved.open(QIODevice::ReadOnly)) << "the answer to the save dialog was not saved";
            EXPECT_TRUE(saved.readAll().contains("[DEVICE]"));
        }
    }
}

// The title shows unsaved edits through Qt's own mark. A title without the
// "[*]" placeholder makes Qt warn on every change of the modified state, about
// 70 lines for a short edit session; the warnings must not be there at start
// nor after an edit.
// Fails until the editor's window title carries the "[*]" placeholder from
// the start (the editor's document code sets the title).
TEST_F(ToolJourney, AFreshStartAndAnEditPrintNoTitlePlaceholderWarnings)
{
    std::optional<XWindow> main;
    auto tool = startTool(main);
    ASSERT_TRUE(main) << tool->standardError().toStdString();
    auto placeholderWarnings = [&] {
        QStringList found;
        for (const QString& line : tool->standardError().split(u'\n'))
            if (line.contains(QLatin1String("setWindowModified")) || line.contains(QLatin1String("[*]"))) found << line;
        return found.join(u'\n').toStdString();
    };
    EXPECT_EQ(placeholderWarnings(), "") << "at start";
    ASSERT_TRUE(editSomething(*tool, *main));
    auto box = closeAndAwaitQuestion(*tool, *main);
    ASSERT_TRUE(box);
    ASSERT_TRUE(tool->x().keys({QStringLiteral("Tab"), QStringLiteral("space")}));
    ASSERT_TRUE(tool->waitForExit(10000));
    EXPECT_EQ(placeholderWarnings(), "") << "after an edit";
}

#ifdef BRINDLE_RUN_SH

// Processes as /proc shows them: run.sh's children, and whether one is gone.
QList<qint64> childrenOf(qint64 parent)
{
    QList<qint64> out;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid) continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly)) continue;
        // "pid (name) state ppid ...": the name may hold blanks, so count from its ')'.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> rest = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (rest.size() > 1 && rest[1].toLongLong() == parent) out << pid;
    }
    return out;
}

QString exeOf(qint64 pid) { return QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid)); }

bool gone(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return true;
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2, 1) == "Z";  // ended, not yet reaped
}

bool accepts(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return socket.waitForConnected(1000);
}

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

// "./run.sh --demo" starts the simulator beside the tool; the simulator must
// not outlive the run however it ends. BRINDLE_SKIP_BUILD starts what this
// build made instead of installing and building first.
TEST_F(ToolJourney, RunShDemoEndsItsSimulatorHoweverTheRunEnds)
{
    enum class End { CloseTheWindow, KillTheTool, SignalTheScript, SignalTheTerminalsJob };
    struct Case {
        const char* how;
        End end;
        int signal;
        bool toolEnds;  // a script killed outright cannot stop the tool
    };
    const Case cases[] = {
        {"the main window closed", End::CloseTheWindow, 0, true},
        {"the tool killed", End::KillTheTool, SIGKILL, true},
        {"Ctrl+C in the terminal", End::SignalTheTerminalsJob, SIGINT, true},
        {"the terminal closed", End::SignalTheTerminalsJob, SIGHUP, true},
        {"SIGINT to the script", End::SignalTheScript, SIGINT, true},
        {"SIGTERM to the script", End::SignalTheScript, SIGTERM, true},
        {"SIGHUP to the script", End::SignalTheScript, SIGHUP, true},
        {"the script killed outright", End::SignalTheScript, SIGKILL, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        const quint16 port = freePort();
        ASSERT_NE(port, 0);
        ToolProcess script(x(), fresh.emplace().path());
        script.setEnvironmentVariable(QStringLiteral("BRINDLE_SKIP_BUILD"), QStringLiteral("1"));
        script.setEnvironmentVariable(QStringLiteral("BRINDLE_DEMO_PORT"), QString::number(port));
        script.setOwnProcessGroup(true);
        ASSERT_TRUE(script.start(QStringLiteral(BRINDLE_RUN_SH), {QStringLiteral("--demo")}));

        qint64 sim = 0, tool = 0;
        ASSERT_TRUE(journeys::waitUntil(
            [&] {
                for (qint64 child : childrenOf(script.pid())) {
                    if (exeOf(child).endsWith(QLatin1String("/recorder-sim"))) sim = child;
                    if (exeOf(child).endsWith(QLatin1String("/BrindleConfigTool"))) tool = child;
                }
                return sim && tool;
            },
            30000))
            << script.standardError().toStdString();
        ASSERT_TRUE(journeys::waitUntil([&] { return accepts(port); }, 30000)) << "the simulator does not listen";
        QList<XWindow> windows;
        ASSERT_TRUE(journeys::waitUntil([&] { return !(windows = script.x().windowsOf(tool)).isEmpty(); }, 30000));

        switch (c.end) {
        case End::CloseTheWindow: ASSERT_TRUE(script.x().requestClose(windows.first().id)); break;
        case End::KillTheTool: ::kill(pid_t(tool), c.signal); break;
        case End::SignalTheScript: script.signal(c.signal); break;
        case End::SignalTheTerminalsJob: script.signalGroup(c.signal); break;
        }
        EXPECT_TRUE(script.waitForExit(10000)) << "run.sh is still running";
        EXPECT_TRUE(journeys::waitUntil([&] { return gone(sim); }, 10000)) << "the simulator outlived the run";
        EXPECT_FALSE(accepts(port));
        if (c.toolEnds) {
            EXPECT_TRUE(journeys::waitUntil([&] { return gone(tool); }, 10000)) << "the tool outlived the run";
        }
        if (!gone(tool)) ::kill(pid_t(tool), SIGKILL);
    }
}

#endif

}  // namespace
