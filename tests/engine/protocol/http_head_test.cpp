#include <gtest/gtest.h>

#include <string>

#include "engine/protocol/http_head.h"

namespace corvane::protocol {
namespace {

struct Parsed {
    HttpHeadParser::State state;
    size_t consumed;
    HttpHead head;
    std::string error;
};

Parsed parse(std::string_view text, HttpHeadParser::Kind kind = HttpHeadParser::Kind::Response,
             size_t limit = 16 * 1024, size_t split = std::string::npos)
{
    HttpHeadParser p(kind, limit);
    const auto* data = reinterpret_cast<const uint8_t*>(text.data());
    size_t total = 0, used = 0;
    HttpHeadParser::State s = HttpHeadParser::State::NeedMore;
    if (split != std::string::npos && split < text.size()) {
        s = p.feed(data, split, used);
        total += used;
        if (s == HttpHeadParser::State::NeedMore) {
            s = p.feed(data + split, text.size() - split, used);
            total += used;
        }
    } else {
        s = p.feed(data, text.size(), used);
        total = used;
    }
    return {s, total, p.head(), p.error()};
}

const std::string kUpgrade =
    "HTTP/1.1 101 Switching Protocols\r\n"
    "Upgrade: websocket\r\n"
    "Connection:Upgrade\r\n"
    "sec-websocket-accept: \t s3pPLMBiTxaQ9kYGzzhZRbK+xOo= \t\r\n"
    "Set-Cookie: a=1\r\n"
    "Set-Cookie: b=2\r\n"
    "X-Empty:\r\n"
    "\r\n";

TEST(HttpHeadParser, ParsesAResponseAtEverySplitAndStopsAtTheEmptyLine)
{
    const std::string withFrames = kUpgrade + "\x81\x02hi";
    for (size_t split = 0; split <= withFrames.size(); ++split) {
        const Parsed r = parse(withFrames, HttpHeadParser::Kind::Response, 16 * 1024, split);
        ASSERT_EQ(r.state, HttpHeadParser::State::Done) << split << " " << r.error;
        EXPECT_EQ(r.consumed, kUpgrade.size()) << "split " << split;
        EXPECT_EQ(r.head.version, "HTTP/1.1");
        EXPECT_EQ(r.head.status, 101);
        EXPECT_EQ(r.head.reason, "Switching Protocols");
        ASSERT_EQ(r.head.headers.size(), 6u);
        EXPECT_EQ(r.head.headers[1].field, "Connection");
        EXPECT_EQ(r.head.headers[1].value, "Upgrade");
    }
    const Parsed r = parse(kUpgrade);
    EXPECT_EQ(r.head.find("SEC-WebSocket-Accept").value_or(""), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
    EXPECT_EQ(r.head.find("x-empty").value_or("missing"), "");
    EXPECT_FALSE(r.head.find("Content-Length").has_value());
    const auto cookies = r.head.findAll("set-cookie");
    ASSERT_EQ(cookies.size(), 2u);
    EXPECT_EQ(cookies[0], "a=1");
    EXPECT_EQ(cookies[1], "b=2");
}

TEST(HttpHeadParser, AcceptsStatusLinesWithOddButLegalReasons)
{
    EXPECT_EQ(parse("HTTP/1.1 401\r\n\r\n").head.status, 401);
    EXPECT_EQ(parse("HTTP/1.1 302 \r\n\r\n").head.reason, "");
    EXPECT_EQ(parse("HTTP/1.0 200 OK \xC3\xA9 fine\r\n\r\n").head.reason, "OK \xC3\xA9 fine");
}

TEST(HttpHeadParser, RejectsMalformedHeads)
{
    const char* bad[] = {
        "HTTP/1.1 101 OK\nUpgrade: websocket\r\n\r\n",        // bare LF
        "HTTP/1.1 101 OK\r\nUpgrade: websocket\n\r\n",
        "HTTP/1.1 101 OK\r\nA: b\rc\r\n\r\n",                  // stray CR
        "HTTP/1.1 101 OK\r\nA: b\r\n folded\r\n\r\n",          // obs-fold
        "HTTP/1.1 101 OK\r\nA: b\r\n\tfolded\r\n\r\n",
        "HTTP/1.1 101 OK\r\nA : b\r\n\r\n",                    // blank before the colon
        "HTTP/1.1 101 OK\r\nA(b): c\r\n\r\n",                  // not a token
        "HTTP/1.1 101 OK\r\n: c\r\n\r\n",
        "HTTP/1.1 101 OK\r\nNoColon\r\n\r\n",
        "HTTP/1.1 101 OK\r\nA: b\x01\r\n\r\n",                 // control character in a value
        "HTTP/1.1 101 OK\x7F\r\n\r\n",
        "HTTP/1.1 1O1 OK\r\n\r\n",                             // malformed status lines
        "HTTP/1.1 10 OK\r\n\r\n",
        "HTTP/1.1  101 OK\r\n\r\n",
        "HTTP/1.1 1010 OK\r\n\r\n",
        "HTTP/11 101 OK\r\n\r\n",
        "http/1.1 101 OK\r\n\r\n",
        "ICY 200 OK\r\n\r\n",
        "HTTP/1.1\r\n\r\n",
        "\r\nHTTP/1.1 101 OK\r\n\r\n",                         // empty first line
    };
    for (const char* text : bad) {
        for (size_t split : {std::string::npos, size_t{5}, size_t{17}}) {
            const Parsed r = parse(text, HttpHeadParser::Kind::Response, 16 * 1024, split);
            EXPECT_EQ(r.state, HttpHeadParser::State::Error) << text;
            EXPECT_FALSE(r.error.empty());
        }
    }
}

TEST(HttpHeadParser, EnforcesTheSizeLimitWhereverTheLinesEnd)
{
    const std::string head = "HTTP/1.1 101 OK\r\nA: " + std::string(100, 'v') + "\r\n\r\n";
    EXPECT_EQ(parse(head, HttpHeadParser::Kind::Response, head.size()).state, HttpHeadParser::State::Done);
    const Parsed over = parse(head, HttpHeadParser::Kind::Response, head.size() - 1);
    EXPECT_EQ(over.state, HttpHeadParser::State::Error);
    EXPECT_NE(over.error.find("large"), std::string::npos);
    // A head that never ends is cut off at the limit, not buffered forever.
    HttpHeadParser p(HttpHeadParser::Kind::Response, 1024);
    const std::string junk(300, 'x');
    size_t used = 0, total = 0;
    HttpHeadParser::State s = HttpHeadParser::State::NeedMore;
    for (int i = 0; i < 10 && s == HttpHeadParser::State::NeedMore; ++i) {
        s = p.feed(reinterpret_cast<const uint8_t*>(junk.data()), junk.size(), used);
        total += used;
    }
    EXPECT_EQ(s, HttpHeadParser::State::Error);
    EXPECT_LE(total, 1024u);
}

TEST(HttpHeadParser, ParsesRequestsStrictly)
{
    const std::string req = "GET /chat?x=1 HTTP/1.1\r\nHost: server.example.com\r\nUpgrade: websocket\r\n\r\n";
    const Parsed r = parse(req, HttpHeadParser::Kind::Request);
    ASSERT_EQ(r.state, HttpHeadParser::State::Done) << r.error;
    EXPECT_EQ(r.head.method, "GET");
    EXPECT_EQ(r.head.target, "/chat?x=1");
    EXPECT_EQ(r.head.version, "HTTP/1.1");
    EXPECT_EQ(r.head.find("host").value_or(""), "server.example.com");
    for (const char* bad : {"GET  /chat HTTP/1.1\r\n\r\n", "GET /chat\r\n\r\n", "GET /chat HTTP/1.1 x\r\n\r\n",
                            "G(T /chat HTTP/1.1\r\n\r\n", "GET /chat HTTP/x.1\r\n\r\n"})
        EXPECT_EQ(parse(bad, HttpHeadParser::Kind::Request).state, HttpHeadParser::State::Error) << bad;
}

TEST(HttpHeadParser, StaysDoneOrFailedUntilReset)
{
    HttpHeadParser p;
    size_t used = 0;
    const auto* data = reinterpret_cast<const uint8_t*>(kUpgrade.data());
    ASSERT_EQ(p.feed(data, kUpgrade.size(), used), HttpHeadParser::State::Done);
    EXPECT_EQ(p.feed(data, kUpgrade.size(), used), HttpHeadParser::State::Done);
    EXPECT_EQ(used, 0u);
    p.reset();
    EXPECT_EQ(p.feed(reinterpret_cast<const uint8_t*>("bad\n"), 4, used), HttpHeadParser::State::Error);
    EXPECT_EQ(p.feed(data, kUpgrade.size(), used), HttpHeadParser::State::Error);
    p.reset();
    EXPECT_EQ(p.feed(data, kUpgrade.size(), used), HttpHeadParser::State::Done);
    EXPECT_EQ(p.head().headers.size(), 6u) << "reset forgets the previous head";
}

} // namespace
} // namespace corvane::protocol
