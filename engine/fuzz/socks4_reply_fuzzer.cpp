// The SOCKS4 reply parser and the request builder. Bytes 0-7 are the proxy's
// reply; bytes 8-9 the port; the rest, split at the first zero byte, the host
// and the user id.
#include "engine/protocol/socks4.h"

#include <cstdint>
#include <string>
#include <string_view>

#define FUZZ_CHECK(cond) do { if (!(cond)) __builtin_trap(); } while (0)

using namespace corvane::protocol;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < kSocks4ReplySize) return 0;
    const int status = parseSocks4Reply(data);
    FUZZ_CHECK(status == -1 || (status >= 90 && status <= 93));
    FUZZ_CHECK(status == -1 || (data[0] == 0 && data[1] == status));
    FUZZ_CHECK(*socks4StatusText(status) != 0);
    FUZZ_CHECK(*socks4StatusText(data[1]) != 0);

    if (size < kSocks4ReplySize + 2) return 0;
    const uint16_t port = uint16_t(data[8] << 8 | data[9]);
    const std::string_view rest(reinterpret_cast<const char*>(data + 10), size - 10);
    const size_t zero = rest.find('\0');
    const std::string_view host = rest.substr(0, zero);
    const std::string_view user = zero == rest.npos ? std::string_view() : rest.substr(zero + 1);
    const std::string request = buildSocks4Request(host, port, user);
    if (request.empty()) return 0;  // an IPv6 address: SOCKS4 cannot carry it
    FUZZ_CHECK(request.size() >= 9);
    FUZZ_CHECK(request[0] == 4 && request[1] == 1);
    FUZZ_CHECK(uint8_t(request[2]) == port >> 8 && uint8_t(request[3]) == (port & 0xFF));
    FUZZ_CHECK(request.back() == '\0');
    return 0;
}
