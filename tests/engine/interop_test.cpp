// The client against independent peers on loopback: python3-websockets and
// node-ws servers, and small HTTP CONNECT, SOCKS4 and SOCKS5 proxies, all
// started by the tests.
#include "engine_test_support.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>

using namespace engine_test;

namespace {

// This process's resident memory in KiB.
long residentKib()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

QByteArray pattern(qsizetype n)
{
    QByteArray b(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        b[i] = char(i % 251);
    return b;
}

// Certificates made once per run with the openssl command line.
class Certificates {
public:
    static Certificates& get()
    {
        static Certificates c;
        return c;
    }
    bool ok() const { return ok_; }
    QString path(const QString& name) const { return dir_.path() + "/" + name; }
    QByteArray read(const QString& name) const
    {
        QFile f(path(name));
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }

private:
    Certificates()
    {
        ok_ = makeTestCertificates(dir_.path());
    }
    QTemporaryDir dir_;
    bool ok_ = false;
};

QString url(const Peer& p, const QString& path, bool secure = false)
{
    return QStringLiteral("%1://127.0.0.1:%2%3").arg(secure ? "wss" : "ws").arg(p.port()).arg(path);
}

// Echo of a text and a binary message, with data formats 1 and 2.
void expectEcho(Host& host)
{
    ASSERT_EQ(host.call(kSendText, {QStringLiteral("héllo")}), 0) << host.lastError().toStdString();
    const QByteArray bin("\x00\x01\x02\xff", 4);
    ASSERT_EQ(host.send(bin), 0);
    ASSERT_TRUE(host.waitUntil([&] { return host.messages.size() >= 2; }));
    EXPECT_EQ(host.messages[0], QStringLiteral("héllo").toUtf8());
    EXPECT_EQ(host.messageFormats[0], 1);
    EXPECT_EQ(host.messages[1], bin);
    EXPECT_EQ(host.messageFormats[1], 2);
}

class Interop : public ::testing::TestWithParam<const char*> {
protected:
    std::unique_ptr<Peer> server(const QStringList& extra = {})
    {
        return std::string(GetParam()) == "python" ? pythonServer(extra) : nodeServer(extra);
    }
};

TEST_P(Interop, ConnectsEchoesAndReportsTheHandshake)
{
    auto peer = server();
    ASSERT_PEER(peer);
    Host host;
    host.setInt(kTimeout, 10);
    ASSERT_EQ(host.call(kConnect, {url(*peer, "/echo")}), 0) << host.lastError().toStdString();
    EXPECT_EQ(host.getInt(kConnected), 1);
    EXPECT_EQ(host.getInt(kReadyToSend), 1);
    ASSERT_NE(host.last(evConnected), nullptr);
    EXPECT_EQ(host.last(evConnected)->ints.at(0), 0);
    EXPECT_GE(host.count(evReadyToSend), 1u);
    EXPECT_GE(host.count(evHeader), 3u);
    EXPECT_GE(host.getInt(kParsedHeaderCount), 3);
    EXPECT_TRUE(host.getText(kTransferredHeaders).startsWith("HTTP/1.1 101"));
    expectEcho(host);
    EXPECT_EQ(host.call(kDisconnect), 0);
    EXPECT_EQ(host.getInt(kConnected), 0);
    ASSERT_NE(host.last(evDisconnected), nullptr);
    EXPECT_EQ(host.last(evDisconnected)->ints.at(0), 1000);
}

TEST_P(Interop, SixteenMebibyteMessagesBothWaysInBoundedChunks)
{
    auto peer = server();
    ASSERT_PEER(peer);
    Host host;
    host.setInt(kTimeout, 20);
    const qsizetype size = 16 << 20;
    ASSERT_EQ(host.call(kConnect, {url(*peer, QStringLiteral("/big/%1").arg(size))}), 0);
    ASSERT_TRUE(host.waitUntil([&] { return host.messages.size() == 1; }, 60000));
    EXPECT_EQ(host.messages[0].size(), size);
    EXPECT_TRUE(host.messages[0] == pattern(size));
    for (int n : host.chunkSizes)
        EXPECT_LE(n, 256 * 1024);
    EXPECT_GT(host.chunkSizes.size(), 60u);   // delivered as it came, not as one block
    EXPECT_EQ(host.eomCount, 1u);

    // And back: the peer echoes what we send.
    host.chunkSizes.clear();
    const QByteArray data = pattern(size);
    ASSERT_EQ(host.send(data), 0);
    ASSERT_TRUE(host.waitUntil([&] { return host.messages.size() == 2; }, 60000));
    EXPECT_TRUE(host.messages[1] == data);
    EXPECT_EQ(host.getInt(kBytesSent), size);
}

TEST_P(Interop, FragmentedMessagesEndOnlyOnTheirLastChunk)
{
    auto peer = server();
    ASSERT_PEER(peer);
    Host host;
    host.setInt(kTimeout, 10);
    ASSERT_EQ(host.call(kConnect, {url(*peer, "/fragments")}), 0);
    ASSERT_TRUE(host.waitUntil([&] { return host.messages.size() == 2; }));
    EXPECT_EQ(host.messages[0], QByteArray("Hello, fragmented world"));
    EXPECT_EQ(host.messageFormats[0], 1);
    QByteArray expected;
    for (int i = 0; i < 100; ++i)
        expected.append(char(i));
    EXPECT_EQ(host.messages[1], expected);
    EXPECT_EQ(host.messageFormats[1], 2);
    EXPECT_GT(host.chunkSizes.size(), 2u);

    // Our own fragmentation is reassembled by the peer.
    host.config("FragmentSize=7");
    ASSERT_EQ(host.call(kSendText, {"split into several frames"}), 0);
    ASSERT_TRUE(host.waitUntil([&] { return host.messages.size() == 3; }));
    EXPECT_EQ(host.messages[2], QByteArray("split into several frames"));
}

// With chunks of five bytes every 1- to 4-byte character gets cut somewhere:
// text chunks end on whole characters (and so decode alone, through the
// engine's text method as a component does), binary chunks fill the limit.
TEST_P(Interop, TextChunksEndOnWholeCharactersBinaryChunksFillTheLimit)
{
    auto peer = server();
    ASSERT_PEER(peer);
    Host host;
    host.setInt(kTimeout, 10);
    host.recordChunks = true;
    EXPECT_EQ(host.config("ChunkSize=5"), QStringLiteral("5"));
    ASSERT_EQ(host.call(kConnect, {url(*peer, "/echo")}), 0) << host.lastError().toStdString();
    QString text;
    for (int i = 0; i < 100; ++i)
        text += QStringLiteral("a\u00e9\u20ac\U0001F600");
    ASSERT_EQ(host.call(kSendText, {text}), 0);
    ASSERT_TRUE(host.waitUntil([&] { return host.messages.size() == 1; }));
    EXPECT_EQ(host.messages[0], text.toUtf8());
    EXPECT_EQ(host.messageFormats[0], 1);
    QString joined;
    for (const QByteArray& chunk : host.chunks) {
        EXPECT_LE(chunk.size(), 5);
        void* argv[3] = {const_cast<char*>(chunk.constData()), nullptr, nullptr};
        int arglen[3] = {int(chunk.size()), 0, 0};
        ASSERT_EQ(CorvaneWS_WebSocketClient_Do(host.handle(), 2003, 2, argv, arglen, nullptr), 0);
        std::u16string wide(size_t(num(argv[2])), u'\0');
        argv[1] = wide.data();
        arglen[1] = int(wide.size());
        ASSERT_EQ(CorvaneWS_WebSocketClient_Do(host.handle(), 2003, 2, argv, arglen, nullptr), 0);
        const QString piece = QString::fromStdU16String(wide);
        EXPECT_FALSE(piece.contains(QChar::ReplacementCharacter)) << chunk.toHex().toStdString();
        joined += piece;
    }
    EXPECT_EQ(joined, text);

    host.chunks.clear();
    const QByteArray bytes = text.toUtf8();
    ASSERT_EQ(host.send(bytes), 0);
    ASSERT_TRUE(host.waitUntil([&] { return host.messages.size() == 2; }));
    EXPECT_EQ(host.messages[1], bytes);
    EXPECT_EQ(host.messageFormats[1], 2);
    size_t cutCharacters = 0;
    for (const QByteArray& chunk : host.chunks) {
        EXPECT_LE(chunk.size(), 5);
        cutCharacters += !chunk.isEmpty() && (uchar(chunk[0]) & 0xC0) == 0x80;
    }
    EXPECT_GT(cutCharacters, 0u) << "binary chunks are cut at the limit, not at characters";

    // Small reads of a large text: each read that ends inside a character
    // leaves its start for the next chunk.
    ASSERT_EQ(host.call(kDisconnect), 0);
    host.config("ChunkSize=262144");
    host.config("ReadBufferSize=4096");
    ASSERT_EQ(host.call(kConnect, {url(*peer, "/echo")}), 0) << host.lastError().toStdString();
    host.chunks.clear();
    const QString large = text.repeated(300);
    ASSERT_EQ(host.call(kSendText, {large}), 0);
    ASSERT_TRUE(host.waitUntil([&] { return host.messages.size() == 3; }));
    EXPECT_EQ(host.messages[2], large.toUtf8());
    EXPECT_GT(host.chunks.size(), 50u);
    QByteArray rejoined;
    for (const QByteArray& chunk : host.chunks) {
        EXPECT_LE(chunk.size(), 4096);
        EXPECT_EQ(QString::fromUtf8(chunk).toUtf8(), chunk) << "a chunk of " << chunk.size() << " bytes cuts a character";
        rejoined += chunk;
    }
    EXPECT_EQ(rejoined, large.toUtf8());
}

TEST_P(Interop, PingsBothWays)
{
    auto peer = server();
    ASSERT_PEER(peer);
    Host host;
    host.setInt(kTimeout, 10);
    ASSERT_EQ(host.call(kConnect, {url(*peer, "/ping")}), 0);
    // The peer pings first; we answer, and it tells us.
    ASSERT_TRUE(host.waitUntil([&] { return !host.messages.empty(); }));
    EXPECT_EQ(host.messages[0], QByteArray("pong-ok"));
    ASSERT_EQ(host.call(kPing), 0);
    ASSERT_TRUE(host.waitUntil([&] {
        for (const Recorded& r : host.events)
            if (r.event == evLog && r.texts.value(1) == "Pong")
                return true;
        return false;
    }));
}

TEST_P(Interop, CloseCodesAndReasonsBothWays)
{
    auto peer = server();
    ASSERT_PEER(peer);
    {
        Host host;
        host.setInt(kTimeout, 10);
        ASSERT_EQ(host.call(kConnect, {url(*peer, "/close/4001/going%20away%20now")}), 0);
        ASSERT_TRUE(host.waitUntil([&] { return host.last(evDisconnected) != nullptr; }));
        EXPECT_EQ(host.last(evDisconnected)->ints.at(0), 4001);
        EXPECT_EQ(host.last(evDisconnected)->texts.at(0), QStringLiteral("going away now"));
        EXPECT_EQ(host.getInt(kConnected), 0);
    }
    {
        Host host;
        host.setInt(kTimeout, 10);
        ASSERT_EQ(host.call(kConnect, {url(*peer, "/echo")}), 0);
        host.config("CloseStatusCode=4200\nCloseDescription=done here");
        ASSERT_EQ(host.call(kDisconnect), 0);
        ASSERT_NE(host.last(evDisconnected), nullptr);
        EXPECT_EQ(host.last(evDisconnected)->ints.at(0), 4200);   // the peer echoes our code
    }
}

INSTANTIATE_TEST_SUITE_P(Peers, Interop, ::testing::Values("python", "node"),
                         [](const auto& info) { return std::string(info.param); });

// ---- TLS ----

// Compressed messages against python3-websockets' and node-ws' own
// permessage-deflate: the answer the peer gave, 16 MiB of text and 10,000
// small JSON messages echoed byte for byte, windows and context takeover
// asked for from either side.
TEST(ClientCompression, PeersEchoCompressedMessagesByteExact)
{
    struct Case {
        const char* peer;
        QStringList peerArgs;
        QStringList config;
        const char* inAnswer;
    };
    const Case cases[] = {
        {"python", {}, {}, "permessage-deflate"},
        {"python", {}, {"PerMessageDeflateWindowBits=9"}, "server_max_window_bits=9"},
        {"python", {"--bits", "12", "--no-context"}, {}, "client_no_context_takeover"},
        {"node", {}, {}, "permessage-deflate"},
        {"node", {}, {"PerMessageDeflateNoContextTakeover=true"}, "server_no_context_takeover"},
        {"node", {"--bits", "10"}, {}, "client_max_window_bits=10"},
    };
    QByteArray big;
    for (int i = 0; big.size() < (16 << 20); ++i)
        big += QStringLiteral("{\"id\":%1,\"name\":\"sensor-%2\",\"value\":%3}").arg(i).arg(i % 97).arg(i * 7 % 1000).toUtf8();
    big.truncate(16 << 20);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.peer) + " " + c.peerArgs.join(' ').toStdString() + " "
                     + c.config.join(' ').toStdString());
        const bool python = std::string(c.peer) == "python";
        const QStringList args = python ? QStringList{"-u", peersDir() + "/deflate_peer.py", "server"}
                                        : QStringList{peersDir() + "/deflate_peer.js", "server"};
        Peer peer(python ? "/usr/bin/python3" : "/usr/bin/node", args + c.peerArgs,
                  python ? QStringList{} : QStringList{"NODE_PATH=/usr/share/nodejs"});
        ASSERT_TRUE(peer.ok()) << peer.error().toStdString();
        Host host;
        host.setInt(kTimeout, 30);
        host.recordChunks = false;
        for (const QString& setting : QStringList{"PerMessageDeflate=true"} + c.config) {
            host.config(setting);
            ASSERT_EQ(host.lastRc, 0) << setting.toStdString();
        }
        ASSERT_EQ(host.call(kConnect, {QStringLiteral("ws://127.0.0.1:%1/").arg(peer.port())}), 0)
            << host.lastError().toStdString();
        ASSERT_TRUE(host.waitUntil([&] { return host.messages.size() == 1; }, 30000));
        EXPECT_TRUE(host.messages[0].startsWith("ext:permessage-deflate")) << host.messages[0].toStdString();
        EXPECT_TRUE(host.messages[0].contains(c.inAnswer)) << host.messages[0].toStdString();

