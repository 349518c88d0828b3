// Set-Cookie headers of the handshake response (RFC 6265 section 5.2).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane::protocol {

struct Cookie {
    std::string name, value, expires, domain, path;
    bool secure = false;
    std::string maxAge;      // as sent, empty when absent
    bool httpOnly = false;
};

// nullopt when the header carries no usable name=value pair. Attribute names
// are matched without regard to case; unknown attributes are ignored; a later
// attribute of the same name wins.
std::optional<Cookie> parseSetCookie(std::string_view headerValue);

} // namespace corvane::protocol
