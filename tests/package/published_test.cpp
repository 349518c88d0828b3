// What each package component shows a designer and writes to a form: its
// published properties, which of them a form stores, which are read-only, the
// names of its enumerations and its published events, checked against this
// test's own tables (written from the components' property tables, not from
// the generator's policies).
#include "package/design/form_events.h"
#include "package_fixture.h"

#include <QMetaEnum>
#include <QMetaProperty>

#include <span>

using namespace CorvaneWS::Package;

namespace {

enum Kind { Stored, NeverStored, ReadOnly };  // ReadOnly rows are published and never stored

struct Row {
    const char* name;
    Kind kind;
    const char* enumNames = nullptr;  // an enumeration's names in value order, from 0
};

void checkSurface(const QMetaObject* meta, std::span<const Row> rows, const char* events)
{
    QStringList published;
    for (int i = QObject::staticMetaObject.propertyCount(); i < meta->propertyCount(); ++i)
        published << QString::fromLatin1(meta->property(i).name());
    QStringList expected{QStringLiteral("About")};
    for (const Row& r : rows) expected << QString::fromLatin1(r.name);
    published.sort();
    expected.sort();
    EXPECT_EQ(published, expected);

    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const int index = meta->indexOfProperty(r.name);
        ASSERT_GE(index, 0);
        const QMetaProperty p = meta->property(index);
        EXPECT_EQ(p.isStored(), r.kind == Stored);
        EXPECT_EQ(p.isWritable(), r.kind != ReadOnly);
        if (r.enumNames != nullptr) {
            ASSERT_TRUE(p.isEnumType());
            const QMetaEnum e = p.enumerator();
            QStringList names;
            for (int k = 0; k < e.keyCount(); ++k) {
                EXPECT_EQ(e.value(k), k);
                names << QString::fromLatin1(e.key(k));
            }
            EXPECT_EQ(names.join(u' '), QString::fromLatin1(r.enumNames));
        } else {
            EXPECT_FALSE(p.isEnumType());
        }
    }
    const QMetaProperty about = meta->property(meta->indexOfProperty("About"));
    EXPECT_FALSE(about.isStored());
    EXPECT_EQ(design::PublishedEvents(meta).join(u' '), QString::fromLatin1(events));
}

constexpr Row kServer[] = {
    {"DefaultTimeout", Stored},       {"LocalHost", NeverStored},        {"LocalPort", Stored},
    {"SSLAuthenticateClients", Stored}, {"SSLCertStore", Stored},        {"SSLCertStorePassword", Stored},
    {"SSLCertStoreType", Stored},     {"SSLCertSubject", Stored},
};

constexpr const char* kFirewallTypes = "fwNone fwTunnel fwSOCKS4 fwSOCKS5";

constexpr Row kProxy[] = {
    {"DefaultForwardHost", Stored}, {"DefaultForwardPort", Stored}, {"DefaultTimeout", Stored},
    {"FirewallAutoDetect", Stored}, {"FirewallType", Stored, kFirewallTypes}, {"FirewallHost", Stored},
    {"FirewallPassword", Stored},   {"FirewallPort", Stored},       {"FirewallUser", Stored},
    {"LocalHost", NeverStored},     {"LocalPort", Stored},          {"SSLAuthenticateClients", Stored},
    {"SSLCertStore", Stored},       {"SSLCertStorePassword", Stored}, {"SSLCertStoreType", Stored},
    {"SSLCertSubject", Stored},
};

constexpr Row kCertMgr[] = {
    {"CertEffectiveDate", ReadOnly},   {"CertExpirationDate", ReadOnly},   {"CertExtendedKeyUsage", Stored},
    {"CertFingerprint", ReadOnly},     {"CertIssuer", ReadOnly},           {"CertKeyPassword", Stored},
    {"CertPrivateKey", ReadOnly},      {"CertPrivateKeyAvailable", ReadOnly}, {"CertPrivateKeyContainer", ReadOnly},
    {"CertPublicKey", ReadOnly},       {"CertPublicKeyAlgorithm", Stored}, {"CertPublicKeyLength", ReadOnly},
    {"CertSerialNumber", ReadOnly},    {"CertSignatureAlgorithm", ReadOnly}, {"CertSubject", Stored},
    {"CertSubjectAltNames", ReadOnly}, {"CertThumbprintMD5", ReadOnly},    {"CertThumbprintSHA1", ReadOnly},
    {"CertThumbprintSHA256", ReadOnly}, {"CertUsage", Stored},             {"CertUsageFlags", Stored},
    {"CertVersion", ReadOnly},         {"CertStore", Stored},              {"CertStorePassword", Stored},
    {"CertStoreType", Stored},         {"ExportFormat", Stored},           {"ExportPrivateKey", Stored},
};

constexpr Row kClient[] = {
    {"Authorization", Stored},
    {"AuthScheme", Stored, "authBasic authDigest authProprietary authNone authNtlm authNegotiate authOAuth"},
    {"DataFormat", Stored},
    {"FirewallAutoDetect", Stored},
    {"FirewallType", Stored, kFirewallTypes},
    {"FirewallHost", Stored},
    {"FirewallPassword", Stored},
    {"FirewallPort", Stored},
    {"FirewallUser", Stored},
    {"FollowRedirects", Stored, "frNever frAlways frSameScheme"},
    {"LocalHost", NeverStored},
    {"LocalPort", Stored},
    {"Password", Stored},
    // The engine takes 0 to 5 here: the proxy's schemes have no authOAuth.
    {"ProxyAuthScheme", Stored, "authBasic authDigest authProprietary authNone authNtlm authNegotiate"},
    {"ProxyAutoDetect", Stored},
    {"ProxyPassword", Stored},
    {"ProxyPort", Stored},
    {"ProxyServer", Stored},
    {"ProxySSL", Stored, "psAutomatic psAlways psNever psTunnel"},
    {"ProxyUser", Stored},
    {"SSLCertStore", Stored},
    {"SSLCertStorePassword", Stored},
    {"SSLCertStoreType", Stored},
    {"SSLCertSubject", Stored},
    {"Timeout", Stored},
    {"User", Stored},
};

TEST(PublishedSurface, Server)
{
    checkSurface(&TwskWebSocketServer::staticMetaObject, kServer,
                 "OnConnected OnConnectionRequest OnDataIn OnDisconnected OnError OnLog OnReadyToSend "
                 "OnSSLClientAuthentication OnSSLConnectionRequest OnSSLStatus OnWebSocketOpenRequest");
}

TEST(PublishedSurface, Proxy)
{
    checkSurface(&TwskWebSocketProxy::staticMetaObject, kProxy,
                 "OnConnected OnConnectionRequest OnDataIn OnDisconnected OnError OnLog "
                 "OnSSLClientAuthentication OnSSLConnectionRequest OnSSLStatus OnWebSocketOpenRequest");
}

TEST(PublishedSurface, CertMgr)
{
    checkSurface(&TwskCertMgr::staticMetaObject, kCertMgr, "OnCertChain OnCertList OnError OnKeyList OnLog OnStoreList");
}

TEST(PublishedSurface, Client)
{
    checkSurface(&TwskWebSocketClient::staticMetaObject, kClient,
                 "OnConnected OnConnectionStatus OnDataIn OnDisconnected OnError OnHeader OnLog OnReadyToSend "
                 "OnRedirect OnSetCookie OnSSLServerAuthentication OnSSLStatus");
}

}  // namespace
