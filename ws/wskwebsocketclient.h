#pragma once
// TwskWebSocketClient: the RFC 6455 client component. It holds no protocol
// logic: every property access and method call is one numbered call into the
// engine object, and the engine's events come back through one sink that is
// decoded into typed handler calls.

#include "toolkit/component.h"
#include "ws/engine_component.h"
#include "ws/wsk_core.h"

#include <QByteArray>
#include <QString>

#include <span>
#include <tuple>

namespace CorvaneWS {
Q_NAMESPACE

enum TwskAuthSchemes_ { authBasic, authDigest, authProprietary, authNone, authNtlm, authNegotiate, authOAuth };
Q_ENUM_NS(TwskAuthSchemes_)
enum TwskTFollowRedirects_ { frNever, frAlways, frSameScheme };
Q_ENUM_NS(TwskTFollowRedirects_)
enum TwskProxySSLTypes_ { psAutomatic, psAlways, psNever, psTunnel };
Q_ENUM_NS(TwskProxySSLTypes_)

// Integer codes whose non-zero meanings belong to the engine.
using TwskFirewallTypes_ = int;  // 0 to 10
inline constexpr TwskFirewallTypes_ fwNone = 0, fwTunnel = 1, fwSOCKS4 = 2, fwSOCKS5 = 3;
using TwskDataFormats_ = int;     // 0 to 10
using TwskCertStoreTypes_ = int;  // 0 to 99

// ---- event parameters, in the order of the engine's event numbers ----------

struct TwskWebSocketClientConnectedEventParams {
    int StatusCode;
    QString Description;
    using P = TwskWebSocketClientConnectedEventParams;
    static constexpr auto fields()
    {
        return std::tuple{field(&P::StatusCode, FieldKind::Int, 0), field(&P::Description, FieldKind::Wide, 1)};
    }
};

struct TwskWebSocketClientConnectionStatusEventParams {
    QString ConnectionEvent;
    int StatusCode;
    QString Description;
    using P = TwskWebSocketClientConnectionStatusEventParams;
    static constexpr auto fields()
    {
        return std::tuple{field(&P::ConnectionEvent, FieldKind::Wide, 0), field(&P::StatusCode, FieldKind::Int, 1),
                          field(&P::Description, FieldKind::Wide, 2)};
    }
};

struct TwskWebSocketClientDataInEventParams {
    int DataFormat;
    QString Text;
    QByteArray TextB;
    bool EOM;
    using P = TwskWebSocketClientDataInEventParams;
    static constexpr auto fields()
    {
        return std::tuple{field(&P::DataFormat, FieldKind::Int, 0), field(&P::Text, FieldKind::Text, 1),
                          field(&P::TextB, FieldKind::Bytes, 1), field(&P::EOM, FieldKind::Bool, 2)};
    }
};

struct TwskWebSocketClientDisconnectedEventParams {
    int StatusCode;
    QString Description;
    using P = TwskWebSocketClientDisconnectedEventParams;
    static constexpr auto fields()
    {
        return std::tuple{field(&P::StatusCode, FieldKind::Int, 0), field(&P::Description, FieldKind::Wide, 1)};
    }
};

struct TwskWebSocketClientErrorEventParams {
    int ErrorCode;
    QString Description;
    using P = TwskWebSocketClientErrorEventParams;
    static constexpr auto fields()
    {
        return std::tuple{field(&P::ErrorCode, FieldKind::Int, 0), field(&P::Description, FieldKind::Wide, 1)};
    }
};

struct TwskWebSocketClientHeaderEventParams {
    QString Field;
    QString Value;
    using P = TwskWebSocketClientHeaderEventParams;
    static constexpr auto fields()
    {
        return std::tuple{field(&P::Field, FieldKind::Wide, 0), field(&P::Value, FieldKind::Wide, 1)};
    }
};

struct TwskWebSocketClientLogEventParams {
    int LogLevel;
    QString Message;
    QString LogType;
    using P = TwskWebSocketClientLogEventParams;
    static constexpr auto fields()
    {
        return std::tuple{field(&P::LogLevel, FieldKind::Int, 0), field(&P::Message, FieldKind::Wide, 1),
                          field(&P::LogType, FieldKind::Wide, 2)};
    }
};

struct TwskWebSocketClientReadyToSendEventParams {
    static constexpr auto fields() { return std::tuple{}; }
};

struct TwskWebSocketClientRedirectEventParams {
    QString Location;
    bool Accept;
    using P = TwskWebSocketClientRedirectEventParams;
    static constexpr auto fields()
    {
        return std::tuple{field(&P::Location, FieldKind::Wide, 0), field(&P::Accept, FieldKind::Bool, 1, true)};
    }
};

struct TwskWebSocketClientSetCookieEventParams {
    QString Name;
    QString Value;
    QString Expires;
    QString Domain;
    QString Path;
    bool Secure;
    using P = TwskWebSocketClientSetCookieEventParams;
    static constexpr auto fields()
    {
        return std::tuple{field(&P::Name, FieldKind::Wide, 0),    field(&P::Value, FieldKind::Wide, 1),
                          field(&P::Expires, FieldKind::Wide, 2), field(&P::Domain, FieldKind::Wide, 3),
                          field(&P::Path, FieldKind::Wide, 4),    field(&P::Secure, FieldKind::Bool, 5)};
    }
};

struct TwskWebSocketClientSSLServerAuthenticationEventParams {
    QString CertEncoded;
    QByteArray CertEncodedB;
    QString CertSubject;
    QString CertIssuer;
    QString Status;
    bool Accept;
    using P = TwskWebSocketClientSSLServerAuthenticationEventParams;
    static constexpr auto fields()
    {
        return std::tuple{field(&P::CertEncoded, FieldKind::Text, 0), field(&P::CertEncodedB, FieldKind::Bytes, 0),
                          field(&P::CertSubject, FieldKind::Wide, 1), field(&P::CertIssuer, FieldKind::Wide, 2),
                          field(&P::Status, FieldKind::Wide, 3),      field(&P::Accept, FieldKind::Bool, 4, true)};
    }
};

struct TwskWebSocketClientSSLStatusEventParams {
    QString Message;
    using P = TwskWebSocketClientSSLStatusEventParams;
    static constexpr auto fields() { return std::tuple{field(&P::Message, FieldKind::Wide, 0)}; }
};

using TwskWebSocketClientConnectedEvent = EventHandler<TwskWebSocketClientConnectedEventParams>;
using TwskWebSocketClientConnectionStatusEvent = EventHandler<TwskWebSocketClientConnectionStatusEventParams>;
using TwskWebSocketClientDataInEvent = EventHandler<TwskWebSocketClientDataInEventParams>;
using TwskWebSocketClientDisconnectedEvent = EventHandler<TwskWebSocketClientDisconnectedEventParams>;
using TwskWebSocketClientErrorEvent = EventHandler<TwskWebSocketClientErrorEventParams>;
using TwskWebSocketClientHeaderEvent = EventHandler<TwskWebSocketClientHeaderEventParams>;
using TwskWebSocketClientLogEvent = EventHandler<TwskWebSocketClientLogEventParams>;
using TwskWebSocketClientReadyToSendEvent = EventHandler<TwskWebSocketClientReadyToSendEventParams>;
using TwskWebSocketClientRedirectEvent = EventHandler<TwskWebSocketClientRedirectEventParams>;
using TwskWebSocketClientSetCookieEvent = EventHandler<TwskWebSocketClientSetCookieEventParams>;
using TwskWebSocketClientSSLServerAuthenticationEvent = EventHandler<TwskWebSocketClientSSLServerAuthenticationEventParams>;
using TwskWebSocketClientSSLStatusEvent = EventHandler<TwskWebSocketClientSSLStatusEventParams>;

// The client's properties: engine number, name, kind, index name, default.
// Init writes the defaults in this order.
inline constexpr PropertyInfo kWebSocketClientProperties[] = {
    {1, "AcceptData", PropertyKind::Bool, nullptr},
    {2, "Authorization", PropertyKind::Str, nullptr, true, 0, u""},
    {3, "AuthScheme", PropertyKind::Int, nullptr, true, 0},
    {4, "BytesSent", PropertyKind::Int, nullptr},
    {5, "Connected", PropertyKind::Bool, nullptr},
    {6, "CookieCount", PropertyKind::Int, nullptr},
    {7, "CookieDomain", PropertyKind::Str, "CookieIndex"},
    {8, "CookieExpiration", PropertyKind::Str, "CookieIndex"},
    {9, "CookieName", PropertyKind::Str, "CookieIndex"},
    {10, "CookiePath", PropertyKind::Str, "CookieIndex"},
    {11, "CookieSecure", PropertyKind::Bool, "CookieIndex"},
    {12, "CookieValue", PropertyKind::Str, "CookieIndex"},
    {13, "DataFormat", PropertyKind::Int, nullptr, true, 0},
    {14, "DataToSend", PropertyKind::Bytes, nullptr},
    {15, "FirewallAutoDetect", PropertyKind::Bool, nullptr, true, 0},
    {16, "FirewallType", PropertyKind::Int, nullptr, true, 0},
    {17, "FirewallHost", PropertyKind::Str, nullptr, true, 0, u""},
    {18, "FirewallPassword", PropertyKind::Str, nullptr, true, 0, u""},
    {19, "FirewallPort", PropertyKind::Int, nullptr, true, 0},
    {20, "FirewallUser", PropertyKind::Str, nullptr, true, 0, u""},
    {21, "FollowRedirects", PropertyKind::Int, nullptr, true, 0},
    {22, "LocalHost", PropertyKind::Str, nullptr},
    {23, "LocalPort", PropertyKind::Int, nullptr, true, 0},
    {24, "Origin", PropertyKind::Str, nullptr},
    {25, "OtherHeaders", PropertyKind::Str, nullptr},
    {26, "ParsedHeaderCount", PropertyKind::Int, nullptr},
    {27, "ParsedHeaderField", PropertyKind::Str, "ParsedHeaderIndex"},
    {28, "ParsedHeaderValue", PropertyKind::Str, "ParsedHeaderIndex"},
    {29, "Password", PropertyKind::Str, nullptr, true, 0, u""},
    {30, "ProxyAuthScheme", PropertyKind::Int, nullptr, true, 0},
    {31, "ProxyAutoDetect", PropertyKind::Bool, nullptr, true, 0},
    {32, "ProxyPassword", PropertyKind::Str, nullptr, true, 0, u""},
    {33, "ProxyPort", PropertyKind::Int, nullptr, true, 80},
    {34, "ProxyServer", PropertyKind::Str, nullptr, true, 0, u""},
    {35, "ProxySSL", PropertyKind::Int, nullptr, true, 0},
    {36, "ProxyUser", PropertyKind::Str, nullptr, true, 0, u""},
    {37, "ReadyToSend", PropertyKind::Bool, nullptr},
    {38, "SSLAcceptServerCertEncoded", PropertyKind::Bytes, nullptr},
    {39, "SSLCertEncoded", PropertyKind::Bytes, nullptr},
    {40, "SSLCertStore", PropertyKind::Bytes, nullptr, true, 0, u"MY"},
    {41, "SSLCertStorePassword", PropertyKind::Str, nullptr, true, 0, u""},
    {42, "SSLCertStoreType", PropertyKind::Int, nullptr, true, 0},
    {43, "SSLCertSubject", PropertyKind::Str, nullptr, true, 0, u""},
    {44, "SSLServerCertEncoded", PropertyKind::Bytes, nullptr},
    {45, "SubProtocols", PropertyKind::Str, nullptr},
    {46, "Timeout", PropertyKind::Int, nullptr, true, 60},
    {47, "TransferredHeaders", PropertyKind::Str, nullptr},
    {48, "User", PropertyKind::Str, nullptr, true, 0, u""},
};

class TwskWebSocketClient : public toolkit::TComponent {
    Q_OBJECT
    Q_PROPERTY(QString Authorization READ FAuthorization WRITE FSetAuthorization STORED true)
    Q_PROPERTY(CorvaneWS::TwskAuthSchemes_ AuthScheme READ FAuthScheme WRITE FSetAuthScheme STORED true)
    Q_PROPERTY(int DataFormat READ FDataFormat WRITE FSetDataFormat STORED true)
    Q_PROPERTY(bool FirewallAutoDetect READ FFirewallAutoDetect WRITE FSetFirewallAutoDetect STORED true)
    Q_PROPERTY(int FirewallType READ FFirewallType WRITE FSetFirewallType STORED true)
    Q_PROPERTY(QString FirewallHost READ FFirewallHost WRITE FSetFirewallHost STORED true)
    Q_PROPERTY(QString FirewallPassword READ FFirewallPassword WRITE FSetFirewallPassword STORED true)
    Q_PROPERTY(int FirewallPort READ FFirewallPort WRITE FSetFirewallPort STORED true)
    Q_PROPERTY(QString FirewallUser READ FFirewallUser WRITE FSetFirewallUser STORED true)
    Q_PROPERTY(CorvaneWS::TwskTFollowRedirects_ FollowRedirects READ FFollowRedirects WRITE FSetFollowRedirects STORED true)
    Q_PROPERTY(QString LocalHost READ FLocalHost WRITE FSetLocalHost STORED false)
    Q_PROPERTY(int LocalPort READ FLocalPort WRITE FSetLocalPort STORED true)
    Q_PROPERTY(QString Password READ FPassword WRITE FSetPassword STORED true)
    Q_PROPERTY(CorvaneWS::TwskAuthSchemes_ ProxyAuthScheme READ FProxyAuthScheme WRITE FSetProxyAuthScheme STORED true)
    Q_PROPERTY(bool ProxyAutoDetect READ FProxyAutoDetect WRITE FSetProxyAutoDetect STORED true)
    Q_PROPERTY(QString ProxyPassword READ FProxyPassword WRITE FSetProxyPassword STORED true)
    Q_PROPERTY(int ProxyPort READ FProxyPort WRITE FSetProxyPort STORED true)
    Q_PROPERTY(QString ProxyServer READ FProxyServer WRITE FSetProxyServer STORED true)
    Q_PROPERTY(CorvaneWS::TwskProxySSLTypes_ ProxySSL READ FProxySSL WRITE FSetProxySSL STORED true)
    Q_PROPERTY(QString ProxyUser READ FProxyUser WRITE FSetProxyUser STORED true)
    Q_PROPERTY(QString SSLCertStore READ FSSLCertStore WRITE FSetSSLCertStore STORED true)
    Q_PROPERTY(QString SSLCertStorePassword READ FSSLCertStorePassword WRITE FSetSSLCertStorePassword STORED true)
    Q_PROPERTY(int SSLCertStoreType READ FSSLCertStoreType WRITE FSetSSLCertStoreType STORED true)
    Q_PROPERTY(QString SSLCertSubject READ FSSLCertSubject WRITE FSetSSLCertSubject STORED true)
    Q_PROPERTY(int Timeout READ FTimeout WRITE FSetTimeout STORED true)
    Q_PROPERTY(QString User READ FUser WRITE FSetUser STORED true)

public:
    Q_INVOKABLE explicit TwskWebSocketClient(QObject* Owner = nullptr);
    ~TwskWebSocketClient() override;

