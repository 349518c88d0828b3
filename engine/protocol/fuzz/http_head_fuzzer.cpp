// HTTP head parser and the code that reads header values (upgrade check,
// cookies, authentication challenges, redirects) under arbitrary bytes. Byte
// 0 picks request or response and the size limit, byte 1 the split point.
#include <cstdint>
#include <string>

#include "engine/protocol/cookies.h"
#include "engine/protocol/handshake.h"
#include "engine/protocol/http_auth.h"
#include "engine/protocol/http_head.h"

using namespace corvane::protocol;

#define FUZZ_CHECK(cond) do { if (!(cond)) __builtin_trap(); } while (0)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const auto kind = (data[0] & 1) ? HttpHeadParser::Kind::Request : HttpHeadParser::Kind::Response;
    const size_t limit = (data[0] & 2) ? 64 : 16 * 1024;
    size_t split = data[1];
    data += 2;
    size -= 2;
    if (split > size)
        split = size;

    HttpHeadParser whole(kind, limit);
    size_t wholeUsed = 0;
    const auto wholeState = whole.feed(data, size, wholeUsed);
    FUZZ_CHECK(wholeUsed <= size);
    FUZZ_CHECK(wholeUsed <= limit);
    if (wholeState == HttpHeadParser::State::NeedMore)
        FUZZ_CHECK(wholeUsed == size);
    if (wholeState == HttpHeadParser::State::Error)
        FUZZ_CHECK(!whole.error().empty());

    HttpHeadParser pieces(kind, limit);
    size_t used1 = 0, used2 = 0;
    auto state = pieces.feed(data, split, used1);
    if (state == HttpHeadParser::State::NeedMore)
        state = pieces.feed(data + split, size - split, used2);
    FUZZ_CHECK(state == wholeState);
    if (state == HttpHeadParser::State::Done)
        FUZZ_CHECK(used1 + used2 == wholeUsed);

    if (wholeState != HttpHeadParser::State::Done)
        return 0;
    const HttpHead& head = whole.head();
    FUZZ_CHECK(head.headers.size() == pieces.head().headers.size());
    (void)checkUpgradeResponse(head, "dGhlIHNhbXBsZSBub25jZQ==", "chat");
    const WsUrl base = *parseWsUrl("ws://user:pw@example.com:8080/a/b?c");
    for (const HttpHeader& h : head.headers) {
        FUZZ_CHECK(isToken(h.field));
        FUZZ_CHECK(head.find(h.field).has_value());
        if (auto cookie = parseSetCookie(h.value))
            FUZZ_CHECK(!cookie->name.empty());
        for (const AuthChallenge& c : parseAuthChallenges(h.value)) {
            FUZZ_CHECK(!c.scheme.empty());
            (void)digestAuthorization(c, "user", "password", "GET", "/a", "cnonce", 1);
        }
        if (auto url = resolveRedirect(base, h.value)) {
            FUZZ_CHECK(!url->host.empty() && url->port != 0);
            FUZZ_CHECK(!url->resource.empty() && url->resource.front() == '/');
            // What the client would send next must itself parse as a request.
            ClientRequest req;
            req.url = *url;
            req.key = "k";
            req.origin = h.value;
            const std::string text = buildClientRequest(req);
            HttpHeadParser again(HttpHeadParser::Kind::Request, 1 << 20);
            size_t used = 0;
            FUZZ_CHECK(again.feed(reinterpret_cast<const uint8_t*>(text.data()), text.size(), used)
                       == HttpHeadParser::State::Done);
        }
    }
    return 0;
}
