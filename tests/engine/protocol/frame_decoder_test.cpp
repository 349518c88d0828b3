#include <gtest/gtest.h>

#include <random>

#include "frame_test_support.h"

namespace corvane::protocol::test {
namespace {

DecoderOptions serverSide()
{
    DecoderOptions o;
    o.expectMasked = true;
    return o;
}

using Events = std::vector<std::string>;

// RFC 6455 section 5.7 examples, as a client receives them (unmasked) and as a
// server does (masked with 37 fa 21 3d).
TEST(FrameDecoder, DecodesTheRfcExamplesAtEverySplit)
{
    const Bytes text = {0x81, 0x05, 0x48, 0x65, 0x6c, 0x6c, 0x6f};
    EXPECT_EQ(decodeEverySplit(text).events, Events{"text:Hello"});

    const Bytes maskedText = {0x81, 0x85, 0x37, 0xfa, 0x21, 0x3d, 0x7f, 0x9f, 0x4d, 0x51, 0x58};
    EXPECT_EQ(decodeEverySplit(maskedText, serverSide()).events, Events{"text:Hello"});

    const Bytes fragmented = {0x01, 0x03, 0x48, 0x65, 0x6c, 0x80, 0x02, 0x6c, 0x6f};
    EXPECT_EQ(decodeEverySplit(fragmented).events, Events{"text:Hello"});

    const Bytes ping = {0x89, 0x05, 0x48, 0x65, 0x6c, 0x6c, 0x6f};
    EXPECT_EQ(decodeEverySplit(ping).events, Events{"ping:Hello"});

    const Bytes maskedPong = {0x8a, 0x85, 0x37, 0xfa, 0x21, 0x3d, 0x7f, 0x9f, 0x4d, 0x51, 0x58};
    EXPECT_EQ(decodeEverySplit(maskedPong, serverSide()).events, Events{"pong:Hello"});
}

TEST(FrameDecoder, ReadsSevenSixteenAndSixtyFourBitLengthsInAnyForm)
{
    for (size_t len : {0u, 1u, 125u, 126u, 127u, 65535u, 65536u, 70000u}) {
        const std::string payload(len, 'x');
        for (int form : {-1, 2, 8}) {
            if (form == 2 && len > 0xFFFF)
                continue;
            // Longer forms than needed are accepted on purpose.
            const Bytes frame = buildFrame({Opcode::Binary, true, payload, false, 0, form});
            const Outcome o = decodeInPieces(frame, {}, {}, false);
            ASSERT_EQ(o.events.size(), 1u) << len << " form " << form;
            EXPECT_EQ(o.events[0], "binary:" + payload);
            EXPECT_EQ(o.consumed, frame.size());
        }
    }
    // Every split of the headers of the longer forms.
    EXPECT_EQ(decodeEverySplit(buildFrame({Opcode::Text, true, "abc", false, 0, 8})).events, Events{"text:abc"});
    EXPECT_EQ(decodeEverySplit(buildFrame({Opcode::Text, true, std::string(300, 'q'), true, 0, 2}), serverSide()).events,
              Events{"text:" + std::string(300, 'q')});
}

TEST(FrameDecoder, DeliversControlFramesBetweenFragmentsInOrder)
{
    const Bytes input = concat({
        buildFrame({Opcode::Text, false, "Hel"}),
        buildFrame({Opcode::Ping, true, "p1"}),
        buildFrame({Opcode::Continuation, false, ""}),
        buildFrame({Opcode::Pong, true, ""}),
        buildFrame({Opcode::Continuation, true, "lo"}),
        buildFrame({Opcode::Binary, true, std::string("\0\1\2", 3)}),
        buildFrame({Opcode::Close, true, std::string("\x03\xE8" "bye", 5)}),
    });
    const Outcome o = decodeEverySplit(input);
    EXPECT_EQ(o.events, (Events{"ping:p1", "pong:", "text:Hello", std::string("binary:\0\1\2", 10), "close:1000:bye"}));
    EXPECT_TRUE(o.stopped);
    EXPECT_EQ(o.consumed, input.size());
}

TEST(FrameDecoder, ReportsEmptyMessagesAndAnEmptyFinalFragment)
{
    RecordingSink sink;
    FrameDecoder decoder(sink);
    const Bytes input = concat({buildFrame({Opcode::Text, true, ""}), buildFrame({Opcode::Binary, false, "ab"}),
                                buildFrame({Opcode::Continuation, true, ""})});
    EXPECT_EQ(decoder.feed(input.data(), input.size()), input.size());
    EXPECT_EQ(sink.events, (Events{"text:", "binary:ab"}));
    EXPECT_EQ(sink.pieces, 3u);   // "", "ab" (not last), "" (last)
}

TEST(FrameDecoder, AcceptsTextSplitInsideCharactersAcrossFragments)
{
    // U+20AC and U+1F600 cut in every place by the fragment boundaries.
    const std::string euro = "\xE2\x82\xAC", grin = "\xF0\x9F\x98\x80";
    const Bytes input = concat({buildFrame({Opcode::Text, false, euro.substr(0, 1)}),
                                buildFrame({Opcode::Continuation, false, euro.substr(1, 1)}),
                                buildFrame({Opcode::Ping, true, "x"}),
                                buildFrame({Opcode::Continuation, false, euro.substr(2) + grin.substr(0, 3)}),
                                buildFrame({Opcode::Continuation, true, grin.substr(3)})});
    EXPECT_EQ(decodeEverySplit(input).events, (Events{"ping:x", "text:" + euro + grin}));
}

TEST(FrameDecoder, AcceptsValidCloseFrames)
{
    EXPECT_EQ(decodeEverySplit(buildFrame({Opcode::Close, true, ""})).events, Events{"close:1005:"});
    for (uint16_t code : {1000, 1001, 1003, 1007, 1011, 1014, 3000, 4999}) {
        const std::string payload = encodeClosePayload(code, "gr\xC3\xBC\xC3\x9F");
        EXPECT_EQ(decodeEverySplit(buildFrame({Opcode::Close, true, payload})).events,
                  Events{"close:" + std::to_string(code) + ":gr\xC3\xBC\xC3\x9F"});
    }
}

TEST(FrameDecoder, ConsumesNothingAfterClose)
{
    RecordingSink sink;
    FrameDecoder decoder(sink);
    const Bytes close = buildFrame({Opcode::Close, true, encodeClosePayload(1000, "")});
    const Bytes input = concat({close, buildFrame({Opcode::Text, true, "late"})});
    EXPECT_EQ(decoder.feed(input.data(), input.size()), close.size());
    EXPECT_TRUE(decoder.stopped());
    EXPECT_EQ(decoder.feed(input.data() + close.size(), input.size() - close.size()), 0u);
    EXPECT_EQ(sink.events, Events{"close:1000:"});
}

struct Violation {
    const char* name;
    Bytes input;
    uint16_t code;
    size_t failingByte;          // index in input of the byte that makes it fail
    DecoderOptions options = {};
};

std::vector<Violation> violations()
{
    DecoderOptions limit10;
    limit10.maxMessageSize = 10;
    const Bytes hel = buildFrame({Opcode::Text, false, "Hel"});
    const Bytes textOpen = buildFrame({Opcode::Text, false, "a\xE2\x82"});
    std::vector<Violation> v = {
        {"rsv1", buildFrame({Opcode::Text, true, "a", false, 0x40}), 1002, 0},
        {"rsv2", buildFrame({Opcode::Text, true, "a", false, 0x20}), 1002, 0},
        {"rsv3 on a ping", buildFrame({Opcode::Ping, true, "", false, 0x10}), 1002, 0},
        {"fragmented ping", buildFrame({Opcode::Ping, false, "a"}), 1002, 0},
        {"fragmented close", buildFrame({Opcode::Close, false, ""}), 1002, 0},
        {"ping over 125", buildFrame({Opcode::Ping, true, std::string(126, 'p')}), 1002, 1},
        {"pong over 125, 64-bit form", buildFrame({Opcode::Pong, true, std::string(10, 'p'), false, 0, 8}), 1002, 1},
        {"continuation first", buildFrame({Opcode::Continuation, true, "a"}), 1002, 0},
        {"text inside a message", concat({hel, buildFrame({Opcode::Text, true, "lo"})}), 1002, hel.size()},
        {"binary inside a message", concat({hel, buildFrame({Opcode::Binary, true, "lo"})}), 1002, hel.size()},
        {"masked from a server", buildFrame({Opcode::Text, true, "a", true}), 1002, 1},
        {"close with one byte", buildFrame({Opcode::Close, true, "\x03"}), 1002, 1},
        {"top bit of a 64-bit length",
         Bytes{0x82, 0x7F, 0x80, 0, 0, 0, 0, 0, 0, 1}, 1002, 2},
        {"overlong in text", buildFrame({Opcode::Text, true, "ok\xC0\xAF"}), 1007, 4},
        {"surrogate in text", buildFrame({Opcode::Text, true, "\xED\xA0\x80"}), 1007, 3},
        {"above U+10FFFF", buildFrame({Opcode::Text, true, "\xF4\x90\x80\x80"}), 1007, 3},
        {"bad byte in a later fragment", concat({textOpen, buildFrame({Opcode::Continuation, true, "("})}), 1007,
         textOpen.size() + 2},
        {"text ending inside a character", buildFrame({Opcode::Text, true, "a\xE2\x82"}), 1007, 4},
        {"empty final fragment after an open character",
         concat({textOpen, buildFrame({Opcode::Continuation, true, ""})}), 1007, textOpen.size() + 1},
        {"bad UTF-8 in a close reason", buildFrame({Opcode::Close, true, std::string("\x03\xE8" "a\xFF", 4)}), 1007,
         5},
        {"close reason ending inside a character", buildFrame({Opcode::Close, true, std::string("\x03\xE8\xC3", 3)}),
         1007, 4},
        {"single frame over the limit", buildFrame({Opcode::Binary, true, std::string(11, 'b')}), 1009, 1, limit10},
        {"16-bit length over the limit", buildFrame({Opcode::Binary, true, std::string(200, 'b')}), 1009, 3, limit10},
        {"fragments over the limit",
         concat({buildFrame({Opcode::Binary, false, std::string(6, 'b')}),
                 buildFrame({Opcode::Continuation, true, std::string(5, 'b'), false, 0, 8})}),
         1009, 8 + 9, limit10},
    };
    for (uint8_t op : {3, 4, 5, 6, 7, 0xB, 0xC, 0xD, 0xE, 0xF})
        v.push_back({"reserved opcode", Bytes{static_cast<uint8_t>(0x80 | op), 0x00}, 1002, 0});
    for (uint16_t code : {0, 999, 1004, 1005, 1006, 1015, 1016, 2999, 5000, 65535}) {
        const std::string payload = encodeClosePayload(code, "why");
        v.push_back({"invalid close code", buildFrame({Opcode::Close, true, payload}), 1002, 3});
    }
    DecoderOptions server = serverSide();
    v.push_back({"unmasked to a server", buildFrame({Opcode::Binary, true, "a"}), 1002, 1, server});
    v.push_back({"masked bad UTF-8 to a server", buildFrame({Opcode::Text, true, "abc\xFE", true}), 1007, 9, server});
    return v;
}

TEST(FrameDecoder, FailsViolationsAtTheOffendingByteWhateverTheSplit)
{
    for (const Violation& v : violations()) {
        SCOPED_TRACE(v.name);
        const Outcome o = decodeEverySplit(v.input, v.options);
        ASSERT_FALSE(o.events.empty());
        EXPECT_EQ(o.events.back(), "error:" + std::to_string(v.code));
        EXPECT_TRUE(o.stopped);
        EXPECT_EQ(o.consumed, v.failingByte + 1);
    }
}

TEST(FrameDecoder, DeliversWhatCameBeforeAViolation)
{
    const Bytes input = concat({buildFrame({Opcode::Text, true, "first"}), buildFrame({Opcode::Ping, true, "p"}),
                                buildFrame({Opcode::Text, true, "x", false, 0x40})});
    EXPECT_EQ(decodeEverySplit(input).events, (Events{"text:first", "ping:p", "error:1002"}));
}

TEST(FrameDecoder, AcceptsAMessageOfExactlyTheLimit)
{
    DecoderOptions o;
    o.maxMessageSize = 10;
    const Bytes input = concat({buildFrame({Opcode::Binary, false, std::string(4, 'a')}),
                                buildFrame({Opcode::Ping, true, "p"}),
                                buildFrame({Opcode::Continuation, true, std::string(6, 'b')}),
                                buildFrame({Opcode::Binary, true, std::string(10, 'c')})});
    EXPECT_EQ(decodeEverySplit(input, o).events,
              (Events{"ping:p", "binary:aaaabbbbbb", "binary:" + std::string(10, 'c')}));
}

// Whole frames are the progress an idle timeout counts: a frame fed a byte at
// a time counts once, at its last byte, and every fragment and control frame
// counts by itself, empty ones included.
TEST(FrameDecoder, CountsWholeFramesOnlyWhenTheirLastByteArrives)
{
    RecordingSink sink;
    FrameDecoder d(sink);
    const Bytes big = buildFrame({Opcode::Binary, true, std::string(300, 'b')});
    for (size_t k = 0; k + 1 < big.size(); ++k) {
        d.feed(&big[k], 1);
        ASSERT_EQ(d.framesDone(), 0u) << "after byte " << k;
    }
    d.feed(&big.back(), 1);
    EXPECT_EQ(d.framesDone(), 1u);

    Bytes stream;
    for (const FrameSpec& f : {FrameSpec{Opcode::Text, false, "he"}, FrameSpec{Opcode::Ping, true, ""},
                               FrameSpec{Opcode::Continuation, false, ""}, FrameSpec{Opcode::Pong, true, "p"},
                               FrameSpec{Opcode::Continuation, true, "llo"}}) {
        const Bytes b = buildFrame(f);
        stream.insert(stream.end(), b.begin(), b.end());
    }
    EXPECT_EQ(d.feed(stream.data(), stream.size()), stream.size());
    EXPECT_EQ(d.framesDone(), 6u);
    EXPECT_EQ(sink.events, (Events{"binary:" + std::string(300, 'b'), "ping:", "pong:p", "text:hello"}));
}

TEST(FrameDecoder, StartsAfreshAfterReset)
{
    RecordingSink sink;
    FrameDecoder decoder(sink);
    const Bytes bad = buildFrame({Opcode::Continuation, true, "a"});
    decoder.feed(bad.data(), bad.size());
    ASSERT_TRUE(decoder.stopped());
    const Bytes half = buildFrame({Opcode::Text, false, "x"});
    decoder.reset();
    sink.finished = false;
    decoder.feed(half.data(), 2);          // a frame whose payload is still due is forgotten too
    decoder.reset();
    const Bytes good = buildFrame({Opcode::Text, true, "ok"});
    EXPECT_EQ(decoder.feed(good.data(), good.size()), good.size());
    EXPECT_EQ(sink.events, (Events{"error:1002", "text:ok"}));
}

// A 16 MiB message in one call and in 1-byte steps: pieces stay within
// maxChunk, join to the payload, and unmasked ones point into the input.
class LargeMessage : public ::testing::TestWithParam<bool> {};

TEST_P(LargeMessage, StreamsInBoundedPiecesWithoutBuffering)
{
    const bool masked = GetParam();
    constexpr size_t kSize = 16u << 20;
    std::string payload(kSize, '\0');
    std::mt19937 rng(7);
    for (char& c : payload)
        c = static_cast<char>(rng());
    const Bytes frame = buildFrame({Opcode::Binary, true, payload, masked});

    for (size_t step : {frame.size(), size_t{1}}) {
        for (bool inPlace : {false, true}) {
            if (step == 1 && inPlace != masked)
                continue;   // the slow walk once per masking mode is enough
            SCOPED_TRACE("step " + std::to_string(step) + (inPlace ? " in place" : ""));
            DecoderOptions options;
            options.expectMasked = masked;
            options.maxChunk = 256 * 1024;
            options.maxMessageSize = kSize;
            RecordingSink sink;
            sink.maxChunk = options.maxChunk;
            Bytes input = frame;
            sink.inputBegin = input.data();
            sink.inputEnd = input.data() + input.size();
            FrameDecoder decoder(sink, options);
            size_t consumed = 0;
            for (size_t pos = 0; pos < input.size(); pos += step) {
                const size_t n = std::min(step, input.size() - pos);
                consumed += inPlace ? decoder.feedInPlace(input.data() + pos, n) : decoder.feed(input.data() + pos, n);
            }
            EXPECT_EQ(consumed, input.size());
            ASSERT_EQ(sink.events.size(), 1u);
            EXPECT_TRUE(sink.events[0] == "binary:" + payload);
            EXPECT_LE(sink.largestPiece, options.maxChunk);
            if (step != 1) {
                EXPECT_GE(sink.pieces, kSize / options.maxChunk);
            }
            if (!masked || inPlace) {
                EXPECT_EQ(sink.piecesOutsideInput, 0u) << "payload was copied";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Masking, LargeMessage, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Masked" : "Unmasked"; });

TEST(FrameDecoder, KeepsPiecesWithinASmallChunkAcrossTextAndMasks)
{
    DecoderOptions o = serverSide();
    o.maxChunk = 7;
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += "\xE2\x82\xAC" "ab";
    const Bytes input = concat({buildFrame({Opcode::Text, false, text.substr(0, 50), true}),
                                buildFrame({Opcode::Continuation, true, text.substr(50), true})});
    EXPECT_EQ(decodeEverySplit(input, o).events, Events{"text:" + text});
}

TEST(FrameDecoder, SurvivesRandomSplitsOfAMixedStream)
{
    std::mt19937 rng(11);
    std::vector<Bytes> frames;
    Events expected;
    for (int m = 0; m < 200; ++m) {
        const size_t len = rng() % 3 == 0 ? rng() % 70000 : rng() % 200;
        std::string payload(len, 'a' + static_cast<char>(m % 26));
        const size_t cut = len ? rng() % len : 0;
        frames.push_back(buildFrame({Opcode::Binary, false, payload.substr(0, cut), true}));
        frames.push_back(buildFrame({Opcode::Ping, true, std::to_string(m), true}));
        frames.push_back(buildFrame({Opcode::Continuation, true, payload.substr(cut), true}));
        expected.push_back("ping:" + std::to_string(m));
        expected.push_back("binary:" + payload);
    }
    Bytes input;
    for (const Bytes& f : frames)
        input.insert(input.end(), f.begin(), f.end());
    DecoderOptions o = serverSide();
    o.maxChunk = 1000;
    for (int round = 0; round < 20; ++round) {
        std::vector<size_t> sizes;
        for (size_t total = 0; total < input.size();) {
            const size_t s = 1 + rng() % 3000;
            sizes.push_back(s);
            total += s;
        }
        const Outcome out = decodeInPieces(input, o, sizes, round % 2 == 0);
        ASSERT_EQ(out.events, expected) << "round " << round;
        EXPECT_EQ(out.consumed, input.size());
    }
}

// ---- text pieces on character boundaries ----

namespace whole_chars {

// Checks every text piece for UTF-8 validity on its own, and that a piece
// lies in the caller's buffer unless it is one carried character.
class PieceCheckingSink : public RecordingSink {
public:
    size_t invalidTextPieces = 0;
    size_t copiedPieces = 0;
    const uint8_t* bufferBegin = nullptr;
    const uint8_t* bufferEnd = nullptr;
    std::vector<size_t> textPieceSizes;

    void onData(Opcode type, const uint8_t* data, size_t n, bool last) override
    {
        if (type == Opcode::Text) {
            textPieceSizes.push_back(n);
            if (!Utf8Validator::isValid(data, n))
                ++invalidTextPieces;
        }
        if (n > 0 && bufferBegin && (data < bufferBegin || data + n > bufferEnd)) {
            ++copiedPieces;
            EXPECT_LE(n, 4u) << "only a carried character comes from elsewhere";
        }
        RecordingSink::onData(type, data, n, last);
    }
};

struct Fed {
    Events events;
    size_t invalidTextPieces = 0;
    size_t copiedPieces = 0;
    size_t mostHeld = 0;
    std::vector<size_t> textPieceSizes;
};

// Feeds in the given read sizes as the engine does: bytes left unconsumed go
// in again ahead of the next read.
Fed feedLikeTheEngine(const Bytes& input, DecoderOptions options, const std::vector<size_t>& reads, bool inPlace)
{
    options.wholeCharacters = true;
    PieceCheckingSink sink;
    sink.maxChunk = options.maxChunk;
    FrameDecoder decoder(sink, options);
    Fed run;
    Bytes buffer;
    size_t pos = 0, k = 0;
    while (pos < input.size() && !decoder.stopped()) {
        const size_t n = k < reads.size() ? std::min(reads[k++], input.size() - pos) : input.size() - pos;
        buffer.insert(buffer.end(), input.begin() + long(pos), input.begin() + long(pos + n));
        pos += n;
        // Masked payload read through feed() is unmasked into the decoder's own room.
        const bool zeroCopy = !options.expectMasked || inPlace;
        sink.bufferBegin = zeroCopy ? buffer.data() : nullptr;
        sink.bufferEnd = buffer.data() + buffer.size();
        const size_t used = inPlace ? decoder.feedInPlace(buffer.data(), buffer.size())
                                    : decoder.feed(buffer.data(), buffer.size());
        EXPECT_LE(used, buffer.size());
        if (!decoder.stopped()) {
            EXPECT_LE(buffer.size() - used, 3u) << "more held back than a character's start";
            run.mostHeld = std::max(run.mostHeld, buffer.size() - used);
        }
        buffer.erase(buffer.begin(), buffer.begin() + long(used));
        if (decoder.stopped())
            buffer.clear();
    }
    EXPECT_TRUE(buffer.empty() || decoder.stopped()) << buffer.size() << " bytes never consumed";
    run.events = sink.events;
    run.invalidTextPieces = sink.invalidTextPieces;
    run.copiedPieces = sink.copiedPieces;
    run.textPieceSizes = sink.textPieceSizes;
    return run;
}

std::string mixedText()
{
    std::string text;
    for (int i = 0; i < 12; ++i)
        text += "a\xC3\xA9" "\xE2\x82\xAC" "\xF0\x9F\x98\x80" "bc";   // 1-, 2-, 3- and 4-byte characters
    return text;
}

} // namespace whole_chars

TEST(FrameDecoderWholeCharacters, TextPiecesAreValidWhereverReadsChunksAndFragmentsCut)
{
    using namespace whole_chars;
    const std::string text = mixedText();
    for (bool masked : {false, true}) {
        // Fragment boundaries fall inside 2-, 3- and 4-byte characters.
        const Bytes input = concat({buildFrame({Opcode::Text, false, text.substr(0, 2), masked}),
                                    buildFrame({Opcode::Continuation, false, text.substr(2, 5), masked}),
                                    buildFrame({Opcode::Ping, true, "p", masked}),
                                    buildFrame({Opcode::Continuation, false, text.substr(7, 1), masked}),
                                    buildFrame({Opcode::Continuation, false, text.substr(8, 1), masked}),
                                    buildFrame({Opcode::Continuation, true, text.substr(9), masked})});
        DecoderOptions options = masked ? serverSide() : DecoderOptions{};
        for (size_t chunk : {size_t{4}, size_t{7}, size_t{1000}}) {
            options.maxChunk = chunk;
            for (bool inPlace : {false, true}) {
                for (size_t split = 0; split <= input.size(); ++split) {
                    SCOPED_TRACE("masked " + std::to_string(masked) + " chunk " + std::to_string(chunk) + " split "
                                 + std::to_string(split) + (inPlace ? " in place" : ""));
                    const Fed r = feedLikeTheEngine(input, options, {split}, inPlace);
                    EXPECT_EQ(r.events, (Events{"ping:p", "text:" + text}));
                    EXPECT_EQ(r.invalidTextPieces, 0u);
                }
                const Fed bytewise = feedLikeTheEngine(input, options, std::vector<size_t>(input.size(), 1), inPlace);
                EXPECT_EQ(bytewise.events, (Events{"ping:p", "text:" + text}));
                EXPECT_EQ(bytewise.invalidTextPieces, 0u);
                EXPECT_GT(bytewise.mostHeld, 0u);
            }
        }
    }
}

TEST(FrameDecoderWholeCharacters, OnlyCarriedCharactersAreCopiedAndBinaryIsCutAsBefore)
{
    using namespace whole_chars;
    const std::string text = mixedText();
    DecoderOptions options;
    options.maxChunk = 16;
    // One frame, reads of 13 bytes: pieces stay in the caller's buffer.
    const Fed one = feedLikeTheEngine(buildFrame({Opcode::Text, true, text}), options, std::vector<size_t>(100, 13), false);
    EXPECT_EQ(one.events, Events{"text:" + text});
    EXPECT_EQ(one.copiedPieces, 0u);
    EXPECT_EQ(one.invalidTextPieces, 0u);
    for (size_t n : one.textPieceSizes)
        EXPECT_LE(n, 16u);

    // Fragments that cut characters: those characters, and nothing else, are copied.
    const Bytes fragmented = concat({buildFrame({Opcode::Text, false, text.substr(0, 5)}),
                                     buildFrame({Opcode::Continuation, true, text.substr(5)})});
    const Fed two = feedLikeTheEngine(fragmented, options, {}, false);
    EXPECT_EQ(two.events, Events{"text:" + text});
    EXPECT_EQ(two.copiedPieces, 1u);

    // The same bytes as a binary message are cut at the chunk limit exactly.
    RecordingSink sink;
    options.wholeCharacters = true;
    FrameDecoder decoder(sink, options);
    const Bytes binary = buildFrame({Opcode::Binary, true, text});
    EXPECT_EQ(decoder.feed(binary.data(), binary.size()), binary.size());
    EXPECT_EQ(sink.events, Events{"binary:" + text});
    EXPECT_EQ(sink.pieces, (text.size() + 15) / 16);
}

TEST(FrameDecoderWholeCharacters, InvalidTextStillFailsAndTinyChunksStillProgress)
{
    using namespace whole_chars;
    DecoderOptions options;
    options.maxChunk = 8;
    // A lead byte followed by ASCII, cut by the read boundary just after the lead.
    const Bytes bad = buildFrame({Opcode::Text, true, "abc\xE2" "xyz"});
    for (size_t split = 0; split <= bad.size(); ++split) {
        const Fed r = feedLikeTheEngine(bad, options, {split}, false);
        EXPECT_EQ(r.events, Events{"error:1007"}) << "split " << split;
    }
    // A message ending inside a character held back from the last fragment.
    const Bytes truncated = concat({buildFrame({Opcode::Text, false, "ab\xE2\x82"}),
                                    buildFrame({Opcode::Continuation, true, ""})});
    EXPECT_EQ(feedLikeTheEngine(truncated, options, {}, false).events, Events{"error:1007"});

    // Below four bytes a character cannot fit a piece: pieces keep the limit.
    options.maxChunk = 2;
    const std::string text = mixedText();
    const Fed tiny = feedLikeTheEngine(buildFrame({Opcode::Text, true, text}), options, std::vector<size_t>(50, 5), false);
    EXPECT_EQ(tiny.events, Events{"text:" + text});
    for (size_t n : tiny.textPieceSizes)
        EXPECT_LE(n, 2u);
}


namespace {

std::string deflated(std::string_view text)
{
    MessageDeflater d(15, 8, true);
    std::string out;
    d.compress(reinterpret_cast<const uint8_t*>(text.data()), text.size(), true, out);
    return out;
}

} // namespace

// Compressed messages through the decoder, whichever way the input is cut:
// RSV1 marks a message's first frame, the payload is inflated on the way,
// the inflated size meets the limit, and everything that RFC 7692 forbids
// fails the connection.
TEST(FrameDecoderCompressed, InflatesMessagesAndFailsWhatIsForbidden)
{
    constexpr uint8_t kRsv1 = 0x40;
    const std::string hello("\xf2\x48\xcd\xc9\xc9\x07\x00", 7);
    const std::string euro = deflated("pr\xc3\xa9" "cis \xe2\x82\xac " + std::string(3000, 'x'));
    const std::string bomb = deflated(std::string(100000, 'a'));
    struct Case {
        const char* what;
        Bytes input;
        bool compressed;
        uint64_t limit;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {"one message", buildFrame({Opcode::Text, true, hello, true, kRsv1}), true, 0, {"text:Hello"}},
        {"the window kept",
         concat({buildFrame({Opcode::Text, true, hello, true, kRsv1}),
                 buildFrame({Opcode::Binary, true, std::string("\xf2\x00\x11\x00\x00", 5), true, kRsv1})}),
         true, 0, {"text:Hello", "binary:Hello"}},
        {"fragments with a ping between and an empty last one",
         concat({buildFrame({Opcode::Text, false, euro.substr(0, 5), true, kRsv1}),
                 buildFrame({Opcode::Ping, true, "p", true}),
                 buildFrame({Opcode::Continuation, false, euro.substr(5), true}),
                 buildFrame({Opcode::Continuation, true, "", true})}),
         true, 0, {"ping:p", "text:pr\xc3\xa9" "cis \xe2\x82\xac " + std::string(3000, 'x')}},
        {"an empty message, then a plain one",
         concat({buildFrame({Opcode::Text, true, std::string(1, '\0'), true, kRsv1}),
                 buildFrame({Opcode::Text, true, "plain", true})}),
         true, 0, {"text:", "text:plain"}},
        {"a bomb stops at the limit", buildFrame({Opcode::Binary, true, bomb, true, kRsv1}), true, 1000,
         {"error:1009"}},
        {"exactly the limit", buildFrame({Opcode::Binary, true, bomb, true, kRsv1}), true, 100000,
         {"binary:" + std::string(100000, 'a')}},
        {"RSV1 without agreement", buildFrame({Opcode::Text, true, hello, true, kRsv1}), false, 0, {"error:1002"}},
        {"a compressed ping", buildFrame({Opcode::Ping, true, "", true, kRsv1}), true, 0, {"error:1002"}},
        {"RSV1 on a continuation",
         concat({buildFrame({Opcode::Text, false, hello, true, kRsv1}),
                 buildFrame({Opcode::Continuation, true, "", true, kRsv1})}),
         true, 0, {"error:1002"}},
        {"RSV2", buildFrame({Opcode::Text, true, hello, true, 0x20}), true, 0, {"error:1002"}},
        {"no deflate data", buildFrame({Opcode::Binary, true, "\xff\xff\xff", true, kRsv1}), true, 0,
         {"error:1002"}},
        {"text that inflates to bad UTF-8", buildFrame({Opcode::Text, true, deflated("ok \xc3\x28"), true, kRsv1}),
         true, 0, {"error:1007"}},
        {"text that ends inside a character", buildFrame({Opcode::Text, true, deflated("ok \xe2\x82"), true, kRsv1}),
         true, 0, {"error:1007"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (bool whole : {false, true}) {
            DecoderOptions options;
            options.expectMasked = true;
            options.compressed = c.compressed;
            options.maxMessageSize = c.limit;
            options.wholeCharacters = whole;
            options.maxChunk = whole ? 4 : 1000;
            // Where inflating fails depends on how much input came at once,
            // so only the events are compared across cuts.
            for (bool inPlace : {false, true}) {
                for (size_t cut = 0; cut <= c.input.size(); ++cut)
                    EXPECT_EQ(decodeInPieces(c.input, options, {cut}, inPlace).events, c.events) << "cut at " << cut;
                EXPECT_EQ(decodeInPieces(c.input, options, std::vector<size_t>(c.input.size(), 1), inPlace).events,
                          c.events) << "byte by byte";
            }
        }
    }
}

} // namespace
} // namespace corvane::protocol::test
