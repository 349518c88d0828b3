#include "engine/protocol/cookies.h"

#include "engine/protocol/http_head.h"

namespace corvane::protocol {

std::optional<Cookie> parseSetCookie(std::string_view headerValue)
{
    const size_t semi = headerValue.find(';');
    const std::string_view pair = headerValue.substr(0, semi);
    const size_t eq = pair.find('=');
    if (eq == std::string_view::npos)
        return std::nullopt;
    Cookie cookie;
    const std::string_view name = trimOws(pair.substr(0, eq));
    if (!isToken(name))
        return std::nullopt;
    cookie.name = std::string(name);
    cookie.value = std::string(trimOws(pair.substr(eq + 1)));

    std::string_view rest = semi == std::string_view::npos ? std::string_view{} : headerValue.substr(semi + 1);
    while (!rest.empty()) {
        const size_t next = rest.find(';');
        const std::string_view attribute = rest.substr(0, next);
        rest = next == std::string_view::npos ? std::string_view{} : rest.substr(next + 1);
        const size_t aeq = attribute.find('=');
        const std::string_view key = trimOws(attribute.substr(0, aeq));
        const std::string_view value
            = aeq == std::string_view::npos ? std::string_view{} : trimOws(attribute.substr(aeq + 1));
        if (equalsIgnoreCase(key, "expires"))
            cookie.expires = std::string(value);
        else if (equalsIgnoreCase(key, "max-age"))
            cookie.maxAge = std::string(value);
        else if (equalsIgnoreCase(key, "domain"))
            cookie.domain = std::string(value);
        else if (equalsIgnoreCase(key, "path"))
            cookie.path = std::string(value);
        else if (equalsIgnoreCase(key, "secure"))
            cookie.secure = true;
        else if (equalsIgnoreCase(key, "httponly"))
            cookie.httpOnly = true;
    }
    return cookie;
}

} // namespace corvane::protocol