        ASSERT_EQ(host.call(kSendText, {QString::fromUtf8(big)}), 0);
        ASSERT_TRUE(host.waitUntil([&] { return host.messages.size() == 2; }, 120000));
        EXPECT_TRUE(host.messages[1] == big) << "16 MiB of text came back as " << host.messages[1].size();
        EXPECT_EQ(host.messageFormats[1], 1);

        std::vector<QByteArray> small;
        for (int k = 0; k < 10000; ++k) {
            small.push_back(QStringLiteral("{\"seq\":%1,\"speed\":%2}").arg(k).arg(k % 130).toUtf8());
            ASSERT_EQ(k % 2 ? host.call(kSendText, {QString::fromUtf8(small.back())}) : host.send(small.back()), 0);
        }
        ASSERT_TRUE(host.waitUntil([&] { return host.messages.size() == 10002; }, 120000));
        for (int k = 0; k < 10000; ++k) {
            ASSERT_TRUE(host.messages[size_t(k) + 2] == small[size_t(k)]) << "message " << k;
            ASSERT_EQ(host.messageFormats[size_t(k) + 2], k % 2 ? 1 : 2) << "message " << k;
        }
        host.call(kDisconnect);
    }
}

class Tls : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Certificates::get().ok()) << "openssl could not make the test certificates"; }
};

