/*
 * corvanews20_client.h - numbers of the WebSocket client object
 * (CorvaneWS_WebSocketClient_*). Shapes and offsets: corvanews20_tables.h.
 */
#ifndef CORVANEWS20_CLIENT_H
#define CORVANEWS20_CLIENT_H

#include "corvanews20_tables.h"

namespace corvanews20::client {

namespace prop {
enum : int {
    AcceptData = 1, Authorization, AuthScheme, BytesSent, Connected, CookieCount, CookieDomain,
    CookieExpiration, CookieName, CookiePath, CookieSecure, CookieValue, DataFormat, DataToSend,
    FirewallAutoDetect, FirewallType, FirewallHost, FirewallPassword, FirewallPort, FirewallUser,
    FollowRedirects, LocalHost, LocalPort, Origin, OtherHeaders, ParsedHeaderCount, ParsedHeaderField,
    ParsedHeaderValue, Password, ProxyAuthScheme, ProxyAutoDetect, ProxyPassword, ProxyPort, ProxyServer,
    ProxySSL, ProxyUser, ReadyToSend, SSLAcceptServerCertEncoded, SSLCertEncoded, SSLCertStore,
    SSLCertStorePassword, SSLCertStoreType, SSLCertSubject, SSLServerCertEncoded, SubProtocols, Timeout,
    TransferredHeaders, User,
};
}

namespace method {
enum : int {
    AddCookie = 2, Config, Connect, Disconnect, DoEvents, Interrupt, Ping, Reset, ResetHeaders, Send,
    SendFile, SendText,
};
}

namespace event {
enum : int {
    Connected = 1, ConnectionStatus, DataIn, Disconnected, Error, Header, Log, ReadyToSend, Redirect,
    SetCookie, SSLServerAuthentication, SSLStatus,
};
}

inline constexpr PropertyInfo kProperties[] = {
    {prop::AcceptData, "AcceptData", PropType::Bool, kReadWrite, nullptr},
    {prop::Authorization, "Authorization", PropType::String, kReadWrite, nullptr},
    {prop::AuthScheme, "AuthScheme", PropType::Int, kReadWrite, nullptr},
    {prop::BytesSent, "BytesSent", PropType::Int, kRead, nullptr},
    {prop::Connected, "Connected", PropType::Bool, kReadWrite, nullptr},
    {prop::CookieCount, "CookieCount", PropType::Int, kReadWrite, nullptr},
    {prop::CookieDomain, "CookieDomain", PropType::String, kRead, "CookieIndex"},
    {prop::CookieExpiration, "CookieExpiration", PropType::String, kRead, "CookieIndex"},
    {prop::CookieName, "CookieName", PropType::String, kReadWrite, "CookieIndex"},
    {prop::CookiePath, "CookiePath", PropType::String, kRead, "CookieIndex"},
    {prop::CookieSecure, "CookieSecure", PropType::Bool, kRead, "CookieIndex"},
    {prop::CookieValue, "CookieValue", PropType::String, kReadWrite, "CookieIndex"},
    {prop::DataFormat, "DataFormat", PropType::Int, kReadWrite, nullptr},
    {prop::DataToSend, "DataToSend", PropType::Bytes, kWrite, nullptr},
    {prop::FirewallAutoDetect, "FirewallAutoDetect", PropType::Bool, kReadWrite, nullptr},
    {prop::FirewallType, "FirewallType", PropType::Int, kReadWrite, nullptr},
    {prop::FirewallHost, "FirewallHost", PropType::String, kReadWrite, nullptr},
    {prop::FirewallPassword, "FirewallPassword", PropType::String, kReadWrite, nullptr},
    {prop::FirewallPort, "FirewallPort", PropType::Int, kReadWrite, nullptr},
    {prop::FirewallUser, "FirewallUser", PropType::String, kReadWrite, nullptr},
    {prop::FollowRedirects, "FollowRedirects", PropType::Int, kReadWrite, nullptr},
    {prop::LocalHost, "LocalHost", PropType::String, kReadWrite, nullptr},
    {prop::LocalPort, "LocalPort", PropType::Int, kReadWrite, nullptr},
    {prop::Origin, "Origin", PropType::String, kReadWrite, nullptr},
    {prop::OtherHeaders, "OtherHeaders", PropType::String, kReadWrite, nullptr},
    {prop::ParsedHeaderCount, "ParsedHeaderCount", PropType::Int, kRead, nullptr},
    {prop::ParsedHeaderField, "ParsedHeaderField", PropType::String, kRead, "ParsedHeaderIndex"},
    {prop::ParsedHeaderValue, "ParsedHeaderValue", PropType::String, kRead, "ParsedHeaderIndex"},
    {prop::Password, "Password", PropType::String, kReadWrite, nullptr},
    {prop::ProxyAuthScheme, "ProxyAuthScheme", PropType::Int, kReadWrite, nullptr},
    {prop::ProxyAutoDetect, "ProxyAutoDetect", PropType::Bool, kReadWrite, nullptr},
    {prop::ProxyPassword, "ProxyPassword", PropType::String, kReadWrite, nullptr},
    {prop::ProxyPort, "ProxyPort", PropType::Int, kReadWrite, nullptr},
    {prop::ProxyServer, "ProxyServer", PropType::String, kReadWrite, nullptr},
    {prop::ProxySSL, "ProxySSL", PropType::Int, kReadWrite, nullptr},
    {prop::ProxyUser, "ProxyUser", PropType::String, kReadWrite, nullptr},
    {prop::ReadyToSend, "ReadyToSend", PropType::Bool, kRead, nullptr},
    {prop::SSLAcceptServerCertEncoded, "SSLAcceptServerCertEncoded", PropType::Bytes, kReadWrite, nullptr},
    {prop::SSLCertEncoded, "SSLCertEncoded", PropType::Bytes, kReadWrite, nullptr},
    {prop::SSLCertStore, "SSLCertStore", PropType::Bytes, kReadWrite, nullptr},
    {prop::SSLCertStorePassword, "SSLCertStorePassword", PropType::String, kReadWrite, nullptr},
    {prop::SSLCertStoreType, "SSLCertStoreType", PropType::Int, kReadWrite, nullptr},
    {prop::SSLCertSubject, "SSLCertSubject", PropType::String, kReadWrite, nullptr},
    {prop::SSLServerCertEncoded, "SSLServerCertEncoded", PropType::Bytes, kRead, nullptr},
    {prop::SubProtocols, "SubProtocols", PropType::String, kReadWrite, nullptr},
    {prop::Timeout, "Timeout", PropType::Int, kReadWrite, nullptr},
    {prop::TransferredHeaders, "TransferredHeaders", PropType::String, kRead, nullptr},
    {prop::User, "User", PropType::String, kReadWrite, nullptr},
};

namespace detail {
inline constexpr ArgInfo kAddCookie[] = {{"CookieName", ArgType::WideText}, {"CookieValue", ArgType::WideText}};
inline constexpr ArgInfo kConnect[] = {{"URL", ArgType::WideText}};
inline constexpr ArgInfo kSend[] = {{"Data", ArgType::Bytes}};
inline constexpr ArgInfo kSendFile[] = {{"FileName", ArgType::WideText}};

inline constexpr ArgInfo kStatus[] = {{"StatusCode", ArgType::Int}, {"Description", ArgType::WideText}};
inline constexpr ArgInfo kConnectionStatus[] = {
    {"ConnectionEvent", ArgType::WideText}, {"StatusCode", ArgType::Int}, {"Description", ArgType::WideText}};
inline constexpr ArgInfo kDataIn[] = {{"DataFormat", ArgType::Int}, {"Text", ArgType::Bytes}, {"EOM", ArgType::Bool}};
inline constexpr ArgInfo kError[] = {{"ErrorCode", ArgType::Int}, {"Description", ArgType::WideText}};
inline constexpr ArgInfo kHeader[] = {{"Field", ArgType::WideText}, {"Value", ArgType::WideText}};
inline constexpr ArgInfo kLog[] = {
    {"LogLevel", ArgType::Int}, {"Message", ArgType::WideText}, {"LogType", ArgType::WideText}};
inline constexpr ArgInfo kRedirect[] = {{"Location", ArgType::WideText}, {"Accept", ArgType::Bool, true}};
inline constexpr ArgInfo kSetCookie[] = {
    {"Name", ArgType::WideText}, {"Value", ArgType::WideText}, {"Expires", ArgType::WideText},
    {"Domain", ArgType::WideText}, {"Path", ArgType::WideText}, {"Secure", ArgType::Bool}};
inline constexpr ArgInfo kSSLServerAuthentication[] = {
    {"CertEncoded", ArgType::Bytes}, {"CertSubject", ArgType::WideText}, {"CertIssuer", ArgType::WideText},
    {"Status", ArgType::WideText}, {"Accept", ArgType::Bool, true}};
inline constexpr ArgInfo kSSLStatus[] = {{"Message", ArgType::WideText}};
} // namespace detail

inline constexpr MethodInfo kMethods[] = {
    {method::AddCookie, "AddCookie", detail::kAddCookie},
    {method::Config, "Config", args::kConfig, true},
    {method::Connect, "Connect", detail::kConnect},
    {method::Disconnect, "Disconnect", {}},
    {method::DoEvents, "DoEvents", {}},
    {method::Interrupt, "Interrupt", {}},
    {method::Ping, "Ping", {}},
    {method::Reset, "Reset", {}},
    {method::ResetHeaders, "ResetHeaders", {}},
    {method::Send, "Send", detail::kSend},
    {method::SendFile, "SendFile", detail::kSendFile},
    {method::SendText, "SendText", args::kText},
};

inline constexpr EventInfo kEvents[] = {
    {event::Connected, "Connected", detail::kStatus},
    {event::ConnectionStatus, "ConnectionStatus", detail::kConnectionStatus},
    {event::DataIn, "DataIn", detail::kDataIn},
    {event::Disconnected, "Disconnected", detail::kStatus},
    {event::Error, "Error", detail::kError},
    {event::Header, "Header", detail::kHeader},
    {event::Log, "Log", detail::kLog},
    {event::ReadyToSend, "ReadyToSend", {}},
    {event::Redirect, "Redirect", detail::kRedirect},
    {event::SetCookie, "SetCookie", detail::kSetCookie},
    {event::SSLServerAuthentication, "SSLServerAuthentication", detail::kSSLServerAuthentication},
    {event::SSLStatus, "SSLStatus", detail::kSSLStatus},
};

inline constexpr ObjectTables kTables = {"WebSocketClient", kProperties, kMethods, kEvents};

static_assert(numberedInOrder(kProperties, 1) && numberedInOrder(kMethods, 2) && numberedInOrder(kEvents, 1));

} // namespace corvanews20::client

#endif /* CORVANEWS20_CLIENT_H */
