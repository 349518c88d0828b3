// The package's components on libcorvanews20.so itself: a server component
// echoing to the tool's client on loopback, a proxy component forwarding the
// client to a TCP echo, and a certificate manager making the self-signed
// certificate that a server component then serves over wss.
#include "package/design/form_loader.h"
#include "package/package_binding.h"
#include "package/package_components.h"
#include "package/registration.h"
#include "tool_client.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <dlfcn.h>

#include <algorithm>
#include <array>
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

// A program's form: a server and a client read from its form text, their
// handlers member functions bound by the names the form gives.
class TFormLoopback : public QObject {
    Q_OBJECT

public:
    QStringList seen;
    void ServerDataIn(QObject* sender, TwskWebSocketServerDataInEventParams& p)
    {
        static_cast<TwskWebSocketServer*>(sender)->SendText(p.ConnectionId, QString(p.Text).toUpper());
    }
    void ServerConnected(QObject*, TwskWebSocketServerConnectedEventParams&) { seen << QStringLiteral("server connected"); }
    void ClientConnected(QObject*, TwskWebSocketClientConnectedEventParams&) { seen << QStringLiteral("client connected"); }
    void ClientDataIn(QObject*, TwskWebSocketClientDataInEventParams& p) { seen << QString(p.Text); }
};

TEST_F(PackageOnEngine, HandlersNamedByAFormAnswerRealEvents)
{
    REQUIRE_ENGINE_OBJECT("WebSocketServer");
    REQUIRE_ENGINE_OBJECT("WebSocketClient");
    CorvaneWS::Corvanews::Register();
    design::TFormHandlers handlers;
    handlers.add(QStringLiteral("ServerDataIn"), &TFormLoopback::ServerDataIn);
    handlers.add(QStringLiteral("ServerConnected"), &TFormLoopback::ServerConnected);
    handlers.add(QStringLiteral("ClientConnected"), &TFormLoopback::ClientConnected);
    handlers.add(QStringLiteral("ClientDataIn"), &TFormLoopback::ClientDataIn);
    TFormLoopback form;
    const QList<toolkit::TComponent*> made = design::ReadForm(
        QStringLiteral("object Server1: TwskWebSocketServer\n  DefaultTimeout = 20\n  OnConnected = ServerConnected\n"
                       "  OnDataIn = ServerDataIn\nend\n"
                       "object Client1: TwskWebSocketClient\n  Timeout = 20\n  OnConnected = ClientConnected\n"
                       "  OnDataIn = ClientDataIn\nend\n"),
        &form, handlers);
    ASSERT_EQ(made.size(), 2);
    auto* server = static_cast<TwskWebSocketServer*>(made[0]);
    auto* client = static_cast<TwskWebSocketClient*>(made[1]);
    server->FSetLocalHost(QStringLiteral("127.0.0.1"));
    server->FSetListening(true);
    ASSERT_GT(server->FLocalPort(), 0);
    client->Connect(QStringLiteral("ws://127.0.0.1:%1/").arg(server->FLocalPort()));
    ASSERT_TRUE(waitUntil([&] { return form.seen.contains(QStringLiteral("client connected")); }));
    client->SendText(QStringLiteral("hello form"));
    ASSERT_TRUE(waitUntil([&] { return form.seen.contains(QStringLiteral("HELLO FORM")); })) << form.seen.join(u'\n').toStdString();
    EXPECT_TRUE(form.seen.contains(QStringLiteral("server connected")));
    server->Shutdown();
}

TEST_F(PackageOnEngine, CertificateManagerReadFromAFormHoldsItsCertificateWhateverTheOrder)
{
    REQUIRE_ENGINE_OBJECT("CertMgr");
    CorvaneWS::Corvanews::Register();
    QTemporaryDir dir;
    qputenv("CORVANE_CERTSTORE_ROOT", dir.path().toLocal8Bit());  // the default store is never the user's own
    const QString pem = dir.filePath(QStringLiteral("form.pem"));
    {
        TwskCertMgr maker;
        maker.CreateCertificate(QStringLiteral("CN=formcert"), 7);
        maker.FSetExportFormat(QStringLiteral("PEM"));
        maker.ExportCertificate(pem, QStringLiteral("secret"));
    }
    std::array<QString, 4> lines = {
        QStringLiteral("  CertStore = '%1'\n").arg(pem),
        QStringLiteral("  CertStorePassword = 'secret'\n"),
        QStringLiteral("  CertStoreType = 6\n"),
        QStringLiteral("  CertSubject = 'CN=formcert'\n"),
    };
    std::sort(lines.begin(), lines.end());
    int orders = 0;
    do {
        const QString text = QStringLiteral("object CertMgr1: TwskCertMgr\n") + lines[0] + lines[1] + lines[2] + lines[3] +
                             QStringLiteral("end\n");
        SCOPED_TRACE(text.toStdString());
        QObject form;
        const QList<toolkit::TComponent*> made = design::ReadForm(text, &form, design::TFormHandlers());
        ASSERT_EQ(made.size(), 1);
        auto* certs = static_cast<TwskCertMgr*>(made[0]);
        EXPECT_TRUE(certs->FCertSubject().contains(QStringLiteral("formcert")));
        EXPECT_TRUE(certs->FCertEncoded().startsWith(QStringLiteral("-----BEGIN CERTIFICATE")));
        EXPECT_EQ(certs->FCertSerialNumber().toInt(nullptr, 16), 7);
        ++orders;
    } while (std::next_permutation(lines.begin(), lines.end()));
    EXPECT_EQ(orders, 24);
    qunsetenv("CORVANE_CERTSTORE_ROOT");
}

}  // namespace

#include "engine_test.moc"