TEST_F(Tls, SelfSignedIsRefusedUnlessTheHandlerAccepts)
{
    const Certificates& c = Certificates::get();
    auto peer = pythonServer({"--cert", c.path("self.pem"), "--key", c.path("self.key")});
    ASSERT_PEER(peer);
    {
        Host host;
        host.setInt(kTimeout, 10);
        EXPECT_EQ(host.call(kConnect, {url(*peer, "/echo", true)}), 155);
        const Recorded* auth = host.last(evSSLServerAuthentication);
        ASSERT_NE(auth, nullptr);
        EXPECT_EQ(auth->ints.at(0), 0);          // Accept preset false
        EXPECT_FALSE(auth->texts.at(2).isEmpty());
        EXPECT_NE(auth->texts.at(2), QStringLiteral("OK"));
        EXPECT_TRUE(auth->texts.at(0).contains("CN=localhost"));
        EXPECT_TRUE(auth->bytes.startsWith("-----BEGIN CERTIFICATE-----"));
        EXPECT_EQ(host.getInt(kConnected), 0);
    }
    {
        Host host;
        host.setInt(kTimeout, 10);
        host.handlers[evSSLServerAuthentication] = [](int, void** argv, int*) {
            argv[4] = reinterpret_cast<void*>(intptr_t(1));
            return 0;
        };
        ASSERT_EQ(host.call(kConnect, {url(*peer, "/echo", true)}), 0) << host.lastError().toStdString();
        EXPECT_EQ(host.getBytes(kSSLServerCertEncoded), c.read("self.pem").trimmed() + "\n");
        EXPECT_GE(host.count(evSSLStatus), 1u);
        expectEcho(host);
    }
}

