/*
 * corvanews20_proxy.h - numbers of the WebSocket proxy object
 * (CorvaneWS_WebSocketProxy_*). Shapes and offsets: corvanews20_tables.h.
 * Indexed properties take a connection id as their index.
 */
#ifndef CORVANEWS20_PROXY_H
#define CORVANEWS20_PROXY_H

#include "corvanews20_server.h"
#include "corvanews20_tables.h"

namespace corvanews20::proxy {

namespace prop {
enum : int {
    ConnectionBacklog = 1, WebSocketProxyConnectionCount, WebSocketProxyConnectionConnected,
    WebSocketProxyConnectionConnectionId, WebSocketProxyConnectionForwardHost, WebSocketProxyConnectionForwardPort,
    WebSocketProxyConnectionHost, WebSocketProxyConnectionLocalAddress, WebSocketProxyConnectionOrigin,
    WebSocketProxyConnectionRemoteHost, WebSocketProxyConnectionRemotePort, WebSocketProxyConnectionRequestHeaders,
    WebSocketProxyConnectionRequestURI, WebSocketProxyConnectionSubProtocols, WebSocketProxyConnectionTimeout,
    DefaultForwardHost, DefaultForwardPort, DefaultTimeout, FirewallAutoDetect, FirewallType, FirewallHost,
    FirewallPassword, FirewallPort, FirewallUser, Listening, LocalHost, LocalPort, SSLAuthenticateClients,
    SSLCertEncoded, SSLCertStore, SSLCertStorePassword, SSLCertStoreType, SSLCertSubject, UseSSL,
};
}

namespace method {
enum : int { Config = 2, Disconnect, DoEvents, Shutdown };
}

namespace event {
enum : int {
    Connected = 1, ConnectionRequest, DataIn, Disconnected, Error, Log, SSLClientAuthentication,
    SSLConnectionRequest, SSLStatus, WebSocketOpenRequest,
};
}

inline constexpr const char* kIndexName = "ConnectionId";

inline constexpr PropertyInfo kProperties[] = {
    {prop::ConnectionBacklog, "ConnectionBacklog", PropType::Int, kReadWrite, nullptr},
    {prop::WebSocketProxyConnectionCount, "WebSocketProxyConnectionCount", PropType::Int, kRead, nullptr},
    {prop::WebSocketProxyConnectionConnected, "WebSocketProxyConnectionConnected", PropType::Bool, kReadWrite, kIndexName},
    {prop::WebSocketProxyConnectionConnectionId, "WebSocketProxyConnectionConnectionId", PropType::String, kRead, kIndexName},
    {prop::WebSocketProxyConnectionForwardHost, "WebSocketProxyConnectionForwardHost", PropType::String, kRead, kIndexName},
    {prop::WebSocketProxyConnectionForwardPort, "WebSocketProxyConnectionForwardPort", PropType::Int, kRead, kIndexName},
    {prop::WebSocketProxyConnectionHost, "WebSocketProxyConnectionHost", PropType::String, kRead, kIndexName},
    {prop::WebSocketProxyConnectionLocalAddress, "WebSocketProxyConnectionLocalAddress", PropType::String, kRead, kIndexName},
    {prop::WebSocketProxyConnectionOrigin, "WebSocketProxyConnectionOrigin", PropType::String, kRead, kIndexName},
    {prop::WebSocketProxyConnectionRemoteHost, "WebSocketProxyConnectionRemoteHost", PropType::String, kRead, kIndexName},
    {prop::WebSocketProxyConnectionRemotePort, "WebSocketProxyConnectionRemotePort", PropType::Int, kRead, kIndexName},
    {prop::WebSocketProxyConnectionRequestHeaders, "WebSocketProxyConnectionRequestHeaders", PropType::String, kRead, kIndexName},
    {prop::WebSocketProxyConnectionRequestURI, "WebSocketProxyConnectionRequestURI", PropType::String, kRead, kIndexName},
    {prop::WebSocketProxyConnectionSubProtocols, "WebSocketProxyConnectionSubProtocols", PropType::String, kRead, kIndexName},
    {prop::WebSocketProxyConnectionTimeout, "WebSocketProxyConnectionTimeout", PropType::Int, kReadWrite, kIndexName},
    {prop::DefaultForwardHost, "DefaultForwardHost", PropType::String, kReadWrite, nullptr},
    {prop::DefaultForwardPort, "DefaultForwardPort", PropType::Int, kReadWrite, nullptr},
    {prop::DefaultTimeout, "DefaultTimeout", PropType::Int, kReadWrite, nullptr},
    {prop::FirewallAutoDetect, "FirewallAutoDetect", PropType::Bool, kReadWrite, nullptr},
    {prop::FirewallType, "FirewallType", PropType::Int, kReadWrite, nullptr},
    {prop::FirewallHost, "FirewallHost", PropType::String, kReadWrite, nullptr},
    {prop::FirewallPassword, "FirewallPassword", PropType::String, kReadWrite, nullptr},
    {prop::FirewallPort, "FirewallPort", PropType::Int, kReadWrite, nullptr},
    {prop::FirewallUser, "FirewallUser", PropType::String, kReadWrite, nullptr},
    {prop::Listening, "Listening", PropType::Bool, kReadWrite, nullptr},
    {prop::LocalHost, "LocalHost", PropType::String, kReadWrite, nullptr},
    {prop::LocalPort, "LocalPort", PropType::Int, kReadWrite, nullptr},
    {prop::SSLAuthenticateClients, "SSLAuthenticateClients", PropType::Bool, kReadWrite, nullptr},
    {prop::SSLCertEncoded, "SSLCertEncoded", PropType::Bytes, kReadWrite, nullptr},
    {prop::SSLCertStore, "SSLCertStore", PropType::Bytes, kReadWrite, nullptr},
    {prop::SSLCertStorePassword, "SSLCertStorePassword", PropType::String, kReadWrite, nullptr},
    {prop::SSLCertStoreType, "SSLCertStoreType", PropType::Int, kReadWrite, nullptr},
    {prop::SSLCertSubject, "SSLCertSubject", PropType::String, kReadWrite, nullptr},
    {prop::UseSSL, "UseSSL", PropType::Bool, kReadWrite, nullptr},
};

namespace detail {
// Direction: 0 from the WebSocket client towards the forward host, 1 back.
inline constexpr ArgInfo kDataIn[] = {
    {"ConnectionId", ArgType::Int}, {"Text", ArgType::Bytes}, {"Direction", ArgType::Int}};
// As the server's, and ForwardHost/ForwardPort come preset with the defaults
// (DefaultForwardHost, DefaultForwardPort) and choose this connection's target.
inline constexpr ArgInfo kWebSocketOpenRequest[] = {
    {"ConnectionId", ArgType::Int}, {"RequestURI", ArgType::WideText}, {"Host", ArgType::WideText},
    {"Origin", ArgType::WideText}, {"SubProtocol", ArgType::EventString, true},
    {"SubProtocols", ArgType::WideText}, {"RequestHeaders", ArgType::WideText},
    {"StatusCode", ArgType::Int, true}, {"ResponseHeaders", ArgType::EventString, true},
    {"ForwardHost", ArgType::EventString, true}, {"ForwardPort", ArgType::Int, true}};
} // namespace detail

inline constexpr MethodInfo kMethods[] = {
    {method::Config, "Config", args::kConfig, true},
    {method::Disconnect, "Disconnect", args::kConnectionId},
    {method::DoEvents, "DoEvents", {}},
    {method::Shutdown, "Shutdown", {}},
};

// Events 1, 2 and 4 to 9 have the shapes of the server's namesakes.
inline constexpr EventInfo kEvents[] = {
    {event::Connected, "Connected", args::kConnectionId},
    {event::ConnectionRequest, "ConnectionRequest", server::detail::kConnectionRequest},
    {event::DataIn, "DataIn", detail::kDataIn},
    {event::Disconnected, "Disconnected", server::detail::kDisconnected},
    {event::Error, "Error", server::detail::kError},
    {event::Log, "Log", server::detail::kLog},
    {event::SSLClientAuthentication, "SSLClientAuthentication", server::detail::kSSLClientAuthentication},
    {event::SSLConnectionRequest, "SSLConnectionRequest", server::detail::kSSLConnectionRequest},
    {event::SSLStatus, "SSLStatus", server::detail::kSSLStatus},
    {event::WebSocketOpenRequest, "WebSocketOpenRequest", detail::kWebSocketOpenRequest},
};

inline constexpr ObjectTables kTables = {"WebSocketProxy", kProperties, kMethods, kEvents};

static_assert(numberedInOrder(kProperties, 1) && numberedInOrder(kMethods, 2) && numberedInOrder(kEvents, 1));

} // namespace corvanews20::proxy

#endif /* CORVANEWS20_PROXY_H */
