// SOCKS4 / SOCKS4a client handshake on bytes: Qt offers SOCKS5 only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane::protocol {

// CONNECT request for host:port. An IPv4 literal is sent as SOCKS4; a name is
// sent as SOCKS4a (the proxy resolves it). Empty result: the host cannot be
// reached through SOCKS4 (an IPv6 address).
std::string buildSocks4Request(std::string_view host, uint16_t port, std::string_view userId);

constexpr int kSocks4ReplySize = 8;
// The reply's status: 90 granted, 91 rejected, 92/93 identd trouble; -1 when
// the reply is malformed.
int parseSocks4Reply(const uint8_t reply[kSocks4ReplySize]);
// Text for a refused status.
const char* socks4StatusText(int status);

} // namespace corvane::protocol
