// The package's components on libcorvanews20.so itself: a server component
// echoing to the tool's client on loopback, a proxy component forwarding the
// client to a TCP echo, and a certificate manager making the self-signed
// certificate that a server component then serves over wss.
#include "package/package_binding.h"
#include "package/package_components.h"
#include "tool_client.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <dlfcn.h>

#include <functional>

using namespace CorvaneWS::Package;

namespace {

const QString kEngine = QStringLiteral(ENGINE_FILE);

// A test whose engine object is missing fails: a dropped export must not pass as "not built yet".
bool engineHas(const char* object)
{
    void* engine = dlopen(kEngine.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
    const bool has = engine && dlsym(engine, (std::string("CorvaneWS_") + object + "_Create").c_str());
    if (engine) dlclose(engine);
    return has;
}

#define REQUIRE_ENGINE_OBJECT(name) \
    if (!engineHas(name)) GTEST_FAIL() << "the engine exports no " name " object"

class PackageOnEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"WebSocketClient", "WebSocketServer", "WebSocketProxy", "CertMgr"})
            packageLibrary(name).setLibraryName(kEngine);
    }
    // Runs the event loop until `done` or a generous deadline (no timing is asserted).
    static bool waitUntil(const std::function<bool()>& done)
    {
        QDeadlineTimer deadline(20000);
        while (!done()) {
            if (deadline.hasExpired()) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return true;
    }
};

TEST_F(PackageOnEngine, PackageClientKeepsItsDefaultsAndAnsiBytesInTheEngine)
{
    REQUIRE_ENGINE_OBJECT("WebSocketClient");
    TwskWebSocketClient client;
    EXPECT_EQ(client.FProxyPort(), 80);
    EXPECT_EQ(client.FTimeout(), 60);
    EXPECT_EQ(client.FSSLCertStore(), QStringLiteral("MY"));
    EXPECT_EQ(client.FSSLCertStoreB(), QByteArray("MY"));
    client.FSetSSLCertStore(QStringLiteral("Zertifikatsspeicher für Prüfungen"));
    EXPECT_EQ(client.FSSLCertStoreB(), QStringLiteral("Zertifikatsspeicher für Prüfungen").toLocal8Bit());
    EXPECT_EQ(client.FSSLCertStore(), QStringLiteral("Zertifikatsspeicher für Prüfungen"));
    client.FSetFirewallType(fwSOCKS4);
    EXPECT_EQ(client.FFirewallType(), fwSOCKS4);
    EXPECT_THROW(client.FSetProxyPort(-1), CorvaneWS::EWSKCore);  // the engine's range check, raised as EWSKCore
}

TEST_F(PackageOnEngine, ServerComponentEchoesToTheToolsClient)
{
    REQUIRE_ENGINE_OBJECT("WebSocketServer");
    TwskWebSocketServer server;
    int opened = 0;
    server.OnConnected = [&](QObject*, TwskWebSocketServerConnectedEventParams&) { ++opened; };
    server.OnDataIn = [&](QObject*, TwskWebSocketServerDataInEventParams& p) {
        server.SendText(p.ConnectionId, p.Text);
    };
    server.FSetLocalHost(QStringLiteral("127.0.0.1"));
    server.FSetListening(true);
    const int port = server.FLocalPort();
    ASSERT_GT(port, 0);

    pkgtest::ToolClient client(kEngine);
    client.connectTo(QStringLiteral("ws://127.0.0.1:%1/echo").arg(port));
    ASSERT_TRUE(waitUntil([&] { return client.connected() && opened == 1; })) << client.errors().join(u'\n').toStdString();
    EXPECT_EQ(server.FWebSocketConnectionCount(), 1);
    client.sendText(QStringLiteral("grüß dich"));
    ASSERT_TRUE(waitUntil([&] { return !client.received().isEmpty(); })) << client.errors().join(u'\n').toStdString();
    EXPECT_EQ(client.received(), QStringList{QStringLiteral("grüß dich")});
    server.Shutdown();
}

TEST_F(PackageOnEngine, ProxyComponentForwardsToATcpEcho)
{
    REQUIRE_ENGINE_OBJECT("WebSocketProxy");
    QTcpServer echo;
    ASSERT_TRUE(echo.listen(QHostAddress::LocalHost));
    QObject::connect(&echo, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* s = echo.nextPendingConnection())
            QObject::connect(s, &QTcpSocket::readyRead, s, [s] { s->write(s->readAll()); });
    });

    TwskWebSocketProxy proxy;
    proxy.FSetDefaultForwardHost(QStringLiteral("127.0.0.1"));
    proxy.FSetDefaultForwardPort(echo.serverPort());
    proxy.FSetLocalHost(QStringLiteral("127.0.0.1"));
    proxy.FSetListening(true);
    const int port = proxy.FLocalPort();
    ASSERT_GT(port, 0);

    pkgtest::ToolClient client(kEngine);
    client.connectTo(QStringLiteral("ws://127.0.0.1:%1/").arg(port));
    ASSERT_TRUE(waitUntil([&] { return client.connected(); })) << client.errors().join(u'\n').toStdString();
    client.sendText(QStringLiteral("through the proxy"));
    ASSERT_TRUE(waitUntil([&] { return client.received().join(QString()).size() >= 17; }))
        << client.errors().join(u'\n').toStdString();
    EXPECT_EQ(client.received().join(QString()), QStringLiteral("through the proxy"));
    EXPECT_EQ(proxy.FWebSocketProxyConnectionCount(), 1);
}

