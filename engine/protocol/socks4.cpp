#include "engine/protocol/socks4.h"

#include <arpa/inet.h>

namespace corvane::protocol {

std::string buildSocks4Request(std::string_view host, uint16_t port, std::string_view userId)
{
    const std::string hostText(host);
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET6, hostText.c_str(), &v6) == 1)
        return {};
    const bool literal = inet_pton(AF_INET, hostText.c_str(), &v4) == 1;

    std::string out;
    out.reserve(9 + userId.size() + host.size() + 1);
    out += char(4);
    out += char(1);
    out += char(port >> 8);
    out += char(port & 0xFF);
    if (literal) {
        const auto* ip = reinterpret_cast<const char*>(&v4.s_addr);  // already in network order
        out.append(ip, 4);
    } else {
        // 0.0.0.x with x != 0 tells the proxy that the name follows.
        out.append("\0\0\0\1", 4);
    }
    out.append(userId);
    out += '\0';
    if (!literal) {
        out.append(host);
        out += '\0';
    }
    return out;
}

int parseSocks4Reply(const uint8_t reply[kSocks4ReplySize])
{
    if (reply[0] != 0 || reply[1] < 90 || reply[1] > 93)
        return -1;
    return reply[1];
}

const char* socks4StatusText(int status)
{
    switch (status) {
    case 90: return "request granted";
    case 91: return "SOCKS4 request rejected or failed";
    case 92: return "SOCKS4 proxy cannot reach the client's identd";
    case 93: return "SOCKS4 identd reported a different user id";
    default: return "malformed SOCKS4 reply";
    }
}

} // namespace corvane::protocol
