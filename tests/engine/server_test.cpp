// The WebSocket server object through its C interface: numbering, defaults,
// connection ids, event shapes and write-backs, error codes; our own client
// against it; raw-socket peers for the close handshake and hostile input.
#include "server_test_support.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>

#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace engine_test {

size_t heapInUse()
{
    return mallinfo2().uordblks;
}

namespace {

using namespace srv;

TEST(ServerInterface, DefaultsNumberingAndRefusals)
{
    ServerHost s;
    ASSERT_NE(s.handle(), nullptr);
    EXPECT_EQ(s.getInt(sDefaultTimeout), 0);
    EXPECT_EQ(s.getInt(sLocalPort), 0);
    EXPECT_EQ(s.getBytes(sSSLCertStore), "MY");
    EXPECT_EQ(wide(CorvaneWS_WebSocketServer_Get(s.handle(), sSSLCertStore + 20000, 0, nullptr, nullptr)), "MY");
    EXPECT_EQ(s.getInt(sSSLAuthenticateClients), 0);
    EXPECT_EQ(s.getInt(sListening), 0);
    EXPECT_EQ(s.getInt(sUseSSL), 0);
    EXPECT_EQ(s.getInt(sConnectionCount), 0);
    EXPECT_GT(s.getInt(sConnectionBacklog), 0);

    // Read-only, write-only and unknown numbers give their codes.
    EXPECT_EQ(s.setInt(sConnectionCount, 3), 102);
    EXPECT_EQ(s.lastError(), "Property is read-only: WebSocketConnectionCount.");
    EXPECT_EQ(CorvaneWS_WebSocketServer_Get(s.handle(), sDataToSend, 1, nullptr, nullptr), nullptr);
    EXPECT_EQ(CorvaneWS_WebSocketServer_GetLastErrorCode(s.handle()), 103);
    EXPECT_EQ(s.setInt(30, 1), 101);
    EXPECT_EQ(s.setText(sHost, "x"), 102);
    EXPECT_EQ(s.call(10001), 106);
    EXPECT_EQ(s.call(10010), 106);

    // Strings cross under n + 10000, and only strings.
    EXPECT_EQ(s.setText(sLocalHost, "127.0.0.1"), 0);
    EXPECT_EQ(s.getText(sLocalHost), "127.0.0.1");
    EXPECT_EQ(s.setText(sSSLCertSubject, "CN=x"), 0);
    EXPECT_EQ(s.getText(sSSLCertSubject), "CN=x");
    EXPECT_EQ(CorvaneWS_WebSocketServer_Get(s.handle(), sDefaultTimeout + 10000, 0, nullptr, nullptr), nullptr);

    // Ranges.
    EXPECT_EQ(s.setInt(sLocalPort, 70000), 105);
    EXPECT_EQ(s.setInt(sDefaultTimeout, -1), 105);
    EXPECT_EQ(s.setInt(sDefaultTimeout, 30), 0);
    EXPECT_EQ(s.getInt(sDefaultTimeout), 30);

    // Every indexed property refuses an id that is not a connection.
    for (int p : {sAcceptData, sBytesSent, sConnected, sConnectionId, sDataFormat, sDataToSend, sHost, sLocalAddress,
                  sOrigin, sReadyToSend, sRemoteHost, sRemotePort, sRequestHeaders, sRequestURI, sSubProtocols,
                  sConnTimeout}) {
        SCOPED_TRACE(p);
        EXPECT_EQ(s.checkIndex(p, 1), 104);
        EXPECT_EQ(s.lastError(), "Invalid array index (ConnectionId).");
    }
    EXPECT_EQ(s.checkIndex(sListening, 0), 0);
    EXPECT_EQ(s.setBytes(sDataToSend, "x", 1), 104);
    EXPECT_EQ(s.callId(sDisconnect, 1), 104);
    EXPECT_EQ(s.send(1, "x"), 104);

    EXPECT_EQ(s.config("SendQueueLimit"), "16777216");
    EXPECT_EQ(s.config("HandshakeTimeout=5"), "5");
    s.config("NoSuchSetting=1");
    EXPECT_EQ(s.lastRc, 108);
}

TEST(ServerInterface, ListensServesOurClientAndReportsEachConnectionById)
{
    ServerHost s;
    const int port = s.listen();
    ASSERT_GT(port, 0) << s.lastError().toStdString();
    EXPECT_EQ(s.getInt(sListening), 1);
    EXPECT_EQ(s.setInt(sLocalPort, 1234), 115);   // not while listening
    s.echo();
    s.handlers[seWebSocketOpenRequest] = [&](int, void** argv, int*) {
        setEvtStr(argv[4], "v2");
        setEvtStr(argv[8], "X-Test: yes");
        return 0;
    };

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        Host c;
        c.setText(kSubProtocols, "chat, v2");
        c.setText(kOrigin, "http://origin.example");
        c.setInt(kTimeout, 10);
        ASSERT_EQ(c.call(kConnect, {QStringLiteral("ws://127.0.0.1:%1/echo?x=%2").arg(port).arg(round)}), 0)
            << c.lastError().toStdString();

        const Recorded* req = s.last(seConnectionRequest);
        ASSERT_NE(req, nullptr);
        EXPECT_EQ(req->texts.value(0), "127.0.0.1");
        EXPECT_GT(req->ints.at(0), 0);
        const Recorded* open = s.last(seWebSocketOpenRequest);
        ASSERT_NE(open, nullptr);
        const int id = int(open->ints.at(0));
        EXPECT_EQ(open->texts.value(0), QStringLiteral("/echo?x=%1").arg(round));
        EXPECT_EQ(open->texts.value(1), QStringLiteral("127.0.0.1:%1").arg(port));
        EXPECT_EQ(open->texts.value(2), "http://origin.example");
        EXPECT_EQ(open->texts.value(3), "");            // SubProtocol preset empty
        EXPECT_EQ(open->texts.value(4), "chat, v2");    // offered
        EXPECT_TRUE(open->texts.value(5).startsWith("GET /echo"));
        EXPECT_EQ(open->ints.at(1), 101);
        ASSERT_TRUE(s.waitUntil([&] { return s.count(seConnected) == size_t(round + 1); }));
        EXPECT_EQ(s.last(seConnected)->ints.at(0), id);
        static int firstId = 0;
        if (round == 0) {
            firstId = id;
        } else {
            EXPECT_GT(id, firstId);   // ids grow; the first one is not reused
        }

        // The client saw the chosen sub-protocol and the extra header.
        bool sawHeader = false, sawProtocol = false;
        for (int k = 0; k < c.getInt(kParsedHeaderCount); ++k) {
            sawHeader |= c.getText(kParsedHeaderField, k) == "X-Test" && c.getText(kParsedHeaderValue, k) == "yes";
            sawProtocol |= c.getText(kParsedHeaderField, k) == "Sec-WebSocket-Protocol"
                           && c.getText(kParsedHeaderValue, k) == "v2";
        }
        EXPECT_TRUE(sawHeader);
        EXPECT_TRUE(sawProtocol);

        // Indexed properties by connection id.
        EXPECT_EQ(s.checkIndex(sConnected, id), 0);
        EXPECT_EQ(s.getInt(sConnected, id), 1);
        EXPECT_EQ(s.getText(sConnectionId, id), QString::number(id));
        EXPECT_EQ(s.getText(sRequestURI, id), QStringLiteral("/echo?x=%1").arg(round));
        EXPECT_EQ(s.getText(sOrigin, id), "http://origin.example");
        EXPECT_EQ(s.getText(sHost, id), QStringLiteral("127.0.0.1:%1").arg(port));
        EXPECT_EQ(s.getText(sRemoteHost, id), "127.0.0.1");
        EXPECT_EQ(s.getText(sLocalAddress, id), "127.0.0.1");
        EXPECT_GT(s.getInt(sRemotePort, id), 0);
        EXPECT_EQ(s.getText(sSubProtocols, id), "v2");
        EXPECT_TRUE(s.getText(sRequestHeaders, id).contains("Sec-WebSocket-Key"));
        EXPECT_EQ(s.getInt(sReadyToSend, id), 1);
        EXPECT_EQ(s.getInt(sConnectionCount), 1);
        EXPECT_EQ(s.checkIndex(sConnected, id + 1), 104);

        // Echo of text and binary, through the server's Send and SendText.
        const QString text = QString::fromUtf8("h\xc3\xa9llo \xe2\x82\xac");
        ASSERT_EQ(c.call(kSendText, {text}), 0);
        ASSERT_EQ(c.send(QByteArray("\x00\x01\x02", 3)), 0);
        ASSERT_TRUE(c.waitUntil([&] { return c.messages.size() == 2; }));
        EXPECT_EQ(QString::fromUtf8(c.messages[0]), text);
        EXPECT_EQ(c.messageFormats[0], 1);
        EXPECT_EQ(c.messages[1], QByteArray("\x00\x01\x02", 3));
        EXPECT_EQ(c.messageFormats[1], 2);
        EXPECT_EQ(s.getInt(sBytesSent, id), text.toUtf8().size() + 3);

        // DataToSend with the connection's DataFormat.
        EXPECT_EQ(s.setInt(sDataFormat, 1, id), 0);
        EXPECT_EQ(s.setBytes(sDataToSend, "as text", id), 0);
        ASSERT_TRUE(c.waitUntil([&] { return c.messages.size() == 3; }));
        EXPECT_EQ(c.messageFormats[2], 1);

        // The client closes with its code; the server reports it once, and the id is gone.
        c.config("CloseStatusCode=4001");
        ASSERT_EQ(c.call(kDisconnect), 0);
        ASSERT_TRUE(s.waitUntil([&] { return s.count(seDisconnected) == size_t(round + 1); }));
        const Recorded* gone = s.last(seDisconnected);
        EXPECT_EQ(gone->ints.at(0), id);
        EXPECT_EQ(gone->ints.at(1), 4001);
        EXPECT_EQ(s.checkIndex(sConnected, id), 104);
        EXPECT_EQ(s.getInt(sConnectionCount), 0);
    }
    EXPECT_EQ(s.count(seError), 0u);
}

