// The WebSocket proxy object through its C interface: numbering and errors,
// the events and write-backs of one forwarded connection (raw-byte client,
// TCP peers in this process), independent clients (python3-websockets,
// node-ws) through it to a TCP echo server, the Firewall properties with the
// test proxies, and flow control against slow readers on either side.
#include "proxy_test_support.h"

#include <QCryptographicHash>
#include <QTemporaryDir>

using namespace proxy_test;
using engine_test::peersDir;
using engine_test::Peer;

namespace {

QByteArray closePayload(const RawClient::Frame& f)
{
    return f.payload;
}
int closeCode(const RawClient::Frame& f)
{
    return f.payload.size() >= 2 ? (quint8(f.payload[0]) << 8) | quint8(f.payload[1]) : -1;
}

TEST(ProxyCInterface, EveryPropertyHasItsNumbersAccessAndDefault)
{
    enum Kind { B, I, S, Y };
    enum Acc { R = 1, RW = 3 };
    struct Row {
        int id;
        Kind kind;
        int access;
        bool indexed;
        intptr_t defaultInt;
        const char* defaultText;
    };
    const Row rows[] = {
        {kConnectionBacklog, I, RW, false, -1, nullptr}, {kConnectionCount, I, R, false, 0, nullptr},
        {kConnConnected, B, RW, true, 0, nullptr},       {kConnConnectionId, S, R, true, 0, nullptr},
        {kConnForwardHost, S, R, true, 0, nullptr},      {kConnForwardPort, I, R, true, 0, nullptr},
        {kConnHost, S, R, true, 0, nullptr},             {kConnLocalAddress, S, R, true, 0, nullptr},
        {kConnOrigin, S, R, true, 0, nullptr},           {kConnRemoteHost, S, R, true, 0, nullptr},
        {kConnRemotePort, I, R, true, 0, nullptr},       {kConnRequestHeaders, S, R, true, 0, nullptr},
        {kConnRequestURI, S, R, true, 0, nullptr},       {kConnSubProtocols, S, R, true, 0, nullptr},
        {kConnTimeout, I, RW, true, 0, nullptr},         {kDefaultForwardHost, S, RW, false, 0, ""},
        {kDefaultForwardPort, I, RW, false, 0, nullptr}, {kDefaultTimeout, I, RW, false, 0, nullptr},
        {kFirewallAutoDetect, B, RW, false, 0, nullptr}, {kFirewallType, I, RW, false, 0, nullptr},
        {kFirewallHost, S, RW, false, 0, ""},            {kFirewallPassword, S, RW, false, 0, ""},
        {kFirewallPort, I, RW, false, 0, nullptr},       {kFirewallUser, S, RW, false, 0, ""},
        {kListening, B, RW, false, 0, nullptr},          {kLocalHost, S, RW, false, 0, ""},
        {kLocalPort, I, RW, false, 0, nullptr},          {kSSLAuthenticateClients, B, RW, false, 0, nullptr},
        {kSSLCertEncoded, Y, RW, false, 0, ""},          {kSSLCertStore, Y, RW, false, 0, "MY"},
        {kSSLCertStorePassword, S, RW, false, 0, ""},    {kSSLCertStoreType, I, RW, false, 0, nullptr},
        {kSSLCertSubject, S, RW, false, 0, ""},          {kUseSSL, B, RW, false, 0, nullptr},
    };
    ASSERT_EQ(std::size(rows), 34u);

    ProxyHost host;
    void* h = host.handle();
    ASSERT_NE(h, nullptr);
    for (const Row& r : rows) {
        SCOPED_TRACE("property " + std::to_string(r.id));
        // Indexed or not, index 1 is refused: no connection 1, or no index at all.
        EXPECT_EQ(CorvaneWS_WebSocketProxy_CheckIndex(h, r.id, 1), 104);
        if (r.indexed) {
            EXPECT_EQ(CorvaneWS_WebSocketProxy_Get(h, r.kind == S ? r.id + 10000 : r.id, 1, nullptr, nullptr), nullptr);
            EXPECT_EQ(host.lastErrorCode(), 104);
            EXPECT_EQ(host.lastError(), QStringLiteral("Invalid array index (ConnectionId)."));
            continue;
        }
        EXPECT_EQ(CorvaneWS_WebSocketProxy_CheckIndex(h, r.id, 0), 0);
        CorvaneWS_WebSocketProxy_SetLastErrorAndCode(h, 0, nullptr);
        int n = -1;
        void* v = CorvaneWS_WebSocketProxy_Get(h, r.kind == S ? r.id + 10000 : r.id, 0, &n, nullptr);
        EXPECT_EQ(host.lastErrorCode(), 0);
        if ((r.kind == B || r.kind == I) && r.defaultInt >= 0) {
            EXPECT_EQ(num(v), r.defaultInt);
        } else if (r.kind == S) {
            EXPECT_EQ(wide(v), QString::fromUtf8(r.defaultText));
        } else if (r.kind == Y) {
            EXPECT_EQ(QByteArray(static_cast<const char*>(v), n), QByteArray(r.defaultText));
        }
        // Only strings have a Str number, only byte arrays an Alt number.
        const int writable = r.access & 2 ? 0 : 102;
        EXPECT_EQ(CorvaneWS_WebSocketProxy_Set(h, r.id + 10000, 0, u"", 0), r.kind == S ? writable : 101);
        EXPECT_EQ(CorvaneWS_WebSocketProxy_Set(h, r.id + 20000, 0, u"", 0), r.kind == Y ? writable : 101);
    }
    EXPECT_EQ(CorvaneWS_WebSocketProxy_CheckIndex(h, 35, 0), 101);

    // Values come back as written, through whichever part keeps them.
    ProxyHost fresh;
    EXPECT_EQ(fresh.setText(kDefaultForwardHost, QStringLiteral("backend.example")), 0);
    EXPECT_EQ(fresh.getText(kDefaultForwardHost), QStringLiteral("backend.example"));
    EXPECT_EQ(fresh.setInt(kDefaultForwardPort, 5900), 0);
    EXPECT_EQ(fresh.getInt(kDefaultForwardPort), 5900);
    EXPECT_EQ(fresh.setInt(kDefaultForwardPort, 65536), 105);
    EXPECT_EQ(fresh.setInt(kFirewallType, 3), 0);
    EXPECT_EQ(fresh.setInt(kFirewallType, 4), 105);
    EXPECT_EQ(fresh.getInt(kFirewallType), 3);
    EXPECT_EQ(fresh.setText(kFirewallUser, QStringLiteral("ü-user")), 0);
    EXPECT_EQ(fresh.getText(kFirewallUser), QStringLiteral("ü-user"));
    EXPECT_EQ(fresh.setInt(kDefaultTimeout, 30), 0);
    EXPECT_EQ(fresh.getInt(kDefaultTimeout), 30);
    EXPECT_EQ(fresh.setInt(kConnectionBacklog, 64), 0);
    EXPECT_EQ(fresh.getInt(kConnectionBacklog), 64);
    EXPECT_EQ(fresh.setInt(kSSLCertStoreType, 100), 105);
    EXPECT_EQ(fresh.setInt(kConnectionCount, 1), 102);
    EXPECT_EQ(fresh.lastError(), QStringLiteral("Property is read-only: WebSocketProxyConnectionCount."));
    const QByteArray store("/tmp/some-store");
    EXPECT_EQ(CorvaneWS_WebSocketProxy_Set(fresh.handle(), kSSLCertStore, 0, store.constData(), int(store.size())), 0);
    EXPECT_EQ(fresh.getBytes(kSSLCertStore), store);
}

TEST(ProxyCInterface, MethodsConfigListeningAndErrors)
{
    ProxyHost host;
    // The proxy's own settings and those of its WebSocket side.
    EXPECT_EQ(host.config(QStringLiteral("ForwardQueueLimit")), QStringLiteral("4194304"));
    EXPECT_EQ(host.config(QStringLiteral("ForwardQueueLimit=1048576")), QStringLiteral("1048576"));
    EXPECT_EQ(host.config(QStringLiteral("ForwardConnectTimeout")), QStringLiteral("30"));
    EXPECT_EQ(host.config(QStringLiteral("SendQueueLimit")), QStringLiteral("4194304"));
    EXPECT_EQ(host.config(QStringLiteral("MaxHeadSize=8192")), QStringLiteral("8192"));
    EXPECT_EQ(host.lastRc, 0);
    host.config(QStringLiteral("NoSuchSetting=1"));
    EXPECT_EQ(host.lastRc, 108);
    host.config(QStringLiteral("ForwardQueueLimit=12"));
    EXPECT_EQ(host.lastRc, 108);
    EXPECT_EQ(host.config(QStringLiteral("LogLevel=2")), QStringLiteral("2"));

    EXPECT_EQ(host.call(kDoEvents), 0);
    EXPECT_EQ(host.call(kDisconnect, {reinterpret_cast<void*>(intptr_t(7))}), 104);
    EXPECT_EQ(host.call(10006), 106);
    EXPECT_EQ(host.call(kShutdown), 0);

    const int port = host.listen();
    ASSERT_GT(port, 0) << host.lastError().toStdString();
    EXPECT_EQ(host.getInt(kListening), 1);
    EXPECT_EQ(host.setInt(kLocalPort, 1234), 115);
    ProxyHost second;
    second.setText(kLocalHost, QStringLiteral("127.0.0.1"));
    second.setInt(kLocalPort, port);
    EXPECT_EQ(second.setInt(kListening, 1), 165);   // the port is taken
    EXPECT_EQ(host.setInt(kListening, 0), 0);
    EXPECT_EQ(host.getInt(kListening), 0);
}

// One connection end to end: the events with their arguments, the forward
// target and subprotocol chosen by the open-request handler, the indexed
// properties, and the close that follows the TCP side's end.
TEST(ProxyForwarding, EventShapesWriteBacksAndIndexedProperties)
{
    TcpPeer defaultTarget, chosenTarget;
    ProxyHost host;
    host.setText(kDefaultForwardHost, QStringLiteral("127.0.0.1"));
    host.setInt(kDefaultForwardPort, defaultTarget.port());
    host.handlers[evWebSocketOpenRequest] = [&](int argc, void** argv, int*) {
        EXPECT_EQ(argc, 11);
        // Preset: no subprotocol, status 101, the default target.
        EXPECT_EQ(evtStr(argv[4]), QString());
        EXPECT_EQ(num(argv[7]), 101);
        EXPECT_EQ(evtStr(argv[9]), QStringLiteral("127.0.0.1"));
        EXPECT_EQ(num(argv[10]), defaultTarget.port());
        CorvaneWS_EvtStr(argv[4], 2, const_cast<char16_t*>(u"chat"), 2);
        CorvaneWS_EvtStr(argv[9], 2, const_cast<char16_t*>(u"localhost"), 2);
        argv[10] = reinterpret_cast<void*>(intptr_t(chosenTarget.port()));
        return 0;
    };
    const int port = host.listen();
    ASSERT_GT(port, 0) << host.lastError().toStdString();

    RawClient client;
    client.connectTo(port);
    client.sendRequest("Origin: http://origin.example\r\nSec-WebSocket-Protocol: superchat, chat\r\n",
                       "/desk?x=1");
    ASSERT_TRUE(host.waitUntil([&] { return client.haveHead(); }));
    EXPECT_TRUE(client.head.startsWith("HTTP/1.1 101")) << client.head.toStdString();
    EXPECT_TRUE(client.head.contains("Sec-WebSocket-Protocol: chat\r\n")) << client.head.toStdString();
    ASSERT_TRUE(host.waitUntil([&] { return host.count(evConnected) == 1; }));

    const Recorded* request = host.last(evConnectionRequest);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->texts, QStringList{"127.0.0.1"});
    EXPECT_EQ(request->ints.size(), 2u);
    const Recorded* open = host.last(evWebSocketOpenRequest);
    ASSERT_NE(open, nullptr);
    const int id = int(open->ints[0]);
    EXPECT_GT(id, 0);
    EXPECT_EQ(open->texts[0], QStringLiteral("/desk?x=1"));
    EXPECT_EQ(open->texts[1], QStringLiteral("127.0.0.1"));
    EXPECT_EQ(open->texts[2], QStringLiteral("http://origin.example"));
    EXPECT_EQ(open->texts[4], QStringLiteral("superchat, chat"));
    EXPECT_TRUE(open->texts[5].contains("Sec-WebSocket-Version: 13"));
    EXPECT_EQ(host.last(evConnected)->ints, std::vector<intptr_t>{id});

