// Every property, method and event number of the four package components,
// checked against this test's own list (written from the components' tables,
// independently of the engine headers the components are generated from):
// the engine table each component walks, the numbers its published properties
// use when set and read through the meta system, the Do numbers of its
// methods invoked by name, and its event table.
#include "package_fixture.h"

#include <QMetaMethod>
#include <QMetaProperty>

#include <span>

using namespace CorvaneWS::Package;

namespace {

struct Prop {
    int n;
    const char* name;
    char kind;  // b bool, i int, s string, y bytes
};
struct Method {
    int n;
    const char* name;
    int argc;
};
struct Event {
    int n;
    const char* name;
};

constexpr Prop kServerProps[] = {
    {1, "ConnectionBacklog", 'i'}, {2, "WebSocketConnectionCount", 'i'}, {3, "WebSocketConnectionAcceptData", 'b'},
    {4, "WebSocketConnectionBytesSent", 'i'}, {5, "WebSocketConnectionConnected", 'b'},
    {6, "WebSocketConnectionConnectionId", 's'}, {7, "WebSocketConnectionDataFormat", 'i'},
    {8, "WebSocketConnectionDataToSend", 'y'}, {9, "WebSocketConnectionHost", 's'},
    {10, "WebSocketConnectionLocalAddress", 's'}, {11, "WebSocketConnectionOrigin", 's'},
    {12, "WebSocketConnectionReadyToSend", 'b'}, {13, "WebSocketConnectionRemoteHost", 's'},
    {14, "WebSocketConnectionRemotePort", 'i'}, {15, "WebSocketConnectionRequestHeaders", 's'},
    {16, "WebSocketConnectionRequestURI", 's'}, {17, "WebSocketConnectionSubProtocols", 's'},
    {18, "WebSocketConnectionTimeout", 'i'}, {19, "DefaultTimeout", 'i'}, {20, "Listening", 'b'},
    {21, "LocalHost", 's'}, {22, "LocalPort", 'i'}, {23, "SSLAuthenticateClients", 'b'}, {24, "SSLCertEncoded", 'y'},
    {25, "SSLCertStore", 'y'}, {26, "SSLCertStorePassword", 's'}, {27, "SSLCertStoreType", 'i'},
    {28, "SSLCertSubject", 's'}, {29, "UseSSL", 'b'},
};
constexpr Method kServerMethods[] = {{2, "Config", 1},    {3, "Disconnect", 1}, {4, "DoEvents", 0},
                                     {5, "Interrupt", 1}, {6, "Send", 2},       {7, "SendFile", 2},
                                     {8, "SendText", 2},  {9, "Shutdown", 0}};
constexpr Event kServerEvents[] = {{1, "Connected"},   {2, "ConnectionRequest"},       {3, "DataIn"},
                                   {4, "Disconnected"}, {5, "Error"},                  {6, "Log"},
                                   {7, "ReadyToSend"}, {8, "SSLClientAuthentication"}, {9, "SSLConnectionRequest"},
                                   {10, "SSLStatus"},  {11, "WebSocketOpenRequest"}};

constexpr Prop kProxyProps[] = {
    {1, "ConnectionBacklog", 'i'}, {2, "WebSocketProxyConnectionCount", 'i'},
    {3, "WebSocketProxyConnectionConnected", 'b'}, {4, "WebSocketProxyConnectionConnectionId", 's'},
    {5, "WebSocketProxyConnectionForwardHost", 's'}, {6, "WebSocketProxyConnectionForwardPort", 'i'},
    {7, "WebSocketProxyConnectionHost", 's'}, {8, "WebSocketProxyConnectionLocalAddress", 's'},
    {9, "WebSocketProxyConnectionOrigin", 's'}, {10, "WebSocketProxyConnectionRemoteHost", 's'},
    {11, "WebSocketProxyConnectionRemotePort", 'i'}, {12, "WebSocketProxyConnectionRequestHeaders", 's'},
    {13, "WebSocketProxyConnectionRequestURI", 's'}, {14, "WebSocketProxyConnectionSubProtocols", 's'},
    {15, "WebSocketProxyConnectionTimeout", 'i'}, {16, "DefaultForwardHost", 's'}, {17, "DefaultForwardPort", 'i'},
    {18, "DefaultTimeout", 'i'}, {19, "FirewallAutoDetect", 'b'}, {20, "FirewallType", 'i'},
    {21, "FirewallHost", 's'}, {22, "FirewallPassword", 's'}, {23, "FirewallPort", 'i'}, {24, "FirewallUser", 's'},
    {25, "Listening", 'b'}, {26, "LocalHost", 's'}, {27, "LocalPort", 'i'}, {28, "SSLAuthenticateClients", 'b'},
    {29, "SSLCertEncoded", 'y'}, {30, "SSLCertStore", 'y'}, {31, "SSLCertStorePassword", 's'},
    {32, "SSLCertStoreType", 'i'}, {33, "SSLCertSubject", 's'}, {34, "UseSSL", 'b'},
};
constexpr Method kProxyMethods[] = {{2, "Config", 1}, {3, "Disconnect", 1}, {4, "DoEvents", 0}, {5, "Shutdown", 0}};
constexpr Event kProxyEvents[] = {{1, "Connected"},   {2, "ConnectionRequest"}, {3, "DataIn"},
                                  {4, "Disconnected"}, {5, "Error"},             {6, "Log"},
                                  {7, "SSLClientAuthentication"}, {8, "SSLConnectionRequest"}, {9, "SSLStatus"},
                                  {10, "WebSocketOpenRequest"}};

constexpr Prop kClientProps[] = {
    {1, "AcceptData", 'b'}, {2, "Authorization", 's'}, {3, "AuthScheme", 'i'}, {4, "BytesSent", 'i'},
    {5, "Connected", 'b'}, {6, "CookieCount", 'i'}, {7, "CookieDomain", 's'}, {8, "CookieExpiration", 's'},
    {9, "CookieName", 's'}, {10, "CookiePath", 's'}, {11, "CookieSecure", 'b'}, {12, "CookieValue", 's'},
    {13, "DataFormat", 'i'}, {14, "DataToSend", 'y'}, {15, "FirewallAutoDetect", 'b'}, {16, "FirewallType", 'i'},
    {17, "FirewallHost", 's'}, {18, "FirewallPassword", 's'}, {19, "FirewallPort", 'i'}, {20, "FirewallUser", 's'},
    {21, "FollowRedirects", 'i'}, {22, "LocalHost", 's'}, {23, "LocalPort", 'i'}, {24, "Origin", 's'},
    {25, "OtherHeaders", 's'}, {26, "ParsedHeaderCount", 'i'}, {27, "ParsedHeaderField", 's'},
    {28, "ParsedHeaderValue", 's'}, {29, "Password", 's'}, {30, "ProxyAuthScheme", 'i'}, {31, "ProxyAutoDetect", 'b'},
    {32, "ProxyPassword", 's'}, {33, "ProxyPort", 'i'}, {34, "ProxyServer", 's'}, {35, "ProxySSL", 'i'},
    {36, "ProxyUser", 's'}, {37, "ReadyToSend", 'b'}, {38, "SSLAcceptServerCertEncoded", 'y'},
    {39, "SSLCertEncoded", 'y'}, {40, "SSLCertStore", 'y'}, {41, "SSLCertStorePassword", 's'},
    {42, "SSLCertStoreType", 'i'}, {43, "SSLCertSubject", 's'}, {44, "SSLServerCertEncoded", 'y'},
    {45, "SubProtocols", 's'}, {46, "Timeout", 'i'}, {47, "TransferredHeaders", 's'}, {48, "User", 's'},
};
constexpr Method kClientMethods[] = {{2, "AddCookie", 2}, {3, "Config", 1},     {4, "Connect", 1},
                                     {5, "Disconnect", 0}, {6, "DoEvents", 0},  {7, "Interrupt", 0},
                                     {8, "Ping", 0},       {9, "Reset", 0},     {10, "ResetHeaders", 0},
                                     {11, "Send", 1},      {12, "SendFile", 1}, {13, "SendText", 1}};
constexpr Event kClientEvents[] = {{1, "Connected"}, {2, "ConnectionStatus"}, {3, "DataIn"}, {4, "Disconnected"},
                                   {5, "Error"},     {6, "Header"},           {7, "Log"},    {8, "ReadyToSend"},
                                   {9, "Redirect"},  {10, "SetCookie"},       {11, "SSLServerAuthentication"},
                                   {12, "SSLStatus"}};

constexpr Prop kCertMgrProps[] = {
    {1, "CertEffectiveDate", 's'}, {2, "CertEncoded", 'y'}, {3, "CertExpirationDate", 's'},
    {4, "CertExtendedKeyUsage", 's'}, {5, "CertFingerprint", 's'}, {6, "CertIssuer", 's'},
    {7, "CertKeyPassword", 's'}, {8, "CertPrivateKey", 's'}, {9, "CertPrivateKeyAvailable", 'b'},
    {10, "CertPrivateKeyContainer", 's'}, {11, "CertPublicKey", 's'}, {12, "CertPublicKeyAlgorithm", 's'},
    {13, "CertPublicKeyLength", 'i'}, {14, "CertSerialNumber", 's'}, {15, "CertSignatureAlgorithm", 's'},
    {16, "CertSubject", 's'}, {17, "CertSubjectAltNames", 's'}, {18, "CertThumbprintMD5", 's'},
    {19, "CertThumbprintSHA1", 's'}, {20, "CertThumbprintSHA256", 's'}, {21, "CertUsage", 's'},
    {22, "CertUsageFlags", 'i'}, {23, "CertVersion", 's'}, {24, "CertExtensionCount", 'i'},
    {25, "CertExtensionCritical", 'b'}, {26, "CertExtensionOID", 's'}, {27, "CertExtensionValue", 'y'},
    {28, "CertStore", 'y'}, {29, "CertStorePassword", 's'}, {30, "CertStoreType", 'i'}, {31, "ExportedCert", 'y'},
    {32, "ExportFormat", 's'}, {33, "ExportPrivateKey", 'b'},
};
constexpr Method kCertMgrMethods[] = {
    {2, "Config", 1},         {3, "CreateCertificate", 2},     {4, "CreateKey", 1},
    {5, "DeleteCertificate", 0}, {6, "DeleteKey", 1},          {7, "ExportCertificate", 2},
    {8, "GenerateCSR", 2},    {9, "ImportCertificate", 3},     {10, "ImportSignedCSR", 2},
    {11, "IssueCertificate", 2}, {12, "ListCertificateStores", 0}, {13, "ListKeys", 0},
    {14, "ListMachineStores", 0}, {15, "ListStoreCertificates", 0}, {16, "ReadCertificate", 1},
    {17, "ReadCSR", 1},       {18, "Reset", 0},                {19, "SaveCertificate", 1},
    {20, "ShowCertificateChain", 0}, {21, "SignCSR", 2}};
constexpr Event kCertMgrEvents[] = {{1, "CertChain"}, {2, "CertList"}, {3, "Error"},
                                    {4, "KeyList"},   {5, "Log"},      {6, "StoreList"}};

const Prop* ownProp(std::span<const Prop> own, const char* name)
{
    for (const Prop& p : own)
        if (qstrcmp(p.name, name) == 0) return &p;
    return nullptr;
}

// What a Set of the sample value writes, in the fake's words.
QString expectedSet(const Prop& p)
{
    switch (p.kind) {
    case 'b':
        return QStringLiteral("Set %1 0 1").arg(p.n);
    case 'i':
        return QStringLiteral("Set %1 0 2").arg(p.n);
    case 's':
        return QStringLiteral("Set %1 0 \"é\"").arg(p.n + 10000);
    default:  // the package converts byte texts itself: the ANSI (UTF-8) bytes under n
        return QStringLiteral("Set %1 0 bytes:c3a9 2").arg(p.n);
    }
}

QVariant sample(const QMetaProperty& mp, char kind)
{
    if (kind == 'b') return true;
    if (kind == 'i') {
        const int two = 2;
        return mp.isEnumType() ? QVariant(mp.metaType(), &two) : QVariant(2);
    }
    return QStringLiteral("é");
}

template <class C>
class Numbers : public pkgtest::FakeEngineTest<C> {
protected:
    void checkAll(std::span<const Prop> props, std::span<const Method> methods, std::span<const Event> events)
    {
        checkTable(props);
        checkPublished(props);
        checkMethods(methods);
        checkEvents(events);
    }

