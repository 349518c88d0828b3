#include "engine/protocol/utf8_validator.h"

#include <array>
#include <cstring>

namespace corvane::protocol {
namespace {

// Byte classes: the lead bytes E0, ED, F0 and F4 restrict the range of their
// first continuation byte (no overlongs, no surrogates, nothing past U+10FFFF).
enum Class : uint8_t {
    kAscii, kCont80, kCont90, kContA0, kLead2, kLeadE0, kLead3, kLeadED,
    kLeadF0, kLead4, kLeadF4, kInvalid, kClassCount
};

// States: 0 accept, 1 reject, 2..4 need 1..3 more continuation bytes,
// 5..8 the restricted first continuation after E0, ED, F0, F4.
enum State : uint8_t {
    sAccept = 0, sReject = 1, sNeed1, sNeed2, sNeed3, sAfterE0, sAfterED, sAfterF0, sAfterF4, kStateCount
};

constexpr std::array<uint8_t, 256> makeClasses()
{
    std::array<uint8_t, 256> c{};
    for (int b = 0; b < 256; ++b) {
        uint8_t k = kInvalid;
        if (b < 0x80) k = kAscii;
        else if (b < 0x90) k = kCont80;
        else if (b < 0xA0) k = kCont90;
        else if (b < 0xC0) k = kContA0;
        else if (b < 0xC2) k = kInvalid;
        else if (b < 0xE0) k = kLead2;
        else if (b == 0xE0) k = kLeadE0;
        else if (b == 0xED) k = kLeadED;
        else if (b < 0xF0) k = kLead3;
        else if (b == 0xF0) k = kLeadF0;
        else if (b < 0xF4) k = kLead4;
        else if (b == 0xF4) k = kLeadF4;
        c[static_cast<size_t>(b)] = k;
    }
    return c;
}

constexpr std::array<std::array<uint8_t, kClassCount>, kStateCount> makeTransitions()
{
    std::array<std::array<uint8_t, kClassCount>, kStateCount> t{};
    for (auto& row : t)
        row.fill(sReject);
    auto& a = t[sAccept];
    a[kAscii] = sAccept;
    a[kLead2] = sNeed1;
    a[kLeadE0] = sAfterE0;
    a[kLead3] = sNeed2;
    a[kLeadED] = sAfterED;
    a[kLeadF0] = sAfterF0;
    a[kLead4] = sNeed3;
    a[kLeadF4] = sAfterF4;
    for (uint8_t k : {kCont80, kCont90, kContA0}) {
        t[sNeed1][k] = sAccept;
        t[sNeed2][k] = sNeed1;
        t[sNeed3][k] = sNeed2;
    }
    t[sAfterE0][kContA0] = sNeed1;                            // E0 A0..BF
    t[sAfterED][kCont80] = sNeed1;                            // ED 80..9F
    t[sAfterED][kCont90] = sNeed1;
    t[sAfterF0][kCont90] = sNeed2;                            // F0 90..BF
    t[sAfterF0][kContA0] = sNeed2;
    t[sAfterF4][kCont80] = sNeed2;                            // F4 80..8F
    return t;
}

constexpr auto kClasses = makeClasses();
constexpr auto kTransitions = makeTransitions();

} // namespace

size_t Utf8Validator::scan(const uint8_t* data, size_t n)
{
    if (state_ == kReject)
        return 0;
    uint8_t s = state_;
    size_t i = 0;
    while (i < n) {
        // Text is mostly ASCII: skip it a word at a time between characters.
        if (s == sAccept) {
            while (i + 8 <= n) {
                uint64_t w;
                std::memcpy(&w, data + i, 8);
                if (w & 0x8080808080808080ull)
                    break;
                i += 8;
            }
            if (i == n)
                break;
        }
        s = kTransitions[s][kClasses[data[i]]];
        if (s == sReject) {
            state_ = kReject;
            return i;
        }
        ++i;
    }
    state_ = s;
    return n;
}

bool Utf8Validator::feed(const uint8_t* data, size_t n)
{
    return scan(data, n) == n && state_ != kReject;
}

bool Utf8Validator::isValid(const uint8_t* data, size_t n)
{
    Utf8Validator v;
    return v.feed(data, n) && v.atBoundary();
}

} // namespace corvane::protocol
