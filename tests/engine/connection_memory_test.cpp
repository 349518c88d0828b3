// The opening stages and the WebSocket connection they become, over an
// in-memory stream pair: no sockets and no timing, so the opening heads and
// the frames behind them can be cut at every byte, and the stream can fail
// at every step, deterministically.
#include "engine/protocol/errors.h"
#include "engine/websocket/client_opening.h"
#include "engine/websocket/server_opening.h"
#include "engine/websocket/ws_connection.h"
#include "memory_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using corvane::engine::ClientOffer;
using corvane::engine::ClientOpening;
using corvane::engine::ClientOpeningEvents;
using corvane::engine::ConnectionEvents;
using corvane::engine::ConnectionLimits;
using corvane::engine::Handover;
using corvane::engine::OpeningEvents;
using corvane::engine::OpeningLimits;
using corvane::engine::OpenRequest;
using corvane::engine::PeerFacts;
using corvane::engine::ServerOpening;
using corvane::engine::WsConnection;
using corvane::protocol::Opcode;
using engine_test::MemoryStream;
using engine_test::settle;

namespace {

// Records what the opening and the connection report, in order, as short
// lines; an accepted opening becomes `connection`, as the server core does it.
struct Recorder : ConnectionEvents, OpeningEvents {
    std::vector<std::string> log;
    std::vector<std::string> messages;
    std::string pending;
    bool echo = false;
    int answerStatus = 101;
    int closedCode = 0;
    std::unique_ptr<WsConnection> connection;

    void openingRequest(ServerOpening&, OpenRequest& r) override
    {
        log.push_back("request " + r.request.resource);
        r.status = answerStatus;
    }
    void openingAccepted(ServerOpening&, Handover&& handover) override
    {
        connection = std::make_unique<WsConnection>(WsConnection::Role::Server, std::move(handover), *this,
                                                    ConnectionLimits{});
        connection->start();
    }
    void openingError(ServerOpening&, int code, const QString&) override { log.push_back("error " + std::to_string(code)); }
    void openingLog(ServerOpening&, int, const QString&, const QString&) override {}
    void openingEnded(ServerOpening&, int statusCode, const QString&) override
    {
        log.push_back("closed " + std::to_string(statusCode));
        closedCode = statusCode;
    }

    void connectionOpened(WsConnection&) override { log.push_back("opened"); }
    void connectionData(WsConnection& c, Opcode type, const uint8_t* data, size_t n, bool last) override
    {
        pending.append(reinterpret_cast<const char*>(data), n);
        if (!last)
            return;
        messages.push_back(pending);
        if (echo)
            c.sendMessage(type, reinterpret_cast<const uint8_t*>(pending.data()), pending.size());
        pending.clear();
    }
    void connectionReadyToSend(WsConnection&) override {}
    void connectionError(WsConnection&, int code, const QString&) override
    {
        log.push_back("error " + std::to_string(code));
    }
    void connectionClosed(WsConnection&, int statusCode, const QString&) override
    {
        log.push_back("closed " + std::to_string(statusCode));
        closedCode = statusCode;
    }
    void connectionLog(WsConnection&, int, const QString&, const QString&) override {}

    size_t count(const std::string& prefix) const
    {
        size_t n = 0;
        for (const std::string& line : log)
            n += line.rfind(prefix, 0) == 0;
        return n;
    }
};

std::string clientFrame(Opcode op, const std::string& payload, bool fin = true)
{
    static const uint8_t mask[4] = {0x37, 0xfa, 0x21, 0x3d};
    uint8_t head[14];
    const size_t h = corvane::protocol::encodeFrameHeader(head, op, fin, payload.size(), mask);
    std::string f(reinterpret_cast<const char*>(head), h);
    for (size_t k = 0; k < payload.size(); ++k)
        f += char(payload[k] ^ mask[k % 4]);
    return f;
}

const std::string kRequest = "GET /chat HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                             "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";

// A server opening on one end of a pair; the test speaks on the other.
struct ServerSide {
    Recorder events;
    std::unique_ptr<ServerOpening> opening;
    std::unique_ptr<MemoryStream> peer;
    std::shared_ptr<MemoryStream::Link> link;