    // The chosen target got the connection, the default none.
    EXPECT_EQ(chosenTarget.accepted, 1);
    EXPECT_EQ(defaultTarget.accepted, 0);
    EXPECT_EQ(CorvaneWS_WebSocketProxy_CheckIndex(host.handle(), kConnForwardPort, id), 0);
    EXPECT_EQ(CorvaneWS_WebSocketProxy_CheckIndex(host.handle(), kConnForwardPort, id + 1), 104);
    EXPECT_EQ(host.getInt(kConnectionCount), 1);
    EXPECT_EQ(host.getText(kConnForwardHost, id), QStringLiteral("localhost"));
    EXPECT_EQ(host.getInt(kConnForwardPort, id), chosenTarget.port());
    EXPECT_EQ(host.getText(kConnConnectionId, id), QString::number(id));
    EXPECT_EQ(host.getText(kConnRequestURI, id), QStringLiteral("/desk?x=1"));
    EXPECT_EQ(host.getText(kConnOrigin, id), QStringLiteral("http://origin.example"));
    EXPECT_EQ(host.getText(kConnRemoteHost, id), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(host.getInt(kConnRemotePort, id), client.socket.localPort());
    EXPECT_EQ(host.getText(kConnSubProtocols, id), QStringLiteral("chat"));
    EXPECT_EQ(host.getInt(kConnConnected, id), 1);
    EXPECT_EQ(host.setInt(kConnTimeout, 45, id), 0);
    EXPECT_EQ(host.getInt(kConnTimeout, id), 45);

    // Text and binary payload reach the TCP side as they are; the echo comes
    // back as binary messages.
    const QByteArray text = QStringLiteral("grüße ").toUtf8();
    const QByteArray binary("\x00\x01\xfe\xff", 4);
    client.sendFrame(0x1, text);
    client.sendFrame(0x2, binary);
    QByteArray echoed;
    RawClient::Frame frame;
    ASSERT_TRUE(host.waitUntil([&] {
        while (client.haveFrame(frame)) {
            EXPECT_EQ(frame.opcode, 0x2);
            echoed += frame.payload;
        }
        return echoed.size() >= text.size() + binary.size();
    }));
    EXPECT_EQ(echoed, text + binary);
    EXPECT_FALSE(client.maskedFromServer);
    EXPECT_EQ(chosenTarget.received, text + binary);
    EXPECT_EQ(host.fromClient, text + binary);
    EXPECT_EQ(host.toClient, text + binary);

    // The TCP side ends: the client is closed with 1000, and answers.
    chosenTarget.sockets.front()->disconnectFromHost();
    ASSERT_TRUE(host.waitUntil([&] { return client.haveFrame(frame); }));
    EXPECT_EQ(frame.opcode, 0x8);
    EXPECT_EQ(closeCode(frame), 1000);
    client.sendFrame(0x8, closePayload(frame));
    ASSERT_TRUE(host.waitUntil([&] { return host.count(evDisconnected) == 1; }));
    EXPECT_EQ(host.last(evDisconnected)->ints, (std::vector<intptr_t>{id, 1000}));
    EXPECT_EQ(host.getInt(kConnectionCount), 0);
    EXPECT_EQ(CorvaneWS_WebSocketProxy_CheckIndex(host.handle(), kConnForwardPort, id), 104);
    EXPECT_EQ(host.count(evError), 0u);
}

TEST(ProxyForwarding, RefusedConnectionsAndUpgradesOpenNoForwardConnection)
{
    TcpPeer target;
    ProxyHost host;
    host.setText(kDefaultForwardHost, QStringLiteral("127.0.0.1"));
    host.setInt(kDefaultForwardPort, target.port());
    bool acceptTcp = false;
    host.handlers[evConnectionRequest] = [&](int, void** argv, int*) {
        argv[2] = reinterpret_cast<void*>(intptr_t(acceptTcp));
        return 0;
    };
    host.handlers[evWebSocketOpenRequest] = [&](int, void** argv, int*) {
        argv[7] = reinterpret_cast<void*>(intptr_t(403));
        return 0;
    };
    const int port = host.listen();
    ASSERT_GT(port, 0);

    RawClient refused;
    refused.connectTo(port);
    refused.sendRequest();
    ASSERT_TRUE(host.waitUntil([&] { return refused.closed(); }));
    EXPECT_TRUE(refused.socket.readAll().isEmpty());
    EXPECT_EQ(host.count(evWebSocketOpenRequest), 0u);

    acceptTcp = true;
    RawClient forbidden;
    forbidden.connectTo(port);
    forbidden.sendRequest();
    ASSERT_TRUE(host.waitUntil([&] { return forbidden.haveHead(); }));
    EXPECT_TRUE(forbidden.head.startsWith("HTTP/1.1 403")) << forbidden.head.toStdString();
    ASSERT_TRUE(host.waitUntil([&] { return forbidden.closed(); }));
    EXPECT_EQ(host.count(evConnected), 0u);
    EXPECT_EQ(target.accepted, 0);
}

// A forward host that cannot be reached, or none at all: an error event and
// close code 1011 for the client.
TEST(ProxyForwarding, UnreachableForwardHostClosesTheClientWith1011)
{
    int closedPort = 0;
    {
        QTcpServer gone;
        gone.listen(QHostAddress::LocalHost, 0);
        closedPort = gone.serverPort();
    }
    ProxyHost host;
    host.setText(kDefaultForwardHost, QStringLiteral("127.0.0.1"));
    host.setInt(kDefaultForwardPort, closedPort);
    bool noTarget = false;
    host.handlers[evWebSocketOpenRequest] = [&](int, void** argv, int*) {
        if (noTarget)
            CorvaneWS_EvtStr(argv[9], 2, nullptr, 2);   // a null text leaves the host empty
        return 0;
    };
    const int port = host.listen();
    ASSERT_GT(port, 0);

    for (bool none : {false, true}) {
        SCOPED_TRACE(none ? "no forward host" : "closed port");
        noTarget = none;
        host.events.clear();
        RawClient client;
        client.connectTo(port);
        client.sendRequest();
        RawClient::Frame frame;
        ASSERT_TRUE(host.waitUntil([&] { return client.haveHead() && client.haveFrame(frame); }));
        EXPECT_TRUE(client.head.startsWith("HTTP/1.1 101"));
        EXPECT_EQ(frame.opcode, 0x8);
        EXPECT_EQ(closeCode(frame), 1011);
        client.sendFrame(0x8, frame.payload);
        ASSERT_TRUE(host.waitUntil([&] { return host.count(evDisconnected) == 1; }));
        const Recorded* error = host.last(evError);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->ints[1], 151);
        EXPECT_EQ(host.last(evDisconnected)->ints[1], 1011);
        EXPECT_EQ(host.count(evConnected), 0u);
    }
}

