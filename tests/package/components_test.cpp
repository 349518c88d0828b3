// The package components' traffic with the engine: Init order and defaults,
// index checks, the ANSI forms of byte arrays, event decoding with its
// write-backs, handler exceptions turned into engine errors and OnError.
#include "package_fixture.h"

#include <stdexcept>

using namespace CorvaneWS::Package;
using CorvaneWS::EWSKCore;

namespace {

void* iv(std::intptr_t v) { return reinterpret_cast<void*>(v); }

TEST(PackageInit, EachClassWritesItsDefaultsInOrderWithoutACodePage)
{
    pkgtest::pointBindingsAtFake();
    { TwskWebSocketServer warm; }  // binds the fake so that it can be steered
    auto fake = pkgtest::fakeEngine();
    fake->clear();
    { TwskWebSocketServer server; }
    EXPECT_EQ(fake->calls(), (QStringList{
                                 "Server Create reserved=0 flags=1",
                                 "Set 19 0 0",            // DefaultTimeout
                                 "Set 22 0 0",            // LocalPort
                                 "Set 23 0 0",            // SSLAuthenticateClients
                                 "Set 25 0 bytes:4d59 2", // SSLCertStore "MY", as ANSI bytes
                                 "Set 10026 0 \"\"",      // SSLCertStorePassword
                                 "Set 27 0 0",            // SSLCertStoreType
                                 "Set 10028 0 \"\"",      // SSLCertSubject
                                 "Destroy",
                             }));
    fake->clear();
    { TwskWebSocketProxy proxy; }
    EXPECT_EQ(fake->calls(), (QStringList{
                                 "Proxy Create reserved=0 flags=1",
                                 "Set 10016 0 \"\"", "Set 17 0 0", "Set 18 0 0", "Set 19 0 0", "Set 20 0 0",
                                 "Set 10021 0 \"\"", "Set 10022 0 \"\"", "Set 23 0 0", "Set 10024 0 \"\"",
                                 "Set 27 0 0", "Set 28 0 0", "Set 30 0 bytes:4d59 2", "Set 10031 0 \"\"",
                                 "Set 32 0 0", "Set 10033 0 \"\"", "Destroy",
                             }));
    fake->clear();
    { TwskWebSocketClient client; }
    const QStringList client = fake->calls();
    // The tool's client configures UTF-8 first; the package's does not.
    EXPECT_FALSE(client.join(u'\n').contains(QStringLiteral("CodePage")));
    EXPECT_TRUE(client.contains(QStringLiteral("Set 40 0 bytes:4d59 2")));
    EXPECT_TRUE(client.contains(QStringLiteral("Set 33 0 80")));
    EXPECT_TRUE(client.contains(QStringLiteral("Set 46 0 60")));
    EXPECT_EQ(client.size(), 27);  // Create, 25 defaults, Destroy
    fake->clear();
    { TwskCertMgr certMgr; }
    EXPECT_EQ(fake->calls(), (QStringList{
                                 "CertMgr Create reserved=0 flags=1",
                                 "Set 10004 0 \"\"", "Set 10007 0 \"\"", "Set 10012 0 \"\"", "Set 10016 0 \"\"",
                                 "Set 10021 0 \"\"", "Set 22 0 0", "Set 28 0 bytes:4d59 2", "Set 10029 0 \"\"",
                                 "Set 30 0 0", "Set 10032 0 \"PFX\"", "Set 33 0 1", "Destroy",
                             }));
}

using Server = pkgtest::FakeEngineTest<TwskWebSocketServer>;
using Proxy = pkgtest::FakeEngineTest<TwskWebSocketProxy>;
using Client = pkgtest::FakeEngineTest<TwskWebSocketClient>;

TEST_F(Server, NewServerReportsItsDefaults)
{
    EXPECT_EQ(component->FDefaultTimeout(), 0);
    EXPECT_EQ(component->FLocalPort(), 0);
    EXPECT_EQ(component->FSSLCertStore(), QStringLiteral("MY"));
    EXPECT_FALSE(component->FSSLAuthenticateClients());
}

TEST_F(Server, IndexedGettersCheckTheConnectionIdSettersDoNot)
{
    fake->setIndexCount(9, 2, 201);
    fake->putText(handle, 9, 1, "peer.example");
    EXPECT_EQ(component->FWebSocketConnectionHost(1), QStringLiteral("peer.example"));
    try {
        (void)component->FWebSocketConnectionHost(5);
        FAIL() << "no exception";
    } catch (const EWSKCore& e) {
        EXPECT_EQ(e.Code, 201);
        EXPECT_EQ(e.message(), QStringLiteral("201: Invalid array index (ConnectionId)."));
    }
    fake->clear();
    fake->failNext("Set", 8, 201, "no such connection");
    try {
        component->FSetWebSocketConnectionDataToSend(5, QStringLiteral("hi"));
        FAIL() << "no exception";
    } catch (const EWSKCore& e) {
        EXPECT_EQ(e.message(), QStringLiteral("201: no such connection"));
    }
    EXPECT_EQ(calls(), QStringList{QStringLiteral("Set 8 5 bytes:6869 2")});
}

TEST_F(Server, ByteArraysHaveAnAnsiStringFormBothWays)
{
    component->FSetSSLCertEncoded(QStringLiteral("é"));
    component->FSetSSLCertEncodedB(QByteArray("\x30\x82", 2));
    EXPECT_EQ(calls(), (QStringList{"Set 24 0 bytes:c3a9 2", "Set 24 0 bytes:3082 2"}));
    fake->putBytes(handle, 24, 0, QByteArray("caf\xc3\xa9"));
    fake->clear();
    EXPECT_EQ(component->FSSLCertEncoded(), QStringLiteral("café"));
    EXPECT_EQ(component->FSSLCertEncodedB(), QByteArray("caf\xc3\xa9"));
    // No n + 20000 number: the engine is asked only for the bytes.
    EXPECT_EQ(calls(), (QStringList{"Get 24 0", "Get 24 0"}));
}

TEST_F(Server, MethodsPassTheirArgumentsAndCheckTheResult)
{
    component->Send(3, QByteArray());  // an empty message: no pointer, no length
    component->SendText(3, QStringLiteral("hello"));
    fake->failNext("Do", 10003, 31, "connection gone");
    try {
        component->Disconnect(9);
        FAIL() << "no exception";
    } catch (const EWSKCore& e) {
        EXPECT_EQ(e.message(), QStringLiteral("31: connection gone"));
    }
    fake->setConfigAnswer("LogLevel=1");
    EXPECT_EQ(component->Config(QStringLiteral("LogLevel")), QStringLiteral("LogLevel=1"));
    EXPECT_EQ(calls(), (QStringList{"Do 10006 2 int:3 null", "Do 10008 2 int:3 \"hello\"", "Do 10003 1 int:9",
                                    "Do 10002 1 \"LogLevel\""}));
}

TEST_F(Server, EventsDecodeTheirFieldsAndWriteBack)
{
    QList<QString> seen;
    component->OnConnectionRequest = [&](QObject*, TwskWebSocketServerConnectionRequestEventParams& p) {
        seen << QStringLiteral("%1:%2:%3").arg(p.Address).arg(p.Port).arg(p.Accept);
        p.Accept = false;
    };
    const std::u16string address = u"127.0.0.1";
    void* argv[4] = {const_cast<char16_t*>(address.c_str()), iv(5000), iv(1), nullptr};
    int arglen[4] = {};
    EXPECT_EQ(fake->raise(handle, 2, 3, argv, arglen), 0);
    EXPECT_EQ(seen, QStringList{"127.0.0.1:5000:1"});
    EXPECT_EQ(argv[2], nullptr);  // Accept false written back as 0

    component->OnDataIn = [&](QObject* sender, TwskWebSocketServerDataInEventParams& p) {
        EXPECT_EQ(sender, component.get());
        seen << QStringLiteral("%1:%2:%3:%4:%5").arg(p.ConnectionId).arg(p.DataFormat).arg(p.Text)
                    .arg(QString::fromLatin1(p.TextB.toHex())).arg(p.EOM);
    };
    const QByteArray data("d\xc3\xa9j\xc3\xa0");
    void* dargv[5] = {iv(7), iv(1), const_cast<char*>(data.constData()), iv(1), nullptr};
    int darglen[5] = {0, 0, int(data.size()), 0, 0};
    fake->clear();
    EXPECT_EQ(fake->raise(handle, 3, 4, dargv, darglen), 0);
    EXPECT_EQ(seen.last(), QStringLiteral("7:1:déjà:64c3a96ac3a0:1"));
    EXPECT_TRUE(calls().isEmpty());  // decoded here, not by the engine's method 2003

    // Event strings are read and written back through CorvaneWS_EvtStr; the int is written back.
    component->OnSSLConnectionRequest = [&](QObject*, TwskWebSocketServerSSLConnectionRequestEventParams& p) {
        seen << p.CertStore;
        p.CertStoreType = 2;
        p.CertStore = QStringLiteral("/certs/server.pem");
        p.CertSubject = QString();
    };
    void* store = fake->newEventString("MY");
    void* password = fake->newEventString("");
    void* subject = fake->newEventString("CN=old");
    const std::u16string none = u"";
    void* sargv[8] = {iv(7), const_cast<char16_t*>(none.c_str()), const_cast<char16_t*>(none.c_str()), iv(0),
                      store, password, subject, nullptr};
    int sarglen[8] = {};
    fake->clear();
    EXPECT_EQ(fake->raise(handle, 9, 7, sargv, sarglen), 0);
    EXPECT_EQ(seen.last(), QStringLiteral("MY"));
    EXPECT_EQ(sargv[3], iv(2));
    EXPECT_EQ(fake->eventStringText(store), QStringLiteral("/certs/server.pem"));
    EXPECT_EQ(fake->eventStringText(password), QString());
    EXPECT_EQ(fake->eventStringText(subject), QString());  // a null text is written as an empty one
    EXPECT_EQ(calls(), (QStringList{"EvtStr 0 2", "EvtStr 0 2", "EvtStr 0 2", "EvtStr 2 2 \"/certs/server.pem\"",
                                    "EvtStr 2 2 \"\"", "EvtStr 2 2 \"\""}));
}

TEST_F(Server, HandlerExceptionsBecomeEngineErrorsAndOnError)
{
    QStringList errors;
    component->OnError = [&](QObject*, TwskWebSocketServerErrorEventParams& p) {
        errors << QStringLiteral("%1|%2|%3").arg(p.ConnectionId).arg(p.ErrorCode).arg(p.Description);
    };
    component->OnReadyToSend = [](QObject*, TwskWebSocketServerReadyToSendEventParams&) {
        throw EWSKCore(77, "busy");
    };
    component->OnConnected = [](QObject*, TwskWebSocketServerConnectedEventParams&) {
        throw std::runtime_error("plain failure");
    };
    void* argv[2] = {iv(4), nullptr};
    int arglen[2] = {};
    fake->setEventErrorResult(-5);  // the engine's answer is what the sink returns
    EXPECT_EQ(fake->raise(handle, 7, 1, argv, arglen), -5);
    EXPECT_EQ(fake->raise(handle, 1, 1, argv, arglen), -5);
    const QString ready = QStringLiteral("An unhandled error occurred in the ReadyToSend event handler: 77: busy");
    const QString connected =
        QStringLiteral("An unhandled error occurred in the Connected event handler: plain failure");
    EXPECT_EQ(calls(), (QStringList{"SetEventErrorAndCode 77 \"" + ready + "\"",
                                    "SetEventErrorAndCode -1 \"" + connected + "\""}));
    // The error event names the failed event's connection.
    EXPECT_EQ(errors, (QStringList{"4|-5|" + ready, "4|-5|" + connected}));

    // A failing OnError is recorded but raises no further OnError.
    component->OnError = [&](QObject*, TwskWebSocketServerErrorEventParams&) {
        errors << QStringLiteral("again");
        throw std::runtime_error("error handler failed");
    };
    errors.clear();
    void* eargv[4] = {iv(4), iv(9), nullptr, nullptr};
    EXPECT_EQ(fake->raise(handle, 5, 3, eargv, arglen), -5);
    EXPECT_EQ(errors, QStringList{"again"});
}

TEST_F(Proxy, OpenRequestWritesBackEveryMarkedField)
{
    component->OnWebSocketOpenRequest = [](QObject*, TwskWebSocketProxyWebSocketOpenRequestEventParams& p) {
        p.SubProtocol = QString();  // left null: written back as an empty text
        p.StatusCode = 403;
        p.ForwardHost = QStringLiteral("backend");
        p.ForwardPort = 8080;
    };
    void* sub = fake->newEventString("chat");
    void* headers = fake->newEventString("");
    void* host = fake->newEventString("");
    const std::u16string t = u"x";
    void* wide = const_cast<char16_t*>(t.c_str());
    void* argv[12] = {iv(1), wide, wide, wide, sub, wide, wide, iv(101), headers, host, iv(0), nullptr};
    int arglen[12] = {};
    EXPECT_EQ(fake->raise(handle, 10, 11, argv, arglen), 0);
    EXPECT_EQ(fake->eventStringText(sub), QString());
    EXPECT_EQ(argv[7], iv(403));
    EXPECT_EQ(fake->eventStringText(host), QStringLiteral("backend"));
    EXPECT_EQ(argv[10], iv(8080));
}

TEST_F(Proxy, FirewallTypeIsAnEnumerationAndIndexesAreConnectionIds)
{
    component->FSetFirewallType(fwSOCKS5);
    EXPECT_EQ(calls(), QStringList{QStringLiteral("Set 20 0 3")});
    EXPECT_EQ(component->FFirewallType(), fwSOCKS5);
    fake->setIndexCount(5, 0, 202);
    try {
        (void)component->FWebSocketProxyConnectionForwardHost(0);
        FAIL() << "no exception";
    } catch (const EWSKCore& e) {
        EXPECT_EQ(e.message(), QStringLiteral("202: Invalid array index (ConnectionId)."));
    }
}

TEST_F(Client, DiffersFromTheToolsClientOnlyWhereThePackageSays)
{
    // Byte texts are ANSI conversions, not n + 20000 numbers.
    component->FSetSSLCertEncoded(QStringLiteral("é"));
    EXPECT_EQ(calls(), QStringList{QStringLiteral("Set 39 0 bytes:c3a9 2")});
    // Event texts are decoded here, not through the engine's method 2003.
    QString text;
    component->OnDataIn = [&](QObject*, TwskWebSocketClientDataInEventParams& p) { text = p.Text; };
    const QByteArray data("\xc3\xbc");
    void* argv[4] = {iv(0), const_cast<char*>(data.constData()), iv(1), nullptr};
    int arglen[4] = {0, 2, 0, 0};
    fake->clear();
    EXPECT_EQ(fake->raise(handle, 3, 3, argv, arglen), 0);
    EXPECT_EQ(text, QStringLiteral("ü"));
    EXPECT_TRUE(calls().isEmpty());
    // Index texts are the client's.
    fake->setIndexCount(9, 3, 201);
    try {
        (void)component->FCookieName(5);
        FAIL() << "no exception";
    } catch (const EWSKCore& e) {
        EXPECT_TRUE(e.message().endsWith(QStringLiteral("Invalid array index (CookieIndex).")));
    }
    EXPECT_EQ(component->FFirewallType(), fwNone);
}

TEST_F(Client, AboutDlgSendsMethod255AndAboutIsNullAtRunTime)
{
    component->AboutDlg();
    EXPECT_EQ(calls(), QStringList{QStringLiteral("Do 255 0 argv=null")});
    EXPECT_EQ(component->FAbout(), nullptr);
    component->setDesigning(true);
    EXPECT_EQ(reinterpret_cast<QObject*>(component->FAbout()), component.get());
}

using CertMgr = pkgtest::FakeEngineTest<TwskCertMgr>;

TEST_F(CertMgr, ExtensionsAreCheckedAndCertificatesConvertAsAnsi)
{
    EXPECT_EQ(component->FCertStore(), QStringLiteral("MY"));
    EXPECT_EQ(component->FExportFormat(), QStringLiteral("PFX"));
    EXPECT_TRUE(component->FExportPrivateKey());
    fake->setIndexCount(26, 1, 201);
    try {
        (void)component->FCertExtensionOID(1);
        FAIL() << "no exception";
    } catch (const EWSKCore& e) {
        EXPECT_EQ(e.message(), QStringLiteral("201: Invalid array index (CertExtensionIndex)."));
    }
    fake->clear();
    component->FSetCertEncoded(QStringLiteral("-----BEGIN"));
    EXPECT_EQ(calls(), QStringList{QStringLiteral("Set 2 0 bytes:2d2d2d2d2d424547494e 10")});
    EXPECT_EQ(component->FCertEncoded(), QStringLiteral("-----BEGIN"));
}

TEST_F(CertMgr, ListEventsCarryCertificatesAsAnsiTextAndBytes)
{
    QString seen;
    component->OnCertList = [&](QObject*, TwskCertMgrCertListEventParams& p) {
        seen = p.CertEncoded + u'|' + QString::fromLatin1(p.CertEncodedB.toHex());
    };
    const QByteArray der("\x30\x41", 2);
    const std::u16string w = u"w";
    void* wide = const_cast<char16_t*>(w.c_str());
    void* argv[6] = {const_cast<char*>(der.constData()), wide, wide, wide, iv(1), nullptr};
    int arglen[6] = {2, 0, 0, 0, 0, 0};
    EXPECT_EQ(fake->raise(handle, 2, 5, argv, arglen), 0);
    EXPECT_EQ(seen, QStringLiteral("0A|3041"));
}

}  // namespace
