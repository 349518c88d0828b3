#include "x_tools.h"

#include "x_session.h"

#include <QProcess>

namespace journeys {

XTools::XTools(const XSession& session) : env_(session.environment()) {}

std::optional<QString> XTools::run(const QString& program, const QStringList& arguments, int timeoutMs) const
{
    QProcess p;
    p.setProcessEnvironment(env_);
    p.start(program, arguments);
    if (!p.waitForStarted(10000)) return std::nullopt;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        return std::nullopt;
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return std::nullopt;
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

QList<XWindow> XTools::windowsOf(qint64 pid) const
{
    // xdotool answers "no match" with status 1: that is an empty list, not a failure.
    QList<XWindow> out;
    const auto ids = run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--all"),
                                                     QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                                     QString::number(pid), QStringLiteral("--name"), QStringLiteral("")});
    if (!ids) return out;
    for (const QString& id : ids->split(u'\n', Qt::SkipEmptyParts)) out.append({id.trimmed(), titleOf(id.trimmed())});
    return out;
}

QString XTools::titleOf(const QString& window) const
{
    return run(QStringLiteral("xdotool"), {QStringLiteral("getwindowname"), window}).value_or(QString()).trimmed();
}

bool XTools::activate(const QString& window) const
{
    return run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), window}).has_value();
}

bool XTools::keys(const QStringList& keys) const
{
    return run(QStringLiteral("xdotool"), QStringList{QStringLiteral("key"), QStringLiteral("--clearmodifiers")} + keys)
        .has_value();
}

bool XTools::type(const QString& text) const
{
    return run(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--clearmodifiers"), text}).has_value();
}

bool XTools::click(QPoint global) const
{
    return run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("--sync"),
                                           QString::number(global.x()), QString::number(global.y()),
                                           QStringLiteral("click"), QStringLiteral("1")})
        .has_value();
}

bool XTools::requestClose(const QString& window) const
{
    // wmctrl takes the id in hex or decimal with -i.
    return run(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), window}).has_value();
}

}  // namespace journeys