// The client's close ends the TCP side, after what the client sent before it.
TEST(ProxyForwarding, ClientCloseFlushesAndEndsTheTcpSide)
{
    TcpPeer target(false);
    ProxyHost host;
    host.setText(kDefaultForwardHost, QStringLiteral("127.0.0.1"));
    host.setInt(kDefaultForwardPort, target.port());
    const int port = host.listen();
    ASSERT_GT(port, 0);
    RawClient client;
    client.connectTo(port);
    client.sendRequest();
    ASSERT_TRUE(host.waitUntil([&] { return host.count(evConnected) == 1; }));
    QByteArray sent;
    for (int k = 0; k < 20; ++k) {
        const QByteArray piece(1000 + k, char('a' + k));
        client.sendFrame(0x2, piece);
        sent += piece;
    }
    client.sendFrame(0x8, QByteArray("\x0b\xb8" "bye", 5));   // 3000
    RawClient::Frame frame;
    ASSERT_TRUE(host.waitUntil([&] { return client.haveHead() && client.haveFrame(frame); }));
    EXPECT_EQ(frame.opcode, 0x8);
    EXPECT_EQ(closeCode(frame), 3000);
    ASSERT_TRUE(host.waitUntil([&] { return target.disconnected == 1; }));
    EXPECT_EQ(target.received, sent);
    ASSERT_TRUE(host.waitUntil([&] { return host.count(evDisconnected) == 1; }));
    EXPECT_EQ(host.last(evDisconnected)->ints[1], 3000);
}

