// The client's opening handshake (RFC 6455 section 4): URLs, the upgrade
// request, the check of the server's 101 answer, and redirects.
#pragma once

#include "engine/protocol/permessage_deflate.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/protocol/http_head.h"

namespace corvane::protocol {

// host is kept without the brackets of an IPv6 literal (ready for a socket);
// hostHeader() puts them back.
struct WsUrl { bool secure = false; std::string host; uint16_t port = 0; std::string resource; std::string user, password; };

// ws:// and wss:// (port defaults 80/443, resource "/" if empty, IPv6 [..]
// hosts). User and password come percent-decoded; a fragment is dropped,
// since it never travels in a request.
std::optional<WsUrl> parseWsUrl(std::string_view url);
// absolute (ws, wss, http->ws, https->wss) or relative Location. Credentials
// of the base survive only a redirect on the same host and port.
std::optional<WsUrl> resolveRedirect(const WsUrl& base, std::string_view location);
// "host" or "host:port" (port only when not the scheme's default), IPv6 in brackets.
std::string hostHeader(const WsUrl& url);
// The URL written back as text, without credentials.
std::string formatWsUrl(const WsUrl& url);

std::string makeClientKey(const uint8_t nonce[16]);         // Base64 of the 16 bytes
std::string computeAccept(std::string_view key);            // Base64(SHA-1(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11"))

struct ClientRequest {
    WsUrl url; std::string key;
    std::string origin, subProtocols;    // empty: header omitted
    std::string otherHeaders;            // extra header lines, CRLF or LF separated, sent as given
    std::string cookie;                  // "a=b; c=d" or empty
    std::string authorization;           // full header value ("Basic ...", "Digest ...") or empty
    std::string proxyAuthorization;      // Proxy-Authorization value (plain HTTP proxies) or empty
    std::string extensions;              // Sec-WebSocket-Extensions value or empty
};

// GET <resource> HTTP/1.1, Host (with port when not default), Upgrade,
// Connection, Sec-WebSocket-Key, Sec-WebSocket-Version: 13, then the optional
// headers, then CRLF. CR and LF inside single values are dropped so that no
// value can smuggle in a header line of its own.
std::string buildClientRequest(const ClientRequest& request);

// Empty when the head is a valid 101 upgrade for this key (Upgrade: websocket,
// Connection has "upgrade", Accept matches, no extension we did not ask for);
// else a short reason.
std::string checkUpgradeResponse(const HttpHead& response, std::string_view key);
// As above, and the server's Sec-WebSocket-Protocol, if any, must be one of
// the comma-separated requested sub-protocols.
std::string checkUpgradeResponse(const HttpHead& response, std::string_view key, std::string_view requestedProtocols);

// As above, for a request that offered compressed messages: the server's
// Sec-WebSocket-Extensions must be an answer to that offer; `agreed` is what
// it settled (empty when the server took none).
std::string checkUpgradeResponse(const HttpHead& response, std::string_view key, std::string_view requestedProtocols,
                                 const DeflateSettings& offered, std::optional<DeflateAgreement>& agreed);

// Whether a status code is a redirect the client may follow (301, 302, 303, 307, 308).
bool isRedirectStatus(int status);

} // namespace corvane::protocol
