// Compressed messages (RFC 7692, permessage-deflate) on bytes: the offer and
// the answer of the opening handshake, and per-connection compression and
// decompression of whole messages with zlib. No sockets, no frames: the frame
// codec sets and reads RSV1, the connection feeds messages through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::protocol {

// What this side is willing to do, from its settings.
struct DeflateSettings {
    bool enabled = false;
    int maxWindowBits = 15;           // 8..15: the largest LZ77 window this side compresses with
    int memLevel = 8;                 // 1..9: zlib's memory for compression state
    bool noContextTakeover = false;   // compress each message afresh; a client also asks it of the server

    bool operator==(const DeflateSettings&) const = default;
};

// What the handshake settled, seen from one side. "Own" is the side these
// parameters belong to (the client or the server); "peer" is the other.
struct DeflateAgreement {
    bool ownNoContextTakeover = false;    // this side compresses each message afresh
    bool peerNoContextTakeover = false;   // the peer does, so inflating keeps no window
    int ownWindowBits = 15;               // this side compresses within this window
    int peerWindowBits = 15;              // the peer compresses within this window
};

// The Sec-WebSocket-Extensions value a client sends.
std::string deflateClientOffer(const DeflateSettings& settings);

// Server side: the first acceptable permessage-deflate offer in the request's
// Sec-WebSocket-Extensions value (several header lines joined with ", ").
// On acceptance, `answer` is the response's header value. No value when the
// request offers nothing acceptable: the connection opens uncompressed.
// A header that cannot be parsed at all is treated as offering nothing.
std::optional<DeflateAgreement> deflateAcceptOffer(std::string_view extensions, const DeflateSettings& settings,
                                                   std::string& answer);

// Client side: checks the server's answer against what was offered. No
// extension in the answer: no compression (empty optional, error empty).
// An answer the client did not offer or cannot honour: empty optional and
// `error` says why; the connection must then fail.
std::optional<DeflateAgreement> deflateCheckAnswer(std::string_view extensions, const DeflateSettings& offered,
                                                   std::string& error);

// Compresses whole messages, one at a time, piece by piece. The zlib state
// is made at the first message and dropped after each message when no
// context is kept, so an idle connection without context takeover holds none.
class MessageDeflater {
public:
    MessageDeflater(int windowBits, int memLevel, bool noContextTakeover);
    ~MessageDeflater();
    MessageDeflater(const MessageDeflater&) = delete;
    MessageDeflater& operator=(const MessageDeflater&) = delete;

    // Appends the compressed form of data to out; `last` ends the message
    // (the trailing 00 00 ff ff of the flush is left off, as RFC 7692 asks).
    // false only when zlib fails (out of memory).
    bool compress(const uint8_t* data, size_t n, bool last, std::string& out);
    bool holdsState() const { return stream_ != nullptr; }

private:
    struct Stream;
    std::unique_ptr<Stream> stream_;
    int windowBits_;
    int memLevel_;
    bool noContextTakeover_;
    size_t messageBytes_ = 0;   // output of the current message so far
};

// Decompresses whole messages piece by piece, handing the output on in
// pieces of at most `chunk` bytes. The output of one message is counted
// against `limit` as it is produced: inflating stops there, whatever the
// input still holds.
class MessageInflater {
public:
    enum class Result { Ok, TooBig, Corrupt, NoMemory };
    using Sink = std::function<void(const uint8_t* data, size_t n)>;

    MessageInflater(int windowBits, bool noContextTakeover, size_t chunk = 64 * 1024);
    ~MessageInflater();
    MessageInflater(const MessageInflater&) = delete;
    MessageInflater& operator=(const MessageInflater&) = delete;

    // Feeds compressed bytes of the current message; `last` when they end it.
    // limit 0: unlimited. After anything but Ok the inflater is spent.
    Result inflate(const uint8_t* data, size_t n, bool last, uint64_t limit, const Sink& sink);
    bool holdsState() const { return stream_ != nullptr; }
    uint64_t messageSize() const { return produced_; }

private:
    Result run(const uint8_t* data, size_t n, uint64_t limit, const Sink& sink);

    struct Stream;
    std::unique_ptr<Stream> stream_;
    int windowBits_;
    bool noContextTakeover_;
    size_t chunk_;
    uint64_t produced_ = 0;
    bool inMessage_ = false;
    bool streamEnded_ = false;   // the peer ended the deflate stream inside this message
};

} // namespace corvane::protocol