TEST_F(Tls, TrustedCaPresetsAcceptAndTheHandlerMayStillRefuse)
{
    const Certificates& c = Certificates::get();
    auto peer = nodeServer({"--cert", c.path("server.pem"), "--key", c.path("server.key")});
    ASSERT_PEER(peer);
    {
        Host host;
        host.setInt(kTimeout, 10);
        host.setBytes(kSSLAcceptServerCertEncoded, c.read("ca.pem"));
        ASSERT_EQ(host.call(kConnect, {url(*peer, "/echo", true)}), 0) << host.lastError().toStdString();
        const Recorded* auth = host.last(evSSLServerAuthentication);
        ASSERT_NE(auth, nullptr);
        EXPECT_EQ(auth->ints.at(0), 1);
        EXPECT_EQ(auth->texts.at(2), QStringLiteral("OK"));
        EXPECT_TRUE(auth->texts.at(1).contains("Brindle Test CA"));
        expectEcho(host);
    }
    {
        Host host;
        host.setInt(kTimeout, 10);
        host.config("SSLTrustedCAFile=" + c.path("ca.pem"));
        host.handlers[evSSLServerAuthentication] = [](int, void** argv, int*) {
            argv[4] = nullptr;
            return 0;
        };
        EXPECT_EQ(host.call(kConnect, {url(*peer, "/echo", true)}), 155);
        EXPECT_EQ(host.last(evSSLServerAuthentication)->ints.at(0), 1);
    }
}

// ---- proxies and firewalls ----

class Proxies : public ::testing::TestWithParam<std::pair<const char*, int>> {};

TEST_P(Proxies, TunnelCarriesTheConnection)
{
    auto peer = pythonServer();
    ASSERT_PEER(peer);
    auto tunnel = proxy(GetParam().first);
    ASSERT_PEER(tunnel);
    Host host;
    host.setInt(kTimeout, 10);
    host.setInt(kFirewallType, GetParam().second);
    host.setText(kFirewallHost, "127.0.0.1");
    host.setInt(kFirewallPort, tunnel->port());
    ASSERT_EQ(host.call(kConnect, {url(*peer, "/echo")}), 0) << host.lastError().toStdString();
    expectEcho(host);
    EXPECT_TRUE(tunnel->lines().contains(QStringLiteral("tunnel 127.0.0.1:%1").arg(peer->port())));
    bool sawFirewall = false;
    for (const Recorded& r : host.events)
        sawFirewall |= r.event == evConnectionStatus && r.texts.value(0) == "Firewall connection complete";
    EXPECT_TRUE(sawFirewall);
}

INSTANTIATE_TEST_SUITE_P(Kinds, Proxies,
                         ::testing::Values(std::pair{"connect", 1}, std::pair{"socks4", 2}, std::pair{"socks5", 3}),
                         [](const auto& info) { return std::string(info.param.first); });

TEST(ProxyServer, WssThroughHttpConnectWithTheProxyProperties)
{
    ASSERT_TRUE(Certificates::get().ok());
    const Certificates& c = Certificates::get();
    auto peer = pythonServer({"--cert", c.path("server.pem"), "--key", c.path("server.key")});
    ASSERT_PEER(peer);
    auto tunnel = proxy("connect");
    ASSERT_PEER(tunnel);
    Host host;
    host.setInt(kTimeout, 10);
    host.setText(kProxyServer, "127.0.0.1");
    host.setInt(kProxyPort, tunnel->port());
    host.setBytes(kSSLAcceptServerCertEncoded, c.read("ca.pem"));
    ASSERT_EQ(host.call(kConnect, {QStringLiteral("wss://localhost:%1/echo").arg(peer->port())}), 0)
        << host.lastError().toStdString();
    expectEcho(host);
    EXPECT_TRUE(tunnel->lines().contains(QStringLiteral("tunnel localhost:%1").arg(peer->port())));
}

TEST(ProxyServer, RefusingProxyFailsTheConnect)
{
    auto tunnel = proxy("socks4");
    ASSERT_PEER(tunnel);
    Host host;
    host.setInt(kTimeout, 10);
    host.setInt(kFirewallType, 2);
    host.setText(kFirewallHost, "127.0.0.1");
    host.setInt(kFirewallPort, tunnel->port());
    // The test proxy tunnels to loopback only.
    EXPECT_EQ(host.call(kConnect, {"ws://192.0.2.1:80/"}), 156);
}

// A CONNECT proxy that demands Basic credentials: the Firewall user and
// password open the tunnel; wrong ones fail the connect with the proxy's 407.
TEST(ProxyServer, HttpConnectWithCredentials)
{
    auto peer = pythonServer();
    ASSERT_PEER(peer);
    Peer tunnel("/usr/bin/python3", {"-u", peersDir() + "/proxy.py", "--kind", "connect", "--user", "ann", "--password",
                                     "s3cret:x"});
    ASSERT_PEER(&tunnel);
    for (const QString& password : {QStringLiteral("wrong"), QStringLiteral("s3cret:x")}) {
        Host host;
        host.setInt(kTimeout, 10);
        host.setInt(kFirewallType, 1);
        host.setText(kFirewallHost, "127.0.0.1");
        host.setInt(kFirewallPort, tunnel.port());
        host.setText(kFirewallUser, "ann");
        host.setText(kFirewallPassword, password);
        const int rc = host.call(kConnect, {url(*peer, "/echo")});
        if (password == "wrong") {
            EXPECT_EQ(rc, 156);
            EXPECT_TRUE(host.lastError().contains("407")) << host.lastError().toStdString();
            continue;
        }
        ASSERT_EQ(rc, 0) << host.lastError().toStdString();
        expectEcho(host);
    }
    const QStringList lines = tunnel.lines();
    EXPECT_TRUE(lines.contains("refused proxy authorization"));
    EXPECT_TRUE(lines.contains(QStringLiteral("tunnel 127.0.0.1:%1").arg(peer->port())));
}

