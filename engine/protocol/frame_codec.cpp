#include "engine/protocol/frame_codec.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvane::protocol {
namespace {

// Masked payload seen through feed() is unmasked into a buffer of at most
// this size, so a large maxChunk does not cost a large allocation.
constexpr size_t kScratchLimit = 64 * 1024;

bool isDataOpcode(uint8_t op) { return op == 0x1 || op == 0x2; }
bool isKnownOpcode(uint8_t op)
{
    return op == 0x0 || op == 0x1 || op == 0x2 || op == 0x8 || op == 0x9 || op == 0xA;
}

} // namespace

size_t encodeFrameHeader(uint8_t* out, Opcode op, bool fin, uint64_t payloadLength, const uint8_t* mask4, bool rsv1)
{
    size_t i = 0;
    out[i++] = static_cast<uint8_t>((fin ? 0x80 : 0x00) | (rsv1 ? 0x40 : 0x00) | static_cast<uint8_t>(op));
    const uint8_t maskBit = mask4 ? 0x80 : 0x00;
    if (payloadLength < 126) {
        out[i++] = static_cast<uint8_t>(maskBit | payloadLength);
    } else if (payloadLength <= 0xFFFF) {
        out[i++] = maskBit | 126;
        out[i++] = static_cast<uint8_t>(payloadLength >> 8);
        out[i++] = static_cast<uint8_t>(payloadLength);
    } else {
        out[i++] = maskBit | 127;
        for (int shift = 56; shift >= 0; shift -= 8)
            out[i++] = static_cast<uint8_t>(payloadLength >> shift);
    }
    if (mask4) {
        std::memcpy(out + i, mask4, 4);
        i += 4;
    }
    return i;
}

void applyMask(uint8_t* data, size_t n, const uint8_t mask4[4], uint64_t offset)
{
    if (n == 0)
        return;
    const size_t phase = static_cast<size_t>(offset & 3);
    uint8_t rotated[8];
    for (size_t k = 0; k < 8; ++k)
        rotated[k] = mask4[(phase + k) & 3];
    uint64_t m;
    std::memcpy(&m, rotated, 8);

    size_t i = 0;
    // Every step below is a multiple of the mask period, so the rotated mask
    // stays valid. The proxy unmasks everything it forwards: wide steps count.
#if defined(__SSE2__)
    const __m128i wide = _mm_set1_epi64x(static_cast<long long>(m));
    for (; i + 64 <= n; i += 64) {
        auto* p = reinterpret_cast<__m128i*>(data + i);
        const __m128i a = _mm_xor_si128(_mm_loadu_si128(p), wide);
        const __m128i b = _mm_xor_si128(_mm_loadu_si128(p + 1), wide);
        const __m128i c = _mm_xor_si128(_mm_loadu_si128(p + 2), wide);
        const __m128i d = _mm_xor_si128(_mm_loadu_si128(p + 3), wide);
        _mm_storeu_si128(p, a);
        _mm_storeu_si128(p + 1, b);
        _mm_storeu_si128(p + 2, c);
        _mm_storeu_si128(p + 3, d);
    }
#endif
    for (; i + 32 <= n; i += 32) {
        uint64_t w[4];
        std::memcpy(w, data + i, 32);
        w[0] ^= m;
        w[1] ^= m;
        w[2] ^= m;
        w[3] ^= m;
        std::memcpy(data + i, w, 32);
    }
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, data + i, 8);
        w ^= m;
        std::memcpy(data + i, &w, 8);
    }
    for (; i < n; ++i)
        data[i] ^= rotated[i & 7];
}

std::string encodeClosePayload(uint16_t code, std::string_view reason)
{
    size_t cut = std::min<size_t>(reason.size(), kMaxControlPayload - 2);
    // Never split a character: back up over continuation bytes.
    while (cut > 0 && cut < reason.size() && (static_cast<uint8_t>(reason[cut]) & 0xC0) == 0x80)
        --cut;
    std::string out;
    out.reserve(2 + cut);
    out.push_back(static_cast<char>(code >> 8));
    out.push_back(static_cast<char>(code & 0xFF));
    out.append(reason.substr(0, cut));
    return out;
}

bool isValidCloseCode(uint16_t code)
{
    return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1014) || (code >= 3000 && code <= 4999);
}

FrameDecoder::FrameDecoder(FrameSink& sink, DecoderOptions options)
    : sink_(sink)
{
    setOptions(options);
}