    // Event slots, in the order of the engine's event numbers 1 to 12.
    TwskWebSocketClientConnectedEvent OnConnected;
    TwskWebSocketClientConnectionStatusEvent OnConnectionStatus;
    TwskWebSocketClientDataInEvent OnDataIn;
    TwskWebSocketClientDisconnectedEvent OnDisconnected;
    TwskWebSocketClientErrorEvent OnError;
    TwskWebSocketClientHeaderEvent OnHeader;
    TwskWebSocketClientLogEvent OnLog;
    TwskWebSocketClientReadyToSendEvent OnReadyToSend;
    TwskWebSocketClientRedirectEvent OnRedirect;
    TwskWebSocketClientSetCookieEvent OnSetCookie;
    TwskWebSocketClientSSLServerAuthenticationEvent OnSSLServerAuthentication;
    TwskWebSocketClientSSLStatusEvent OnSSLStatus;

    // ---- methods (Do 10000 + number) ----
    void AddCookie(const QString& CookieName, const QString& CookieValue);
    QString Config(const QString& ConfigurationString);
    void Connect(const QString& URL);
    void Disconnect();
    void DoEvents();
    void Interrupt();
    void Ping();
    void Reset();
    void ResetHeaders();
    void Send(const QByteArray& Text);
    void SendFile(const QString& FileName);
    void SendText(const QString& Text);