// A proxy that answers CONNECT with an endless reply head: the connect fails
// with the proxy error once the head limit is passed, and the reply is never
// buffered whole (the process grows by far less than what the proxy sent).
TEST(ProxyServer, HugeConnectReplyHeadFailsTheConnectInLittleMemory)
{
    auto tunnel = proxy("hostile");
    ASSERT_PEER(tunnel);
    const long before = residentKib();
    ASSERT_GT(before, 0);
    Host host;
    host.setInt(kTimeout, 30);
    host.setInt(kFirewallType, 1);
    host.setText(kFirewallHost, "127.0.0.1");
    host.setInt(kFirewallPort, tunnel->port());
    EXPECT_EQ(host.call(kConnect, {"ws://127.0.0.1:9/"}), 156);
    EXPECT_TRUE(host.lastError().contains("CONNECT reply")) << host.lastError().toStdString();
    EXPECT_FALSE(host.getInt(kConnected));
    EXPECT_LT(residentKib() - before, 32 * 1024);
    // The proxy saw the connection end long before its 200 MB were out.
    QStringList lines;
    ASSERT_TRUE(host.waitUntil([&] {
        lines = tunnel->lines();
        return !lines.filter("hostile sent").isEmpty();
    }));
    const qint64 sent = lines.filter("hostile sent").first().section(' ', 2).toLongLong();
    EXPECT_LT(sent, 200LL * 1024 * 1024);
}

// ---- handshake features ----