TEST(ServerInterface, ConnectionRequestAcceptFalseAndRefusedUpgrades)
{
    ServerHost s;
    const int port = s.listen();
    ASSERT_GT(port, 0);
    s.handlers[seConnectionRequest] = [](int, void** argv, int*) {
        argv[2] = nullptr;
        return 0;
    };
    {
        Host c;
        c.setInt(kTimeout, 5);
        EXPECT_NE(c.call(kConnect, {QStringLiteral("ws://127.0.0.1:%1/").arg(port)}), 0);
        EXPECT_EQ(s.count(seWebSocketOpenRequest), 0u);
        EXPECT_EQ(s.getInt(sConnectionCount), 0);
    }
    s.handlers.erase(seConnectionRequest);
    s.handlers[seWebSocketOpenRequest] = [](int, void** argv, int*) {
        argv[7] = reinterpret_cast<void*>(intptr_t(403));
        return 0;
    };
    {
        Host c;
        c.setInt(kTimeout, 5);
        EXPECT_EQ(c.call(kConnect, {QStringLiteral("ws://127.0.0.1:%1/").arg(port)}), 153);
        EXPECT_TRUE(c.lastError().contains("403")) << c.lastError().toStdString();
        ASSERT_TRUE(s.waitUntil([&] { return s.count(seDisconnected) == 1; }));
        EXPECT_EQ(s.last(seDisconnected)->ints.at(1), 403);
        EXPECT_EQ(s.count(seConnected), 0u);
    }
    // A sub-protocol that was not offered is not answered.
    s.handlers[seWebSocketOpenRequest] = [](int, void** argv, int*) {
        setEvtStr(argv[4], "other");
        return 0;
    };
    {
        Host c;
        c.setInt(kTimeout, 5);
        c.setText(kSubProtocols, "chat");
        ASSERT_EQ(c.call(kConnect, {QStringLiteral("ws://127.0.0.1:%1/").arg(port)}), 0);
        ASSERT_TRUE(s.waitUntil([&] { return s.count(seConnected) == 1; }));
        EXPECT_EQ(s.getText(sSubProtocols, int(s.last(seConnected)->ints.at(0))), "");
    }
}

