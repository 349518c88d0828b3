// A server component echoes what a client component sends, over loopback:
// the smallest program that uses the installed components end to end.
// Prints what came back; exit status 0 only when it is what was sent.
#include "package/package_components.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <cstdio>
#include <functional>

using namespace CorvaneWS;

namespace {

bool waitUntil(const std::function<bool()>& done)
{
    QDeadlineTimer deadline(20000);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

int fail(const char* what, const QString& detail = {})
{
    std::fprintf(stderr, "echo_consumer: %s %s\n", what, qPrintable(detail));
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString message = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("grüß dich über loopback");

    try {
        TwskWebSocketServer server;
        server.OnDataIn = [&](QObject*, TwskWebSocketServerDataInEventParams& p) {
            server.SendText(p.ConnectionId, p.Text);
        };
        server.FSetLocalHost(QStringLiteral("127.0.0.1"));
        server.FSetListening(true);
        const int port = server.FLocalPort();
        if (port <= 0) return fail("the server component is not listening");

        TwskWebSocketClient client;
        bool connected = false;
        QString problem;
        QString received;
        bool complete = false;
        client.OnConnected = [&](QObject*, TwskWebSocketClientConnectedEventParams& p) {
            connected = p.StatusCode == 0;
            if (!connected) problem = QString::number(p.StatusCode) + QStringLiteral(": ") + p.Description;
        };
        client.OnError = [&](QObject*, TwskWebSocketClientErrorEventParams& p) {
            problem = QString::number(p.ErrorCode) + QStringLiteral(": ") + p.Description;
        };
        client.OnDataIn = [&](QObject*, TwskWebSocketClientDataInEventParams& p) {
            received += p.Text.value();
            complete = complete || p.EOM;
        };
        client.FSetTimeout(0);  // Connect returns at once; the outcome comes as OnConnected
        client.Connect(QStringLiteral("ws://127.0.0.1:%1/echo").arg(port));
        if (!waitUntil([&] { return connected || !problem.isEmpty(); }) || !connected)
            return fail("the client component did not connect:", problem);
        client.SendText(message);
        if (!waitUntil([&] { return complete || !problem.isEmpty(); }) || !complete)
            return fail("no echo came back:", problem);
        std::printf("echoed: %s\n", qPrintable(received));
        if (received != message) return fail("the echo differs from what was sent:", received);
        client.Disconnect();
        server.Shutdown();
    } catch (const toolkit::Exception& e) {
        return fail("a component call failed:", e.message());
    }
    return 0;
}