// A client that sends and closes at once, in the packets of its handshake:
// its data still reaches the forward host, whenever that connection is up.
TEST(ProxyForwarding, DataSentWithTheHandshakeAndACloseIsNotLost)
{
    TcpPeer target(false);
    ProxyHost host;
    host.setText(kDefaultForwardHost, QStringLiteral("127.0.0.1"));
    host.setInt(kDefaultForwardPort, target.port());
    const int port = host.listen();
    ASSERT_GT(port, 0);
    RawClient client;
    client.connectTo(port);
    ASSERT_TRUE(client.socket.waitForConnected(5000));
    client.sendRequest();
    client.sendFrame(0x2, "early bytes");
    client.sendFrame(0x8, QByteArray("\x03\xe8", 2));
    client.socket.flush();
    ASSERT_TRUE(host.waitUntil([&] { return target.disconnected == 1; }));
    EXPECT_EQ(target.received, QByteArray("early bytes"));
    ASSERT_TRUE(host.waitUntil([&] { return host.count(evDisconnected) == 1; }));
    EXPECT_EQ(host.last(evDisconnected)->ints[1], 1000);
}

// Disconnect ends one connection, Shutdown every other one (1001) and the
// listening; each forward connection goes with its client.
TEST(ProxyForwarding, DisconnectAndShutdownEndBothSides)
{
    TcpPeer target;
    ProxyHost host;
    host.setText(kDefaultForwardHost, QStringLiteral("127.0.0.1"));
    host.setInt(kDefaultForwardPort, target.port());
    const int port = host.listen();
    ASSERT_GT(port, 0);
    RawClient first, second;
    for (RawClient* c : {&first, &second}) {
        c->connectTo(port);
        c->sendRequest();
    }
    ASSERT_TRUE(host.waitUntil([&] { return host.count(evConnected) == 2; }));
    std::vector<intptr_t> ids;
    for (const Recorded& r : host.events)
        if (r.event == evConnected)
            ids.push_back(r.ints[0]);

    EXPECT_EQ(host.call(kDisconnect, {reinterpret_cast<void*>(ids[0])}), 0);
    RawClient::Frame frame;
    RawClient& owner = host.getInt(kConnRemotePort, int(ids[0])) == first.socket.localPort() ? first : second;
    RawClient& other = &owner == &first ? second : first;
    ASSERT_TRUE(host.waitUntil([&] { return owner.haveHead() && owner.haveFrame(frame); }));
    EXPECT_EQ(closeCode(frame), 1000);
    owner.sendFrame(0x8, frame.payload);
    ASSERT_TRUE(host.waitUntil([&] { return target.disconnected == 1 && host.count(evDisconnected) == 1; }));

    EXPECT_EQ(host.call(kShutdown), 0);
    EXPECT_EQ(host.getInt(kListening), 0);
    ASSERT_TRUE(host.waitUntil([&] { return other.haveHead() && other.haveFrame(frame); }));
    EXPECT_EQ(closeCode(frame), 1001);
    other.sendFrame(0x8, frame.payload);
    ASSERT_TRUE(host.waitUntil([&] { return target.disconnected == 2 && host.count(evDisconnected) == 2; }));
    EXPECT_EQ(host.getInt(kConnectionCount), 0);
}