TEST(ServerInterface, SendQueueLimitRefusesInsteadOfGrowingAndReadyToSendFollows)
{
    ServerHost s;
    const int port = s.listen();
    ASSERT_GT(port, 0);
    s.config("SendQueueLimit=65536");
    Host c;
    c.setInt(kTimeout, 5);
    ASSERT_EQ(c.call(kConnect, {QStringLiteral("ws://127.0.0.1:%1/").arg(port)}), 0);
    ASSERT_TRUE(s.waitUntil([&] { return s.count(seConnected) == 1; }));
    const int id = int(s.last(seConnected)->ints.at(0));
    c.setInt(kAcceptData, 0);
    c.recordData = false;
    const QByteArray piece(16 * 1024, 'q');
    int rc = 0, sent = 0;
    while (sent < 100000 && (rc = s.send(id, piece)) == 0)
        ++sent;
    EXPECT_EQ(rc, 164);
    EXPECT_TRUE(s.lastError().startsWith("Send queue full")) << s.lastError().toStdString();
    EXPECT_EQ(s.getInt(sReadyToSend, id), 0);
    const size_t before = s.count(seReadyToSend);
    c.setInt(kAcceptData, 1);
    ASSERT_TRUE(s.waitUntil([&] { return s.count(seReadyToSend) > before; }));
    EXPECT_EQ(s.last(seReadyToSend)->ints.at(0), id);
    EXPECT_EQ(s.send(id, piece), 0);
}

