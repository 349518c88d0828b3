// RFC 6455 framing: header encoding, masking, close payloads, and a streaming
// frame decoder that hands payload to a sink in bounded pieces without ever
// holding a whole message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/protocol/permessage_deflate.h"
#include "engine/protocol/utf8_validator.h"

namespace corvane::protocol {

enum class Opcode : uint8_t { Continuation = 0x0, Text = 0x1, Binary = 0x2, Close = 0x8, Ping = 0x9, Pong = 0xA };

constexpr size_t kMaxFrameHeader = 14;
constexpr size_t kMaxControlPayload = 125;

// Close codes the engine itself uses when it fails a connection.
namespace close_code {
constexpr uint16_t kNormal = 1000;
constexpr uint16_t kGoingAway = 1001;
constexpr uint16_t kProtocolError = 1002;
constexpr uint16_t kUnsupportedData = 1003;
constexpr uint16_t kNoStatus = 1005;        // never sent: "the close frame had no payload"
constexpr uint16_t kAbnormal = 1006;        // never sent: "the connection dropped without a close frame"
constexpr uint16_t kInvalidPayload = 1007;
constexpr uint16_t kPolicyViolation = 1008;
constexpr uint16_t kMessageTooBig = 1009;
constexpr uint16_t kInternalError = 1011;
} // namespace close_code

// Writes a frame header into out (room for kMaxFrameHeader bytes); returns its
// size. mask4 == nullptr: unmasked. Lengths use the shortest form. rsv1 marks
// the first frame of a compressed message.
size_t encodeFrameHeader(uint8_t* out, Opcode op, bool fin, uint64_t payloadLength, const uint8_t* mask4,
                         bool rsv1 = false);

// XORs data with the mask, starting at payload position `offset`, so a payload
// can be masked piece by piece.
void applyMask(uint8_t* data, size_t n, const uint8_t mask4[4], uint64_t offset);

// Close payload: 2-byte big-endian code + UTF-8 reason, truncated to 123 bytes
// on a character boundary.
std::string encodeClosePayload(uint16_t code, std::string_view reason);

// Codes a peer may send: 1000-1003, 1007-1014, 3000-4999.
bool isValidCloseCode(uint16_t code);

struct DecoderOptions {
    uint64_t maxMessageSize = 0;        // 0: unlimited; above it -> protocol error 1009
    size_t maxChunk = 256 * 1024;       // longest piece handed to onData
    bool expectMasked = false;          // server side: frames must be masked; client side (false): frames must not be
    // Text pieces end on character boundaries, so each piece is valid UTF-8
    // by itself (needs maxChunk >= 4; below that characters are cut). A
    // character cut by maxChunk starts the next piece; one cut by the end of
    // the input is left unconsumed (at most 3 bytes), for the caller to hand
    // in again at the front of its next call; one cut by a fragment boundary
    // is kept and delivered as a piece of its own once complete.
    bool wholeCharacters = false;
    // Compressed messages were agreed (RSV1 on a message's first frame); how
    // the peer compresses. Without it RSV1 is a protocol error. The inflated
    // size counts against maxMessageSize as it inflates.
    bool compressed = false;
    int inflateWindowBits = 15;
    bool inflateNoContextTakeover = false;
};

class FrameSink {
public:
    virtual ~FrameSink() = default;
    // A piece of a data message, as it arrives. type is Text or Binary (from
    // the message's first frame); last is true only on the final piece of the
    // message. n == 0 only with last == true: for an empty message, or when the
    // final fragment of a message is empty (nothing was left to deliver).
    virtual void onData(Opcode type, const uint8_t* data, size_t n, bool last) = 0;
    virtual void onPing(const uint8_t* data, size_t n) = 0;
    virtual void onPong(const uint8_t* data, size_t n) = 0;
    // A valid close frame; code 1005 when its payload was empty.
    virtual void onClose(uint16_t code, std::string_view reason) = 0;
    // A violation: the connection must be closed with closeCode (1002
    // protocol, 1007 bad UTF-8, 1009 too big).
    virtual void onProtocolError(uint16_t closeCode, std::string_view reason) = 0;
};

// Length fields are accepted in any form, also longer than needed: the
// shortest-form rule protects nothing on receive (the length is bounded by
// maxMessageSize either way), and rejecting would only break peers that write
// a fixed 16- or 64-bit field into a pre-built header.
class FrameDecoder {
public:
    explicit FrameDecoder(FrameSink& sink, DecoderOptions options = {});
    ~FrameDecoder();
    FrameDecoder(const FrameDecoder&) = delete;
    FrameDecoder& operator=(const FrameDecoder&) = delete;

