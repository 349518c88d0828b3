// Shared helpers of the framing tests: a sink that records what the decoder
// reports and checks its promises, and a frame builder for hand-made input.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/protocol/frame_codec.h"

namespace corvane::protocol::test {

using Bytes = std::vector<uint8_t>;

inline Bytes bytesOf(std::string_view s) { return Bytes(s.begin(), s.end()); }

// Records whole messages (pieces joined) and control events as text lines,
// and checks on the way that pieces honour maxChunk, that a message keeps
// its type, and that nothing arrives after the decoder stopped.
class RecordingSink : public FrameSink {
public:
    size_t maxChunk = SIZE_MAX;
    std::vector<std::string> events;
    std::string current;
    bool inMessage = false;
    Opcode currentType = Opcode::Binary;
    size_t pieces = 0;
    size_t largestPiece = 0;
    bool finished = false;
    uint16_t errorCode = 0;
    // Where pieces may point when they are delivered in place (zero copy).
    const uint8_t* inputBegin = nullptr;
    const uint8_t* inputEnd = nullptr;
    size_t piecesOutsideInput = 0;

    void onData(Opcode type, const uint8_t* data, size_t n, bool last) override
    {
        EXPECT_FALSE(finished) << "data after the decoder stopped";
        EXPECT_LE(n, maxChunk);
        EXPECT_TRUE(type == Opcode::Text || type == Opcode::Binary);
        if (inMessage) {
            EXPECT_EQ(type, currentType) << "type changed inside a message";
        }
        if (n == 0) {
            EXPECT_TRUE(last) << "an empty piece that is not the last";
        }
        if (inputBegin && n && (data < inputBegin || data + n > inputEnd))
            ++piecesOutsideInput;
        inMessage = !last;
        currentType = type;
        ++pieces;
        largestPiece = std::max(largestPiece, n);
        current.append(reinterpret_cast<const char*>(data), n);
        if (last) {
            events.push_back(std::string(type == Opcode::Text ? "text:" : "binary:") + current);
            current.clear();
        }
    }
    void onPing(const uint8_t* data, size_t n) override
    {
        EXPECT_FALSE(finished);
        events.push_back("ping:" + std::string(reinterpret_cast<const char*>(data), n));
    }
    void onPong(const uint8_t* data, size_t n) override
    {
        EXPECT_FALSE(finished);
        events.push_back("pong:" + std::string(reinterpret_cast<const char*>(data), n));
    }
    void onClose(uint16_t code, std::string_view reason) override
    {
        EXPECT_FALSE(finished);
        finished = true;
        events.push_back("close:" + std::to_string(code) + ":" + std::string(reason));
    }
    void onProtocolError(uint16_t closeCode, std::string_view reason) override
    {
        EXPECT_FALSE(finished);
        EXPECT_FALSE(reason.empty());
        finished = true;
        errorCode = closeCode;
        events.push_back("error:" + std::to_string(closeCode));
    }
};

struct FrameSpec {
    Opcode op = Opcode::Binary;
    bool fin = true;
    std::string payload;
    bool masked = false;
    uint8_t rsv = 0;              // bits 0x70 of the first byte
    int lengthBytes = -1;         // -1: shortest form; 0, 2 or 8 to force a form
};

inline Bytes buildFrame(const FrameSpec& f)
{
    static const uint8_t kMask[4] = {0x37, 0xFA, 0x21, 0x3D};
    Bytes out;
    out.push_back(static_cast<uint8_t>((f.fin ? 0x80 : 0) | f.rsv | static_cast<uint8_t>(f.op)));
    const uint64_t len = f.payload.size();
    int form = f.lengthBytes;
    if (form < 0)
        form = len < 126 ? 0 : len <= 0xFFFF ? 2 : 8;
    const uint8_t maskBit = f.masked ? 0x80 : 0;
    if (form == 0) {
        out.push_back(static_cast<uint8_t>(maskBit | len));
    } else {
        out.push_back(static_cast<uint8_t>(maskBit | (form == 2 ? 126 : 127)));
        for (int shift = (form - 1) * 8; shift >= 0; shift -= 8)
            out.push_back(static_cast<uint8_t>(len >> shift));
    }
    if (f.masked)
        out.insert(out.end(), kMask, kMask + 4);
    for (size_t i = 0; i < f.payload.size(); ++i)
        out.push_back(static_cast<uint8_t>(f.payload[i]) ^ (f.masked ? kMask[i % 4] : 0));
    return out;
}

inline Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct Outcome {
    std::vector<std::string> events;
    size_t consumed = 0;
    bool stopped = false;
};

// Feeds `input` in the given piece sizes (the rest in one go), through feed()
// or feedInPlace() on a private copy.
inline Outcome decodeInPieces(const Bytes& input, const DecoderOptions& options, const std::vector<size_t>& sizes,
                              bool inPlace)
{
    RecordingSink sink;
    sink.maxChunk = options.maxChunk;
    FrameDecoder decoder(sink, options);
    Bytes copy = input;
    size_t pos = 0, consumed = 0;
    size_t k = 0;
    while (pos < copy.size()) {
        const size_t n = k < sizes.size() ? std::min(sizes[k++], copy.size() - pos) : copy.size() - pos;
        const size_t used = inPlace ? decoder.feedInPlace(copy.data() + pos, n) : decoder.feed(copy.data() + pos, n);
        EXPECT_LE(used, n);
        if (!decoder.stopped()) {
            EXPECT_EQ(used, n) << "a running decoder left bytes unconsumed";
        }
        consumed += used;
        pos += n;
    }
    return {sink.events, consumed, decoder.stopped()};
}

// The outcome in one call, checked against every split into two pieces and
// against byte-by-byte feeding, through both feed() and feedInPlace().
inline Outcome decodeEverySplit(const Bytes& input, const DecoderOptions& options = {})
{
    const Outcome whole = decodeInPieces(input, options, {}, false);
    for (bool inPlace : {false, true}) {
        for (size_t split = 0; split <= input.size(); ++split) {
            const Outcome o = decodeInPieces(input, options, {split}, inPlace);
            EXPECT_EQ(o.events, whole.events) << "split at " << split << (inPlace ? " in place" : "");
            EXPECT_EQ(o.consumed, whole.consumed) << "split at " << split;
        }
        const Outcome bytewise = decodeInPieces(input, options, std::vector<size_t>(input.size(), 1), inPlace);
        EXPECT_EQ(bytewise.events, whole.events) << "byte by byte";
        EXPECT_EQ(bytewise.consumed, whole.consumed) << "byte by byte";
    }
    return whole;
}

} // namespace corvane::protocol::test
