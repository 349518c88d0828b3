/*
 * corvanews20_server.h - numbers of the WebSocket server object
 * (CorvaneWS_WebSocketServer_*). Shapes and offsets: corvanews20_tables.h.
 * Indexed properties take a connection id as their index.
 */
#ifndef CORVANEWS20_SERVER_H
#define CORVANEWS20_SERVER_H

#include "corvanews20_tables.h"

namespace corvanews20::server {

namespace prop {
enum : int {
    ConnectionBacklog = 1, WebSocketConnectionCount, WebSocketConnectionAcceptData, WebSocketConnectionBytesSent,
    WebSocketConnectionConnected, WebSocketConnectionConnectionId, WebSocketConnectionDataFormat,
    WebSocketConnectionDataToSend, WebSocketConnectionHost, WebSocketConnectionLocalAddress,
    WebSocketConnectionOrigin, WebSocketConnectionReadyToSend, WebSocketConnectionRemoteHost,
    WebSocketConnectionRemotePort, WebSocketConnectionRequestHeaders, WebSocketConnectionRequestURI,
    WebSocketConnectionSubProtocols, WebSocketConnectionTimeout, DefaultTimeout, Listening, LocalHost, LocalPort,
    SSLAuthenticateClients, SSLCertEncoded, SSLCertStore, SSLCertStorePassword, SSLCertStoreType, SSLCertSubject,
    UseSSL,
};
}

namespace method {
enum : int { Config = 2, Disconnect, DoEvents, Interrupt, Send, SendFile, SendText, Shutdown };
}

namespace event {
enum : int {
    Connected = 1, ConnectionRequest, DataIn, Disconnected, Error, Log, ReadyToSend, SSLClientAuthentication,
    SSLConnectionRequest, SSLStatus, WebSocketOpenRequest,
};
}

inline constexpr const char* kIndexName = "ConnectionId";

inline constexpr PropertyInfo kProperties[] = {
    {prop::ConnectionBacklog, "ConnectionBacklog", PropType::Int, kReadWrite, nullptr},
    {prop::WebSocketConnectionCount, "WebSocketConnectionCount", PropType::Int, kRead, nullptr},
    {prop::WebSocketConnectionAcceptData, "WebSocketConnectionAcceptData", PropType::Bool, kReadWrite, kIndexName},
    {prop::WebSocketConnectionBytesSent, "WebSocketConnectionBytesSent", PropType::Int, kRead, kIndexName},
    {prop::WebSocketConnectionConnected, "WebSocketConnectionConnected", PropType::Bool, kReadWrite, kIndexName},
    {prop::WebSocketConnectionConnectionId, "WebSocketConnectionConnectionId", PropType::String, kRead, kIndexName},
    {prop::WebSocketConnectionDataFormat, "WebSocketConnectionDataFormat", PropType::Int, kReadWrite, kIndexName},
    {prop::WebSocketConnectionDataToSend, "WebSocketConnectionDataToSend", PropType::Bytes, kWrite, kIndexName},
    {prop::WebSocketConnectionHost, "WebSocketConnectionHost", PropType::String, kRead, kIndexName},
    {prop::WebSocketConnectionLocalAddress, "WebSocketConnectionLocalAddress", PropType::String, kRead, kIndexName},
    {prop::WebSocketConnectionOrigin, "WebSocketConnectionOrigin", PropType::String, kRead, kIndexName},
    {prop::WebSocketConnectionReadyToSend, "WebSocketConnectionReadyToSend", PropType::Bool, kRead, kIndexName},
    {prop::WebSocketConnectionRemoteHost, "WebSocketConnectionRemoteHost", PropType::String, kRead, kIndexName},
    {prop::WebSocketConnectionRemotePort, "WebSocketConnectionRemotePort", PropType::Int, kRead, kIndexName},
    {prop::WebSocketConnectionRequestHeaders, "WebSocketConnectionRequestHeaders", PropType::String, kRead, kIndexName},
    {prop::WebSocketConnectionRequestURI, "WebSocketConnectionRequestURI", PropType::String, kRead, kIndexName},
    {prop::WebSocketConnectionSubProtocols, "WebSocketConnectionSubProtocols", PropType::String, kRead, kIndexName},
    {prop::WebSocketConnectionTimeout, "WebSocketConnectionTimeout", PropType::Int, kReadWrite, kIndexName},
    {prop::DefaultTimeout, "DefaultTimeout", PropType::Int, kReadWrite, nullptr},
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
inline constexpr ArgInfo kSend[] = {{"ConnectionId", ArgType::Int}, {"Data", ArgType::Bytes}};
inline constexpr ArgInfo kSendFile[] = {{"ConnectionId", ArgType::Int}, {"FileName", ArgType::WideText}};
inline constexpr ArgInfo kSendText[] = {{"ConnectionId", ArgType::Int}, {"Text", ArgType::WideText}};

inline constexpr ArgInfo kConnectionRequest[] = {
    {"Address", ArgType::WideText}, {"Port", ArgType::Int}, {"Accept", ArgType::Bool, true}};
inline constexpr ArgInfo kDataIn[] = {
    {"ConnectionId", ArgType::Int}, {"DataFormat", ArgType::Int}, {"Text", ArgType::Bytes}, {"EOM", ArgType::Bool}};
inline constexpr ArgInfo kDisconnected[] = {
    {"ConnectionId", ArgType::Int}, {"StatusCode", ArgType::Int}, {"Description", ArgType::WideText}};
inline constexpr ArgInfo kError[] = {
    {"ConnectionId", ArgType::Int}, {"ErrorCode", ArgType::Int}, {"Description", ArgType::WideText}};
inline constexpr ArgInfo kLog[] = {
    {"ConnectionId", ArgType::Int}, {"LogLevel", ArgType::Int}, {"Message", ArgType::WideText},
    {"LogType", ArgType::WideText}};
inline constexpr ArgInfo kSSLClientAuthentication[] = {
    {"ConnectionId", ArgType::Int}, {"CertEncoded", ArgType::Bytes}, {"CertSubject", ArgType::WideText},
    {"CertIssuer", ArgType::WideText}, {"Status", ArgType::WideText}, {"Accept", ArgType::Bool, true}};
// The certificate for this connection may be chosen here: the store fields come
// preset with the object's SSLCertStore* properties.
inline constexpr ArgInfo kSSLConnectionRequest[] = {
    {"ConnectionId", ArgType::Int}, {"SupportedCipherSuites", ArgType::WideText},
    {"SupportedSignatureAlgs", ArgType::WideText}, {"CertStoreType", ArgType::Int, true},
    {"CertStore", ArgType::EventString, true}, {"CertPassword", ArgType::EventString, true},
    {"CertSubject", ArgType::EventString, true}};
inline constexpr ArgInfo kSSLStatus[] = {{"ConnectionId", ArgType::Int}, {"Message", ArgType::WideText}};
// SubProtocol comes preset empty (none chosen) and takes one of the requested
// SubProtocols; StatusCode comes preset 101 and refuses the upgrade when set
// to an HTTP error status; ResponseHeaders are extra header lines of the answer.
inline constexpr ArgInfo kWebSocketOpenRequest[] = {
    {"ConnectionId", ArgType::Int}, {"RequestURI", ArgType::WideText}, {"Host", ArgType::WideText},
    {"Origin", ArgType::WideText}, {"SubProtocol", ArgType::EventString, true},
    {"SubProtocols", ArgType::WideText}, {"RequestHeaders", ArgType::WideText},
    {"StatusCode", ArgType::Int, true}, {"ResponseHeaders", ArgType::EventString, true}};
} // namespace detail

inline constexpr MethodInfo kMethods[] = {
    {method::Config, "Config", args::kConfig, true},
    {method::Disconnect, "Disconnect", args::kConnectionId},
    {method::DoEvents, "DoEvents", {}},
    {method::Interrupt, "Interrupt", args::kConnectionId},
    {method::Send, "Send", detail::kSend},
    {method::SendFile, "SendFile", detail::kSendFile},
    {method::SendText, "SendText", detail::kSendText},
    {method::Shutdown, "Shutdown", {}},
};

inline constexpr EventInfo kEvents[] = {
    {event::Connected, "Connected", args::kConnectionId},
    {event::ConnectionRequest, "ConnectionRequest", detail::kConnectionRequest},
    {event::DataIn, "DataIn", detail::kDataIn},
    {event::Disconnected, "Disconnected", detail::kDisconnected},
    {event::Error, "Error", detail::kError},
    {event::Log, "Log", detail::kLog},
    {event::ReadyToSend, "ReadyToSend", args::kConnectionId},
    {event::SSLClientAuthentication, "SSLClientAuthentication", detail::kSSLClientAuthentication},
    {event::SSLConnectionRequest, "SSLConnectionRequest", detail::kSSLConnectionRequest},
    {event::SSLStatus, "SSLStatus", detail::kSSLStatus},
    {event::WebSocketOpenRequest, "WebSocketOpenRequest", detail::kWebSocketOpenRequest},
};

inline constexpr ObjectTables kTables = {"WebSocketServer", kProperties, kMethods, kEvents};

static_assert(numberedInOrder(kProperties, 1) && numberedInOrder(kMethods, 2) && numberedInOrder(kEvents, 1));

} // namespace corvanews20::server

#endif /* CORVANEWS20_SERVER_H */