    explicit ServerSide(const OpeningLimits& limits = {})
    {
        auto [a, b] = MemoryStream::pair();
        link = a->link();
        peer = std::move(b);
        opening = std::make_unique<ServerOpening>(std::move(a), events, limits);
        opening->start(false);
    }
    WsConnection* connection() const { return events.connection.get(); }
    // The connection's end, while it still has it.
    MemoryStream* mine() const { return link->end[0]; }
    void deliver(const std::string& bytes)
    {
        peer->write(bytes.data(), int64_t(bytes.size()));
        EXPECT_TRUE(settle(link)) << "notifications never settle";
    }
};

// Request, a text message cut inside a character, a fragmented binary
// message with a ping between its fragments, and a close: every split point
// gives the same messages, one pong, one answered close and one end.
TEST(ConnectionInMemory, ServerOpeningAndFramesAreTheSameAtEverySplit)
{
    const std::string text = "caf\xc3\xa9 \xe2\x82\xac";
    const std::string part1(300, 'a'), part2(70000, 'b');
    const std::string frames = clientFrame(Opcode::Text, text) + clientFrame(Opcode::Binary, part1, false)
                             + clientFrame(Opcode::Ping, "p") + clientFrame(Opcode::Continuation, part2, true)
                             + clientFrame(Opcode::Close, corvane::protocol::encodeClosePayload(1000, "bye"));
    const std::string all = kRequest + frames;

    auto check = [&](ServerSide& s, const std::string& how) {
        SCOPED_TRACE(how);
        EXPECT_EQ(s.events.log, (std::vector<std::string>{"request /chat", "opened", "closed 1000"}));
        ASSERT_EQ(s.events.messages.size(), 2u);
        EXPECT_EQ(s.events.messages[0], text);
        EXPECT_TRUE(s.events.messages[1] == part1 + part2) << "fragmented message of " << s.events.messages[1].size();
        const std::string out = s.peer->pending();
        EXPECT_EQ(out.rfind("HTTP/1.1 101", 0), 0u);
        EXPECT_NE(out.find("\x8a\x01p", 0, 3), std::string::npos) << "pong";
        EXPECT_EQ(out.substr(out.size() - 4), std::string("\x88\x02\x03\xe8", 4)) << "close echoed";
        ASSERT_NE(s.connection(), nullptr);
        EXPECT_EQ(s.connection()->state(), WsConnection::State::Closed);
    };

    for (size_t cut = 0; cut <= all.size(); cut += cut < kRequest.size() + 400 ? 1 : 997) {
        ServerSide s;
        s.deliver(all.substr(0, cut));
        s.deliver(all.substr(cut));
        check(s, "cut at " + std::to_string(cut));
    }
    ServerSide trickle;
    trickle.mine()->readPiece = 1;
    trickle.deliver(all);
    check(trickle, "one byte per read");
}

// A request the opening cannot take, or one the host refuses, is answered
// with the refusal, ends with its status, and never becomes a connection:
// frames sent right behind it reach no one.
TEST(ConnectionInMemory, RefusedOpeningAnswersAndMakesNoConnection)
{
    auto replace = [](std::string s, const std::string& from, const std::string& to) {
        return s.replace(s.find(from), from.size(), to);
    };
    struct Case {
        const char* name;
        std::string request;
        int hostAnswer;
        std::string statusLine;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {"no upgrade", replace(kRequest, "Upgrade: websocket\r\n", ""), 101, "HTTP/1.1 400",
         {"error 153", "closed 400"}},
        {"other version", replace(kRequest, "Version: 13", "Version: 8"), 101, "HTTP/1.1 426",
         {"error 153", "closed 426"}},
        {"head too long", replace(kRequest, "\r\n\r\n", "\r\nX-Pad: " + std::string(2048, 'x') + "\r\n\r\n"), 101,
         "HTTP/1.1 400", {"error 153", "closed 400"}},
        {"host refuses", kRequest, 403, "HTTP/1.1 403", {"request /chat", "closed 403"}},
    };
    OpeningLimits limits;
    limits.maxHeadSize = 1024;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ServerSide s(limits);
        s.events.answerStatus = c.hostAnswer;
        s.deliver(c.request + clientFrame(Opcode::Text, "early"));
        EXPECT_EQ(s.events.log, c.log);
        EXPECT_EQ(s.peer->pending().rfind(c.statusLine, 0), 0u) << s.peer->pending();
        EXPECT_EQ(s.connection(), nullptr);
        EXPECT_TRUE(s.events.messages.empty());
        EXPECT_EQ(s.mine(), nullptr) << "the stream is released";
    }
}

