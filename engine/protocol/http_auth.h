// HTTP authentication for the opening handshake and for proxies: Basic
// (RFC 7617) and Digest (RFC 7616, also the RFC 2617 form without qop).
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::protocol {

std::string basicAuthorization(std::string_view user, std::string_view password);     // "Basic " + Base64(user:password)

// scheme as sent; param keys lower-case (realm, nonce, qop, opaque, algorithm,
// stale); values unquoted. A token68 credential ("Negotiate abc==") is kept
// under the key "token68".
struct AuthChallenge { std::string scheme; std::map<std::string, std::string> params; };

// WWW-Authenticate / Proxy-Authenticate; one header may hold several
// challenges. Unparseable text ends the list.
std::vector<AuthChallenge> parseAuthChallenges(std::string_view headerValue);

// RFC 7616 MD5 / MD5-sess / SHA-256 / SHA-256-sess, qop=auth or none;
// "Digest ...". Empty when the challenge asks for what is not supported
// (another algorithm, or only qop=auth-int).
std::string digestAuthorization(const AuthChallenge& challenge, std::string_view user, std::string_view password,
                                std::string_view method, std::string_view uri, std::string_view cnonce,
                                unsigned nonceCount);

// The first challenge with this scheme (case-insensitive), or nullptr.
const AuthChallenge* findChallenge(const std::vector<AuthChallenge>& challenges, std::string_view scheme);

} // namespace corvane::protocol