TEST_F(PackageOnEngine, CertificateManagerMakesListsAndExportsASelfSignedCertificate)
{
    REQUIRE_ENGINE_OBJECT("CertMgr");
    QTemporaryDir dir;
    TwskCertMgr certs;
    EXPECT_EQ(certs.FCertStore(), QStringLiteral("MY"));
    EXPECT_EQ(certs.FExportFormat(), QStringLiteral("PFX"));
    EXPECT_TRUE(certs.FExportPrivateKey());
    certs.Config(QStringLiteral("CertStoreRoot=") + dir.path());  // never the user's own stores
    certs.CreateCertificate(QStringLiteral("CN=localhost, O=Brindle Test"), 0);
    EXPECT_TRUE(certs.FCertSubject().contains(QStringLiteral("CN=localhost")));
    EXPECT_TRUE(certs.FCertPrivateKeyAvailable());
    EXPECT_TRUE(certs.FCertEncoded().startsWith(QStringLiteral("-----BEGIN CERTIFICATE")));

    // The store's listing comes as events whose certificate is ANSI text and bytes.
    QStringList listed;
    certs.OnCertList = [&](QObject*, TwskCertMgrCertListEventParams& p) {
        EXPECT_EQ(p.CertEncoded.toLocal8Bit(), p.CertEncodedB);
        listed << p.CertEncoded.section(u'\n', 0, 0);
    };
    (void)certs.ListStoreCertificates();
    EXPECT_EQ(listed, QStringList{QStringLiteral("-----BEGIN CERTIFICATE-----")});

    certs.FSetExportFormat(QStringLiteral("PEM"));
    const QString pem = dir.filePath(QStringLiteral("server.pem"));
    certs.ExportCertificate(pem, QString());
    QFile file(pem);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains("BEGIN CERTIFICATE"));
    EXPECT_TRUE(text.contains("PRIVATE KEY"));
    // A failing call raises EWSKCore with the engine's code and text.
    EXPECT_THROW(certs.ReadCertificate(dir.filePath(QStringLiteral("missing.pem"))), CorvaneWS::EWSKCore);
}

TEST_F(PackageOnEngine, SelfSignedCertificateFromTheManagerServedOverWss)
{
    REQUIRE_ENGINE_OBJECT("CertMgr");
    REQUIRE_ENGINE_OBJECT("WebSocketServer");
    QTemporaryDir dir;
    TwskCertMgr certs;
    certs.Config(QStringLiteral("CertStoreRoot=") + dir.path());  // never the user's own stores
    certs.CreateCertificate(QStringLiteral("CN=localhost"), 0);
    EXPECT_TRUE(certs.FCertSubject().contains(QStringLiteral("localhost")));
    EXPECT_TRUE(certs.FCertPrivateKeyAvailable());
    certs.FSetExportFormat(QStringLiteral("PEM"));
    const QString pem = dir.filePath(QStringLiteral("server.pem"));
    certs.ExportCertificate(pem, QString());

    TwskWebSocketServer server;
    server.OnDataIn = [&](QObject*, TwskWebSocketServerDataInEventParams& p) {
        server.SendText(p.ConnectionId, p.Text);
    };
    server.FSetSSLCertStoreType(6);  // a PEM file with the certificate and its key
    server.FSetSSLCertStore(pem);
    server.FSetSSLCertSubject(QStringLiteral("CN=localhost"));
    server.FSetUseSSL(true);
    server.FSetLocalHost(QStringLiteral("127.0.0.1"));
    server.FSetListening(true);
    const int port = server.FLocalPort();
    ASSERT_GT(port, 0);

    pkgtest::ToolClient client(kEngine);
    client.connectTo(QStringLiteral("wss://127.0.0.1:%1/").arg(port));
    ASSERT_TRUE(waitUntil([&] { return client.connected(); })) << client.errors().join(u'\n').toStdString();
    client.sendText(QStringLiteral("secret"));
    ASSERT_TRUE(waitUntil([&] { return !client.received().isEmpty(); })) << client.errors().join(u'\n').toStdString();
    EXPECT_EQ(client.received(), QStringList{QStringLiteral("secret")});
}

}  // namespace
