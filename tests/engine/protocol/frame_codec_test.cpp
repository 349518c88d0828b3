#include <gtest/gtest.h>

#include <random>

#include "engine/protocol/utf8_validator.h"
#include "frame_test_support.h"

namespace corvane::protocol::test {
namespace {

Bytes header(Opcode op, bool fin, uint64_t len, const uint8_t* mask = nullptr)
{
    uint8_t out[kMaxFrameHeader];
    const size_t n = encodeFrameHeader(out, op, fin, len, mask);
    return Bytes(out, out + n);
}

TEST(FrameEncoder, WritesTheRfcHeaders)
{
    const uint8_t mask[4] = {0x37, 0xfa, 0x21, 0x3d};
    EXPECT_EQ(header(Opcode::Text, true, 5), (Bytes{0x81, 0x05}));
    EXPECT_EQ(header(Opcode::Text, true, 5, mask), (Bytes{0x81, 0x85, 0x37, 0xfa, 0x21, 0x3d}));
    EXPECT_EQ(header(Opcode::Text, false, 3), (Bytes{0x01, 0x03}));
    EXPECT_EQ(header(Opcode::Continuation, true, 2), (Bytes{0x80, 0x02}));
    EXPECT_EQ(header(Opcode::Ping, true, 5), (Bytes{0x89, 0x05}));
    EXPECT_EQ(header(Opcode::Binary, true, 256), (Bytes{0x82, 0x7E, 0x01, 0x00}));
    EXPECT_EQ(header(Opcode::Binary, true, 65536), (Bytes{0x82, 0x7F, 0, 0, 0, 0, 0, 0x01, 0x00, 0x00}));
    EXPECT_EQ(header(Opcode::Binary, true, 0x0102030405060708ull, mask).size(), kMaxFrameHeader);
}

TEST(FrameEncoder, UsesTheShortestLengthFormAtTheBoundaries)
{
    const std::pair<uint64_t, size_t> cases[] = {{125, 2}, {126, 4}, {65535, 4}, {65536, 10}, {1ull << 40, 10}};
    for (const auto& [len, size] : cases)
        EXPECT_EQ(header(Opcode::Binary, true, len).size(), size) << len;
}

TEST(FrameEncoder, MaskedFramesRoundTripThroughAServerSideDecoder)
{
    std::mt19937 rng(3);
    for (size_t len : {0u, 1u, 7u, 8u, 9u, 31u, 32u, 33u, 125u, 126u, 65535u, 65536u, 100001u}) {
        std::string payload(len, '\0');
        for (char& c : payload)
            c = static_cast<char>(rng());
        uint8_t mask[4];
        for (uint8_t& m : mask)
            m = static_cast<uint8_t>(rng());
        Bytes wire = header(Opcode::Binary, true, len, mask);
        const size_t head = wire.size();
        wire.insert(wire.end(), payload.begin(), payload.end());
        // Mask in uneven pieces, as a sender streaming from a file would.
        for (size_t off = 0; off < len;) {
            const size_t n = std::min<size_t>(1 + rng() % 37, len - off);
            applyMask(wire.data() + head + off, n, mask, off);
            off += n;
        }
        DecoderOptions o;
        o.expectMasked = true;
        const Outcome out = decodeInPieces(wire, o, {}, false);
        ASSERT_EQ(out.events.size(), 1u);
        EXPECT_TRUE(out.events[0] == "binary:" + payload) << len;
    }
}

TEST(FrameEncoder, MasksLikeTheBytewiseDefinitionAtEveryOffsetAndLength)
{
    const uint8_t mask[4] = {0xA1, 0x02, 0xF3, 0x44};
    Bytes data(100);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7);
    for (uint64_t offset = 0; offset < 9; ++offset) {
        for (size_t start = 0; start < 9; ++start) {      // unaligned starts too
            for (size_t n = 0; n + start <= data.size(); n += 13) {
                Bytes got = data;
                applyMask(got.data() + start, n, mask, offset);
                Bytes want = data;
                for (size_t i = 0; i < n; ++i)
                    want[start + i] ^= mask[(offset + i) % 4];
                ASSERT_EQ(got, want) << "offset " << offset << " start " << start << " n " << n;
            }
        }
    }
}

TEST(ClosePayload, EncodesCodeAndReasonAndTruncatesOnACharacterBoundary)
{
    EXPECT_EQ(encodeClosePayload(1000, ""), std::string("\x03\xE8", 2));
    EXPECT_EQ(encodeClosePayload(4001, "gone"), std::string("\x0F\xA1" "gone", 6));

    const std::string ascii(200, 'r');
    EXPECT_EQ(encodeClosePayload(1001, ascii).size(), kMaxControlPayload);

    // 122 ASCII bytes then a 3-byte character: it does not fit, so it goes whole.
    const std::string tight = std::string(122, 'a') + "\xE2\x82\xAC" "tail";
    const std::string p = encodeClosePayload(1000, tight);
    EXPECT_EQ(p.size(), 2u + 122u);
    EXPECT_TRUE(Utf8Validator::isValid(reinterpret_cast<const uint8_t*>(p.data()) + 2, p.size() - 2));

    // Four-byte characters at every alignment stay whole and valid.
    for (size_t lead = 0; lead < 4; ++lead) {
        std::string r(lead, 'x');
        while (r.size() < 200)
            r += "\xF0\x9F\x98\x80";
        const std::string q = encodeClosePayload(1000, r);
        EXPECT_LE(q.size(), kMaxControlPayload);
        EXPECT_GE(q.size(), kMaxControlPayload - 3);
        EXPECT_TRUE(Utf8Validator::isValid(reinterpret_cast<const uint8_t*>(q.data()) + 2, q.size() - 2)) << lead;
    }
}

TEST(ClosePayload, KnowsWhichCodesAPeerMaySend)
{
    int valid = 0;
    for (uint32_t code = 0; code <= 0xFFFF; ++code)
        valid += isValidCloseCode(static_cast<uint16_t>(code));
    EXPECT_EQ(valid, 4 + 8 + 2000);
    for (uint16_t code : {1000, 1003, 1007, 1014, 3000, 4999})
        EXPECT_TRUE(isValidCloseCode(code)) << code;
    for (uint16_t code : {999, 1004, 1005, 1006, 1015, 2999, 5000})
        EXPECT_FALSE(isValidCloseCode(code)) << code;
}

} // namespace
} // namespace corvane::protocol::test