FrameDecoder::~FrameDecoder() = default;

void FrameDecoder::setOptions(const DecoderOptions& options)
{
    options_ = options;
    if (options_.maxChunk == 0)
        options_.maxChunk = DecoderOptions{}.maxChunk;
    if (!options_.compressed)
        inflater_.reset();
    else if (!inflater_)
        inflater_ = std::make_unique<MessageInflater>(options_.inflateWindowBits, options_.inflateNoContextTakeover,
                                                      options_.maxChunk);
}

void FrameDecoder::reset()
{
    carryLen_ = 0;
    holding_ = false;
    utf8_.reset();
    closeUtf8_.reset();
    stage_ = Stage::Header;
    stopped_ = false;
    inMessage_ = false;
    messageBytes_ = 0;
    headerHave_ = 0;
    length_ = 0;
    done_ = 0;
}

void FrameDecoder::fail(uint16_t code, const char* reason)
{
    stopped_ = true;
    sink_.onProtocolError(code, reason);
}

FrameDecoder::HeaderResult FrameDecoder::parseHeader(const uint8_t* h, size_t avail, size_t& size, size_t& failedAt,
                                                     uint16_t& code, const char*& reason)
{
    auto failAt = [&](size_t at, uint16_t c, const char* r) {
        failedAt = at;
        code = c;
        reason = r;
        return HeaderResult::Failed;
    };
    if (avail < 1)
        return HeaderResult::NeedMore;
    const uint8_t b0 = h[0];
    const bool fin = (b0 & 0x80) != 0;
    const uint8_t op = b0 & 0x0F;
    const bool rsv1 = (b0 & 0x40) != 0;
    if ((b0 & 0x30) || (rsv1 && !inflater_))
        return failAt(0, close_code::kProtocolError, "reserved bits set");
    if (!isKnownOpcode(op))
        return failAt(0, close_code::kProtocolError, "reserved opcode");
    const bool control = (op & 0x08) != 0;
    if (rsv1 && control)
        return failAt(0, close_code::kProtocolError, "compressed control frame");
    if (rsv1 && op == 0x0)
        return failAt(0, close_code::kProtocolError, "RSV1 on a continuation frame");
    if (control && !fin)
        return failAt(0, close_code::kProtocolError, "fragmented control frame");
    if (op == 0x0 && !inMessage_)
        return failAt(0, close_code::kProtocolError, "continuation frame without a message");
    if (isDataOpcode(op) && inMessage_)
        return failAt(0, close_code::kProtocolError, "new data frame inside a fragmented message");
    if (avail < 2)
        return HeaderResult::NeedMore;

    const uint8_t b1 = h[1];
    const bool masked = (b1 & 0x80) != 0;
    if (masked != options_.expectMasked)
        return failAt(1, close_code::kProtocolError,
                      options_.expectMasked ? "unmasked frame from a client" : "masked frame from a server");
    const uint8_t len7 = b1 & 0x7F;
    if (control && len7 > kMaxControlPayload)
        return failAt(1, close_code::kProtocolError, "control frame over 125 bytes");
    if (op == 0x8 && len7 == 1)
        return failAt(1, close_code::kProtocolError, "close frame with a 1-byte payload");
    const size_t extra = len7 == 126 ? 2 : len7 == 127 ? 8 : 0;
    if (len7 == 127 && avail >= 3 && (h[2] & 0x80))
        return failAt(2, close_code::kProtocolError, "64-bit length with the top bit set");
    if (avail < 2 + extra)
        return HeaderResult::NeedMore;

    uint64_t length = len7;
    if (extra) {
        length = 0;
        for (size_t k = 0; k < extra; ++k)
            length = (length << 8) | h[2 + k];
    }
    if (!control && options_.maxMessageSize) {
        const uint64_t before = op == 0x0 ? messageBytes_ : 0;
        if (length > options_.maxMessageSize - before)
            return failAt(1 + extra, close_code::kMessageTooBig, "message too big");
    }
    size = 2 + extra + (masked ? 4 : 0);
    if (avail < size)
        return HeaderResult::NeedMore;

    fin_ = fin;
    rsv1_ = rsv1;
    opcode_ = static_cast<Opcode>(op);
    masked_ = masked;
    if (masked)
        std::memcpy(mask_, h + 2 + extra, 4);
    length_ = length;
    return HeaderResult::Complete;
}