    // Consumes bytes and calls the sink synchronously; returns the count
    // consumed (all of them unless it stopped, or wholeCharacters held back
    // the start of a character; on a violation, up to and including the
    // offending byte). Pieces point into `data` where no
    // unmasking is needed (zero copy); masked payload is unmasked into an
    // internal buffer. Never longer than maxChunk. Text is validated as it
    // arrives. After onClose or onProtocolError it consumes nothing more.
    size_t feed(const uint8_t* data, size_t n);
    // As feed(), but masked payload is unmasked in the caller's buffer and
    // delivered from there, so the server side is zero copy too.
    size_t feedInPlace(uint8_t* data, size_t n);

    bool stopped() const { return stopped_; }
    // True between the first and the last frame of a fragmented message.
    bool inMessage() const { return inMessage_; }
    // Frames read whole so far (data and control): progress a trickling peer
    // cannot fake by sending a byte now and then.
    uint64_t framesDone() const { return framesDone_; }
    // Forgets any partial frame and message and starts again.
    void reset();
    void setOptions(const DecoderOptions& options);
    const DecoderOptions& options() const { return options_; }

private:
    enum class Stage : uint8_t { Header, Payload };
    enum class HeaderResult : uint8_t { NeedMore, Complete, Failed };

    template <bool InPlace>
    size_t run(uint8_t* mutableData, const uint8_t* data, size_t n);
    HeaderResult parseHeader(const uint8_t* h, size_t avail, size_t& size, size_t& failedAt,
                             uint16_t& code, const char*& reason);
    void startFrame();
    template <bool InPlace>
    size_t dataPayload(uint8_t* mutableData, const uint8_t* p, size_t avail);
    size_t controlPayload(const uint8_t* p, size_t avail);
    // A piece of a compressed message's payload, unmasked; last ends the message.
    void inflatePiece(const uint8_t* p, size_t n, bool last);
    // A piece of inflated text or binary, on to the sink.
    void deliverInflated(const uint8_t* p, size_t n);
    void finishControl();
    void fail(uint16_t code, const char* reason);

    FrameSink& sink_;
    DecoderOptions options_;
    Utf8Validator utf8_;                // the text message, across its fragments
    Utf8Validator closeUtf8_;           // a close reason, which may arrive between fragments
    Stage stage_ = Stage::Header;
    bool stopped_ = false;
    bool inMessage_ = false;
    Opcode messageType_ = Opcode::Binary;
    uint64_t messageBytes_ = 0;         // declared so far, for maxMessageSize
    bool compressedMessage_ = false;    // the current message came with RSV1
    bool rsv1_ = false;                 // the current frame's RSV1
    std::unique_ptr<MessageInflater> inflater_;

    // Current frame.
    uint8_t header_[kMaxFrameHeader];
    size_t headerHave_ = 0;
    Opcode opcode_ = Opcode::Binary;
    bool fin_ = false;
    bool masked_ = false;
    uint8_t mask_[4] = {0, 0, 0, 0};
    uint64_t length_ = 0;
    uint64_t done_ = 0;                 // payload bytes of this frame already consumed
    uint64_t framesDone_ = 0;

    uint8_t carry_[4] = {0, 0, 0, 0};   // a character cut by a fragment boundary
    size_t carryLen_ = 0;
    bool holding_ = false;              // the input ended inside a character

    uint8_t control_[kMaxControlPayload];
    std::unique_ptr<uint8_t[]> scratch_;  // unmasking room for feed() on masked frames
    size_t scratchSize_ = 0;
};

} // namespace corvane::protocol
