#pragma once
// The recorder simulator as a child process on a free loopback port, for the
// end-to-end tests and the download benchmark: its URL, and the counters it
// prints after every request. Waits spin the event loop, so the tool in the
// same process keeps working meanwhile.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

class SimProcess {
public:
    SimProcess() = default;
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;
    ~SimProcess() { stop(); }

    // Starts `program` with --port 0 and the given options; true once it
    // listens. A stopped simulator can be started again.
    bool start(const QString& program, const QStringList& options, int timeoutMs = 30000)
    {
        stop();
        url_.clear();
        counters_ = {};
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.setProgram(program);
        process_.setArguments(QStringList{QStringLiteral("--port"), QStringLiteral("0")} + options);
#if defined(__SANITIZE_ADDRESS__)
        // AddressSanitizer keeps 256 MiB of freed memory by default, which the
        // memory bounds the tests put on the simulator would count as its own.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
        env.insert(QStringLiteral("ASAN_OPTIONS"), asan + (asan.isEmpty() ? "" : ":") + QStringLiteral("quarantine_size_mb=8"));
        process_.setProcessEnvironment(env);
#endif
        process_.start();
        if (!process_.waitForStarted(timeoutMs)) return false;
        waitFor([this] {
            readLines();
            return !url_.isEmpty() || process_.state() == QProcess::NotRunning;
        }, timeoutMs);
        return !url_.isEmpty();
    }

    void stop()
    {
        if (process_.state() == QProcess::NotRunning) return;
        process_.terminate();
        if (!process_.waitForFinished(10000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
        readLines();
    }

    QString url() const { return url_; }
    int port() const { return url_.isEmpty() ? 0 : url_.section(QLatin1Char(':'), -1).toInt(); }
    // Its resident memory now, from /proc; 0 where there is none.
    double residentMiB() const
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(process_.processId()));
        if (!status.open(QIODevice::ReadOnly)) return 0;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
        return 0;
    }
    QString errors() { return QString::fromLocal8Bit(process_.readAllStandardError()); }
    bool running() const { return process_.state() == QProcess::Running; }

    QJsonObject counters()
    {
        readLines();
        return counters_;
    }
    qint64 counter(const char* name) { return qint64(counters().value(QLatin1String(name)).toDouble()); }

    // Spins the event loop until `done` holds or the time is up.
    static bool waitFor(const std::function<bool()>& done, int timeoutMs = 60000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!done()) {
            if (deadline.hasExpired()) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return true;
    }
    bool waitForCounter(const char* name, qint64 atLeast, int timeoutMs = 60000)
    {
        return waitFor([&] { return counter(name) >= atLeast; }, timeoutMs);
    }

private:
    void readLines()
    {
        while (process_.canReadLine()) {
            const QString line = QString::fromUtf8(process_.readLine()).trimmed();
            if (line.startsWith(QLatin1String("listening on ")))
                url_ = line.mid(13);
            else if (line.startsWith(QLatin1String("counters ")))
                counters_ = QJsonDocument::fromJson(line.mid(9).toUtf8()).object();
        }
        if (url_.isEmpty()) process_.waitForReadyRead(10);
    }

    QProcess process_;
    QString url_;
    QJsonObject counters_;
};
