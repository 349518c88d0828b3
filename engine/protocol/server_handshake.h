// The server's side of the opening handshake (RFC 6455 section 4.2): the
// strict check of a client's upgrade request and the answers to it. Pure
// bytes, no sockets; the server and proxy objects and the fuzzer share it.
#pragma once

#include <string>
#include <string_view>

#include "engine/protocol/http_head.h"

namespace corvane::protocol {

struct UpgradeRequest {
    std::string resource;        // the request target as sent
    std::string host;
    std::string origin;          // empty when absent
    std::string key;             // Sec-WebSocket-Key, as sent
    std::string subProtocols;    // the Sec-WebSocket-Protocol values joined with ", "
    std::string extensions;      // the Sec-WebSocket-Extensions values joined with ", "
};

struct UpgradeCheck {
    int status = 0;              // 0: a valid upgrade; else the HTTP status to refuse with (400, 426)
    std::string reason;          // why it was refused
    UpgradeRequest request;
};

// Method GET, HTTP/1.1, a Host, Upgrade listing "websocket", Connection
// listing "upgrade", a Sec-WebSocket-Key that is the Base64 of 16 bytes and
// Sec-WebSocket-Version 13 (another version is answered 426, everything else
// malformed 400).
UpgradeCheck checkUpgradeRequest(const HttpHead& request);

// Whether `chosen` is one of the comma-separated offered sub-protocols.
bool offersSubProtocol(std::string_view offered, std::string_view chosen);

// 101 Switching Protocols with the accept value, the chosen sub-protocol (empty:
// none) and extra header lines (CRLF or LF separated; CR/LF inside values cannot
// start a header of their own).
std::string buildUpgradeAnswer(std::string_view key, std::string_view subProtocol, std::string_view extraHeaders);

// A refusal: the status line, Connection: close, Content-Length 0, the extra
// header lines, and Sec-WebSocket-Version: 13 for 426.
std::string buildRefusal(int status, std::string_view extraHeaders);

// Standard reason phrase of a status ("Bad Request"); "Error" for unknown ones.
const char* reasonPhrase(int status);

} // namespace corvane::protocol