// The stream ends, resets or fails after every prefix of the exchange: the
// connection reports its end exactly once, last, and never an open after it.
TEST(ConnectionInMemory, StreamEndAtEveryStepIsReportedOnce)
{
    const std::string all = kRequest + clientFrame(Opcode::Text, "hello")
                          + clientFrame(Opcode::Close, corvane::protocol::encodeClosePayload(1001, ""));
    enum class Fault { PeerEnds, PeerGoes, StreamBreaks };
    for (Fault fault : {Fault::PeerEnds, Fault::PeerGoes, Fault::StreamBreaks}) {
        for (size_t cut = 0; cut <= all.size(); ++cut) {
            SCOPED_TRACE("fault " + std::to_string(int(fault)) + " at " + std::to_string(cut));
            ServerSide s;
            s.deliver(all.substr(0, cut));
            const bool closedAlready = s.events.count("closed") == 1;
            switch (fault) {
            case Fault::PeerEnds:
                if (s.mine())
                    s.mine()->endInput();
                break;
            case Fault::PeerGoes: s.peer.reset(); break;
            case Fault::StreamBreaks:
                if (!closedAlready)
                    s.mine()->breakStream(QStringLiteral("injected"));
                break;
            }
            ASSERT_TRUE(settle(s.link)) << "notifications never settle";
            ASSERT_EQ(s.events.count("closed"), 1u);
            EXPECT_EQ(s.events.log.back().rfind("closed", 0), 0u);
            EXPECT_EQ(s.events.closedCode, cut == all.size() ? 1001 : 1006);
            EXPECT_EQ(s.events.count("opened"), cut >= kRequest.size() ? 1u : 0u);
            EXPECT_LE(s.events.count("error"), 1u);
            // An opening that ends never makes a connection.
            ASSERT_EQ(s.connection() != nullptr, cut >= kRequest.size());
            if (s.connection()) {
                EXPECT_EQ(s.connection()->state(), WsConnection::State::Closed);
            }
        }
    }
}

// A client connection and a server connection joined in memory: messages of
// every length class cross both ways byte-exact, masked one way only.
TEST(ConnectionInMemory, ClientAndServerExchangeEveryLengthClass)
{
    ServerSide server;
    server.events.echo = true;
    server.deliver(kRequest);
    std::string answer(4096, '\0');
    answer.resize(size_t(server.peer->read(answer.data(), int64_t(answer.size()))));
    ASSERT_EQ(answer.rfind("HTTP/1.1 101", 0), 0u);

    Recorder clientEvents;
    MemoryStream* clientEnd = server.peer.get();
    Handover handover;
    handover.peer = PeerFacts::of(*server.peer);
    handover.stream = std::move(server.peer);
    WsConnection client(WsConnection::Role::Client, std::move(handover), clientEvents, ConnectionLimits{});
    client.start();

    std::vector<std::string> sent;
    for (size_t n : {size_t(0), size_t(1), size_t(125), size_t(126), size_t(65535), size_t(65536), size_t(300000)}) {
        std::string m(n, '\0');
        for (size_t k = 0; k < n; ++k)
            m[k] = char(k * 7 + n);
        sent.push_back(m);
        ASSERT_EQ(client.sendMessage(Opcode::Binary, reinterpret_cast<const uint8_t*>(m.data()), m.size()), 0);
    }
    ASSERT_TRUE(settle(server.link));
    EXPECT_EQ(server.events.messages, sent);
    EXPECT_EQ(clientEvents.messages, sent);
    // What the client wrote is masked; what the server wrote is not.
    EXPECT_TRUE(uint8_t(clientEnd->written.at(kRequest.size() + 1)) & 0x80);
    ASSERT_NE(server.mine(), nullptr);
    EXPECT_FALSE(uint8_t(server.mine()->written.at(answer.size() + 1)) & 0x80);

    client.close(1000, "done");
    ASSERT_TRUE(settle(server.link));
    EXPECT_EQ(clientEvents.log.back(), "closed 1000");
    EXPECT_EQ(server.events.log.back(), "closed 1000");
}