void FrameDecoder::startFrame()
{
    done_ = 0;
    stage_ = Stage::Payload;
    if (opcode_ == Opcode::Close)
        closeUtf8_.reset();
    if (static_cast<uint8_t>(opcode_) & 0x08) {
        if (length_ == 0)
            finishControl();
        return;
    }
    if (opcode_ != Opcode::Continuation) {
        inMessage_ = true;
        messageType_ = opcode_;
        messageBytes_ = 0;
        utf8_.reset();
        carryLen_ = 0;
        compressedMessage_ = rsv1_;
    }
    messageBytes_ += length_;
    if (length_ != 0)
        return;
    ++framesDone_;
    stage_ = Stage::Header;
    if (!fin_)
        return;                          // an empty fragment carries nothing
    if (compressedMessage_) {
        inflatePiece(nullptr, 0, true);
        return;
    }
    inMessage_ = false;
    if (messageType_ == Opcode::Text && !utf8_.atBoundary()) {
        fail(close_code::kInvalidPayload, "text message ends inside a UTF-8 sequence");
        return;
    }
    sink_.onData(messageType_, control_, 0, true);
}

namespace {
// Bytes of an open UTF-8 sequence at the end of valid text: back to its lead.
size_t openSequenceLength(const uint8_t* text, size_t n)
{
    size_t t = 0;
    while (t < n && t < 3 && (text[n - 1 - t] & 0xC0) == 0x80)
        ++t;
    return t < n ? t + 1 : n;
}

size_t sequenceLength(uint8_t lead) { return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2; }
} // namespace

void FrameDecoder::inflatePiece(const uint8_t* p, size_t n, bool last)
{
    const auto result = inflater_->inflate(p, n, last, options_.maxMessageSize,
                                           [this](const uint8_t* out, size_t m) { deliverInflated(out, m); });
    if (stopped_)
        return;
    switch (result) {
    case MessageInflater::Result::Ok: break;
    case MessageInflater::Result::TooBig: fail(close_code::kMessageTooBig, "message too big"); return;
    case MessageInflater::Result::Corrupt: fail(close_code::kProtocolError, "invalid compressed data"); return;
    case MessageInflater::Result::NoMemory: fail(close_code::kInternalError, "out of memory inflating"); return;
    }
    if (!last)
        return;
    inMessage_ = false;
    if (messageType_ == Opcode::Text && (carryLen_ > 0 || !utf8_.atBoundary())) {
        carryLen_ = 0;
        fail(close_code::kInvalidPayload, "text message ends inside a UTF-8 sequence");
        return;
    }
    sink_.onData(messageType_, control_, 0, true);
}

// Inflated output is ours, so a character cut by a piece boundary is simply
// kept (at most 3 bytes) and completed from the next piece.
void FrameDecoder::deliverInflated(const uint8_t* p, size_t n)
{
    if (stopped_ || n == 0)
        return;
    if (messageType_ == Opcode::Text) {
        const size_t good = utf8_.scan(p, n);
        if (good < n) {
            carryLen_ = 0;
            fail(close_code::kInvalidPayload, "invalid UTF-8 in a text message");
            return;
        }
    }
    const bool align = messageType_ == Opcode::Text && options_.wholeCharacters;
    size_t from = 0;
    if (align && carryLen_ > 0) {
        from = std::min(n, sequenceLength(carry_[0]) - carryLen_);
        std::memcpy(carry_ + carryLen_, p, from);
        carryLen_ += from;
        if (carryLen_ < sequenceLength(carry_[0]))
            return;
        uint8_t whole[4];
        const size_t wholeLen = carryLen_;
        std::memcpy(whole, carry_, wholeLen);
        carryLen_ = 0;
        sink_.onData(messageType_, whole, wholeLen, false);
        if (stopped_)
            return;
    }
    size_t end = n;
    if (align && from < n && !utf8_.atBoundary()) {
        const size_t open = openSequenceLength(p + from, n - from);
        std::memcpy(carry_, p + n - open, open);
        carryLen_ = open;
        end = n - open;
    }
    if (from < end)
        sink_.onData(messageType_, p + from, end - from, false);
}

