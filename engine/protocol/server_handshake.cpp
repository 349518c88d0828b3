#include "engine/protocol/server_handshake.h"

#include "engine/protocol/crypto_util.h"
#include "engine/protocol/handshake.h"

namespace corvane::protocol {

namespace {

UpgradeCheck refuse(int status, std::string why)
{
    UpgradeCheck c;
    c.status = status;
    c.reason = std::move(why);
    return c;
}

// Header lines supplied by a host: kept line by line, empty lines dropped,
// and a line that is not "name: value" with a token name is left out, so a
// handler's text can never end the head early or inject a status line.
void appendHeaderLines(std::string& out, std::string_view lines)
{
    while (!lines.empty()) {
        const size_t lf = lines.find('\n');
        std::string_view l = lines.substr(0, lf);
        if (!l.empty() && l.back() == '\r')
            l.remove_suffix(1);
        const size_t colon = l.find(':');
        if (colon != std::string_view::npos && colon > 0 && isToken(l.substr(0, colon))
            && l.find('\r') == std::string_view::npos) {
            out.append(l);
            out.append("\r\n");
        }
        if (lf == std::string_view::npos)
            break;
        lines.remove_prefix(lf + 1);
    }
}

} // namespace

UpgradeCheck checkUpgradeRequest(const HttpHead& head)
{
    if (head.method != "GET")
        return refuse(400, "method " + head.method + " is not GET");
    if (head.version != "HTTP/1.1")
        return refuse(400, "version " + head.version + " is not HTTP/1.1");
    if (head.target.empty() || (head.target[0] != '/' && head.target.find("://") == std::string::npos))
        return refuse(400, "bad request target");
    const auto host = head.find("Host");
    if (!host || host->empty() || head.findAll("Host").size() != 1)
        return refuse(400, "missing or repeated Host");
    bool upgrade = false;
    for (std::string_view v : head.findAll("Upgrade"))
        upgrade = upgrade || listHasToken(v, "websocket");
    if (!upgrade)
        return refuse(400, "missing Upgrade: websocket");
    bool connection = false;
    for (std::string_view v : head.findAll("Connection"))
        connection = connection || listHasToken(v, "upgrade");
    if (!connection)
        return refuse(400, "missing Connection: upgrade");
    const auto version = head.findAll("Sec-WebSocket-Version");
    if (version.size() != 1)
        return refuse(version.empty() ? 426 : 400, "missing or repeated Sec-WebSocket-Version");
    if (version.front() != "13")
        return refuse(426, "unsupported Sec-WebSocket-Version " + std::string(version.front()));
    const auto keys = head.findAll("Sec-WebSocket-Key");
    if (keys.size() != 1)
        return refuse(400, "missing or repeated Sec-WebSocket-Key");
    const std::optional<std::string> raw = base64Decode(keys.front());
    if (!raw || raw->size() != 16)
        return refuse(400, "Sec-WebSocket-Key is not 16 bytes in Base64");

    UpgradeCheck c;
    c.request.resource = head.target;
    c.request.host = std::string(*host);
    if (const auto origin = head.find("Origin"))
        c.request.origin = std::string(*origin);
    c.request.key = std::string(keys.front());
    for (std::string_view v : head.findAll("Sec-WebSocket-Protocol")) {
        v = trimOws(v);
        if (v.empty())
            continue;
        if (!c.request.subProtocols.empty())
            c.request.subProtocols.append(", ");
        c.request.subProtocols.append(v);
    }
    for (std::string_view v : head.findAll("Sec-WebSocket-Extensions")) {
        v = trimOws(v);
        if (v.empty())
            continue;
        if (!c.request.extensions.empty())
            c.request.extensions.append(", ");
        c.request.extensions.append(v);
    }
    return c;
}

bool offersSubProtocol(std::string_view offered, std::string_view chosen)
{
    chosen = trimOws(chosen);
    if (chosen.empty() || !isToken(chosen))
        return false;
    while (!offered.empty()) {
        const size_t comma = offered.find(',');
        if (trimOws(offered.substr(0, comma)) == chosen)
            return true;
        if (comma == std::string_view::npos)
            break;
        offered.remove_prefix(comma + 1);
    }
    return false;
}

std::string buildUpgradeAnswer(std::string_view key, std::string_view subProtocol, std::string_view extraHeaders)
{
    std::string out = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n";
    out.append("Sec-WebSocket-Accept: ");
    out.append(computeAccept(key));
    out.append("\r\n");
    subProtocol = trimOws(subProtocol);
    if (!subProtocol.empty() && isToken(subProtocol)) {
        out.append("Sec-WebSocket-Protocol: ");
        out.append(subProtocol);
        out.append("\r\n");
    }
    appendHeaderLines(out, extraHeaders);
    out.append("\r\n");
    return out;
}

std::string buildRefusal(int status, std::string_view extraHeaders)
{
    if (status < 100 || status > 999)
        status = 400;
    std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status) + "\r\n";
    if (status == 426)
        out.append("Sec-WebSocket-Version: 13\r\n");
    out.append("Connection: close\r\nContent-Length: 0\r\n");
    appendHeaderLines(out, extraHeaders);
    out.append("\r\n");
    return out;
}

const char* reasonPhrase(int status)
{
    switch (status) {
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 426: return "Upgrade Required";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Error";
    }
}

} // namespace corvane::protocol
