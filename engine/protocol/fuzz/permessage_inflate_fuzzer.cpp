// The inflating side of compressed messages. Byte 0 picks the window and
// whether context is kept, byte 1 the piece size; the rest is read once as
// two compressed messages from a peer (bounded by a 64 KiB limit), and once
// compressed and inflated again by us, which must give it back exactly.
#include "engine/protocol/permessage_deflate.h"

#include <algorithm>
#include <cstdint>
#include <string>

#define FUZZ_CHECK(cond) do { if (!(cond)) __builtin_trap(); } while (0)

using namespace corvane::protocol;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const int bits = 8 + (data[0] & 7);
    const bool noContext = (data[0] & 8) != 0;
    const size_t piece = size_t(data[1]) + 1;
    data += 2;
    size -= 2;
    constexpr uint64_t kLimit = 64 * 1024;

    MessageInflater peer(bits, noContext, 1000);
    const size_t half = size / 2;
    for (const auto& [from, to] : {std::pair{size_t(0), half}, std::pair{half, size}}) {
        uint64_t seen = 0;
        for (size_t at = from; at < to || at == from; at += piece) {
            const size_t n = std::min(piece, to - at);
            const auto r = peer.inflate(data + at, n, at + n >= to, kLimit,
                                        [&](const uint8_t*, size_t m) { seen += m; FUZZ_CHECK(m <= 1000); });
            FUZZ_CHECK(seen <= kLimit);
            if (r != MessageInflater::Result::Ok)
                return 0;
            if (n == 0)
                break;
        }
    }

    MessageDeflater ours(bits, 8, noContext);
    MessageInflater back(bits, noContext);
    for (int round = 0; round < 2; ++round) {
        std::string compressed;
        FUZZ_CHECK(ours.compress(data, size, true, compressed));
        std::string plain;
        const auto r = back.inflate(reinterpret_cast<const uint8_t*>(compressed.data()), compressed.size(), true, 0,
                                    [&](const uint8_t* p, size_t m) { plain.append(reinterpret_cast<const char*>(p), m); });
        FUZZ_CHECK(r == MessageInflater::Result::Ok);
        FUZZ_CHECK(plain == std::string(reinterpret_cast<const char*>(data), size));
    }
    return 0;
}
