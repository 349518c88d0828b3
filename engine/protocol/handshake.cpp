#include "engine/protocol/handshake.h"

#include <vector>

#include "engine/protocol/crypto_util.h"

namespace corvane::protocol {
namespace {

constexpr std::string_view kAcceptGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::string> percentDecode(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out.push_back(s[i]);
            continue;
        }
        if (i + 2 >= s.size())
            return std::nullopt;
        const int hi = hexValue(s[i + 1]), lo = hexValue(s[i + 2]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    return out;
}

// Request targets go out as ASCII: blanks and non-ASCII bytes are
// percent-encoded, other control characters make the URL unusable.
std::optional<std::string> encodeResource(std::string_view s)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(s.size());
    for (unsigned char c : s) {
        if (c == ' ' || c >= 0x80) {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        } else if (c < 0x20 || c == 0x7F) {
            return std::nullopt;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    if (out.empty() || out.front() != '/')
        out.insert(out.begin(), '/');
    return out;
}

bool isRegNameChar(unsigned char c)
{
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c == '-' || c == '.' || c == '_'
        || c == '~' || c == '%';
}

std::string_view trimBlanks(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

// The scheme of an absolute URL ("ws" of "ws://..."), or empty when relative.
std::string_view schemeOf(std::string_view url)
{
    const size_t colon = url.find(':');
    if (colon == 0 || colon == std::string_view::npos)
        return {};
    for (size_t i = 0; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(url[i]);
        const bool alpha = (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
        if (!alpha && (i == 0 || !((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')))
            return {};
    }
    return url.substr(0, colon);
}

uint16_t defaultPort(bool secure) { return secure ? 443 : 80; }

// RFC 3986 section 5.2.4, on the path only.
std::string removeDotSegments(std::string_view path)
{
    std::vector<std::string_view> parts;
    size_t start = 1;   // path starts with '/'
    bool trailingSlash = false;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string_view::npos)
            slash = path.size();
        const std::string_view seg = path.substr(start, slash - start);
        trailingSlash = false;
        if (seg == "..") {
            if (!parts.empty())
                parts.pop_back();
            trailingSlash = true;
        } else if (seg == ".") {
            trailingSlash = true;
        } else {
            parts.push_back(seg);
        }
        start = slash + 1;
    }
    std::string out;
    for (const std::string_view seg : parts) {
        out.push_back('/');
        out.append(seg);
    }
    if (trailingSlash || out.empty())
        out.push_back('/');
    return out;
}

std::string withoutLineBreaks(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (char c : s)
        if (c != '\r' && c != '\n')
            out.push_back(c);
    return out;
}

} // namespace

std::optional<WsUrl> parseWsUrl(std::string_view url)
{
    url = trimBlanks(url);
    const size_t sep = url.find("://");
    if (sep == std::string_view::npos)
        return std::nullopt;
    WsUrl out;
    const std::string_view scheme = url.substr(0, sep);
    if (equalsIgnoreCase(scheme, "ws"))
        out.secure = false;
    else if (equalsIgnoreCase(scheme, "wss"))
        out.secure = true;
    else
        return std::nullopt;

    std::string_view rest = url.substr(sep + 3);
    if (const size_t hash = rest.find('#'); hash != std::string_view::npos)
        rest = rest.substr(0, hash);
    const size_t authEnd = rest.find_first_of("/?");
    std::string_view authority = rest.substr(0, authEnd);
    const std::string_view resource = authEnd == std::string_view::npos ? std::string_view{} : rest.substr(authEnd);

    if (const size_t at = authority.rfind('@'); at != std::string_view::npos) {
        const std::string_view userinfo = authority.substr(0, at);
        authority = authority.substr(at + 1);
        const size_t colon = userinfo.find(':');
        auto user = percentDecode(userinfo.substr(0, colon));
        auto password = percentDecode(colon == std::string_view::npos ? std::string_view{} : userinfo.substr(colon + 1));
        if (!user || !password)
            return std::nullopt;
        out.user = std::move(*user);
        out.password = std::move(*password);
    }

    std::string_view portText;
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        const std::string_view literal = authority.substr(1, close - 1);
        if (literal.empty() || literal.find(':') == std::string_view::npos)
            return std::nullopt;
        // Hex digits, colons and dots, then an optional zone ("%25eth0").
        const size_t zone = literal.find('%');
        for (size_t i = 0; i < literal.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(literal[i]);
            const bool ok = i < zone ? hexValue(static_cast<char>(c)) >= 0 || c == ':' || c == '.'
                                     : isRegNameChar(c);
            if (!ok)
                return std::nullopt;
        }
        out.host = std::string(literal);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                return std::nullopt;
            portText = after.substr(1);
        }
    } else {
        const size_t colon = authority.find(':');
        const std::string_view host = authority.substr(0, colon);
        for (unsigned char c : host)
            if (!isRegNameChar(c))
                return std::nullopt;
        out.host = std::string(host);
        if (colon != std::string_view::npos)
            portText = authority.substr(colon + 1);
    }
    if (out.host.empty())
        return std::nullopt;

    out.port = defaultPort(out.secure);
    if (!portText.empty()) {
        if (portText.size() > 5)
            return std::nullopt;
        unsigned value = 0;
        for (char c : portText) {
            if (c < '0' || c > '9')
                return std::nullopt;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        if (value == 0 || value > 65535)
            return std::nullopt;
        out.port = static_cast<uint16_t>(value);
    }

    auto encoded = encodeResource(resource);
    if (!encoded)
        return std::nullopt;
    out.resource = std::move(*encoded);
    return out;
}

std::string hostHeader(const WsUrl& url)
{
    std::string out = url.host.find(':') != std::string::npos ? "[" + url.host + "]" : url.host;
    if (url.port != defaultPort(url.secure))
        out += ":" + std::to_string(url.port);
    return out;
}

std::string formatWsUrl(const WsUrl& url)
{
    return std::string(url.secure ? "wss://" : "ws://") + hostHeader(url) + url.resource;
}

std::optional<WsUrl> resolveRedirect(const WsUrl& base, std::string_view location)
{
    location = trimBlanks(location);
    if (location.empty())
        return std::nullopt;
    std::optional<WsUrl> out;
    const std::string_view scheme = schemeOf(location);
    if (!scheme.empty()) {
        const std::string_view rest = location.substr(scheme.size());
        if (equalsIgnoreCase(scheme, "ws") || equalsIgnoreCase(scheme, "http"))
            out = parseWsUrl("ws" + std::string(rest));
        else if (equalsIgnoreCase(scheme, "wss") || equalsIgnoreCase(scheme, "https"))
            out = parseWsUrl("wss" + std::string(rest));
        else
            return std::nullopt;
    } else if (location.substr(0, 2) == "//") {
        out = parseWsUrl(std::string(base.secure ? "wss:" : "ws:") + std::string(location));
    } else {
        if (const size_t hash = location.find('#'); hash != std::string_view::npos)
            location = location.substr(0, hash);
        const std::string_view basePath = std::string_view(base.resource).substr(0, base.resource.find('?'));
        std::string target;
        if (location.empty()) {
            target = base.resource;
        } else if (location.front() == '/') {
            target = std::string(location);
        } else if (location.front() == '?') {
            target = std::string(basePath) + std::string(location);
        } else {
            const size_t slash = basePath.rfind('/');
            target = std::string(basePath.substr(0, slash == std::string_view::npos ? 0 : slash + 1))
                + std::string(location);
        }
        auto encoded = encodeResource(target);
        if (!encoded)
            return std::nullopt;
        const size_t query = encoded->find('?');
        WsUrl url = base;
        url.resource = removeDotSegments(std::string_view(*encoded).substr(0, query))
            + (query == std::string::npos ? std::string() : encoded->substr(query));
        return url;
    }
    if (!out)
        return std::nullopt;
    if (out->user.empty() && out->password.empty() && equalsIgnoreCase(out->host, base.host)
        && out->port == base.port && out->secure == base.secure) {
        out->user = base.user;
        out->password = base.password;
    }
    return out;
}

std::string makeClientKey(const uint8_t nonce[16])
{
    return base64Encode(nonce, 16);
}

std::string computeAccept(std::string_view key)
{
    std::string text(key);
    text.append(kAcceptGuid);
    return base64Encode(hashBytes(HashAlgorithm::Sha1, text));
}

std::string buildClientRequest(const ClientRequest& request)
{
    std::string out;
    out.reserve(256 + request.otherHeaders.size());
    auto line = [&](std::string_view field, std::string_view value) {
        out.append(field);
        out.append(": ");
        out.append(withoutLineBreaks(value));
        out.append("\r\n");
    };
    out.append("GET ");
    out.append(withoutLineBreaks(request.url.resource.empty() ? std::string_view("/") : request.url.resource));
    out.append(" HTTP/1.1\r\n");
    line("Host", hostHeader(request.url));
    line("Upgrade", "websocket");
    line("Connection", "Upgrade");
    line("Sec-WebSocket-Key", request.key);
    line("Sec-WebSocket-Version", "13");
    if (!request.origin.empty())
        line("Origin", request.origin);
    if (!request.subProtocols.empty())
        line("Sec-WebSocket-Protocol", request.subProtocols);
    if (!request.extensions.empty())
        line("Sec-WebSocket-Extensions", request.extensions);
    if (!request.cookie.empty())
        line("Cookie", request.cookie);
    if (!request.authorization.empty())
        line("Authorization", request.authorization);
    if (!request.proxyAuthorization.empty())
        line("Proxy-Authorization", request.proxyAuthorization);
    std::string_view other = request.otherHeaders;
    while (!other.empty()) {
        size_t lf = other.find('\n');
        std::string_view l = other.substr(0, lf);
        if (!l.empty() && l.back() == '\r')
            l.remove_suffix(1);
        if (!l.empty()) {
            out.append(l);
            out.append("\r\n");
        }
        if (lf == std::string_view::npos)
            break;
        other.remove_prefix(lf + 1);
    }
    out.append("\r\n");
    return out;
}

namespace {

std::string checkUpgradeHead(const HttpHead& response, std::string_view key, bool extensionsOffered);

std::string checkSubProtocol(const HttpHead& response, std::string_view requestedProtocols)
{
    const auto chosen = response.find("Sec-WebSocket-Protocol");
    if (chosen && !chosen->empty() && !listHasToken(requestedProtocols, *chosen))
        return "server chose a sub-protocol that was not requested";
    return {};
}

} // namespace

std::string checkUpgradeResponse(const HttpHead& response, std::string_view key)
{
    return checkUpgradeHead(response, key, false);
}

std::string checkUpgradeResponse(const HttpHead& response, std::string_view key, std::string_view requestedProtocols,
                                 const DeflateSettings& offered, std::optional<DeflateAgreement>& agreed)
{
    agreed.reset();
    std::string why = checkUpgradeHead(response, key, offered.enabled);
    if (why.empty())
        why = checkSubProtocol(response, requestedProtocols);
    if (!why.empty() || !offered.enabled)
        return why;
    std::string joined;
    for (std::string_view value : response.findAll("Sec-WebSocket-Extensions")) {
        value = trimOws(value);
        if (value.empty())
            continue;
        if (!joined.empty())
            joined += ", ";
        joined += value;
    }
    agreed = deflateCheckAnswer(joined, offered, why);
    return why;
}

namespace {

std::string checkUpgradeHead(const HttpHead& response, std::string_view key, bool extensionsOffered)
{
    if (response.status != 101)
        return "unexpected HTTP status " + std::to_string(response.status)
            + (response.reason.empty() ? std::string() : " " + response.reason);
    const auto upgrade = response.find("Upgrade");
    if (!upgrade || !equalsIgnoreCase(*upgrade, "websocket"))
        return "missing Upgrade: websocket";
    bool connectionUpgrade = false;
    for (const std::string_view value : response.findAll("Connection"))
        connectionUpgrade = connectionUpgrade || listHasToken(value, "upgrade");
    if (!connectionUpgrade)
        return "missing Connection: upgrade";
    const auto accept = response.find("Sec-WebSocket-Accept");
    if (!accept)
        return "missing Sec-WebSocket-Accept";
    if (*accept != computeAccept(key))
        return "wrong Sec-WebSocket-Accept";
    if (!extensionsOffered)
        for (const std::string_view value : response.findAll("Sec-WebSocket-Extensions"))
            if (!trimOws(value).empty())
                return "server chose an extension that was not requested";
    return {};
}

} // namespace

std::string checkUpgradeResponse(const HttpHead& response, std::string_view key, std::string_view requestedProtocols)
{
    std::string why = checkUpgradeResponse(response, key);
    return why.empty() ? checkSubProtocol(response, requestedProtocols) : why;
}

bool isRedirectStatus(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

} // namespace corvane::protocol
