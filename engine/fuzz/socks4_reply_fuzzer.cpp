// The SOCKS4 reply parser and the request builder. Bytes 0-7 are the proxy's
// reply; bytes 8-9 the port; the rest, split at the first zero byte, the host
// and the user id.
#include "engine/src/socks4.h"

#include <cstdint>

#define FUZZ_CHECK(cond) do { if (!(cond)) __builtin_trap(); } while (0)

using namespace corvane::engine;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < kSocks4ReplySize) return 0;
    const int status = parseSocks4Reply(data);
    FUZZ_CHECK(status == -1 || (status >= 90 && status <= 93));
    FUZZ_CHECK(status == -1 || (data[0] == 0 && data[1] == status));
    FUZZ_CHECK(!socks4StatusText(status).isEmpty());
    FUZZ_CHECK(!socks4StatusText(data[1]).isEmpty());

    if (size < kSocks4ReplySize + 2) return 0;
    const uint16_t port = uint16_t(data[8] << 8 | data[9]);
    const QByteArray rest(reinterpret_cast<const char*>(data + 10), qsizetype(size - 10));
    const qsizetype zero = rest.indexOf('\0');
    const QString host = QString::fromUtf8(zero < 0 ? rest : rest.left(zero));
    const QString user = zero < 0 ? QString() : QString::fromUtf8(rest.mid(zero + 1));
    const QByteArray request = buildSocks4Request(host, port, user);
    if (request.isEmpty()) return 0;  // an IPv6 address: SOCKS4 cannot carry it
    FUZZ_CHECK(request.size() >= 9);
    FUZZ_CHECK(request[0] == 4 && request[1] == 1);
    FUZZ_CHECK(uint8_t(request[2]) == port >> 8 && uint8_t(request[3]) == (port & 0xFF));
    FUZZ_CHECK(request.endsWith('\0'));
    return 0;
}
