#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/protocol/utf8_validator.h"

namespace corvane::protocol {
namespace {

// An independent reference: decode the code point arithmetically and apply
// RFC 3629's rules (shortest form, no surrogates, at most U+10FFFF).
bool referenceValid(const std::vector<uint8_t>& s)
{
    size_t i = 0;
    while (i < s.size()) {
        const uint8_t b = s[i];
        size_t len;
        uint32_t cp;
        if (b < 0x80) { len = 1; cp = b; }
        else if ((b & 0xE0) == 0xC0) { len = 2; cp = b & 0x1F; }
        else if ((b & 0xF0) == 0xE0) { len = 3; cp = b & 0x0F; }
        else if ((b & 0xF8) == 0xF0) { len = 4; cp = b & 0x07; }
        else return false;
        if (i + len > s.size())
            return false;
        for (size_t k = 1; k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        const uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

bool dfaValid(const std::vector<uint8_t>& s)
{
    return Utf8Validator::isValid(s.data(), s.size());
}

TEST(Utf8Validator, AgreesWithTheReferenceOnEverySequenceUpToThreeBytes)
{
    for (uint32_t a = 0; a < 256; ++a) {
        ASSERT_EQ(dfaValid({uint8_t(a)}), referenceValid({uint8_t(a)})) << a;
        for (uint32_t b = 0; b < 256; ++b) {
            const std::vector<uint8_t> two = {uint8_t(a), uint8_t(b)};
            ASSERT_EQ(dfaValid(two), referenceValid(two)) << a << " " << b;
            if (a < 0xE0 || a > 0xEF)
                continue;    // three-byte lead bytes only, else the space is needlessly large
            for (uint32_t c = 0; c < 256; ++c) {
                const std::vector<uint8_t> three = {uint8_t(a), uint8_t(b), uint8_t(c)};
                ASSERT_EQ(dfaValid(three), referenceValid(three)) << a << " " << b << " " << c;
            }
        }
    }
}

TEST(Utf8Validator, AgreesWithTheReferenceOnFourByteSequences)
{
    std::mt19937 rng(5);
    for (uint32_t a = 0xF0; a <= 0xF7; ++a)
        for (uint32_t b = 0x80; b <= 0xC0; ++b)
            for (int k = 0; k < 200; ++k) {
                const std::vector<uint8_t> s = {uint8_t(a), uint8_t(b), uint8_t(0x80 + rng() % 0x50),
                                                uint8_t(0x70 + rng() % 0x60)};
                ASSERT_EQ(dfaValid(s), referenceValid(s));
            }
}

TEST(Utf8Validator, KeepsStateAcrossFeedsAndReportsTheFailingIndex)
{
    const std::string text = "plain ASCII run long enough for the word path \xE2\x82\xAC \xF0\x9F\x98\x80 end";
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    for (size_t split = 0; split <= text.size(); ++split) {
        Utf8Validator v;
        EXPECT_TRUE(v.feed(p, split));
        EXPECT_TRUE(v.feed(p + split, text.size() - split));
        EXPECT_TRUE(v.atBoundary());
    }
    Utf8Validator open;
    EXPECT_TRUE(open.feed(p, text.find("\xE2") + 1));
    EXPECT_FALSE(open.atBoundary());

    // The bad byte sits after a long ASCII stretch, so the word skip must stop in time.
    const std::string bad = std::string(37, 'a') + "\x80" + std::string(20, 'b');
    Utf8Validator v;
    EXPECT_EQ(v.scan(reinterpret_cast<const uint8_t*>(bad.data()), bad.size()), 37u);
    EXPECT_TRUE(v.failed());
    EXPECT_FALSE(v.feed(reinterpret_cast<const uint8_t*>("ok"), 2)) << "a failure is sticky";
    v.reset();
    EXPECT_TRUE(v.feed(reinterpret_cast<const uint8_t*>("ok"), 2));
}

TEST(Utf8Validator, RejectsTheClassicTraps)
{
    const std::vector<std::vector<uint8_t>> bad = {
        {0xC0, 0x80}, {0xC1, 0xBF}, {0xE0, 0x80, 0x80}, {0xE0, 0x9F, 0xBF}, {0xF0, 0x80, 0x80, 0x80},
        {0xF0, 0x8F, 0xBF, 0xBF}, {0xED, 0xA0, 0x80}, {0xED, 0xBF, 0xBF}, {0xF4, 0x90, 0x80, 0x80},
        {0xF5, 0x80, 0x80, 0x80}, {0xFE}, {0xFF}, {0x80}, {0xE2, 0x28, 0xA1}};
    for (const auto& s : bad)
        EXPECT_FALSE(dfaValid(s));
    const std::vector<std::vector<uint8_t>> good = {
        {0x7F}, {0xC2, 0x80}, {0xDF, 0xBF}, {0xE0, 0xA0, 0x80}, {0xED, 0x9F, 0xBF}, {0xEE, 0x80, 0x80},
        {0xEF, 0xBF, 0xBF}, {0xF0, 0x90, 0x80, 0x80}, {0xF4, 0x8F, 0xBF, 0xBF}, {}};
    for (const auto& s : good)
        EXPECT_TRUE(dfaValid(s));
}

} // namespace
} // namespace corvane::protocol