// A host may destroy the proxy from inside an event that the TCP side
// raised: the object goes once the event returns, its sockets with it.
TEST(ProxyForwarding, DestroyedFromItsOwnEventTheProxyLetsGoOfBothSides)
{
    TcpPeer target;
    auto host = std::make_unique<ProxyHost>();
    host->setText(kDefaultForwardHost, QStringLiteral("127.0.0.1"));
    host->setInt(kDefaultForwardPort, target.port());
    host->handlers[evDataIn] = [&](int, void** argv, int*) {
        if (num(argv[2]) == 1)
            host->destroy();
        return 0;
    };
    const int port = host->listen();
    ASSERT_GT(port, 0);
    RawClient client;
    client.connectTo(port);
    client.sendRequest();
    ASSERT_TRUE(host->waitUntil([&] { return host->count(evConnected) == 1; }));
    client.sendFrame(0x2, "ping");
    ASSERT_TRUE(host->waitUntil([&] { return host->handle() == nullptr; }));
    ASSERT_TRUE(host->waitUntil([&] { return client.closed() && target.disconnected == 1; }));
}

// ---- independent clients ----

std::unique_ptr<Peer> tcpEcho()
{
    return std::make_unique<Peer>("/usr/bin/python3", QStringList{"-u", peersDir() + "/tcp_peer.py", "--mode", "echo"});
}

// Pumps the proxy until the client process ends; returns its last line.
QString runClient(ProxyHost& host, ClientProcess& client, int ms = 240000)
{
    EXPECT_TRUE(client.started);
    host.waitUntil([&] { return client.finished(); }, ms);
    client.p.waitForFinished(100);
    return client.lastLine();
}

class ProxyInterop : public ::testing::TestWithParam<const char*> {};

