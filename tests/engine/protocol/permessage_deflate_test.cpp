// Compressed messages on bytes: RFC 7692's own examples cut at every byte,
// our compression read back at every window size, a bomb, and the offer and
// answer of the handshake.
#include "engine/protocol/permessage_deflate.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace corvane::protocol;

namespace {

std::string bytes(std::initializer_list<int> b)
{
    std::string s;
    for (int c : b)
        s += char(c);
    return s;
}

// Inflates one message handed over in two pieces cut at `cut`.
MessageInflater::Result inflateCut(MessageInflater& in, const std::string& message, size_t cut, std::string& out,
                                   uint64_t limit = 0)
{
    const auto sink = [&](const uint8_t* p, size_t n) { out.append(reinterpret_cast<const char*>(p), n); };
    const auto* d = reinterpret_cast<const uint8_t*>(message.data());
    const auto first = in.inflate(d, cut, false, limit, sink);
    if (first != MessageInflater::Result::Ok)
        return first;
    return in.inflate(d + cut, message.size() - cut, true, limit, sink);
}

TEST(PerMessageDeflate, TheRfcExamplesReadAtEveryCut)
{
    struct Case {
        const char* what;
        std::vector<std::string> messages;   // one connection's messages, in order
        bool noContext;
    };
    const std::string hello = bytes({0xf2, 0x48, 0xcd, 0xc9, 0xc9, 0x07, 0x00});
    const Case cases[] = {
        {"one message", {hello}, false},
        {"the window kept: the second refers to the first", {hello, bytes({0xf2, 0x00, 0x11, 0x00, 0x00})}, false},
        {"no context: the same bytes twice", {hello, hello}, true},
        {"a stored block", {bytes({0x00, 0x05, 0x00, 0xfa, 0xff, 0x48, 0x65, 0x6c, 0x6c, 0x6f, 0x00})}, false},
        {"a final block", {bytes({0xf3, 0x48, 0xcd, 0xc9, 0xc9, 0x07, 0x00, 0x00}), hello}, false},
        {"two blocks",
         {bytes({0xf2, 0x48, 0x05, 0x00, 0x00, 0x00, 0xff, 0xff, 0xca, 0xc9, 0xc9, 0x07, 0x00})}, false},
    };
    for (const Case& c : cases) {
        const size_t longest = c.messages.back().size();
        for (size_t cut = 0; cut <= longest; ++cut) {
            SCOPED_TRACE(std::string(c.what) + ", cut at " + std::to_string(cut));
            MessageInflater in(15, c.noContext, 2);   // 2-byte output pieces: the sink is fed in bits too
            for (const std::string& m : c.messages) {
                std::string out;
                ASSERT_EQ(inflateCut(in, m, std::min(cut, m.size()), out), MessageInflater::Result::Ok);
                EXPECT_EQ(out, "Hello");
            }
        }
    }

    // And ours is byte for byte the RFC's: with the window kept and without.
    for (bool noContext : {false, true}) {
        MessageDeflater out(15, 8, noContext);
        std::string first, second;
        ASSERT_TRUE(out.compress(reinterpret_cast<const uint8_t*>("Hello"), 5, true, first));
        ASSERT_TRUE(out.compress(reinterpret_cast<const uint8_t*>("Hello"), 5, true, second));
        EXPECT_EQ(first, hello);
        EXPECT_EQ(second, noContext ? hello : bytes({0xf2, 0x00, 0x11, 0x00, 0x00}));
        EXPECT_EQ(out.holdsState(), !noContext) << "state is dropped after each message without context";
    }
}

TEST(PerMessageDeflate, OursReadsBackAtEveryWindowAndBombsStopAtTheLimit)
{
    std::mt19937 rng(7);
    std::string json;
    while (json.size() < 300000)
        json += "{\"id\":" + std::to_string(rng() % 100000) + ",\"name\":\"sensor\",\"value\":"
              + std::to_string(rng() % 1000) + "},";
    std::string noise(70000, '\0');
    for (char& c : noise)
        c = char(rng());
    const std::vector<std::string> messages = {json, "", noise, json.substr(1000, 5000), "x"};

    for (int bits = 8; bits <= 15; ++bits) {
        for (bool noContext : {false, true}) {
            SCOPED_TRACE("window " + std::to_string(bits) + (noContext ? ", no context" : ", context kept"));
            MessageDeflater deflater(bits, 8, noContext);
            MessageInflater inflater(bits, noContext);
            for (const std::string& m : messages) {
                // Compressed in pieces, as a file is sent.
                std::string compressed;
                for (size_t at = 0; at < m.size() || at == 0; at += 65536) {
                    const size_t n = std::min<size_t>(65536, m.size() - at);
                    ASSERT_TRUE(deflater.compress(reinterpret_cast<const uint8_t*>(m.data()) + at, n,
                                                  at + n >= m.size(), compressed));
                    if (n == 0)
                        break;
                }
                std::string back;
                ASSERT_EQ(inflateCut(inflater, compressed, compressed.size() / 3, back), MessageInflater::Result::Ok);
                EXPECT_TRUE(back == m) << "message of " << m.size() << " came back as " << back.size();
            }
            EXPECT_EQ(inflater.holdsState(), !noContext);
        }
    }
    std::string small;
    MessageDeflater d(15, 8, false);
    ASSERT_TRUE(d.compress(reinterpret_cast<const uint8_t*>(json.data()), json.size(), true, small));
    EXPECT_LT(small.size() * 4, json.size()) << "JSON-like text shrinks several times";

    // A bomb: 10 MiB of zeros is about 10 KiB compressed; with a 1 MiB limit
    // inflating stops one byte past it.
    const std::string zeros(10 << 20, '\0');
    std::string bomb;
    MessageDeflater b(15, 9, true);
    ASSERT_TRUE(b.compress(reinterpret_cast<const uint8_t*>(zeros.data()), zeros.size(), true, bomb));
    ASSERT_LT(bomb.size(), 20000u);
    MessageInflater victim(15, false);
    std::string out;
    EXPECT_EQ(inflateCut(victim, bomb, bomb.size(), out, 1 << 20), MessageInflater::Result::TooBig);
    EXPECT_LE(out.size(), size_t(1) << 20);
    EXPECT_LE(victim.messageSize(), (uint64_t(1) << 20) + 1);

    // Bytes that are no deflate stream at all.
    MessageInflater confused(15, false);
    out.clear();
    EXPECT_EQ(inflateCut(confused, bytes({0xff, 0xff, 0xff, 0xff}), 2, out), MessageInflater::Result::Corrupt);
}

TEST(PerMessageDeflate, OfferAndAnswer)
{
    const DeflateSettings on{true, 15, 8, false};
    const DeflateSettings small{true, 10, 8, false};
    const DeflateSettings fresh{true, 15, 8, true};
    const DeflateSettings off{false, 15, 8, false};

    struct ServerCase {
        const char* offer;
        DeflateSettings settings;
        const char* answer;   // nullptr: declined, the connection opens uncompressed
        int ownBits, peerBits;
        bool ownFresh, peerFresh;
    };
    const ServerCase server[] = {
        {"permessage-deflate", on, "permessage-deflate", 15, 15, false, false},
        {"permessage-deflate; client_max_window_bits", on, "permessage-deflate", 15, 15, false, false},
        {"permessage-deflate; client_max_window_bits=9; server_max_window_bits=10", on,
         "permessage-deflate; server_max_window_bits=10; client_max_window_bits=9", 10, 9, false, false},
        {"permessage-deflate; server_no_context_takeover; client_no_context_takeover", on,
         "permessage-deflate; server_no_context_takeover; client_no_context_takeover", 15, 15, true, true},
        {"Permessage-Deflate; Client_Max_Window_Bits=\"12\"", on,
         "permessage-deflate; client_max_window_bits=12", 15, 12, false, false},
        // Our own limits and wishes, where the client left room for them.
        {"permessage-deflate; client_max_window_bits", small,
         "permessage-deflate; server_max_window_bits=10; client_max_window_bits=10", 10, 10, false, false},
        {"permessage-deflate", small, "permessage-deflate; server_max_window_bits=10", 10, 15, false, false},
        {"permessage-deflate", fresh, "permessage-deflate; server_no_context_takeover", 15, 15, true, false},
        // Declined offers: the next acceptable one is taken.
        {"permessage-deflate; server_max_window_bits=7, permessage-deflate", on, "permessage-deflate", 15, 15,
         false, false},
        {"x-webkit-deflate-frame, permessage-deflate; mystery=1, permessage-deflate; server_no_context_takeover", on,
         "permessage-deflate; server_no_context_takeover", 15, 15, true, false},
        {"permessage-deflate; server_max_window_bits", on, nullptr, 0, 0, false, false},
        {"permessage-deflate; server_max_window_bits=08", on, nullptr, 0, 0, false, false},
        {"permessage-deflate; client_no_context_takeover=yes", on, nullptr, 0, 0, false, false},
        {"permessage-deflate; server_no_context_takeover; server_no_context_takeover", on, nullptr, 0, 0, false,
         false},
        {"permessage-deflate; client_max_window_bits=16", on, nullptr, 0, 0, false, false},
        {"permessage-deflate; =", on, nullptr, 0, 0, false, false},
        {"permessage-deflate; a=\"unterminated", on, nullptr, 0, 0, false, false},
        {"", on, nullptr, 0, 0, false, false},
        {"permessage-deflate", off, nullptr, 0, 0, false, false},
    };
    for (const ServerCase& c : server) {
        SCOPED_TRACE(c.offer);
        std::string answer;
        const auto a = deflateAcceptOffer(c.offer, c.settings, answer);
        ASSERT_EQ(a.has_value(), c.answer != nullptr);
        if (!a)
            continue;
        EXPECT_EQ(answer, c.answer);
        EXPECT_EQ(a->ownWindowBits, c.ownBits);
        EXPECT_EQ(a->peerWindowBits, c.peerBits);
        EXPECT_EQ(a->ownNoContextTakeover, c.ownFresh);
        EXPECT_EQ(a->peerNoContextTakeover, c.peerFresh);
        // Our own client takes every answer our server gives to its offer.
        std::string reanswer, error;
        if (deflateAcceptOffer(deflateClientOffer(c.settings), c.settings, reanswer)) {
            EXPECT_TRUE(deflateCheckAnswer(reanswer, c.settings, error).has_value()) << error;
        }
    }

    struct ClientCase {
        const char* answer;
        DeflateSettings offered;
        bool fails;      // the client must fail the connection
        bool agreed;     // compression is on
        int ownBits, peerBits;
        bool ownFresh, peerFresh;
    };
    const ClientCase client[] = {
        {"", on, false, false, 0, 0, false, false},
        {"permessage-deflate", on, false, true, 15, 15, false, false},
        {"permessage-deflate; client_max_window_bits=9; server_max_window_bits=12", on, false, true, 9, 12, false,
         false},
        {"permessage-deflate; client_no_context_takeover; server_no_context_takeover", on, false, true, 15, 15, true,
         true},
        {"permessage-deflate; server_max_window_bits=10; server_no_context_takeover", DeflateSettings{true, 10, 8, true},
         false, true, 10, 10, true, true},
        {"permessage-deflate; client_max_window_bits", on, true, false, 0, 0, false, false},
        {"permessage-deflate; server_max_window_bits=12", small, true, false, 0, 0, false, false},
        {"permessage-deflate", fresh, true, false, 0, 0, false, false},
        {"permessage-deflate", off, true, false, 0, 0, false, false},
        {"permessage-deflate, permessage-deflate", on, true, false, 0, 0, false, false},
        {"x-webkit-deflate-frame", on, true, false, 0, 0, false, false},
        {"permessage-deflate; unknown", on, true, false, 0, 0, false, false},
        {"permessage-deflate;", on, true, false, 0, 0, false, false},
    };
    for (const ClientCase& c : client) {
        SCOPED_TRACE(c.answer);
        std::string error;
        const auto a = deflateCheckAnswer(c.answer, c.offered, error);
        EXPECT_EQ(!error.empty(), c.fails) << error;
        ASSERT_EQ(a.has_value(), c.agreed);
        if (!a)
            continue;
        EXPECT_EQ(a->ownWindowBits, c.ownBits);
        EXPECT_EQ(a->peerWindowBits, c.peerBits);
        EXPECT_EQ(a->ownNoContextTakeover, c.ownFresh);
        EXPECT_EQ(a->peerNoContextTakeover, c.peerFresh);
    }
    EXPECT_EQ(deflateClientOffer(on), "permessage-deflate; client_max_window_bits");
    EXPECT_EQ(deflateClientOffer(small),
              "permessage-deflate; client_max_window_bits=10; server_max_window_bits=10");
}

} // namespace
