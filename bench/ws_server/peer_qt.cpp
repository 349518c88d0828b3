// Qt WebSockets echo server: QWebSocketServer, one QWebSocket per connection,
// whole messages echoed from the message signals.
#include "peers.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QWebSocket>
#include <QWebSocketServer>

#include <cstdio>

namespace ws_bench {

int serveQt(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QWebSocketServer server(QStringLiteral("echo"), QWebSocketServer::NonSecureMode);
    QObject::connect(&server, &QWebSocketServer::newConnection, &server, [&server] {
        while (QWebSocket* ws = server.nextPendingConnection()) {
            QObject::connect(ws, &QWebSocket::binaryMessageReceived, ws,
                             [ws](const QByteArray& m) { ws->sendBinaryMessage(m); });
            QObject::connect(ws, &QWebSocket::textMessageReceived, ws,
                             [ws](const QString& m) { ws->sendTextMessage(m); });
            QObject::connect(ws, &QWebSocket::disconnected, ws, &QObject::deleteLater);
        }
    });
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        std::printf("FAIL %s\n", qPrintable(server.errorString()));
        return 1;
    }
    std::printf("ready %d\n", int(server.serverPort()));
    std::fflush(stdout);
    return app.exec();
}

} // namespace ws_bench