TEST_P(ProxyInterop, HundredConcurrentStreamsAreByteExact)
{
    auto echo = tcpEcho();
    ASSERT_PEER(echo);
    ProxyHost host;
    host.recordData = false;
    host.setText(kDefaultForwardHost, QStringLiteral("127.0.0.1"));
    host.setInt(kDefaultForwardPort, echo->port());
    host.setInt(kConnectionBacklog, 256);
    const int port = host.listen();
    ASSERT_GT(port, 0);
    const QString url = QStringLiteral("ws://127.0.0.1:%1/").arg(port);
    const QStringList args{"--url", url, "--streams", "100", "--bytes", "200000"};
    const bool python = std::string(GetParam()) == "python";
    ClientProcess client(python ? "/usr/bin/python3" : "/usr/bin/node",
                         (python ? QStringList{peersDir() + "/proxy_client.py", "--mode", "streams"}
                                 : QStringList{peersDir() + "/proxy_client.js"})
                             + args,
                         python ? QStringList{} : nodeEnv());
    const QString result = runClient(host, client);
    EXPECT_EQ(result, QStringLiteral("ok 100 20000000"));
    EXPECT_EQ(host.count(evConnected), 100u);
    EXPECT_EQ(host.count(evError), 0u);
    // Every client closed; every forward connection with it.
    EXPECT_TRUE(host.waitUntil([&] { return host.count(evDisconnected) == 100; }));
    EXPECT_EQ(host.getInt(kConnectionCount), 0);
}

INSTANTIATE_TEST_SUITE_P(Clients, ProxyInterop, ::testing::Values("python", "node"));

// The TCP side through the test proxies: SOCKS5 with user and password,
// SOCKS4, HTTP CONNECT.
struct FirewallCase {
    const char* kind;
    int type;
    bool credentials;
};

class ProxyFirewall : public ::testing::TestWithParam<FirewallCase> {};