template <bool InPlace>
size_t FrameDecoder::dataPayload(uint8_t* mutableData, const uint8_t* p, size_t avail)
{
    const size_t take = static_cast<size_t>(std::min<uint64_t>(avail, length_ - done_));
    if (compressedMessage_) {
        // Payload is inflated piece by piece; masked payload is unmasked first.
        size_t consumed = 0;
        while (consumed < take && !stopped_) {
            size_t piece = take - consumed;
            const uint8_t* in = p + consumed;
            if (masked_) {
                if constexpr (InPlace) {
                    applyMask(mutableData + consumed, piece, mask_, done_);
                    in = mutableData + consumed;
                } else {
                    if (scratchSize_ < kScratchLimit) {
                        scratch_.reset(new uint8_t[kScratchLimit]);
                        scratchSize_ = kScratchLimit;
                    }
                    piece = std::min(piece, scratchSize_);
                    std::memcpy(scratch_.get(), in, piece);
                    applyMask(scratch_.get(), piece, mask_, done_);
                    in = scratch_.get();
                }
            }
            consumed += piece;
            done_ += piece;
            if (done_ == length_)
                ++framesDone_;
            inflatePiece(in, piece, fin_ && done_ == length_);
        }
        if (done_ == length_)
            stage_ = Stage::Header;
        return consumed;
    }
    const bool align = messageType_ == Opcode::Text && options_.wholeCharacters && options_.maxChunk >= 4;
    size_t consumed = 0;
    while (consumed < take) {
        size_t piece = std::min(take - consumed, options_.maxChunk);
        const uint8_t* out = p + consumed;
        if (masked_) {
            if constexpr (InPlace) {
                applyMask(mutableData + consumed, piece, mask_, done_);
                out = mutableData + consumed;
            } else {
                const size_t want = std::min(options_.maxChunk, kScratchLimit);
                if (scratchSize_ < want) {
                    scratch_.reset(new uint8_t[want]);
                    scratchSize_ = want;
                }
                piece = std::min(piece, scratchSize_);
                std::memcpy(scratch_.get(), out, piece);
                applyMask(scratch_.get(), piece, mask_, done_);
                out = scratch_.get();
            }
        }
        if (messageType_ == Opcode::Text) {
            const size_t good = utf8_.scan(out, piece);
            if (good < piece) {
                consumed += good + 1;
                done_ += good + 1;
                carryLen_ = 0;
                fail(close_code::kInvalidPayload, "invalid UTF-8 in a text message");
                return consumed;
            }
        }

        // A character begun in an earlier frame: its last bytes open this
        // piece, and once whole it goes out on its own, ahead of the rest.
        size_t from = 0;
        uint8_t whole[4];
        size_t wholeLen = 0;
        if (align && carryLen_ > 0) {
            from = std::min(piece, sequenceLength(carry_[0]) - carryLen_);
            std::memcpy(carry_ + carryLen_, out, from);
            carryLen_ += from;
            if (carryLen_ == sequenceLength(carry_[0])) {
                wholeLen = carryLen_;
                std::memcpy(whole, carry_, wholeLen);
                carryLen_ = 0;
            }
        }
        size_t deliver = piece;   // ends before a character kept back for later
        if (align && from < piece && !utf8_.atBoundary()) {
            const size_t open = openSequenceLength(out + from, piece - from);
            if (done_ + piece < length_) {
                // The next piece starts with this character: shorten this one.
                // In place the bytes are unmasked already; mask them back so
                // that the next round (or the caller's next call) reads them
                // as it reads any other payload.
                if constexpr (InPlace) {
                    if (masked_)
                        applyMask(mutableData + consumed + piece - open, open, mask_, done_ + piece - open);
                }
                piece -= open;
                deliver = piece;
                utf8_.reset();   // all before the character was complete and valid
                if (consumed + piece + open == avail)
                    holding_ = true;   // the input ends inside it: the caller hands it in again
            } else if (!fin_) {
                // The frame ends inside it: it waits here for the next fragment.
                std::memcpy(carry_, out + piece - open, open);
                carryLen_ = open;
                deliver = piece - open;
            }
        }

        consumed += piece;
        done_ += piece;
        if (done_ == length_)
            ++framesDone_;
        const bool last = fin_ && done_ == length_;
        if (last) {
            inMessage_ = false;
            if (messageType_ == Opcode::Text && !utf8_.atBoundary()) {
                carryLen_ = 0;
                fail(close_code::kInvalidPayload, "text message ends inside a UTF-8 sequence");
                return consumed;
            }
        }
        if (wholeLen > 0)
            sink_.onData(messageType_, whole, wholeLen, last && from == deliver);
        if (from < deliver)
            sink_.onData(messageType_, out + from, deliver - from, last);
        if (holding_)
            break;
    }
    if (done_ == length_)
        stage_ = Stage::Header;
    return consumed;
}