TEST(ServerInterface, SendFileStreamsTheFileAsOneMessage)
{
    ServerHost s;
    const int port = s.listen();
    ASSERT_GT(port, 0);
    s.config("SendQueueLimit=65536");
    QTemporaryDir dir;
    QFile f(dir.filePath("data.bin"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    QByteArray content(3 * 1024 * 1024 + 17, 0);
    for (qsizetype k = 0; k < content.size(); ++k)
        content[k] = char(k % 253);
    f.write(content);
    f.close();
    Host c;
    c.setInt(kTimeout, 5);
    ASSERT_EQ(c.call(kConnect, {QStringLiteral("ws://127.0.0.1:%1/").arg(port)}), 0);
    ASSERT_TRUE(s.waitUntil([&] { return s.count(seConnected) == 1; }));
    const int id = int(s.last(seConnected)->ints.at(0));
    ASSERT_EQ(s.sendText(sSendFile, id, f.fileName()), 0);
    EXPECT_EQ(s.send(id, "x"), 114);   // busy while the file goes
    ASSERT_TRUE(c.waitUntil([&] { return c.messages.size() == 1; }));
    EXPECT_EQ(c.messages[0], content);
    EXPECT_EQ(c.messageFormats[0], 2);
    EXPECT_EQ(s.sendText(sSendFile, id, dir.filePath("missing")), 113);
}

// The close frame that answers the peer's close reaches the peer even when
// the host stops running the event loop and destroys the object at once.
TEST(ServerInterface, CloseAnswerIsWrittenBeforeDisconnectedAndSurvivesDestroy)
{
    ServerHost s;
    const int port = s.listen();
    ASSERT_GT(port, 0);
    RawClient raw(port);
    raw.socket.write(RawClient::request());
    const auto pump = [&] { s.call(sDoEvents); };
    raw.readUntil([](const QByteArray& b) { return b.contains("\r\n\r\n"); }, pump);
    ASSERT_TRUE(raw.received.startsWith("HTTP/1.1 101 ")) << raw.received.toStdString();
    EXPECT_TRUE(raw.received.contains("Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"));
    raw.received.clear();
    raw.socket.write(RawClient::frame(0x8, QByteArray("\x0b\xb8" "bye", 5)));
    raw.socket.flush();
    ASSERT_TRUE(s.waitUntil([&] { return s.count(seDisconnected) == 1; }));
    EXPECT_EQ(s.last(seDisconnected)->ints.at(1), 3000);
    EXPECT_EQ(s.last(seDisconnected)->texts.value(0), "bye");
    s.destroy();   // no more event processing from here on
    raw.readUntil([](const QByteArray& b) { return b.size() >= 4; }, nullptr, 5000);
    ASSERT_GE(raw.received.size(), 4);
    EXPECT_EQ(quint8(raw.received[0]), 0x88);
    EXPECT_EQ(quint8(raw.received[1]), 0x02);   // unmasked, the code only
    EXPECT_EQ(quint8(raw.received[2]), 0x0b);
    EXPECT_EQ(quint8(raw.received[3]), 0xb8);
}

// The same for our client: a raw server closes with 3000; the host polls
// Connected, destroys the client at once, and the close answer still arrives.
TEST(ClientCloseAnswer, ReachesTheServerWhenTheHostDestroysRightAfter)
{
    QTcpServer listener;
    ASSERT_TRUE(listener.listen(QHostAddress::LocalHost));
    QTcpSocket* peer = nullptr;
    QByteArray request;
    QObject::connect(&listener, &QTcpServer::newConnection, [&] {
        peer = listener.nextPendingConnection();
        QObject::connect(peer, &QTcpSocket::readyRead, [&] {
            request += peer->readAll();
            const qsizetype end = request.indexOf("\r\n\r\n");
            if (end < 0 || request.isEmpty())
                return;
            const QByteArray key = QRegularExpression("Sec-WebSocket-Key: ([^\r]+)")
                                       .match(QString::fromLatin1(request)).captured(1).toLatin1();
            const QByteArray accept = QCryptographicHash::hash(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11",
                                                               QCryptographicHash::Sha1).toBase64();
            peer->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                        "Sec-WebSocket-Accept: " + accept + "\r\n\r\n");
            request.clear();
            request += "done";   // nothing more to answer
            QObject::disconnect(peer, &QTcpSocket::readyRead, nullptr, nullptr);
        });
    });
    auto* c = new Host();
    c->setInt(kTimeout, 5);
    ASSERT_EQ(c->call(kConnect, {QStringLiteral("ws://127.0.0.1:%1/").arg(listener.serverPort())}), 0)
        << c->lastError().toStdString();
    ASSERT_NE(peer, nullptr);
    peer->write(QByteArray("\x88\x02\x0b\xb8", 4));
    peer->flush();
    ASSERT_TRUE(c->waitUntil([&] { return c->getInt(kConnected) == 0; }));
    delete c;   // a plain host: no more event processing for the client
    QByteArray got = peer->readAll();
    QDeadlineTimer deadline(5000);
    while (got.size() < 8 && !deadline.hasExpired() && peer->waitForReadyRead(100))
        got += peer->readAll();
    ASSERT_GE(got.size(), 8) << got.toHex().toStdString();
    EXPECT_EQ(quint8(got[0]), 0x88);
    EXPECT_EQ(quint8(got[1]), 0x82);   // masked, two bytes
    const int code = ((quint8(got[6]) ^ quint8(got[2])) << 8) | (quint8(got[7]) ^ quint8(got[3]));
    EXPECT_EQ(code, 3000);
}

// An asynchronous connect to a server that accepts and never answers ends
// with OnConnected(11) after ConnectTimeout.
TEST(ClientConnectTimeout, AsynchronousConnectGivesUp)
{
    QTcpServer silent;   // accepts (the kernel does) and never answers
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    Host c;
    c.setInt(kTimeout, 0);
    c.config("ConnectTimeout=1");
    ASSERT_EQ(c.call(kConnect, {QStringLiteral("ws://127.0.0.1:%1/").arg(silent.serverPort())}), 0);
    ASSERT_TRUE(c.waitUntil([&] { return c.count(evConnected) == 1; }, 10000));
    EXPECT_EQ(c.last(evConnected)->ints.at(0), 11);
    EXPECT_EQ(c.getInt(kConnected), 0);
}

TEST(ServerInterface, UnmaskedFramesAndMalformedRequestsAreRefused)
{
    ServerHost s;
    const int port = s.listen();
    ASSERT_GT(port, 0);
    const auto pump = [&] { s.call(sDoEvents); };
    {
        RawClient raw(port);
        raw.socket.write(RawClient::request());
        raw.readUntil([](const QByteArray& b) { return b.contains("\r\n\r\n"); }, pump);
        raw.received.clear();
        raw.socket.write(RawClient::frame(0x1, "hi", /*masked=*/false));
        raw.readUntil([](const QByteArray& b) { return b.size() >= 4; }, pump);
        ASSERT_GE(raw.received.size(), 4);
        EXPECT_EQ(quint8(raw.received[0]), 0x88);
        EXPECT_EQ((quint8(raw.received[2]) << 8) | quint8(raw.received[3]), 1002);
        ASSERT_TRUE(s.waitUntil([&] { return s.count(seDisconnected) == 1; }));
        EXPECT_EQ(s.last(seDisconnected)->ints.at(1), 1002);
        EXPECT_EQ(s.last(seError)->ints.at(1), 160);
    }
    {
        RawClient raw(port);
        raw.socket.write(RawClient::request().replace("Version: 13", "Version: 7"));
        raw.readUntil([](const QByteArray& b) { return b.contains("\r\n\r\n"); }, pump);
        EXPECT_TRUE(raw.received.startsWith("HTTP/1.1 426 ")) << raw.received.toStdString();
        EXPECT_TRUE(raw.received.contains("Sec-WebSocket-Version: 13\r\n"));
    }
    {
        RawClient raw(port);
        raw.socket.write("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
        raw.readUntil([](const QByteArray& b) { return b.contains("\r\n\r\n"); }, pump);
        EXPECT_TRUE(raw.received.startsWith("HTTP/1.1 400 ")) << raw.received.toStdString();
        EXPECT_EQ(s.last(seError)->ints.at(1), 153);
    }
    EXPECT_EQ(s.count(seConnected), 1u);
}

// A huge head, a handshake that never ends and thousands of connections that
// go without a byte: the server keeps serving, and its memory comes back.
TEST(ServerHostile, HugeHeadAndStalledHandshakeDoNotStopTheService)
{
    ServerHost s;
    const int port = s.listen();
    ASSERT_GT(port, 0);
    s.config("HandshakeTimeout=1");
    s.echo();
    const auto pump = [&] { s.call(sDoEvents); };
    const auto serves = [&] {
        Host c;
        c.setInt(kTimeout, 10);
        if (c.call(kConnect, {QStringLiteral("ws://127.0.0.1:%1/").arg(port)}) != 0)
            return false;
        c.call(kSendText, {QStringLiteral("still here")});
        return c.waitUntil([&] { return c.messages.size() == 1; }) && c.messages[0] == "still here";
    };

    RawClient stalled(port);
    stalled.socket.write("GET / HTTP/1.1\r\nHost: x\r\n");
    {
        RawClient huge(port);
        QByteArray head = "GET / HTTP/1.1\r\nX-Huge: ";
        head += QByteArray(10 * 1024 * 1024, 'a');
        huge.socket.write(head);
        huge.readUntil([](const QByteArray&) { return false; }, pump, 10000);
        EXPECT_NE(huge.socket.state(), QAbstractSocket::ConnectedState);
    }
    EXPECT_TRUE(serves());
    stalled.readUntil([](const QByteArray&) { return false; }, pump, 5000);
    EXPECT_NE(stalled.socket.state(), QAbstractSocket::ConnectedState);
    bool timedOut = false;
    for (const Recorded& r : s.events)
        timedOut |= r.event == evError && r.ints.at(1) == 11;
    EXPECT_TRUE(timedOut);
}

TEST(ServerHostile, TenThousandDroppedConnectionsGiveTheirMemoryBack)
{
    ServerHost s;
    const int port = s.listen();
    ASSERT_GT(port, 0);
    s.echo();
    const auto serves = [&] {
        Host c;
        c.setInt(kTimeout, 10);
        if (c.call(kConnect, {QStringLiteral("ws://127.0.0.1:%1/").arg(port)}) != 0)
            return false;
        c.call(kSendText, {QStringLiteral("still here")});
        return c.waitUntil([&] { return c.messages.size() == 1; }) && c.messages[0] == "still here";
    };

    // Open and drop connections in another process, so this one holds only the server's ends.
    const auto dropMany = [&](int n) {
        QProcess p;
        p.start("/usr/bin/python3", {peersDir() + "/drop_connections.py", QString::number(port), QString::number(n)});
        QDeadlineTimer deadline(120000);
        QElapsedTimer tick;
        tick.start();
        while (p.state() != QProcess::NotRunning && !deadline.hasExpired()) {
            if (!p.waitForFinished(1))
                s.call(sDoEvents);
            if (qEnvironmentVariableIsSet("SERVER_TEST_LOG") && tick.elapsed() > 1000) {
                tick.restart();
                std::fprintf(stderr, "open %d\n", int(s.getInt(sConnectionCount)));
            }
        }
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished(5000);
        }
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    };
    // Until no connection is left for a while: the kernel may still hand over
    // queued ones after the dropper has finished.
    const auto settle = [&] {
        int quiet = 0;
        QDeadlineTimer deadline(30000);
        while (quiet < 50 && !deadline.hasExpired()) {
            s.call(sDoEvents);
            quiet = s.getInt(sConnectionCount) == 0 ? quiet + 1 : 0;
        }
    };
    s.record = false;
    s.config("HandshakeTimeout=5");
    EXPECT_EQ(dropMany(1000), "done 1000");   // warms up the allocator and Qt's caches
    settle();
    const size_t before = heapInUse();
    EXPECT_EQ(dropMany(10000), "done 10000");
    settle();
    const size_t after = heapInUse();
    EXPECT_EQ(s.getInt(sConnectionCount), 0);
    EXPECT_LT(double(after), double(before) + 1024.0 * 1024.0)
        << "heap in use before " << before << ", after " << after;
    std::printf("heap in use before 10000 dropped connections: %zu bytes, after: %zu bytes\n", before, after);
    EXPECT_TRUE(serves());
}

// A peer that pings without ever reading the pongs: reading stops once the
// pongs fill the send queue, so the server's memory stays bounded.
TEST(ServerHostile, PingFloodWithoutReadingKeepsMemoryBounded)
{
    ServerHost s;
    const int port = s.listen();
    ASSERT_GT(port, 0);
    s.config("SendQueueLimit=65536");
    s.config("LogLevel=0");
    RawClient raw(port);
    raw.socket.write(RawClient::request());
    const auto pump = [&] { s.call(sDoEvents); };
    raw.readUntil([](const QByteArray& b) { return b.contains("\r\n\r\n"); }, pump);
    ASSERT_TRUE(raw.received.startsWith("HTTP/1.1 101 "));
    raw.socket.setReadBufferSize(4096);   // the flooder hardly reads
    const QByteArray ping = RawClient::frame(0x9, "");
    QByteArray burst;
    for (int k = 0; k < 10000; ++k)
        burst += ping;
    const size_t before = heapInUse();
    size_t peak = before;
    qint64 written = 0;
    QDeadlineTimer deadline(8000);   // the flooder stalls once the server stops reading
    while (written < 5000000LL * ping.size() && !deadline.hasExpired()) {
        if (raw.socket.bytesToWrite() < 1 << 20) {
            raw.socket.write(burst);
            written += burst.size();
        }
        raw.socket.waitForBytesWritten(1);
        s.call(sDoEvents);
        peak = std::max(peak, heapInUse());
    }
    std::printf("ping flood: %lld bytes of pings written, server heap grew at most %zu bytes\n",
                static_cast<long long>(written), peak - before);
    // The flooder's own buffer (1 MiB) and the kernel's are the only ones allowed to fill.
    EXPECT_LT(peak - before, size_t(8) << 20);
    EXPECT_EQ(s.getInt(sConnectionCount), 1);
}

TEST(ServerInterface, ShutdownClosesEveryConnectionWith1001AndStopsListening)
{
    ServerHost s;
    const int port = s.listen();
    ASSERT_GT(port, 0);
    Host a, b;
    for (Host* c : {&a, &b}) {
        c->setInt(kTimeout, 5);
        ASSERT_EQ(c->call(kConnect, {QStringLiteral("ws://127.0.0.1:%1/").arg(port)}), 0);
    }
    ASSERT_TRUE(s.waitUntil([&] { return s.count(seConnected) == 2; }));
    ASSERT_EQ(s.call(sShutdown), 0);
    EXPECT_EQ(s.getInt(sListening), 0);
    ASSERT_TRUE(a.waitUntil([&] { return a.count(evDisconnected) == 1 && b.count(evDisconnected) == 1; }));
    EXPECT_EQ(a.last(evDisconnected)->ints.at(0), 1001);
    EXPECT_EQ(b.last(evDisconnected)->ints.at(0), 1001);
    ASSERT_TRUE(s.waitUntil([&] { return s.count(seDisconnected) == 2; }));
    EXPECT_EQ(s.last(seDisconnected)->ints.at(1), 1001);
}

// A client that sends half a request and then closes its side is let go at
// once, not when the (long) handshake timeout fires.
TEST(ServerHostile, PeerEndDuringTheHandshakeIsSeenAtOnce)
{
    ServerHost s;
    const int port = s.listen();
    ASSERT_GT(port, 0);
    s.config("HandshakeTimeout=3600");
    expectPeerEndSeenAtOnce(s, port, QByteArray("GET / HTTP/1.1\r\nHost: x\r\n"));
}

// Open WebSocket connections that stay idle cost the server little heap each:
// no read or write buffer is held per connection while nothing moves. The
// clients are bare descriptors, so the heap measured is the server's.
TEST(ServerHostile, IdleOpenConnectionsHoldLittleMemoryEach)
{
    ServerHost s;
    const int port = s.listen();
    ASSERT_GT(port, 0);
    s.record = false;
    s.config("LogLevel=0");
    int opened = 0;
    s.handlers[seConnected] = [&](int, void**, int*) {
        ++opened;
        return 0;
    };
    const QByteArray request = RawClient::request();
    std::vector<int> clients;
    const auto openMore = [&](int n) {
        const int target = opened + n;
        for (int k = 0; k < n; ++k) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(uint16_t(port));
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0
                || ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) != request.size()) {
                if (fd >= 0)
                    ::close(fd);
                return false;
            }
            clients.push_back(fd);
            if (k % 50 == 49)
                s.call(sDoEvents);   // the listen backlog is short
        }
        return s.waitUntil([&] { return opened >= target; });
    };
    ASSERT_TRUE(openMore(50));   // warms up the allocator and Qt's caches
    const size_t before = heapInUse();
    constexpr int kIdle = 400;
    ASSERT_TRUE(openMore(kIdle));
    for (int k = 0; k < 20; ++k)
        s.call(sDoEvents);
    const size_t after = heapInUse();
    EXPECT_EQ(s.getInt(sConnectionCount), 50 + kIdle);
    const double perConnection = (double(after) - double(before)) / kIdle;
    EXPECT_LT(perConnection, 16.0 * 1024.0) << "heap per idle connection: " << perConnection << " bytes";
    std::printf("heap per idle open connection: %.0f bytes\n", perConnection);
    for (int fd : clients)
        ::close(fd);
}

