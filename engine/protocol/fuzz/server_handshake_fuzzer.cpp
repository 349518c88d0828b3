// The server's side of the opening handshake under arbitrary bytes: the
// request head parsed whole and split in two, the upgrade check, and the
// answers built from what the request carried. Byte 0 is the split point.
#include <cstdint>
#include <string>

#include "engine/protocol/handshake.h"
#include "engine/protocol/http_head.h"
#include "engine/protocol/server_handshake.h"

using namespace corvane::protocol;

#define FUZZ_CHECK(cond) do { if (!(cond)) __builtin_trap(); } while (0)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    size_t split = data[0];
    ++data;
    --size;
    if (split > size)
        split = size;

    HttpHeadParser whole(HttpHeadParser::Kind::Request);
    size_t used = 0;
    const auto state = whole.feed(data, size, used);
    FUZZ_CHECK(used <= size);

    HttpHeadParser parts(HttpHeadParser::Kind::Request);
    size_t first = 0, second = 0;
    auto st = parts.feed(data, split, first);
    if (st == HttpHeadParser::State::NeedMore)
        st = parts.feed(data + split, size - split, second);
    FUZZ_CHECK(st == state);
    if (state != HttpHeadParser::State::Done)
        return 0;
    FUZZ_CHECK(first + second == used);

    const UpgradeCheck check = checkUpgradeRequest(whole.head());
    FUZZ_CHECK(check.status == 0 || check.status == 400 || check.status == 426);
    FUZZ_CHECK(check.status == 0 || !check.reason.empty());
    if (check.status != 0) {
        const std::string refusal = buildRefusal(check.status, whole.head().target);
        FUZZ_CHECK(refusal.size() >= 4 && refusal.compare(refusal.size() - 4, 4, "\r\n\r\n") == 0);
        return 0;
    }
    // A valid request: the answer must be a head our own client accepts, with
    // whatever the request offered echoed as the sub-protocol or header lines.
    const std::string& offered = check.request.subProtocols;
    const std::string chosen = offered.substr(0, offered.find(','));
    const std::string answer = buildUpgradeAnswer(check.request.key, chosen, check.request.origin);
    HttpHeadParser response(HttpHeadParser::Kind::Response, 1 << 20);
    size_t answerUsed = 0;
    FUZZ_CHECK(response.feed(reinterpret_cast<const uint8_t*>(answer.data()), answer.size(), answerUsed)
               == HttpHeadParser::State::Done);
    FUZZ_CHECK(answerUsed == answer.size());
    FUZZ_CHECK(checkUpgradeResponse(response.head(), check.request.key).empty());
    return 0;
}
