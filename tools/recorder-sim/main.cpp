// recorder-sim: a Brindle recorder on a WebSocket port, so BrindleConfigTool
// can be tried and tested without one. See --help, and the README.
//
// Standard output carries one line "listening on ws://HOST:PORT" once it
// listens, then (unless --quiet) one line "counters {...}" of JSON after every
// request and connection change; notes go to standard error.
#include "recorder.h"
#include "sim_options.h"
#include "sim_server.h"

#include <QGuiApplication>
#include <QJsonDocument>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}

void printLine(const QString& line)
{
    std::fputs(qPrintable(line + u'\n'), stdout);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    // The camera scene is drawn without any window: no display is needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const recsim::ParsedOptions parsed = recsim::parseOptions(QCoreApplication::arguments());
    if (parsed.help) {
        std::fputs(qPrintable(recsim::helpText()), stdout);
        return 0;
    }
    if (!parsed.error.isEmpty()) {
        std::fprintf(stderr, "recorder-sim: %s\n", qPrintable(parsed.error));
        return 2;
    }

    recsim::Recorder recorder(parsed.options);
    recsim::SimServer server(recorder);
    QObject::connect(&server, &recsim::SimServer::note, [](const QString& line) {
        std::fprintf(stderr, "recorder-sim: %s\n", qPrintable(line));
    });
    if (parsed.options.countersOnStdout) {
        QObject::connect(&server, &recsim::SimServer::requestHandled, [&recorder] {
            printLine(QStringLiteral("counters ") +
                      QString::fromUtf8(QJsonDocument(recorder.counters().toJson()).toJson(QJsonDocument::Compact)));
        });
    }

    if (const QString error = server.listen(); !error.isEmpty()) {
        std::fprintf(stderr, "recorder-sim: cannot listen on %s:%d: %s\n", qPrintable(parsed.options.host),
                     parsed.options.port, qPrintable(error));
        return 1;
    }
    printLine(QStringLiteral("listening on %1://%2:%3")
                  .arg(parsed.options.tlsPemFile.isEmpty() ? "ws" : "wss", parsed.options.host)
                  .arg(server.port()));

    // SIGINT and SIGTERM end the run through the event loop, so the server
    // closes its connections and the last counters are printed.
    if (::pipe(signalPipe) == 0) {
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    }
    const int rc = app.exec();
    server.shutdown();
    if (parsed.options.countersOnStdout)
        printLine(QStringLiteral("counters ") +
                  QString::fromUtf8(QJsonDocument(recorder.counters().toJson()).toJson(QJsonDocument::Compact)));
    return rc;
}