    void checkTable(std::span<const Prop> own)
    {
        const auto table = this->component->engineObject().properties();
        ASSERT_EQ(table.size(), own.size());
        for (size_t i = 0; i < own.size(); ++i) {
            SCOPED_TRACE(own[i].name);
            EXPECT_EQ(table[i].number, own[i].n);
            EXPECT_STREQ(table[i].name, own[i].name);
            const char kinds[] = {'b', 'i', 's', 'y'};  // PropType order
            EXPECT_EQ(kinds[int(table[i].type)], own[i].kind);
        }
    }

    void checkPublished(std::span<const Prop> own)
    {
        const QMetaObject* meta = this->component->metaObject();
        int seen = 0;
        for (int i = QObject::staticMetaObject.propertyCount(); i < meta->propertyCount(); ++i) {
            const QMetaProperty mp = meta->property(i);
            if (qstrcmp(mp.name(), "About") == 0) continue;
            SCOPED_TRACE(mp.name());
            const Prop* p = ownProp(own, mp.name());
            ASSERT_NE(p, nullptr);
            ++seen;
            if (mp.isWritable()) {
                this->fake->clear();
                ASSERT_TRUE(mp.write(this->component.get(), sample(mp, p->kind)));
                EXPECT_EQ(this->calls(), QStringList{expectedSet(*p)});
            }
            this->fake->clear();
            (void)mp.read(this->component.get());
            const int number = p->kind == 's' ? p->n + 10000 : p->n;
            EXPECT_EQ(this->calls(), QStringList{QStringLiteral("Get %1 0").arg(number)});
        }
        EXPECT_GT(seen, 0);
    }