    // ---- property accessors: F<Property> reads, FSet<Property> writes ----
    bool FAcceptData() const { return engine_.getBool(1); }
    void FSetAcceptData(bool value) { engine_.setBool(1, value); }
    QString FAuthorization() const { return engine_.getText(2); }
    void FSetAuthorization(const QString& value) { engine_.setText(2, value); }
    TwskAuthSchemes_ FAuthScheme() const { return TwskAuthSchemes_(engine_.getInt(3)); }
    void FSetAuthScheme(TwskAuthSchemes_ value) { engine_.setInt(3, int(value)); }
    int FBytesSent() const { return engine_.getInt(4); }
    bool FConnected() const { return engine_.getBool(5); }
    void FSetConnected(bool value) { engine_.setBool(5, value); }
    int FCookieCount() const { return engine_.getInt(6); }
    void FSetCookieCount(int value) { engine_.setInt(6, value); }
    QString FCookieDomain(int index) const { return engine_.getText(7, index); }
    QString FCookieExpiration(int index) const { return engine_.getText(8, index); }
    QString FCookieName(int index) const { return engine_.getText(9, index); }
    void FSetCookieName(int index, const QString& value) { engine_.setText(9, value, index); }
    QString FCookiePath(int index) const { return engine_.getText(10, index); }
    bool FCookieSecure(int index) const { return engine_.getBool(11, index); }
    QString FCookieValue(int index) const { return engine_.getText(12, index); }
    void FSetCookieValue(int index, const QString& value) { engine_.setText(12, value, index); }
    int FDataFormat() const { return engine_.getInt(13); }
    void FSetDataFormat(int value) { engine_.setInt(13, value); }
    void FSetDataToSend(const QString& value) { engine_.setBytesText(14, value); }
    void FSetDataToSendB(const QByteArray& value) { engine_.setBytes(14, value); }
    void SetDataToSend(const char* data, int length) { engine_.setBytes(14, data, length); }
    bool FFirewallAutoDetect() const { return engine_.getBool(15); }
    void FSetFirewallAutoDetect(bool value) { engine_.setBool(15, value); }
    int FFirewallType() const { return engine_.getInt(16); }
    void FSetFirewallType(int value) { engine_.setInt(16, value); }
    QString FFirewallHost() const { return engine_.getText(17); }
    void FSetFirewallHost(const QString& value) { engine_.setText(17, value); }
    QString FFirewallPassword() const { return engine_.getText(18); }
    void FSetFirewallPassword(const QString& value) { engine_.setText(18, value); }
    int FFirewallPort() const { return engine_.getInt(19); }
    void FSetFirewallPort(int value) { engine_.setInt(19, value); }
    QString FFirewallUser() const { return engine_.getText(20); }
    void FSetFirewallUser(const QString& value) { engine_.setText(20, value); }
    TwskTFollowRedirects_ FFollowRedirects() const { return TwskTFollowRedirects_(engine_.getInt(21)); }
    void FSetFollowRedirects(TwskTFollowRedirects_ value) { engine_.setInt(21, int(value)); }
    QString FLocalHost() const { return engine_.getText(22); }
    void FSetLocalHost(const QString& value) { engine_.setText(22, value); }
    int FLocalPort() const { return engine_.getInt(23); }
    void FSetLocalPort(int value) { engine_.setInt(23, value); }
    QString FOrigin() const { return engine_.getText(24); }
    void FSetOrigin(const QString& value) { engine_.setText(24, value); }
    QString FOtherHeaders() const { return engine_.getText(25); }
    void FSetOtherHeaders(const QString& value) { engine_.setText(25, value); }
    int FParsedHeaderCount() const { return engine_.getInt(26); }
    QString FParsedHeaderField(int index) const { return engine_.getText(27, index); }
    QString FParsedHeaderValue(int index) const { return engine_.getText(28, index); }
    QString FPassword() const { return engine_.getText(29); }
    void FSetPassword(const QString& value) { engine_.setText(29, value); }
    TwskAuthSchemes_ FProxyAuthScheme() const { return TwskAuthSchemes_(engine_.getInt(30)); }
    void FSetProxyAuthScheme(TwskAuthSchemes_ value) { engine_.setInt(30, int(value)); }
    bool FProxyAutoDetect() const { return engine_.getBool(31); }
    void FSetProxyAutoDetect(bool value) { engine_.setBool(31, value); }
    QString FProxyPassword() const { return engine_.getText(32); }
    void FSetProxyPassword(const QString& value) { engine_.setText(32, value); }
    int FProxyPort() const { return engine_.getInt(33); }
    void FSetProxyPort(int value) { engine_.setInt(33, value); }
    QString FProxyServer() const { return engine_.getText(34); }
    void FSetProxyServer(const QString& value) { engine_.setText(34, value); }
    TwskProxySSLTypes_ FProxySSL() const { return TwskProxySSLTypes_(engine_.getInt(35)); }
    void FSetProxySSL(TwskProxySSLTypes_ value) { engine_.setInt(35, int(value)); }
    QString FProxyUser() const { return engine_.getText(36); }
    void FSetProxyUser(const QString& value) { engine_.setText(36, value); }
    bool FReadyToSend() const { return engine_.getBool(37); }
    QString FSSLAcceptServerCertEncoded() const { return engine_.getBytesText(38); }
    QByteArray FSSLAcceptServerCertEncodedB() const { return engine_.getBytes(38); }
    void FSetSSLAcceptServerCertEncoded(const QString& value) { engine_.setBytesText(38, value); }
    void FSetSSLAcceptServerCertEncodedB(const QByteArray& value) { engine_.setBytes(38, value); }
    void SetSSLAcceptServerCertEncoded(const char* data, int length) { engine_.setBytes(38, data, length); }
    QString FSSLCertEncoded() const { return engine_.getBytesText(39); }
    QByteArray FSSLCertEncodedB() const { return engine_.getBytes(39); }
    void FSetSSLCertEncoded(const QString& value) { engine_.setBytesText(39, value); }
    void FSetSSLCertEncodedB(const QByteArray& value) { engine_.setBytes(39, value); }
    void SetSSLCertEncoded(const char* data, int length) { engine_.setBytes(39, data, length); }
    QString FSSLCertStore() const { return engine_.getBytesText(40); }
    QByteArray FSSLCertStoreB() const { return engine_.getBytes(40); }
    void FSetSSLCertStore(const QString& value) { engine_.setBytesText(40, value); }
    void FSetSSLCertStoreB(const QByteArray& value) { engine_.setBytes(40, value); }
    void SetSSLCertStore(const char* data, int length) { engine_.setBytes(40, data, length); }
    QString FSSLCertStorePassword() const { return engine_.getText(41); }
    void FSetSSLCertStorePassword(const QString& value) { engine_.setText(41, value); }
    int FSSLCertStoreType() const { return engine_.getInt(42); }
    void FSetSSLCertStoreType(int value) { engine_.setInt(42, value); }
    QString FSSLCertSubject() const { return engine_.getText(43); }
    void FSetSSLCertSubject(const QString& value) { engine_.setText(43, value); }
    QString FSSLServerCertEncoded() const { return engine_.getBytesText(44); }
    QByteArray FSSLServerCertEncodedB() const { return engine_.getBytes(44); }
    QString FSubProtocols() const { return engine_.getText(45); }
    void FSetSubProtocols(const QString& value) { engine_.setText(45, value); }
    int FTimeout() const { return engine_.getInt(46); }
    void FSetTimeout(int value) { engine_.setInt(46, value); }
    QString FTransferredHeaders() const { return engine_.getText(47); }
    QString FUser() const { return engine_.getText(48); }
    void FSetUser(const QString& value) { engine_.setText(48, value); }