TEST_P(ProxyFirewall, ForwardConnectionsGoThroughIt)
{
    const FirewallCase c = GetParam();
    auto echo = tcpEcho();
    ASSERT_PEER(echo);
    QStringList fwArgs{"-u", peersDir() + "/proxy.py", "--kind", c.kind};
    if (c.credentials)
        fwArgs << "--user" << "brindle" << "--password" << "pa55";
    Peer firewall("/usr/bin/python3", fwArgs);
    ASSERT_PEER(&firewall);

    ProxyHost host;
    host.setText(kDefaultForwardHost, QStringLiteral("127.0.0.1"));
    host.setInt(kDefaultForwardPort, echo->port());
    EXPECT_EQ(host.setInt(kFirewallType, c.type), 0);
    host.setText(kFirewallHost, QStringLiteral("127.0.0.1"));
    host.setInt(kFirewallPort, firewall.port());
    host.setText(kFirewallUser, QStringLiteral("brindle"));
    host.setText(kFirewallPassword, QStringLiteral("pa55"));
    const int port = host.listen();
    ASSERT_GT(port, 0);
    ClientProcess client("/usr/bin/python3", {peersDir() + "/proxy_client.py", "--mode", "streams", "--url",
                                              QStringLiteral("ws://127.0.0.1:%1/").arg(port), "--streams", "5",
                                              "--bytes", "100000"});
    EXPECT_EQ(runClient(host, client), QStringLiteral("ok 5 500000"));
    EXPECT_EQ(firewall.lines().filter(QStringLiteral("tunnel 127.0.0.1:%1").arg(echo->port())).size(), 5);
    EXPECT_EQ(host.count(evError), 0u);

    if (c.credentials) {
        // A wrong password: the forward connection fails, the client gets 1011.
        host.setText(kFirewallPassword, QStringLiteral("wrong"));
        RawClient refused;
        refused.connectTo(port);
        refused.sendRequest();
        RawClient::Frame frame;
        ASSERT_TRUE(host.waitUntil([&] { return refused.haveHead() && refused.haveFrame(frame); }));
        EXPECT_EQ(closeCode(frame), 1011);
        ASSERT_NE(host.last(evError), nullptr);
        EXPECT_EQ(host.last(evError)->ints[1], 156);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, ProxyFirewall,
                         ::testing::Values(FirewallCase{"socks5", 3, true}, FirewallCase{"socks4", 2, false},
                                           FirewallCase{"connect", 1, false}),
                         [](const auto& info) { return std::string(info.param.kind); });

// TLS on the WebSocket side: the server's certificate properties and the
// TLS events, under the proxy's own numbers.
TEST(ProxyTls, WssClientsAreForwardedAndTheTlsEventsComeUnderTheProxysNumbers)
{
    QTemporaryDir dir;
    ASSERT_TRUE(engine_test::makeTestCertificates(dir.path())) << "openssl could not make the certificates";
    const QByteArray pem = engine_test::filesJoined(dir.path(), {"server.pem", "server.key"});

    auto echo = tcpEcho();
    ASSERT_PEER(echo);
    ProxyHost host;
    host.setText(kDefaultForwardHost, QStringLiteral("127.0.0.1"));
    host.setInt(kDefaultForwardPort, echo->port());
    EXPECT_EQ(host.setInt(kSSLCertStoreType, 7), 0);
    EXPECT_EQ(CorvaneWS_WebSocketProxy_Set(host.handle(), kSSLCertStore, 0, pem.constData(), int(pem.size())), 0);
    EXPECT_EQ(host.setInt(kUseSSL, 1), 0);
    EXPECT_EQ(host.getInt(kUseSSL), 1);
    const int port = host.listen();
    ASSERT_GT(port, 0) << host.lastError().toStdString();

    ClientProcess client("/usr/bin/python3", {peersDir() + "/proxy_client.py", "--mode", "streams", "--url",
                                              QStringLiteral("wss://127.0.0.1:%1/").arg(port), "--streams", "3",
                                              "--bytes", "100000", "--ca", dir.path() + "/ca.pem"});
    EXPECT_EQ(runClient(host, client), QStringLiteral("ok 3 300000"));
    EXPECT_EQ(host.count(evSSLConnectionRequest), 3u);
    EXPECT_EQ(host.count(evSSLStatus), 3u);
    ASSERT_NE(host.last(evSSLStatus), nullptr);
    EXPECT_EQ(host.last(evSSLStatus)->texts, QStringList{"TLS handshake complete"});
    EXPECT_EQ(host.count(evSSLClientAuthentication), 0u);
    EXPECT_EQ(host.count(evWebSocketOpenRequest), 3u);
    EXPECT_EQ(host.count(evConnected), 3u);
}

// ---- flow control ----

// What the proxy may hold for one connection at most, with room for the
// sockets' and the allocator's own slack: far below what the writers push.
constexpr long kBoundKiB = 40 << 10;
constexpr qint64 kFlood = 192 << 20;

// A fast WebSocket writer and a TCP reader that stops reading: the proxy stops
// reading from the client instead of holding what it sends.
TEST(ProxyFlowControl, SlowTcpReaderHoldsTheWebSocketWriter)
{
    TcpPeer reader(false);
    reader.paused = true;
    reader.readBufferSize = 64 << 10;
    ProxyHost host;
    host.recordData = false;
    host.setText(kDefaultForwardHost, QStringLiteral("127.0.0.1"));
    host.setInt(kDefaultForwardPort, reader.port());
    const int port = host.listen();
    ASSERT_GT(port, 0);
    const long before = rssKiB();

    ClientProcess writer("/usr/bin/python3", {peersDir() + "/proxy_client.py", "--mode", "flood", "--url",
                                              QStringLiteral("ws://127.0.0.1:%1/").arg(port), "--bytes",
                                              QString::number(kFlood)});
    // Until the writer is held up: its count stops moving for a while.
    QString lastSent;
    int still = 0;
    long peak = before;
    host.waitUntil([&] {
        peak = std::max(peak, rssKiB());
        const QString now = writer.lastLine("sent");
        still = now == lastSent && !now.isEmpty() ? still + 1 : 0;
        lastSent = now;
        return still > 150 || writer.finished();
    }, 60000);
    EXPECT_FALSE(writer.finished()) << "every byte went somewhere while nobody read: " << lastSent.toStdString();
    EXPECT_LT(peak - before, kBoundKiB) << "the proxy held what the TCP side did not take";

    // The reader catches up: every byte arrives, in order.
    reader.resume();
    ASSERT_TRUE(host.waitUntil([&] { return reader.received.size() >= kFlood; }, 180000));
    ASSERT_TRUE(host.waitUntil([&] { return !writer.lastLine("done").isEmpty(); }, 60000));
    EXPECT_EQ(reader.received.size(), kFlood);
    const QString done = writer.lastLine("done");
    EXPECT_EQ(done.section(' ', 2), QString::fromLatin1(QCryptographicHash::hash(reader.received,
                                                                                 QCryptographicHash::Sha256).toHex()));
}

// A fast TCP writer and a WebSocket client that does not read for a while:
// the proxy stops reading from the TCP side instead of queueing it all.
TEST(ProxyFlowControl, SlowWebSocketReaderHoldsTheTcpWriter)
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qsizetype i = 0; i < block.size(); ++i)
        block[i] = char((i * 7 + i / 4096) & 0xff);
    QCryptographicHash sent(QCryptographicHash::Sha256);
    qint64 written = 0;
    QTcpSocket* tcp = nullptr;
    auto fill = [&] {
        // Keeps at most one block queued in our own socket.
        while (tcp && written < kFlood && tcp->bytesToWrite() < block.size()) {
            tcp->write(block);
            sent.addData(block);
            written += block.size();
        }
        if (tcp && written >= kFlood && tcp->bytesToWrite() == 0)
            tcp->disconnectFromHost();
    };
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
        tcp = server.nextPendingConnection();
        QObject::connect(tcp, &QTcpSocket::bytesWritten, tcp, fill);
        fill();
    });

    ProxyHost host;
    host.recordData = false;
    host.setText(kDefaultForwardHost, QStringLiteral("127.0.0.1"));
    host.setInt(kDefaultForwardPort, server.serverPort());
    const int port = host.listen();
    ASSERT_GT(port, 0);
    const long before = rssKiB();

    ClientProcess reader("/usr/bin/python3", {peersDir() + "/proxy_client.py", "--mode", "drain", "--url",
                                              QStringLiteral("ws://127.0.0.1:%1/").arg(port), "--bytes",
                                              QString::number(kFlood), "--hold", "8"});
    // While the client sleeps, until the TCP writer is held up: what it has
    // written stops moving for a while.
    long peak = before;
    qint64 lastWritten = -1;
    int still = 0;
    host.waitUntil([&] {
        peak = std::max(peak, rssKiB());
        still = written == lastWritten && tcp != nullptr ? still + 1 : 0;
        lastWritten = written;
        return still > 150 || !reader.lastLine("received").isEmpty() || reader.finished();
    }, 60000);
    EXPECT_LT(written, kFlood) << "every byte went somewhere while nobody read";
    EXPECT_LT(peak - before, kBoundKiB) << "the proxy held what the client did not take";

    // The client reads again: every byte arrives, in order, and the end of
    // the TCP side closes the connection with 1000.
    ASSERT_TRUE(host.waitUntil([&] { return !reader.lastLine("received").isEmpty() || reader.finished(); }, 180000));
    EXPECT_EQ(reader.lastLine("received"),
              QStringLiteral("received %1 %2").arg(kFlood).arg(QString::fromLatin1(sent.result().toHex())));
    ASSERT_TRUE(host.waitUntil([&] { return host.count(evDisconnected) == 1; }));
    EXPECT_EQ(host.last(evDisconnected)->ints[1], 1000);
}