    void checkMethods(std::span<const Method> own)
    {
        const QMetaObject* meta = this->component->metaObject();
        for (const Method& m : own) {
            SCOPED_TRACE(m.name);
            int found = -1;
            for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
                if (meta->method(i).name() == m.name) found = i;
            ASSERT_GE(found, 0);
            const QMetaMethod method = meta->method(found);
            ASSERT_EQ(method.parameterCount(), m.argc);
            // The arguments point into these lists: both are filled before any pointer is taken.
            QList<QVariant> values;
            QList<QByteArray> typeNames;
            for (int k = 0; k < method.parameterCount(); ++k) {
                values << QVariant(method.parameterMetaType(k));
                typeNames << method.parameterTypeName(k);
            }
            QGenericArgument args[4];
            for (int k = 0; k < method.parameterCount(); ++k)
                args[k] = QGenericArgument(typeNames[k].constData(), values[k].data());
            QString result;
            this->fake->clear();
            const bool returnsText = method.returnMetaType() == QMetaType::fromType<QString>();
            const bool ok = returnsText ? method.invoke(this->component.get(), Qt::DirectConnection,
                                                        Q_RETURN_ARG(QString, result), args[0], args[1], args[2])
                                        : method.invoke(this->component.get(), Qt::DirectConnection, args[0],
                                                        args[1], args[2]);
            ASSERT_TRUE(ok);
            const QStringList calls = this->calls();
            ASSERT_EQ(calls.size(), 1);
            EXPECT_TRUE(calls[0].startsWith(QStringLiteral("Do %1 %2").arg(10000 + m.n).arg(m.argc))) << calls[0].toStdString();
        }
    }

