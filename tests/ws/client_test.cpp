// The client's traffic with the engine: construction and Init, the property
// numbering, indexed properties, methods and error treatment.
#include "fake_engine_fixture.h"
#include "ws/wskwebsocketclient.h"

#include <gtest/gtest.h>

#include <QMetaProperty>

#include <memory>

using namespace CorvaneWS;

namespace {

class Client : public wstest::FakeEngineTest {
protected:
    // The calls since the last clear, without the error text lookups.
    QStringList calls() const
    {
        QStringList out = fake->calls();
        out.removeAll(QStringLiteral("GetLastError"));
        return out;
    }
};

TEST_F(Client, ConstructionConfiguresUtf8ThenWritesTheDefaultsInOrder)
{
    fake->clear();
    TwskWebSocketClient c;
    const QStringList expected = {
        QStringLiteral("Create reserved=0 flags=1"),
        QStringLiteral("Do 10003 1 \"CodePage=65001\""),
        QStringLiteral("Set 10002 0 \"\""),  // Authorization
        QStringLiteral("Set 3 0 0"),         // AuthScheme authBasic
        QStringLiteral("Set 13 0 0"),        // DataFormat
        QStringLiteral("Set 15 0 0"),        // FirewallAutoDetect
        QStringLiteral("Set 16 0 0"),        // FirewallType
        QStringLiteral("Set 10017 0 \"\""),  // FirewallHost
        QStringLiteral("Set 10018 0 \"\""),  // FirewallPassword
        QStringLiteral("Set 19 0 0"),        // FirewallPort
        QStringLiteral("Set 10020 0 \"\""),  // FirewallUser
        QStringLiteral("Set 21 0 0"),        // FollowRedirects frNever
        QStringLiteral("Set 23 0 0"),        // LocalPort
        QStringLiteral("Set 10029 0 \"\""),  // Password
        QStringLiteral("Set 30 0 0"),        // ProxyAuthScheme authBasic
        QStringLiteral("Set 31 0 0"),        // ProxyAutoDetect
        QStringLiteral("Set 10032 0 \"\""),  // ProxyPassword
        QStringLiteral("Set 33 0 80"),       // ProxyPort
        QStringLiteral("Set 10034 0 \"\""),  // ProxyServer
        QStringLiteral("Set 35 0 0"),        // ProxySSL psAutomatic
        QStringLiteral("Set 10036 0 \"\""),  // ProxyUser
        QStringLiteral("Set 20040 0 \"MY\" 2"),  // SSLCertStore, string form
        QStringLiteral("Set 10041 0 \"\""),  // SSLCertStorePassword
        QStringLiteral("Set 42 0 0"),        // SSLCertStoreType
        QStringLiteral("Set 10043 0 \"\""),  // SSLCertSubject
        QStringLiteral("Set 46 0 60"),       // Timeout
        QStringLiteral("Set 10048 0 \"\""),  // User
    };
    EXPECT_EQ(fake->calls(), expected);
    EXPECT_EQ(c.FTimeout(), 60);
    EXPECT_EQ(c.FProxyPort(), 80);
    EXPECT_EQ(c.FSSLCertStore(), QStringLiteral("MY"));
    EXPECT_EQ(c.FSSLCertStoreB(), QByteArray("MY"));
}

TEST_F(Client, DestructionDestroysTheEngineObjectOnce)
{
    client.reset();
    EXPECT_EQ(fake->calls(), QStringList{QStringLiteral("Destroy")});
    EXPECT_EQ(fake->liveObjects(), 0);
}

TEST_F(Client, OwnerDestroysItsComponent)
{
    auto* owner = new QObject;
    auto* owned = new TwskWebSocketClient(owner);
    EXPECT_EQ(owned->owner(), owner);
    EXPECT_EQ(fake->liveObjects(), 2);
    delete owner;
    EXPECT_EQ(fake->liveObjects(), 1);
}

TEST_F(Client, ValuePropertiesUseTheirNumber)
{
    client->FSetTimeout(10);
    client->FSetConnected(true);
    client->FSetAuthScheme(authNone);
    client->FSetFirewallType(fwSOCKS5);
    EXPECT_EQ(calls(), (QStringList{"Set 46 0 10", "Set 5 0 1", "Set 3 0 3", "Set 16 0 3"}));
    fake->clear();
    EXPECT_EQ(client->FTimeout(), 10);
    EXPECT_TRUE(client->FConnected());
    EXPECT_EQ(client->FAuthScheme(), authNone);
    fake->putInt(handle, 37, 0, 7);  // any non-zero value reads as true
    EXPECT_TRUE(client->FReadyToSend());
    EXPECT_EQ(calls(), (QStringList{"Get 46 0", "Get 5 0", "Get 3 0", "Get 37 0"}));
}

TEST_F(Client, StringPropertiesCrossAsWideTextUnderIdPlus10000)
{
    client->FSetOrigin(QStringLiteral("http://brindle.example"));
    client->FSetUser(QString());  // empty passes an empty text, never null
    client->FSetSubProtocols(QStringLiteral("überproto"));
    EXPECT_EQ(calls(), (QStringList{"Set 10024 0 \"http://brindle.example\"", "Set 10048 0 \"\"",
                                    "Set 10045 0 \"überproto\""}));
    EXPECT_EQ(client->FOrigin(), QStringLiteral("http://brindle.example"));
    EXPECT_EQ(client->FSubProtocols(), QStringLiteral("überproto"));
    EXPECT_TRUE(client->FUser().isEmpty());
    fake->putText(handle, 47, 0, "GET / HTTP/1.1");
    EXPECT_EQ(client->FTransferredHeaders(), QStringLiteral("GET / HTTP/1.1"));
    EXPECT_TRUE(calls().contains(QStringLiteral("Get 10047 0")));
}

TEST_F(Client, ByteArrayPropertiesHaveBytesAltTextAndRawForms)
{
    const QByteArray der("\x30\x82\x01\x00", 4);
    client->FSetSSLCertEncodedB(der);
    client->SetSSLCertEncoded("abc", 3);
    client->FSetSSLCertEncoded(QStringLiteral("é"));
    client->FSetDataToSendB(QByteArray());
    EXPECT_EQ(calls(), (QStringList{"Set 39 0 bytes:30820100 4", "Set 39 0 bytes:616263 3", "Set 20039 0 \"é\" 1",
                                    "Set 14 0 bytes: 0"}));
    fake->clear();
    EXPECT_EQ(client->FSSLCertEncodedB(), QByteArray("\xc3\xa9"));
    EXPECT_EQ(client->FSSLCertEncoded(), QStringLiteral("é"));
    fake->putBytes(handle, 44, 0, der);
    EXPECT_EQ(client->FSSLServerCertEncodedB(), der);
    EXPECT_EQ(calls(), (QStringList{"Get 39 0", "Get 20039 0", "Get 44 0"}));
}

TEST_F(Client, ReadsNeverAskForA64BitResult)
{
    (void)client->FBytesSent();
    (void)client->FTransferredHeaders();
    (void)client->FSSLServerCertEncoded();
    for (const QString& call : calls()) EXPECT_FALSE(call.endsWith(QStringLiteral(" v64"))) << call.toStdString();
}

TEST_F(Client, FailedSetRaisesWithTheEngineCodeAndText)
{
    fake->failNext("Set", 46, 11, "Timeout");
    try {
        client->FSetTimeout(-5);
        FAIL();
    } catch (const EWSKCore& e) {
        EXPECT_EQ(e.Code, 11);
        EXPECT_EQ(e.message(), QStringLiteral("11: Timeout"));
    }
    // No text from the engine: the message is the code and the separator.
    fake->failNext("Set", 10034, 300, nullptr);
    try {
        client->FSetProxyServer(QStringLiteral("proxy"));
        FAIL();
    } catch (const EWSKCore& e) {
        EXPECT_EQ(e.message(), QStringLiteral("300: "));
    }
}

TEST_F(Client, IndexedGettersCheckTheIndexFirst)
{
    fake->setIndexCount(9, 3, 201);
    fake->putText(handle, 9, 2, "session");
    EXPECT_EQ(client->FCookieName(2), QStringLiteral("session"));
    EXPECT_EQ(calls(), (QStringList{"CheckIndex 9 2", "Get 10009 2"}));
    try {
        (void)client->FCookieName(5);
        FAIL();
    } catch (const EWSKCore& e) {
        EXPECT_EQ(e.Code, 201);
        EXPECT_TRUE(e.message().endsWith(QStringLiteral("Invalid array index (CookieIndex)."))) << e.what();
    }
    fake->setIndexCount(27, 0, 202);
    try {
        (void)client->FParsedHeaderField(0);
        FAIL();
    } catch (const EWSKCore& e) {
        EXPECT_EQ(e.message(), QStringLiteral("202: Invalid array index (ParsedHeaderIndex)."));
    }
    fake->setIndexCount(11, 1, 201);
    fake->putInt(handle, 11, 0, 1);
    EXPECT_TRUE(client->FCookieSecure(0));
}

TEST_F(Client, IndexedSettersPassTheIndexWithoutChecking)
{
    fake->setIndexCount(12, 0, 201);
    client->FSetCookieValue(4, QStringLiteral("v"));
    client->FSetCookieName(1, QStringLiteral("n"));
    EXPECT_EQ(calls(), (QStringList{"Set 10012 4 \"v\"", "Set 10009 1 \"n\""}));
}

TEST_F(Client, MethodsCallDoWithTheirNumberAndWideArguments)
{
    client->Connect(QStringLiteral("ws://127.0.0.1:9/"));
    client->AddCookie(QStringLiteral("a"), QString());
    client->SendText(QStringLiteral("hällo"));
    client->SendFile(QStringLiteral("/tmp/x.bin"));
    client->Disconnect();
    client->DoEvents();
    client->Interrupt();
    client->Ping();
    client->Reset();
    client->ResetHeaders();
    EXPECT_EQ(calls(), (QStringList{"Do 10004 1 \"ws://127.0.0.1:9/\"", "Do 10002 2 \"a\" \"\"",
                                    "Do 10013 1 \"hällo\"", "Do 10012 1 \"/tmp/x.bin\"", "Do 10005 0", "Do 10006 0",
                                    "Do 10007 0", "Do 10008 0", "Do 10009 0", "Do 10010 0"}));
}

TEST_F(Client, SendPassesBytesAndNullForAnEmptyArray)
{
    client->Send(QByteArray("\x01\x02\xff", 3));
    client->Send(QByteArray());
    EXPECT_EQ(calls(), (QStringList{"Do 10011 1 bytes:0102ff/3", "Do 10011 1 null"}));
}

TEST_F(Client, ConfigReturnsTheEnginesAnswer)
{
    fake->setConfigAnswer("MaxMessageSize=16777216");
    EXPECT_EQ(client->Config(QStringLiteral("MaxMessageSize")), QStringLiteral("MaxMessageSize=16777216"));
}

TEST_F(Client, FailedMethodRaisesAndLaterCallsWork)
{
    fake->failNext("Do", 10004, 110, "Connection refused");
    try {
        client->Connect(QStringLiteral("ws://127.0.0.1:1/"));
        FAIL();
    } catch (const EWSKCore& e) {
        EXPECT_EQ(e.Code, 110);
        EXPECT_EQ(e.message(), QStringLiteral("110: Connection refused"));
    }
    EXPECT_NO_THROW(client->Ping());
}

TEST_F(Client, PublishedPropertiesAreStoredExceptLocalHost)
{
    const QMetaObject* meta = client->metaObject();
    QStringList stored, notStored;
    for (int i = QObject::staticMetaObject.propertyCount(); i < meta->propertyCount(); ++i)
        (meta->property(i).isStored() ? stored : notStored) << QString::fromLatin1(meta->property(i).name());
    EXPECT_EQ(notStored, QStringList{QStringLiteral("LocalHost")});
    EXPECT_EQ(stored.size(), 25);
    EXPECT_TRUE(stored.contains(QStringLiteral("SSLCertStore")));
    EXPECT_FALSE(stored.contains(QStringLiteral("Connected")));
    // Enumerations are known by name to the meta system, as forms write them.
    EXPECT_TRUE(meta->property(meta->indexOfProperty("ProxySSL")).isEnumType());
}

}  // namespace

namespace {

// The package's components convert byte texts themselves; the engine is asked nothing.
TEST(LocalCodePageTexts, ByteTextsAreConvertedWithoutTheEngine)
{
    wstest::useFakeEngine();
    wstest::FakeEngine fake;
    fake.clear();
    CorvaneWS::EngineObject object(corvanews20::client::kProperties, CorvaneWS::TextForm::LocalCodePage);
    object.createEngineObject(CorvaneWS::EngineLibrary::embedded(), "WebSocketClient", nullptr, nullptr,
                              QStringLiteral("missing"), QStringLiteral("refused"));
    object.setBytesText(39, QStringLiteral("é"));
    EXPECT_EQ(object.getBytesText(39), QStringLiteral("é"));
    const QByteArray bytes("ok\xc3\xa9");
    EXPECT_EQ(object.decodeText(bytes.constData(), int(bytes.size())), QStringLiteral("oké"));
    object.destroyEngineObject();
    EXPECT_EQ(fake.calls(), (QStringList{"Create reserved=0 flags=1", "Set 39 0 bytes:c3a9 2", "Get 39 0", "Destroy"}));
}

}  // namespace