TEST(Handshake, HeadersOriginCookiesAndSubprotocolsAreSent)
{
    auto peer = pythonServer();
    ASSERT_PEER(peer);
    Host host;
    host.setInt(kTimeout, 10);
    host.setText(kOrigin, "https://brindle.example");
    host.setText(kOtherHeaders, "X-Recorder: unit-7\r\nX-Other: two");
    host.call(kAddCookie, {"theme", "dark"});
    ASSERT_EQ(host.call(kConnect, {url(*peer, "/cookie")}), 0) << host.lastError().toStdString();
    ASSERT_TRUE(host.waitUntil([&] { return !host.messages.empty(); }));
    const QJsonObject sent = QJsonDocument::fromJson(host.messages[0]).object();
    EXPECT_EQ(sent.value("origin").toString(), QStringLiteral("https://brindle.example"));
    EXPECT_EQ(sent.value("x-recorder").toString(), QStringLiteral("unit-7"));
    EXPECT_EQ(sent.value("x-other").toString(), QStringLiteral("two"));
    EXPECT_EQ(sent.value("cookie").toString(), QStringLiteral("theme=dark"));

    const Recorded* cookie = host.last(evSetCookie);
    ASSERT_NE(cookie, nullptr);
    EXPECT_EQ(cookie->texts.at(0), QStringLiteral("session"));
    EXPECT_EQ(cookie->texts.at(1), QStringLiteral("abc123"));
    EXPECT_EQ(cookie->texts.at(3), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(cookie->texts.at(4), QStringLiteral("/"));
    EXPECT_EQ(host.getInt(kCookieCount), 2);
    EXPECT_EQ(host.getText(kCookieName, 1), QStringLiteral("session"));
    EXPECT_EQ(host.getText(kCookieDomain, 1), QStringLiteral("127.0.0.1"));
}

TEST(Handshake, RedirectFollowsThePolicyAndTheHandlersAnswer)
{
    auto peer = pythonServer();
    ASSERT_PEER(peer);
    {
        Host host;   // frNever: reported, not followed
        host.setInt(kTimeout, 10);
        EXPECT_EQ(host.call(kConnect, {url(*peer, "/redirect/echo")}), 159);
        ASSERT_NE(host.last(evRedirect), nullptr);
        EXPECT_EQ(host.last(evRedirect)->texts.at(0), QStringLiteral("/echo"));
        EXPECT_EQ(host.last(evRedirect)->ints.at(0), 0);
    }
    {
        Host host;   // frNever, but the handler accepts
        host.setInt(kTimeout, 10);
        host.handlers[evRedirect] = [](int, void** argv, int*) {
            argv[1] = reinterpret_cast<void*>(intptr_t(1));
            return 0;
        };
        ASSERT_EQ(host.call(kConnect, {url(*peer, "/redirect/echo")}), 0) << host.lastError().toStdString();
        expectEcho(host);
    }
    {
        Host host;   // frAlways, and the handler refuses
        host.setInt(kTimeout, 10);
        host.setInt(kFollowRedirects, 1);
        host.handlers[evRedirect] = [](int, void** argv, int*) {
            argv[1] = nullptr;
            return 0;
        };
        EXPECT_EQ(host.call(kConnect, {url(*peer, "/redirect/echo")}), 159);
        EXPECT_EQ(host.last(evRedirect)->ints.at(0), 1);
    }
}

TEST(Handshake, DigestAuthenticationAnswersTheChallenge)
{
    auto peer = pythonServer();
    ASSERT_PEER(peer);
    {
        Host host;
        host.setInt(kTimeout, 10);
        host.setInt(kAuthScheme, 1);
        host.setText(kUser, "alice");
        host.setText(kPassword, "s3cret");
        ASSERT_EQ(host.call(kConnect, {url(*peer, "/digest")}), 0) << host.lastError().toStdString();
        expectEcho(host);
    }
    {
        Host host;
        host.setInt(kTimeout, 10);
        host.setInt(kAuthScheme, 1);
        host.setText(kUser, "alice");
        host.setText(kPassword, "wrong");
        EXPECT_EQ(host.call(kConnect, {url(*peer, "/digest")}), 158);
        EXPECT_TRUE(host.lastError().contains("401")) << host.lastError().toStdString();
    }
    {
        Host host;
        host.setInt(kAuthScheme, 4);   // NTLM
        host.setText(kUser, "alice");
        EXPECT_EQ(host.call(kConnect, {url(*peer, "/digest")}), 157);
    }
}

// ---- event-driven use ----

TEST(EventDriven, TimeoutZeroReturnsAtOnceAndReportsByEvents)
{
    auto peer = nodeServer();
    ASSERT_PEER(peer);
    Host host;
    host.setInt(kTimeout, 0);
    ASSERT_EQ(host.call(kConnect, {url(*peer, "/echo")}), 0);
    EXPECT_EQ(host.getInt(kConnected), 0);
    ASSERT_TRUE(host.waitUntil([&] { return host.last(evConnected) != nullptr; }));
    EXPECT_EQ(host.last(evConnected)->ints.at(0), 0);
    expectEcho(host);
    // Disconnect without waiting: the close comes as an event too.
    ASSERT_EQ(host.call(kDisconnect), 0);
    ASSERT_TRUE(host.waitUntil([&] { return host.last(evDisconnected) != nullptr; }));
    EXPECT_EQ(host.last(evDisconnected)->ints.at(0), 1000);
}

TEST(EventDriven, HandlersMayResetOrDestroyTheirObject)
{
    auto peer = pythonServer();
    ASSERT_PEER(peer);
    {
        // As the tool does: on disconnect, Connected = false and Reset.
        Host host;
        host.setInt(kTimeout, 10);
        void* h = nullptr;
        host.handlers[evDisconnected] = [&](int, void**, int*) {
            CorvaneWS_WebSocketClient_Set(h, kConnected, 0, nullptr, 0);
            return CorvaneWS_WebSocketClient_Do(h, kReset, 0, nullptr, nullptr, nullptr);
        };
        h = host.handle();
        ASSERT_EQ(host.call(kConnect, {url(*peer, "/close/1001/bye")}), 0);
        ASSERT_TRUE(host.waitUntil([&] { return host.last(evDisconnected) != nullptr; }));
        // And it can connect again afterwards.
        ASSERT_EQ(host.call(kConnect, {url(*peer, "/echo")}), 0) << host.lastError().toStdString();
        expectEcho(host);
    }
    {
        auto host = std::make_unique<Host>();
        host->setInt(kTimeout, 10);
        Host* raw = host.get();
        bool destroyed = false;
        raw->handlers[evDataIn] = [&](int, void**, int*) {
            CorvaneWS_WebSocketClient_Destroy(raw->handle());
            raw->forget();
            destroyed = true;
            return 0;
        };
        ASSERT_EQ(raw->call(kConnect, {url(*peer, "/fragments")}), 0);
        ASSERT_TRUE(raw->waitUntil([&] { return destroyed; }));
        EXPECT_EQ(raw->chunkSizes.size(), 1u);   // nothing after the destruction
    }
}

TEST(EventDriven, AcceptDataFalsePausesDelivery)
{
    auto peer = pythonServer();
    ASSERT_PEER(peer);
    Host host;
    host.setInt(kTimeout, 10);
    ASSERT_EQ(host.call(kConnect, {url(*peer, "/echo")}), 0);
    host.setInt(kAcceptData, 0);
    host.call(kSendText, {"held back"});
    host.waitUntil([] { return false; }, 500);
    EXPECT_TRUE(host.messages.empty());
    host.setInt(kAcceptData, 1);
    ASSERT_TRUE(host.waitUntil([&] { return host.messages.size() == 1; }));
    EXPECT_EQ(host.messages[0], QByteArray("held back"));
}

TEST(EventDriven, SendFileStreamsTheFile)
{
    auto peer = nodeServer();
    ASSERT_PEER(peer);
    QTemporaryDir dir;
    const QString name = dir.path() + "/payload.bin";
    const QByteArray data = pattern(5 * 1024 * 1024 + 17);
    {
        QFile f(name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    Host host;
    host.setInt(kTimeout, 10);
    ASSERT_EQ(host.call(kConnect, {url(*peer, "/echo")}), 0);
    ASSERT_EQ(host.call(kSendFile, {name}), 0) << host.lastError().toStdString();
    ASSERT_TRUE(host.waitUntil([&] { return host.messages.size() == 1; }, 60000));
    EXPECT_TRUE(host.messages[0] == data);
    EXPECT_EQ(host.messageFormats[0], 2);
    EXPECT_EQ(host.call(kSendFile, {dir.path() + "/missing.bin"}), 113);
}

TEST(EventDriven, MaxMessageSizeClosesWith1009)
{
    auto peer = pythonServer();
    ASSERT_PEER(peer);
    Host host;
    host.setInt(kTimeout, 10);
    host.config("MaxMessageSize=1000");
    ASSERT_EQ(host.call(kConnect, {url(*peer, "/big/5000")}), 0);
    ASSERT_TRUE(host.waitUntil([&] { return host.last(evDisconnected) != nullptr; }));
    EXPECT_EQ(host.last(evDisconnected)->ints.at(0), 1009);
    ASSERT_NE(host.last(evError), nullptr);
    EXPECT_EQ(host.last(evError)->ints.at(0), 161);
    EXPECT_EQ(host.eomCount, 0u);
}

// A plain C program, without any Qt application of its own, loads the engine
// and talks to a peer; it also reports its peak memory while receiving.
TEST(PlainCHost, ConnectsEchoesAndReceivesBigDataInLittleMemory)
{
    auto peer = pythonServer();
    ASSERT_PEER(peer);
    QProcess host;
#ifdef __SANITIZE_ADDRESS__
    // The sanitizer's quarantine keeps freed blocks from being reused, which
    // would make every freed read buffer count as held memory.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString asan = env.value("ASAN_OPTIONS");
    env.insert("ASAN_OPTIONS", (asan.isEmpty() ? QString() : asan + ':') + "quarantine_size_mb=0");
    host.setProcessEnvironment(env);
#endif
    host.start(ENGINE_C_HOST, {ENGINE_LIBRARY, url(*peer, "/echo"), url(*peer, "/big/67108864")});
    ASSERT_TRUE(host.waitForFinished(120000));
    const QString out = QString::fromUtf8(host.readAllStandardOutput());
    EXPECT_EQ(host.exitCode(), 0) << out.toStdString() << host.readAllStandardError().toStdString();
    EXPECT_TRUE(out.contains("echo: hello from C")) << out.toStdString();
    EXPECT_TRUE(out.contains("received 67108864 bytes")) << out.toStdString();
    auto figure = [&](const QString& name) {
        const qsizetype at = out.indexOf(name + ' ');
        return at < 0 ? -1 : out.mid(at + name.size() + 1).section('\n', 0, 0).toInt();
    };
    const int baselineKib = figure("baseline-rss-kib");
    const int peakKib = figure("peak-rss-kib");
    ASSERT_GT(baselineKib, 0) << out.toStdString();
    ASSERT_GT(peakKib, 0) << out.toStdString();
    // The 64 MiB message passes in bounded chunks: the process grows by a
    // small fraction of it, whatever the runtime's own footprint.
    EXPECT_LT(peakKib - baselineKib, 16 * 1024) << "peak RSS " << peakKib << " KiB after " << baselineKib << " KiB";
}



// ---- the connection's own end: close answers, idle timeout, keep-alive ----

std::unique_ptr<Peer> rawPeer(const QString& mode)
{
    return std::make_unique<Peer>("/usr/bin/python3", QStringList{"-u", peersDir() + "/raw_ws_peer.py", "--mode", mode});
}

// The first line of a peer's output that starts with `prefix`, waited for.
QString peerLine(Host& host, Peer& peer, const QString& prefix)
{
    QString found;
    host.waitUntil([&] {
        const QStringList lines = peer.lines().filter(QRegularExpression('^' + prefix));
        found = lines.value(0);
        return !found.isEmpty();
    });
    return found;
}

// The server closes with 3000: the client answers with a masked close frame
// echoing the code, and reports the server's code and reason.
TEST(CloseAnswer, EchoesTheServersCodeInAMaskedCloseFrame)
{
    auto peer = rawPeer("close3000");
    ASSERT_PEER(peer);
    Host host;
    host.setInt(kTimeout, 10);
    ASSERT_EQ(host.call(kConnect, {QStringLiteral("ws://127.0.0.1:%1/").arg(peer->port())}), 0)
        << host.lastError().toStdString();
    ASSERT_TRUE(host.waitUntil([&] { return host.count(evDisconnected) > 0; }));
    const Recorded* d = host.last(evDisconnected);
    ASSERT_FALSE(d->ints.empty());
    EXPECT_EQ(d->ints.at(0), 3000);
    EXPECT_EQ(d->texts.value(0), "bye");
    EXPECT_FALSE(host.getInt(kConnected));
    EXPECT_EQ(peerLine(host, *peer, "answer|no answer"), "answer 8 3000 1");
}

// A plain C host that stops pumping events and destroys the object as soon as
// Connected turns false: the close answer must already be on its way, over
// plain TCP and over TLS (where Qt holds the encrypted bytes until flushed).
class CloseAnswerFromCHost : public ::testing::TestWithParam<bool> {};

TEST_P(CloseAnswerFromCHost, SurvivesAHostThatDestroysTheObjectAtOnce)
{
    const bool tls = GetParam();
    QStringList args{"-u", peersDir() + "/raw_ws_peer.py", "--mode", "close3000"};
    if (tls) {
        ASSERT_TRUE(Certificates::get().ok());
        args << "--cert" << Certificates::get().path("server.pem") << "--key" << Certificates::get().path("server.key");
    }
    Peer peer("/usr/bin/python3", args);
    ASSERT_PEER(&peer);
    const QString target = QStringLiteral("%1://127.0.0.1:%2/").arg(tls ? "wss" : "ws").arg(peer.port());
    for (int round = 0; round < 3; ++round) {
        QProcess host;
        host.start(ENGINE_C_HOST, {ENGINE_LIBRARY, "--until-closed", target});
        ASSERT_TRUE(host.waitForFinished(60000));
        ASSERT_EQ(host.exitCode(), 0) << host.readAllStandardError().toStdString();
        EXPECT_TRUE(QString::fromUtf8(host.readAllStandardOutput()).contains("closed"));
    }
    QStringList answers;
    Host pump;   // only for its event-pumping wait
    pump.waitUntil([&] {
        answers = peer.lines().filter(QRegularExpression("^(answer|no answer)"));
        return answers.size() >= 3;
    });
    ASSERT_EQ(answers.size(), 3) << answers.join('|').toStdString();
    for (const QString& a : answers)
        EXPECT_EQ(a, "answer 8 3000 1");
}

INSTANTIATE_TEST_SUITE_P(Transports, CloseAnswerFromCHost, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "wss" : "ws"); });

// A server that trickles one byte of a frame at a time never completes a
// frame: IdleTimeout ends the connection with a 1001 close frame.
TEST(IdleTimeout, CutsOffAServerThatTricklesAFrame)
{
    auto peer = rawPeer("trickle");
    ASSERT_PEER(peer);
    Host host;
    host.setInt(kTimeout, 10);
    EXPECT_EQ(host.config("IdleTimeout=1"), "1");
    ASSERT_EQ(host.call(kConnect, {QStringLiteral("ws://127.0.0.1:%1/").arg(peer->port())}), 0)
        << host.lastError().toStdString();
    ASSERT_TRUE(host.waitUntil([&] { return host.count(evDisconnected) > 0; }, 30000));
    const Recorded* d = host.last(evDisconnected);
    ASSERT_FALSE(d->ints.empty());
    EXPECT_EQ(d->ints.at(0), 1001);
    EXPECT_EQ(d->texts.value(0), "idle timeout");
    const Recorded* e = host.last(evError);
    ASSERT_NE(e, nullptr);
    ASSERT_FALSE(e->ints.empty());
    EXPECT_EQ(e->ints.at(0), 11);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(peerLine(host, *peer, "close|eof"), "close 1001");
}

// KeepAliveInterval pings a quiet server; its pongs are whole frames, so an
// IdleTimeout longer than the interval never ends the connection meanwhile.
TEST(KeepAlive, PingsAQuietServerWhoseAnswersKeepTheConnection)
{
    auto peer = rawPeer("quiet");
    ASSERT_PEER(peer);
    Host host;
    host.setInt(kTimeout, 10);
    host.config("KeepAliveInterval=1\nIdleTimeout=5");
    EXPECT_EQ(host.config("KeepAliveInterval"), "1");
    ASSERT_EQ(host.call(kConnect, {QStringLiteral("ws://127.0.0.1:%1/").arg(peer->port())}), 0)
        << host.lastError().toStdString();
    EXPECT_EQ(peerLine(host, *peer, "ping 3"), "ping 3");
    EXPECT_EQ(host.count(evDisconnected), 0u);
    EXPECT_TRUE(host.getInt(kConnected));
    EXPECT_EQ(host.call(kDisconnect), 0);
    EXPECT_EQ(peerLine(host, *peer, "close"), "close 1000");
}

// SendFile sends the file as one message: one frame without FragmentSize,
// frames of FragmentSize with it, the last one alone marked final.
TEST(SendFileFrames, OneFrameUnlessFragmentSizeIsSet)
{
    auto peer = rawPeer("quiet");
    ASSERT_PEER(peer);
    QTemporaryDir dir;
    const QString name = dir.path() + "/payload.bin";
    {
        QFile f(name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(pattern(3 * 1024 * 1024 + 5));
    }
    for (const bool fragmented : {false, true}) {
        Host host;
        host.setInt(kTimeout, 10);
        if (fragmented)
            host.config("FragmentSize=1048576");
        ASSERT_EQ(host.call(kConnect, {QStringLiteral("ws://127.0.0.1:%1/").arg(peer->port())}), 0)
            << host.lastError().toStdString();
        ASSERT_EQ(host.call(kSendFile, {name}), 0) << host.lastError().toStdString();
        EXPECT_EQ(host.getInt(kBytesSent), 3 * 1024 * 1024 + 5);
        ASSERT_EQ(host.call(kDisconnect), 0);
        QStringList frames;
        host.waitUntil([&] {
            frames = peer->lines().filter(QRegularExpression("^frame "));
            return frames.size() >= (fragmented ? 5 : 1);
        });
        const QStringList expected = fragmented ? QStringList{"frame 2 0 1048576", "frame 0 0 1048576",
                                                              "frame 0 0 1048576", "frame 0 1 5"}
                                                : QStringList{"frame 2 1 3145733"};
        EXPECT_EQ(frames.mid(fragmented ? 1 : 0), expected) << frames.join('|').toStdString();
    }
}

// Interrupt ends a SendFile that waits for a server that reads nothing: the
// call fails with 112, and the connection, with a message cut short, is gone.
TEST(SendFileFrames, InterruptEndsAStalledSendFile)
{
    auto peer = rawPeer("stall");
    ASSERT_PEER(peer);
    QTemporaryDir dir;
    const QString name = dir.path() + "/big.bin";
    {
        QFile f(name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        const QByteArray block = pattern(1 << 20);
        for (int k = 0; k < 64; ++k)
            f.write(block);
    }
    Host host;
    host.setInt(kTimeout, 10);
    host.config("SendBufferLimit=65536");
    ASSERT_EQ(host.call(kConnect, {QStringLiteral("ws://127.0.0.1:%1/").arg(peer->port())}), 0)
        << host.lastError().toStdString();
    // Once the server has stopped reading, an event of the blocked call's own
    // loop interrupts it.
    QTimer interrupter;
    QObject::connect(&interrupter, &QTimer::timeout, [&] {
        if (!peer->lines().contains("stalled"))
            return;
        interrupter.stop();
        host.call(kInterrupt);
    });
    interrupter.start(200);
    EXPECT_EQ(host.call(kSendFile, {name}), 112);
    EXPECT_FALSE(host.getInt(kConnected));
    EXPECT_LT(host.getInt(kBytesSent), 64 << 20);
    EXPECT_EQ(host.call(kSendText, {"after"}), 109);
}

// A server that floods pings and never reads: the pong answers fill the send
// queue to SendBufferLimit, reading stops, and TCP holds the server back, so
// the client's memory stays small however long the flood goes on.
TEST(PingFlood, ReadingPausesWhileThePongsCannotGoOut)
{
    auto peer = rawPeer("pingflood");
    ASSERT_PEER(peer);
    const long before = residentKib();
    ASSERT_GT(before, 0);
    Host host;
    host.setInt(kTimeout, 10);
    host.config("SendBufferLimit=65536\nLogLevel=0");
    ASSERT_EQ(host.call(kConnect, {QStringLiteral("ws://127.0.0.1:%1/").arg(peer->port())}), 0)
        << host.lastError().toStdString();
    const QString line = peerLine(host, *peer, "flood");
    ASSERT_TRUE(line.startsWith("flood blocked")) << line.toStdString();
    EXPECT_LT(line.section(' ', 2).toLongLong(), 1LL << 30);
    EXPECT_TRUE(host.getInt(kConnected));
    EXPECT_LT(residentKib() - before, 32 * 1024);
}

} // namespace