    // ---- the same properties, Qt style ----
    bool acceptData() const { return FAcceptData(); }
    void setAcceptData(bool value) { FSetAcceptData(value); }
    QString authorization() const { return FAuthorization(); }
    void setAuthorization(const QString& value) { FSetAuthorization(value); }
    TwskAuthSchemes_ authScheme() const { return FAuthScheme(); }
    void setAuthScheme(TwskAuthSchemes_ value) { FSetAuthScheme(value); }
    int bytesSent() const { return FBytesSent(); }
    bool connected() const { return FConnected(); }
    void setConnected(bool value) { FSetConnected(value); }
    int cookieCount() const { return FCookieCount(); }
    void setCookieCount(int value) { FSetCookieCount(value); }
    QString cookieDomain(int index) const { return FCookieDomain(index); }
    QString cookieExpiration(int index) const { return FCookieExpiration(index); }
    QString cookieName(int index) const { return FCookieName(index); }
    void setCookieName(int index, const QString& value) { FSetCookieName(index, value); }
    QString cookiePath(int index) const { return FCookiePath(index); }
    bool cookieSecure(int index) const { return FCookieSecure(index); }
    QString cookieValue(int index) const { return FCookieValue(index); }
    void setCookieValue(int index, const QString& value) { FSetCookieValue(index, value); }
    int dataFormat() const { return FDataFormat(); }
    void setDataFormat(int value) { FSetDataFormat(value); }
    void setDataToSend(const QString& value) { FSetDataToSend(value); }
    void setDataToSendB(const QByteArray& value) { FSetDataToSendB(value); }
    bool firewallAutoDetect() const { return FFirewallAutoDetect(); }
    void setFirewallAutoDetect(bool value) { FSetFirewallAutoDetect(value); }
    int firewallType() const { return FFirewallType(); }
    void setFirewallType(int value) { FSetFirewallType(value); }
    QString firewallHost() const { return FFirewallHost(); }
    void setFirewallHost(const QString& value) { FSetFirewallHost(value); }
    QString firewallPassword() const { return FFirewallPassword(); }
    void setFirewallPassword(const QString& value) { FSetFirewallPassword(value); }
    int firewallPort() const { return FFirewallPort(); }
    void setFirewallPort(int value) { FSetFirewallPort(value); }
    QString firewallUser() const { return FFirewallUser(); }
    void setFirewallUser(const QString& value) { FSetFirewallUser(value); }
    TwskTFollowRedirects_ followRedirects() const { return FFollowRedirects(); }
    void setFollowRedirects(TwskTFollowRedirects_ value) { FSetFollowRedirects(value); }
    QString localHost() const { return FLocalHost(); }
    void setLocalHost(const QString& value) { FSetLocalHost(value); }
    int localPort() const { return FLocalPort(); }
    void setLocalPort(int value) { FSetLocalPort(value); }
    QString origin() const { return FOrigin(); }
    void setOrigin(const QString& value) { FSetOrigin(value); }
    QString otherHeaders() const { return FOtherHeaders(); }
    void setOtherHeaders(const QString& value) { FSetOtherHeaders(value); }
    int parsedHeaderCount() const { return FParsedHeaderCount(); }
    QString parsedHeaderField(int index) const { return FParsedHeaderField(index); }
    QString parsedHeaderValue(int index) const { return FParsedHeaderValue(index); }
    QString password() const { return FPassword(); }
    void setPassword(const QString& value) { FSetPassword(value); }
    TwskAuthSchemes_ proxyAuthScheme() const { return FProxyAuthScheme(); }
    void setProxyAuthScheme(TwskAuthSchemes_ value) { FSetProxyAuthScheme(value); }
    bool proxyAutoDetect() const { return FProxyAutoDetect(); }
    void setProxyAutoDetect(bool value) { FSetProxyAutoDetect(value); }
    QString proxyPassword() const { return FProxyPassword(); }
    void setProxyPassword(const QString& value) { FSetProxyPassword(value); }
    int proxyPort() const { return FProxyPort(); }
    void setProxyPort(int value) { FSetProxyPort(value); }
    QString proxyServer() const { return FProxyServer(); }
    void setProxyServer(const QString& value) { FSetProxyServer(value); }
    TwskProxySSLTypes_ proxySSL() const { return FProxySSL(); }
    void setProxySSL(TwskProxySSLTypes_ value) { FSetProxySSL(value); }
    QString proxyUser() const { return FProxyUser(); }
    void setProxyUser(const QString& value) { FSetProxyUser(value); }
    bool readyToSend() const { return FReadyToSend(); }
    QString sslAcceptServerCertEncoded() const { return FSSLAcceptServerCertEncoded(); }
    QByteArray sslAcceptServerCertEncodedB() const { return FSSLAcceptServerCertEncodedB(); }
    void setSslAcceptServerCertEncoded(const QString& value) { FSetSSLAcceptServerCertEncoded(value); }
    void setSslAcceptServerCertEncodedB(const QByteArray& value) { FSetSSLAcceptServerCertEncodedB(value); }
    QString sslCertEncoded() const { return FSSLCertEncoded(); }
    QByteArray sslCertEncodedB() const { return FSSLCertEncodedB(); }
    void setSslCertEncoded(const QString& value) { FSetSSLCertEncoded(value); }
    void setSslCertEncodedB(const QByteArray& value) { FSetSSLCertEncodedB(value); }
    QString sslCertStore() const { return FSSLCertStore(); }
    QByteArray sslCertStoreB() const { return FSSLCertStoreB(); }
    void setSslCertStore(const QString& value) { FSetSSLCertStore(value); }
    void setSslCertStoreB(const QByteArray& value) { FSetSSLCertStoreB(value); }
    QString sslCertStorePassword() const { return FSSLCertStorePassword(); }
    void setSslCertStorePassword(const QString& value) { FSetSSLCertStorePassword(value); }
    int sslCertStoreType() const { return FSSLCertStoreType(); }
    void setSslCertStoreType(int value) { FSetSSLCertStoreType(value); }
    QString sslCertSubject() const { return FSSLCertSubject(); }
    void setSslCertSubject(const QString& value) { FSetSSLCertSubject(value); }
    QString sslServerCertEncoded() const { return FSSLServerCertEncoded(); }
    QByteArray sslServerCertEncodedB() const { return FSSLServerCertEncodedB(); }
    QString subProtocols() const { return FSubProtocols(); }
    void setSubProtocols(const QString& value) { FSetSubProtocols(value); }
    int timeout() const { return FTimeout(); }
    void setTimeout(int value) { FSetTimeout(value); }
    QString transferredHeaders() const { return FTransferredHeaders(); }
    QString user() const { return FUser(); }
    void setUser(const QString& value) { FSetUser(value); }

    // Plumbing for the event sink.
    const EngineObject& engineObject() const { return engine_; }
    void raiseErrorEvent(int code, const QString& text);
    static std::span<const EventEntry<TwskWebSocketClient>> eventTable();

private:
    static int eventSink(void* user, int event, int argc, void** argv, int* arglen);

    EngineObject engine_{kWebSocketClientProperties};
};

}  // namespace CorvaneWS