size_t FrameDecoder::controlPayload(const uint8_t* p, size_t avail)
{
    const size_t start = static_cast<size_t>(done_);
    const size_t take = static_cast<size_t>(std::min<uint64_t>(avail, length_ - done_));
    uint8_t* dst = control_ + start;
    std::memcpy(dst, p, take);
    if (masked_)
        applyMask(dst, take, mask_, start);
    done_ += take;

    if (opcode_ == Opcode::Close) {
        const size_t end = start + take;
        if (start < 2 && end >= 2) {
            const uint16_t code = static_cast<uint16_t>((control_[0] << 8) | control_[1]);
            if (!isValidCloseCode(code)) {
                fail(close_code::kProtocolError, "invalid close code");
                return 2 - start;
            }
        }
        const size_t from = std::max<size_t>(start, 2);
        if (end > from) {
            const size_t good = closeUtf8_.scan(control_ + from, end - from);
            if (good < end - from) {
                fail(close_code::kInvalidPayload, "invalid UTF-8 in a close reason");
                return from + good + 1 - start;
            }
        }
    }
    if (done_ == length_)
        finishControl();
    return take;
}

void FrameDecoder::finishControl()
{
    ++framesDone_;
    stage_ = Stage::Header;
    const size_t n = static_cast<size_t>(length_);
    switch (opcode_) {
    case Opcode::Ping:
        sink_.onPing(control_, n);
        break;
    case Opcode::Pong:
        sink_.onPong(control_, n);
        break;
    case Opcode::Close:
        if (n >= 2 && !closeUtf8_.atBoundary()) {
            fail(close_code::kInvalidPayload, "close reason ends inside a UTF-8 sequence");
            break;
        }
        stopped_ = true;
        if (n == 0)
            sink_.onClose(close_code::kNoStatus, {});
        else
            sink_.onClose(static_cast<uint16_t>((control_[0] << 8) | control_[1]),
                          std::string_view(reinterpret_cast<const char*>(control_ + 2), n - 2));
        break;
    default:
        break;
    }
}

template <bool InPlace>
size_t FrameDecoder::run(uint8_t* mutableData, const uint8_t* data, size_t n)
{
    size_t pos = 0;
    while (pos < n && !stopped_) {
        if (stage_ == Stage::Header) {
            const size_t before = headerHave_;
            const uint8_t* h = data + pos;
            size_t avail = n - pos;
            if (before) {
                // A header split across reads: gather it; extra bytes copied
                // here are not consumed unless the header needs them.
                const size_t copy = std::min(avail, kMaxFrameHeader - before);
                std::memcpy(header_ + before, h, copy);
                h = header_;
                avail = before + copy;
            }
            size_t size = 0, failedAt = 0;
            uint16_t code = 0;
            const char* reason = "";
            switch (parseHeader(h, avail, size, failedAt, code, reason)) {
            case HeaderResult::Failed:
                pos += failedAt + 1 - before;
                headerHave_ = 0;
                fail(code, reason);
                return pos;
            case HeaderResult::NeedMore:
                if (!before)
                    std::memcpy(header_, h, avail);
                headerHave_ = avail;
                return n;
            case HeaderResult::Complete:
                pos += size - before;
                headerHave_ = 0;
                startFrame();
                break;
            }
            continue;
        }
        const size_t avail = n - pos;
        if (static_cast<uint8_t>(opcode_) & 0x08) {
            pos += controlPayload(data + pos, avail);
        } else {
            uint8_t* m = nullptr;
            if constexpr (InPlace)
                m = mutableData + pos;
            pos += dataPayload<InPlace>(m, data + pos, avail);
            if (holding_) {
                holding_ = false;
                return pos;
            }
        }
    }
    return pos;
}

size_t FrameDecoder::feed(const uint8_t* data, size_t n)
{
    if (stopped_ || n == 0)
        return 0;
    return run<false>(nullptr, data, n);
}

size_t FrameDecoder::feedInPlace(uint8_t* data, size_t n)
{
    if (stopped_ || n == 0)
        return 0;
    return run<true>(data, data, n);
}

} // namespace corvane::protocol
