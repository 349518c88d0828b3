// Incremental UTF-8 validation (RFC 3629) for text messages that arrive in
// pieces: a character may be split across frames and across reads.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane::protocol {

class Utf8Validator {
public:
    // False as soon as a byte makes the text invalid (overlong forms,
    // surrogates, code points above U+10FFFF, stray continuation bytes). Once
    // false, it stays false until reset().
    bool feed(const uint8_t* data, size_t n);
    // Same check, but tells where it failed: the index of the offending byte
    // within data, or n when every byte was acceptable.
    size_t scan(const uint8_t* data, size_t n);
    // True when no multi-byte sequence is open, so the text may end here.
    bool atBoundary() const { return state_ == kAccept; }
    bool failed() const { return state_ == kReject; }
    void reset() { state_ = kAccept; }

    // One-shot check of a complete text.
    static bool isValid(const uint8_t* data, size_t n);

    static constexpr uint8_t kAccept = 0;
    static constexpr uint8_t kReject = 1;

private:
    uint8_t state_ = kAccept;
};

} // namespace corvane::protocol
