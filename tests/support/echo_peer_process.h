// The python3-websockets echo peer (tests/ws/echo_server.py) in a child
// process: it prints "READY <port>" once it listens and ends when its input
// closes, so a test that dies never leaves it behind.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

class EchoPeerProcess {
public:
    // tls: the script's TLS arguments ("--tls", certificate, key), or none.
    EchoPeerProcess(const QString& script, const QStringList& tls = {}) : scheme_(tls.isEmpty() ? "ws" : "wss")
    {
        process_.setProgram(QStringLiteral("/usr/bin/python3"));
        process_.setArguments(QStringList{script} + tls);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start();
        if (!process_.waitForStarted(10000)) return;
        QByteArray line;
        while (!line.contains('\n') && process_.waitForReadyRead(20000)) line += process_.readLine();
        if (line.startsWith("READY ")) port_ = line.mid(6).trimmed().toInt();
    }
    ~EchoPeerProcess()
    {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    EchoPeerProcess(const EchoPeerProcess&) = delete;
    EchoPeerProcess& operator=(const EchoPeerProcess&) = delete;

    // 0 when the peer did not start.
    int port() const { return port_; }
    QString url(const QString& path = {}) const
    {
        return QStringLiteral("%1://127.0.0.1:%2%3").arg(QLatin1String(scheme_)).arg(port_).arg(path);
    }

private:
    const char* scheme_;
    QProcess process_;
    int port_ = 0;
};