// A peer that resets its connection while the server does not read from it
// (the host paused it, or the answers to its pings fill the queue) is let
// go like one being read: OnDisconnected comes and the count drops.
TEST(ServerHostile, PausedConnectionsAreReleasedWhenThePeerResets)
{
    struct Case {
        const char* name;
        bool hostPauses;   // else pongs nobody reads fill the queue
    };
    for (const Case& c : {Case{"AcceptData false", true}, Case{"unread pongs fill the queue", false}}) {
        SCOPED_TRACE(c.name);
        ServerHost s;
        const int port = s.listen();
        ASSERT_GT(port, 0);
        s.config("SendQueueLimit=4096");
        s.config("LogLevel=0");
        s.record = false;
        int id = 0;
        int disconnected = 0, status = 0;
        s.handlers[seConnected] = [&](int, void** argv, int*) {
            id = int(num(argv[0]));
            if (c.hostPauses)
                s.setInt(sAcceptData, 0, id);
            return 0;
        };
        s.handlers[seDisconnected] = [&](int, void** argv, int*) {
            ++disconnected;
            status = int(num(argv[1]));
            return 0;
        };
        const int fd = rawWebSocketClient(port, 4096);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(s.waitUntil([&] { return id != 0; }));
        const QByteArray frame = c.hostPauses ? RawClient::frame(0x2, QByteArray(1000, 'x')) : RawClient::frame(0x9, {});
        const qint64 written = writeUntilHeldUp(fd, frame, [&] { s.call(sDoEvents); });
        EXPECT_GT(written, 0);
        EXPECT_EQ(s.getInt(sConnectionCount), 1);
        EXPECT_EQ(disconnected, 0);
        resetConnection(fd);
        EXPECT_TRUE(s.waitUntil([&] { return disconnected == 1; }));
        EXPECT_EQ(status, 1006);
        EXPECT_EQ(s.getInt(sConnectionCount), 0);
    }
}

