#include <gtest/gtest.h>

#include "engine/protocol/frame_codec.h"
#include "engine/protocol/handshake.h"
#include "engine/protocol/server_handshake.h"

#include <cstring>
#include <string>
#include <vector>

namespace corvane::protocol {
namespace {

const std::string kGood =
    "GET /chat?room=1 HTTP/1.1\r\n"
    "Host: server.example.com\r\n"
    "Upgrade: websocket\r\n"
    "Connection: keep-alive, Upgrade\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
    "Origin: http://example.com\r\n"
    "Sec-WebSocket-Protocol: chat, superchat\r\n"
    "Sec-WebSocket-Protocol: v2\r\n"
    "Sec-WebSocket-Version: 13\r\n"
    "\r\n";

// Feeds the text in pieces cut at `cut` and returns the parser's end state.
HttpHeadParser::State feedSplit(HttpHeadParser& p, const std::string& text, size_t cut)
{
    size_t used = 0;
    HttpHeadParser::State st = p.feed(reinterpret_cast<const uint8_t*>(text.data()), cut, used);
    if (st != HttpHeadParser::State::NeedMore)
        return st;
    EXPECT_EQ(used, cut);
    return p.feed(reinterpret_cast<const uint8_t*>(text.data()) + cut, text.size() - cut, used);
}

UpgradeCheck check(const std::string& text)
{
    HttpHeadParser p(HttpHeadParser::Kind::Request);
    size_t used = 0;
    const auto st = p.feed(reinterpret_cast<const uint8_t*>(text.data()), text.size(), used);
    if (st != HttpHeadParser::State::Done) {
        UpgradeCheck c;
        c.status = 400;
        c.reason = "head: " + p.error();
        return c;
    }
    return checkUpgradeRequest(p.head());
}

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

TEST(ServerHandshake, AcceptsTheRfcSampleSplitAtEveryByte)
{
    for (size_t cut = 0; cut <= kGood.size(); ++cut) {
        SCOPED_TRACE(cut);
        HttpHeadParser p(HttpHeadParser::Kind::Request);
        ASSERT_EQ(feedSplit(p, kGood, cut), HttpHeadParser::State::Done) << p.error();
        const UpgradeCheck c = checkUpgradeRequest(p.head());
        ASSERT_EQ(c.status, 0) << c.reason;
        EXPECT_EQ(c.request.resource, "/chat?room=1");
        EXPECT_EQ(c.request.host, "server.example.com");
        EXPECT_EQ(c.request.origin, "http://example.com");
        EXPECT_EQ(c.request.key, "dGhlIHNhbXBsZSBub25jZQ==");
        EXPECT_EQ(c.request.subProtocols, "chat, superchat, v2");
    }
}

TEST(ServerHandshake, RefusesEveryMalformedRequest)
{
    struct Case { std::string from, to; int status; };
    const std::vector<Case> cases = {
        {"GET /chat", "POST /chat", 400},
        {"HTTP/1.1\r\nHost", "HTTP/1.0\r\nHost", 400},
        {"GET /chat?room=1", "GET chat", 400},
        {"Host: server.example.com\r\n", "", 400},
        {"Host: server.example.com\r\n", "Host: a\r\nHost: b\r\n", 400},
        {"Upgrade: websocket\r\n", "", 400},
        {"Upgrade: websocket\r\n", "Upgrade: h2c\r\n", 400},
        {"Connection: keep-alive, Upgrade\r\n", "Connection: keep-alive\r\n", 400},
        {"Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n", "", 400},
        {"Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n", "Sec-WebSocket-Key: c2hvcnQ=\r\n", 400},
        {"Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n", "Sec-WebSocket-Key: not base64!!\r\n", 400},
        {"Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n",
         "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n", 400},
        {"Sec-WebSocket-Version: 13\r\n", "Sec-WebSocket-Version: 8\r\n", 426},
        {"Sec-WebSocket-Version: 13\r\n", "", 426},
        {"Sec-WebSocket-Version: 13\r\n", "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Version: 13\r\n", 400},
        {"Origin: http://example.com\r\n", "Origin: x\nBad: y\r\n", 400},   // bare LF
        {"Origin: http://example.com\r\n", " folded\r\n", 400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.to);
        const UpgradeCheck r = check(replaced(kGood, c.from, c.to));
        EXPECT_EQ(r.status, c.status) << r.reason;
        EXPECT_FALSE(r.reason.empty());
    }
}

TEST(ServerHandshake, HeadLargerThanTheLimitIsAnErrorBeforeItEnds)
{
    HttpHeadParser p(HttpHeadParser::Kind::Request, 16 * 1024);
    const std::string start = "GET / HTTP/1.1\r\nX-Big: ";
    size_t used = 0;
    ASSERT_EQ(p.feed(reinterpret_cast<const uint8_t*>(start.data()), start.size(), used), HttpHeadParser::State::NeedMore);
    const std::string filler(64 * 1024, 'a');
    EXPECT_EQ(p.feed(reinterpret_cast<const uint8_t*>(filler.data()), filler.size(), used), HttpHeadParser::State::Error);
}

TEST(ServerHandshake, AnswersCarryAcceptSubprotocolAndSafeHeaders)
{
    const std::string answer = buildUpgradeAnswer("dGhlIHNhbXBsZSBub25jZQ==", "chat", "X-One: 1\nbad line\r\nX-Two: 2\r\n\r\n");
    HttpHeadParser p(HttpHeadParser::Kind::Response);
    size_t used = 0;
    ASSERT_EQ(p.feed(reinterpret_cast<const uint8_t*>(answer.data()), answer.size(), used), HttpHeadParser::State::Done);
    EXPECT_EQ(used, answer.size());   // the empty line a host wrote did not end the head early
    EXPECT_EQ(checkUpgradeResponse(p.head(), "dGhlIHNhbXBsZSBub25jZQ==", "chat, superchat"), "");
    EXPECT_EQ(p.head().find("Sec-WebSocket-Protocol").value_or(""), "chat");
    EXPECT_EQ(p.head().find("X-One").value_or(""), "1");
    EXPECT_EQ(p.head().find("X-Two").value_or(""), "2");
    EXPECT_EQ(p.head().headers.size(), 6u);

    const std::string refusal = buildRefusal(426, {});
    EXPECT_EQ(refusal.rfind("HTTP/1.1 426 Upgrade Required\r\n", 0), 0u);
    EXPECT_NE(refusal.find("Sec-WebSocket-Version: 13\r\n"), std::string::npos);
    EXPECT_EQ(buildRefusal(403, "Retry-After: 5").rfind("HTTP/1.1 403 Forbidden\r\n", 0), 0u);
    EXPECT_EQ(buildRefusal(7, {}).rfind("HTTP/1.1 400 ", 0), 0u);

    EXPECT_TRUE(offersSubProtocol("chat, superchat", "superchat"));
    EXPECT_FALSE(offersSubProtocol("chat, superchat", "super"));
    EXPECT_FALSE(offersSubProtocol("chat", "chat\r\nX: y"));
}

// The server side reads masked frames only; an unmasked one fails with 1002.
struct Recorder : FrameSink {
    std::string data;
    int errorCode = 0;
    void onData(Opcode, const uint8_t* d, size_t n, bool) override { data.append(reinterpret_cast<const char*>(d), n); }
    void onPing(const uint8_t*, size_t) override {}
    void onPong(const uint8_t*, size_t) override {}
    void onClose(uint16_t, std::string_view) override {}
    void onProtocolError(uint16_t code, std::string_view) override { errorCode = code; }
};

TEST(ServerHandshake, ServerRoleDecoderWantsMaskedFramesSplitAnywhere)
{
    const std::string payload = "masked hello";
    const uint8_t mask[4] = {1, 2, 3, 4};
    std::vector<uint8_t> frame(kMaxFrameHeader + payload.size());
    const size_t h = encodeFrameHeader(frame.data(), Opcode::Text, true, payload.size(), mask);
    std::memcpy(frame.data() + h, payload.data(), payload.size());
    applyMask(frame.data() + h, payload.size(), mask, 0);
    frame.resize(h + payload.size());
    DecoderOptions options;
    options.expectMasked = true;
    for (size_t cut = 0; cut <= frame.size(); ++cut) {
        Recorder r;
        FrameDecoder d(r, options);
        std::vector<uint8_t> copy = frame;
        d.feedInPlace(copy.data(), cut);
        d.feedInPlace(copy.data() + cut, copy.size() - cut);
        EXPECT_EQ(r.data, payload) << cut;
        EXPECT_EQ(r.errorCode, 0);
    }
    Recorder r;
    FrameDecoder d(r, options);
    uint8_t unmasked[16];
    const size_t n = encodeFrameHeader(unmasked, Opcode::Text, true, 2, nullptr);
    unmasked[n] = 'h';
    unmasked[n + 1] = 'i';
    d.feedInPlace(unmasked, n + 2);
    EXPECT_EQ(r.errorCode, 1002);
    EXPECT_EQ(r.data, "");
}

} // namespace
} // namespace corvane::protocol
