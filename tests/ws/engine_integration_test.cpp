// The component over the real engine, mapped from the image this program
// carries, talking to an independent peer (python3-websockets) on loopback.
#include "ws/engine_binding.h"
#include "ws/wskwebsocketclient.h"
#include "support/echo_peer_process.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <dlfcn.h>

#include <memory>

using namespace CorvaneWS;

namespace {

class EchoServer : public EchoPeerProcess {
public:
    explicit EchoServer(const QStringList& tls = {}) : EchoPeerProcess(QStringLiteral(WS_ECHO_SERVER), tls) {}
    QString url() const { return EchoPeerProcess::url(QStringLiteral("/")); }
};

struct Received {
    QList<QByteArray> messages;
    QList<QString> texts;
    QByteArray partial;
    QString partialText;
    int chunks = 0;
};

class RealEngine : public ::testing::Test {
protected:
    // One peer for the suite, started once the application exists.
    static void SetUpTestSuite() { server = std::make_unique<EchoServer>(); }
    static void TearDownTestSuite() { server.reset(); }

    void SetUp() override
    {
        ASSERT_GT(server->port(), 0) << "echo server did not start";
        client = std::make_unique<TwskWebSocketClient>();
        client->OnDataIn = [this](QObject*, TwskWebSocketClientDataInEventParams& p) {
            ++got.chunks;
            got.partial += p.TextB;
            got.partialText += p.Text;
            if (p.EOM) {
                got.messages << got.partial;
                got.texts << got.partialText;
                got.partial.clear();
                got.partialText.clear();
            }
        };
        client->OnConnected = [this](QObject*, auto&) { ++connected; };
        client->OnDisconnected = [this](QObject*, TwskWebSocketClientDisconnectedEventParams& p) {
            disconnectCode = p.StatusCode;
            ++disconnected;
        };
        client->OnError = [this](QObject*, TwskWebSocketClientErrorEventParams& p) { errors << p.Description; };
        client->FSetTimeout(20);
    }
    void TearDown() override
    {
        // Leave the peer with a proper close, not a dropped connection.
        if (client && client->FConnected()) {
            try {
                client->Disconnect();
            } catch (const std::exception&) {
            }
        }
    }

    static std::unique_ptr<EchoServer> server;
    std::unique_ptr<TwskWebSocketClient> client;
    Received got;
    int connected = 0;
    int disconnected = 0;
    int disconnectCode = -1;
    QStringList errors;
};

std::unique_ptr<EchoServer> RealEngine::server;

TEST_F(RealEngine, EngineRunsFromTheEmbeddedImage)
{
    auto& lib = EngineLibrary::embedded();
    EXPECT_EQ(lib.source(), EngineSource::Memory);
    Dl_info info{};
    ASSERT_NE(dladdr(dlsym(lib.moduleHandle(), "CorvaneWS_WebSocketClient_Do"), &info), 0);
    EXPECT_TRUE(std::string(info.dli_fname).starts_with("/proc/self/fd/")) << info.dli_fname;
    // The defaults went through to the engine.
    EXPECT_EQ(client->FProxyPort(), 80);
    EXPECT_EQ(client->FSSLCertStore(), QStringLiteral("MY"));
    EXPECT_EQ(client->FAuthScheme(), authBasic);
}

TEST_F(RealEngine, BytesAndTextMakeTheRoundTrip)
{
    client->Connect(server->url());
    EXPECT_TRUE(client->FConnected());
    EXPECT_EQ(connected, 1);

    QByteArray payload(3 * 1024 * 1024 + 17, Qt::Uninitialized);
    QRandomGenerator rng(6455);
    for (auto& b : payload) b = char(rng.bounded(256));
    client->Send(payload);
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.messages.size() == 1; }, 30000));
    EXPECT_EQ(got.messages[0].size(), payload.size());
    EXPECT_TRUE(got.messages[0] == payload);

    client->SendText(QStringLiteral("Grüße, 世界"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.messages.size() == 2; }, 30000));
    EXPECT_EQ(got.texts[1], QStringLiteral("Grüße, 世界"));
    EXPECT_EQ(got.messages[1], QStringLiteral("Grüße, 世界").toUtf8());

    client->Ping();
    client->Disconnect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return disconnected > 0; }, 30000));
    EXPECT_EQ(disconnectCode, 1000);
    EXPECT_FALSE(client->FConnected());
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

// Chunks of five bytes cut a text of 1- to 4-byte characters everywhere;
// the engine ends each chunk on a whole character, so Text never shows a
// replacement character and always matches TextB.
TEST_F(RealEngine, TextChunksDecodeOnTheirOwnWhereverTheLimitFalls)
{
    QList<QString> chunkTexts;
    QList<QByteArray> chunkBytes;
    auto record = client->OnDataIn;
    client->OnDataIn = [&](QObject* sender, TwskWebSocketClientDataInEventParams& p) {
        chunkTexts << p.Text;
        chunkBytes << p.TextB;
        record(sender, p);
    };
    EXPECT_EQ(client->Config(QStringLiteral("ChunkSize=5")), QStringLiteral("5"));
    client->Connect(server->url());
    QString text;
    for (int i = 0; i < 50; ++i) text += QStringLiteral("a\u00e9\u20ac\U0001F600");
    client->SendText(text);
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.messages.size() == 1; }, 30000));
    EXPECT_EQ(got.texts[0], text);
    EXPECT_EQ(got.messages[0], text.toUtf8());
    ASSERT_GT(chunkTexts.size(), 1);
    for (qsizetype k = 0; k < chunkTexts.size(); ++k) {
        EXPECT_LE(chunkBytes[k].size(), 5);
        EXPECT_FALSE(chunkTexts[k].contains(QChar::ReplacementCharacter)) << "chunk " << k;
        EXPECT_EQ(chunkTexts[k].toUtf8(), chunkBytes[k]) << "chunk " << k;
    }
}