// A client that resets its connection while the proxy holds its reading
// (the forward host does not take what it sends) is let go with its TCP side.
TEST(ProxyFlowControl, HeldClientThatResetsIsReleasedWithItsTcpSide)
{
    TcpPeer reader(false);
    reader.paused = true;
    reader.readBufferSize = 64 << 10;
    ProxyHost host;
    host.recordData = false;
    host.config(QStringLiteral("ForwardQueueLimit=65536"));
    host.config(QStringLiteral("LogLevel=0"));
    host.setText(kDefaultForwardHost, QStringLiteral("127.0.0.1"));
    host.setInt(kDefaultForwardPort, reader.port());
    const int port = host.listen();
    ASSERT_GT(port, 0);
    const int fd = engine_test::rawWebSocketClient(port);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(host.waitUntil([&] { return host.count(evConnected) == 1; }));
    const qint64 written = engine_test::writeUntilHeldUp(fd, engine_test::RawClient::frame(0x2, QByteArray(16000, 'x')),
                                                         [&] { host.call(kDoEvents); });
    EXPECT_GT(written, 0);
    EXPECT_EQ(host.getInt(kConnectionCount), 1);
    EXPECT_EQ(host.count(evDisconnected), 0);
    engine_test::resetConnection(fd);
    EXPECT_TRUE(host.waitUntil([&] { return host.count(evDisconnected) == 1; }));
    EXPECT_EQ(host.getInt(kConnectionCount), 0);
    // What the proxy still held for the forward host reaches it, then its end.
    reader.resume();
    EXPECT_TRUE(host.waitUntil([&] { return reader.disconnected == 1; }));
}

// Compressed messages on the proxy's WebSocket side, as our own client and
// two independent ones ask for them; the TCP side carries the bytes as they are.
TEST(ProxyCompression, CompressedOnTheWebSocketSideAndPlainOnTheTcpSide)
{
    TcpPeer tcp;
    ProxyHost proxy;
    proxy.config("PerMessageDeflate=true");
    ASSERT_EQ(proxy.lastRc, 0);
    proxy.setText(kDefaultForwardHost, QStringLiteral("127.0.0.1"));
    proxy.setInt(kDefaultForwardPort, tcp.port());
    const int port = proxy.listen();
    ASSERT_GT(port, 0) << proxy.lastError().toStdString();

    engine_test::Host client;
    client.config("PerMessageDeflate=true");
    client.setInt(engine_test::kTimeout, 0);
    ASSERT_EQ(client.call(engine_test::kConnect, {QStringLiteral("ws://127.0.0.1:%1/").arg(port)}), 0);
    ASSERT_TRUE(client.waitUntil([&] { return client.count(engine_test::evConnected) == 1; }));
    bool agreed = false;
    for (const Recorded& e : client.events)
        agreed = agreed || (e.event == engine_test::evHeader && e.texts.value(0) == "Sec-WebSocket-Extensions"
                            && e.texts.value(1).startsWith("permessage-deflate"));
    EXPECT_TRUE(agreed) << "the proxy took the offer";

    QByteArray data;
    for (int i = 0; data.size() < (1 << 20); ++i)
        data += QStringLiteral("{\"seq\":%1,\"value\":%2},").arg(i).arg(i % 977).toUtf8();
    ASSERT_EQ(client.send(data), 0);
    QByteArray back;
    ASSERT_TRUE(client.waitUntil([&] {
        back.clear();
        for (const QByteArray& m : client.messages)
            back += m;
        return back.size() >= data.size();
    }, 60000));
    EXPECT_TRUE(tcp.received == data) << "the TCP side got " << tcp.received.size() << " bytes";
    EXPECT_TRUE(back == data) << "came back as " << back.size() << " bytes";

    // python3-websockets and node-ws with their own compression: 16 MiB of
    // text and 10,000 small JSON messages through the proxy and back.
    for (const bool python : {true, false}) {
        SCOPED_TRACE(python ? "python3-websockets" : "node-ws");
        const QString url = QStringLiteral("ws://127.0.0.1:%1/").arg(port);
        ClientProcess peer(python ? "/usr/bin/python3" : "/usr/bin/node",
                           python ? QStringList{"-u", peersDir() + "/deflate_peer.py", "client", url, "--stream"}
                                  : QStringList{peersDir() + "/deflate_peer.js", "client", url, "--stream"},
                           python ? QStringList{} : nodeEnv());
        ASSERT_TRUE(peer.started);
        ASSERT_TRUE(proxy.waitUntil([&] { return peer.finished(); }, 180000));
        const QStringList lines = peer.lines();
        ASSERT_EQ(lines.size(), 2) << lines.join(" | ").toStdString();
        EXPECT_TRUE(lines[0].startsWith("ext permessage-deflate")) << lines[0].toStdString();
        EXPECT_EQ(lines[1], "ok");
    }
}

} // namespace