// Out of descriptors the listener neither spins nor fills the log: the
// server says so once, uses little processor time while the limit holds,
// and serves new callers again once descriptors are free.
TEST(ServerHostile, AtTheDescriptorLimitTheListenerBacksOffAndRecovers)
{
    ServerHost s;
    const int port = s.listen();
    ASSERT_GT(port, 0);
    s.config("LogLevel=3");
    int limitLogs = 0, opened = 0;
    s.handlers[seLog] = [&](int, void** argv, int*) {
        if (wide(argv[3]) == QLatin1String("Listen") && !wide(argv[2]).startsWith(QLatin1String("Listening")))
            ++limitLogs;
        return 0;
    };
    s.handlers[seConnected] = [&](int, void**, int*) {
        ++opened;
        return 0;
    };
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 512);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    // The callers' descriptors first; then every other one is taken.
    constexpr int kCallers = 8;
    std::vector<int> callers, fillers;
    for (int k = 0; k < kCallers; ++k)
        callers.push_back(::socket(AF_INET, SOCK_STREAM, 0));
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        fillers.push_back(fd);
    for (int fd : callers) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(uint16_t(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
        const QByteArray request = RawClient::request();
        ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
    }
    const auto cpuSeconds = [] {
        rusage u{};
        ::getrusage(RUSAGE_SELF, &u);
        return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    while (wall.elapsed() < 2000)
        s.call(sDoEvents);
    const double cpu = cpuSeconds() - cpuBefore;
    const double seconds = double(wall.elapsed()) / 1000.0;
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(limitLogs, 1) << "the limit is reported once, not at every try";
    EXPECT_LT(cpu, seconds / 2) << "processor time " << cpu << " s in " << seconds << " s at the limit";
    std::printf("at the descriptor limit: %.3f s of processor time in %.3f s\n", cpu, seconds);

    for (int fd : fillers)
        ::close(fd);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    RawClient fresh(port);
    fresh.socket.write(RawClient::request());
    fresh.readUntil([](const QByteArray& b) { return b.contains("\r\n\r\n"); }, [&] { s.call(sDoEvents); });
    EXPECT_TRUE(fresh.received.startsWith("HTTP/1.1 101 ")) << fresh.received.toStdString();
    for (int fd : callers)
        ::close(fd);
}

// Clients that send and never read their echoes: past MaxQueuedBytes the
// server stops reading from those whose queues hold the most, so its memory
// follows the setting, not SendQueueLimit times the clients; a client that
// reads again is read from again.
TEST(ServerHostile, ClientsThatNeverReadAreHeldByTheServerWideQueueBound)
{
    ServerHost s;
    const int port = s.listen();
    ASSERT_GT(port, 0);
    s.echo();
    s.record = false;
    s.config("LogLevel=0");
    s.config("MaxQueuedBytes=1048576");
    ASSERT_EQ(s.lastRc, 0);
    int opened = 0;
    s.handlers[seConnected] = [&](int, void**, int*) {
        ++opened;
        return 0;
    };
    constexpr int kClients = 4;
    std::vector<int> clients;
    for (int k = 0; k < kClients; ++k)
        clients.push_back(rawWebSocketClient(port, 4096));
    ASSERT_TRUE(s.waitUntil([&] { return opened == kClients; }));
    const size_t before = heapInUse();
    size_t peak = before;
    const QByteArray frame = RawClient::frame(0x2, QByteArray(16000, 'x'));
    for (int fd : clients) {
        writeUntilHeldUp(fd, frame, [&] {
            s.call(sDoEvents);
            s.messages.clear();   // the host's own record of what came
            peak = std::max(peak, heapInUse());
        }, qint64(24) << 20);
    }
    EXPECT_EQ(s.getInt(sConnectionCount), kClients);
    // Without the bound each queue would fill to SendQueueLimit (16 MiB).
    EXPECT_LT(peak - before, size_t(8) << 20) << "server heap grew " << (peak - before) << " bytes";
    std::printf("%d clients not reading, bound 1 MiB: server heap grew at most %zu bytes\n", kClients, peak - before);

    // The first client reads again: its queue drains and the server reads
    // from it again (while it was held, nothing more of it came in).
    const int firstId = 1;
    size_t again = 0;
    char buffer[65536];
    QDeadlineTimer deadline(60000);
    while (again < 50 && !deadline.hasExpired()) {
        while (::recv(clients[0], buffer, sizeof(buffer), 0) > 0) {
        }
        s.call(sDoEvents);
        again += s.messages[firstId].size();
        s.messages.clear();
    }
    EXPECT_GE(again, 50u) << "messages of the first client read after it read again";
    for (int fd : clients)
        ::close(fd);
}

} // namespace
} // namespace engine_test