// A client opening on one end of a pair; the test answers on the other.
struct ClientSide : ClientOpeningEvents {
    Recorder events;
    std::unique_ptr<ClientOpening> opening;
    std::unique_ptr<MemoryStream> server;
    std::shared_ptr<MemoryStream::Link> link;
    std::string outcome;
    std::string mismatch;

    ClientSide()
    {
        auto [a, b] = MemoryStream::pair();
        link = a->link();
        server = std::move(b);
        opening = std::make_unique<ClientOpening>(std::move(a), *this);
        ClientOffer offer;
        offer.request = kRequest;
        offer.key = "dGhlIHNhbXBsZSBub25jZQ==";
        opening->start(offer);
    }
    void openingAnswered(ClientOpening& o) override
    {
        outcome = "answered " + std::to_string(o.answer().head.status);
        mismatch = o.answer().mismatch;
        if (o.answer().accepted()) {
            events.connection = o.open(events, ConnectionLimits{});
            events.connection->start();
        }
    }
    void openingFailed(ClientOpening&, int code, const QString&) override { outcome = "failed " + std::to_string(code); }
    void deliver(const std::string& bytes)
    {
        server->write(bytes.data(), int64_t(bytes.size()));
        EXPECT_TRUE(settle(link)) << "notifications never settle";
    }
};

std::string serverFrame(Opcode op, const std::string& payload)
{
    uint8_t head[14];
    const size_t h = corvane::protocol::encodeFrameHeader(head, op, true, payload.size(), nullptr);
    return std::string(reinterpret_cast<const char*>(head), h) + payload;
}

// The server's answer with frames right behind it, cut at every byte, opens
// the same connection with the same messages; answers that do not accept
// the request, and heads that never become whole, are reported as such and
// open nothing.
TEST(ConnectionInMemory, ClientOpeningAnswersAtEverySplit)
{
    const std::string accept = corvane::protocol::buildUpgradeAnswer("dGhlIHNhbXBsZSBub25jZQ==", "", "");
    const std::string text = "h\xc3\xa9llo", big(70000, 'z');
    const std::string frames = serverFrame(Opcode::Text, text) + serverFrame(Opcode::Binary, big)
                             + serverFrame(Opcode::Close, corvane::protocol::encodeClosePayload(1000, ""));
    const std::string all = accept + frames;
    for (size_t cut = 0; cut <= all.size(); cut += cut < accept.size() + 200 ? 1 : 4999) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        ClientSide c;
        EXPECT_EQ(c.server->pending(), kRequest);
        c.deliver(all.substr(0, cut));
        c.deliver(all.substr(cut));
        EXPECT_EQ(c.outcome, "answered 101");
        EXPECT_EQ(c.events.log, (std::vector<std::string>{"opened", "closed 1000"}));
        EXPECT_EQ(c.events.messages, (std::vector<std::string>{text, big}));
    }

    struct Case {
        const char* name;
        std::string bytes;
        bool endInput;
        std::string outcome;
        bool mismatch;
    };
    const std::string wrongKey = corvane::protocol::buildUpgradeAnswer("AQIDBAUGBwgJCgsMDQ4PEA==", "", "");
    const Case cases[] = {
        {"wrong accept key", wrongKey + frames, false, "answered 101", true},
        {"extension not offered",
         corvane::protocol::buildUpgradeAnswer("dGhlIHNhbXBsZSBub25jZQ==", "", "Sec-WebSocket-Extensions: permessage-deflate\r\n"),
         false, "answered 101", true},
        {"authentication asked",
         "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\nContent-Length: 0\r\n\r\n",
         false, "answered 401", false},
        {"malformed head", "HTTP/1.1 abc\r\n\r\n", false, "failed " + std::to_string(corvane::engine::kHandshakeFailed),
         false},
        {"ends inside the head", accept.substr(0, 20), true,
         "failed " + std::to_string(corvane::engine::kHandshakeFailed), false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ClientSide c;
        c.deliver(k.bytes);
        if (k.endInput && c.link->end[0])
            c.link->end[0]->endInput();
        ASSERT_TRUE(settle(c.link));
        EXPECT_EQ(c.outcome, k.outcome);
        EXPECT_EQ(!c.mismatch.empty(), k.mismatch) << c.mismatch;
        EXPECT_EQ(c.events.connection, nullptr);
        EXPECT_TRUE(c.events.messages.empty());
    }
}

} // namespace