    void checkEvents(std::span<const Event> own)
    {
        const auto table = C::eventTable();
        ASSERT_EQ(table.size(), own.size());
        for (size_t i = 0; i < own.size(); ++i) {
            EXPECT_EQ(table[i].number, own[i].n);
            EXPECT_STREQ(table[i].name, own[i].name);
        }
        // With no handler assigned an event is not decoded at all.
        void* argv[13] = {};
        int arglen[13] = {};
        this->fake->clear();
        for (const Event& e : own) EXPECT_EQ(this->fake->raise(this->handle, e.n, 12, argv, arglen), 0);
        EXPECT_TRUE(this->calls().isEmpty()) << this->calls().join(u'\n').toStdString();
    }
};

using ServerNumbers = Numbers<TwskWebSocketServer>;
TEST_F(ServerNumbers, MatchTheTestsOwnList) { checkAll(kServerProps, kServerMethods, kServerEvents); }

using ProxyNumbers = Numbers<TwskWebSocketProxy>;
TEST_F(ProxyNumbers, MatchTheTestsOwnList) { checkAll(kProxyProps, kProxyMethods, kProxyEvents); }

using ClientNumbers = Numbers<TwskWebSocketClient>;
TEST_F(ClientNumbers, MatchTheTestsOwnList) { checkAll(kClientProps, kClientMethods, kClientEvents); }

using CertMgrNumbers = Numbers<TwskCertMgr>;
TEST_F(CertMgrNumbers, MatchTheTestsOwnList) { checkAll(kCertMgrProps, kCertMgrMethods, kCertMgrEvents); }

}  // namespace