TEST_F(RealEngine, EmptyMessageIsAValidSend)
{
    client->Connect(server->url());
    client->Send(QByteArray());
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.messages.size() == 1; }, 30000));
    EXPECT_TRUE(got.messages[0].isEmpty());
}

TEST_F(RealEngine, HandlerExceptionReachesOnErrorAndTheConnectionGoesOn)
{
    client->OnDataIn = [](QObject*, auto&) { throw EWSKCore(77, "handler failed"); };
    client->Connect(server->url());
    client->SendText(QStringLiteral("x"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !errors.isEmpty(); }, 30000));
    EXPECT_TRUE(errors[0].startsWith(QStringLiteral("An unhandled error occurred in the DataIn event handler: 77: handler failed")))
        << errors[0].toStdString();
    EXPECT_TRUE(client->FConnected());
}

TEST_F(RealEngine, RefusedConnectionRaisesWithTheEnginesCode)
{
    QTcpServer probe;  // a port that was free a moment ago and now is closed
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    try {
        client->Connect(QStringLiteral("ws://127.0.0.1:%1/").arg(port));
        FAIL() << "connected to a closed port";
    } catch (const EWSKCore& e) {
        EXPECT_NE(e.Code, 0);
        EXPECT_TRUE(e.message().startsWith(QString::number(e.Code) + QStringLiteral(": "))) << e.what();
    }
    EXPECT_FALSE(client->FConnected());
}

TEST_F(RealEngine, ConfigAnswersAndCookiesAreIndexed)
{
    EXPECT_NO_THROW(client->Config(QStringLiteral("CodePage=65001")));
    client->AddCookie(QStringLiteral("a"), QStringLiteral("1"));
    client->AddCookie(QStringLiteral("b"), QStringLiteral("2"));
    client->AddCookie(QStringLiteral("c"), QStringLiteral("3"));
    EXPECT_EQ(client->FCookieCount(), 3);
    EXPECT_EQ(client->FCookieName(1), QStringLiteral("b"));
    EXPECT_EQ(client->FCookieValue(2), QStringLiteral("3"));
    try {
        (void)client->FCookieName(5);
        FAIL() << "index 5 of three cookies was accepted";
    } catch (const EWSKCore& e) {
        EXPECT_TRUE(e.message().endsWith(QStringLiteral("Invalid array index (CookieIndex)."))) << e.what();
    }
}

// ---- wss with a certificate the system does not trust ----------------------

class RealEngineTls : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        certDir = std::make_unique<QTemporaryDir>();
        const QString cert = certDir->filePath(QStringLiteral("cert.pem"));
        const QString key = certDir->filePath(QStringLiteral("key.pem"));
        QProcess openssl;
        openssl.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        openssl.start(
            QStringLiteral("openssl"),
            {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key,
             "-out", cert, "-days", "2", "-subj", "/CN=brindle-test", "-addext", "subjectAltName=IP:127.0.0.1"});
        if (openssl.waitForFinished(60000) && openssl.exitCode() == 0) server = std::make_unique<EchoServer>(QStringList{QStringLiteral("--tls"), cert, key});
    }
    static void TearDownTestSuite()
    {
        server.reset();
        certDir.reset();
    }
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
            GTEST_SKIP() << "the openssl command that makes the test certificate is not installed";
        ASSERT_TRUE(server && server->port() > 0) << "wss echo server did not start";
        client.FSetTimeout(20);
        client.OnDataIn = [this](QObject*, TwskWebSocketClientDataInEventParams& p) { texts << p.Text; };
    }

    static std::unique_ptr<QTemporaryDir> certDir;
    static std::unique_ptr<EchoServer> server;
    TwskWebSocketClient client;
    QStringList texts;
};

std::unique_ptr<QTemporaryDir> RealEngineTls::certDir;
std::unique_ptr<EchoServer> RealEngineTls::server;

TEST_F(RealEngineTls, HandlerThatAcceptsTheCertificateLetsTheConnectionOn)
{
    TwskWebSocketClientSSLServerAuthenticationEventParams seen{};
    int calls = 0;
    client.OnSSLServerAuthentication = [&](QObject*, TwskWebSocketClientSSLServerAuthenticationEventParams& p) {
        ++calls;
        seen = p;
        p.Accept = true;  // what the tool's handler does
    };
    client.Connect(server->url());
    EXPECT_TRUE(client.FConnected());
    EXPECT_GE(calls, 1);
    EXPECT_FALSE(seen.Accept) << "an untrusted certificate came preset as accepted";
    EXPECT_TRUE(seen.CertSubject.contains(QStringLiteral("brindle-test"))) << seen.CertSubject.toStdString();
    EXPECT_FALSE(seen.CertEncodedB.isEmpty());
    EXPECT_FALSE(seen.Status.isEmpty());
    client.SendText(QStringLiteral("über TLS"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !texts.isEmpty(); }, 30000));
    EXPECT_EQ(texts[0], QStringLiteral("über TLS"));
    client.Disconnect();
}

TEST_F(RealEngineTls, UntrustedCertificateIsRefusedWhenNobodyAccepts)
{
    int calls = 0;
    client.OnSSLServerAuthentication = [&](QObject*, auto&) { ++calls; };
    EXPECT_THROW(client.Connect(server->url()), EWSKCore);
    EXPECT_GE(calls, 1);
    EXPECT_FALSE(client.FConnected());
}

}  // namespace
