// Frame decoder under arbitrary bytes. Byte 0 picks the options, byte 1 the
// read size; the rest is the stream. Besides the sanitizers, it checks the
// decoder's promises and that the read size changes nothing it reports
// (compressed messages, picked by bit 0x40, are checked for the promises only).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/protocol/frame_codec.h"
#include "engine/protocol/utf8_validator.h"

using namespace corvane::protocol;

namespace {

#define FUZZ_CHECK(cond) do { if (!(cond)) __builtin_trap(); } while (0)

class CheckingSink : public FrameSink {
public:
    explicit CheckingSink(size_t maxChunk) : maxChunk_(maxChunk) {}

    std::string log;              // what a user of the decoder would see

    void onData(Opcode type, const uint8_t* data, size_t n, bool last) override
    {
        FUZZ_CHECK(!stopped_);
        FUZZ_CHECK(n <= maxChunk_);
        FUZZ_CHECK(type == Opcode::Text || type == Opcode::Binary);
        FUZZ_CHECK(n > 0 || last);
        if (open_)
            FUZZ_CHECK(type == type_);
        if (type == Opcode::Text) {
            FUZZ_CHECK(text_.feed(data, n));
            if (last)
                FUZZ_CHECK(text_.atBoundary());
        }
        open_ = !last;
        type_ = type;
        message_.append(reinterpret_cast<const char*>(data), n);
        if (last) {
            log += type == Opcode::Text ? "T" : "B";
            log += std::to_string(message_.size()) + ":" + message_ + ";";
            message_.clear();
            text_.reset();
        }
    }
    void onPing(const uint8_t* data, size_t n) override { control('P', data, n); }
    void onPong(const uint8_t* data, size_t n) override { control('O', data, n); }
    void onClose(uint16_t code, std::string_view reason) override
    {
        FUZZ_CHECK(!stopped_);
        FUZZ_CHECK(code == 1005 || isValidCloseCode(code));
        FUZZ_CHECK(reason.size() <= kMaxControlPayload - 2);
        FUZZ_CHECK(Utf8Validator::isValid(reinterpret_cast<const uint8_t*>(reason.data()), reason.size()));
        stopped_ = true;
        log += "C" + std::to_string(code) + ":" + std::string(reason) + ";";
    }
    void onProtocolError(uint16_t closeCode, std::string_view) override
    {
        FUZZ_CHECK(!stopped_);
        FUZZ_CHECK(closeCode == 1002 || closeCode == 1007 || closeCode == 1009);
        stopped_ = true;
        log += "E" + std::to_string(closeCode) + ";";
    }

private:
    void control(char kind, const uint8_t* data, size_t n)
    {
        FUZZ_CHECK(!stopped_);
        FUZZ_CHECK(n <= kMaxControlPayload);
        log += kind;
        log.append(reinterpret_cast<const char*>(data), n);
        log += ";";
    }

    size_t maxChunk_;
    bool stopped_ = false;
    bool open_ = false;
    Opcode type_ = Opcode::Binary;
    Utf8Validator text_;
    std::string message_;
};

struct Run {
    std::string log;
    size_t consumed = 0;
};

Run decode(const DecoderOptions& options, const uint8_t* data, size_t size, size_t step, bool inPlace)
{
    CheckingSink sink(options.maxChunk);
    FrameDecoder decoder(sink, options);
    std::vector<uint8_t> copy(data, data + size);
    Run run;
    for (size_t pos = 0; pos < size; pos += step) {
        const size_t n = std::min(step, size - pos);
        const bool wasStopped = decoder.stopped();
        const size_t used = inPlace ? decoder.feedInPlace(copy.data() + pos, n) : decoder.feed(copy.data() + pos, n);
        FUZZ_CHECK(used <= n);
        if (wasStopped)
            FUZZ_CHECK(used == 0);
        if (!decoder.stopped())
            FUZZ_CHECK(used == n);
        run.consumed += used;
    }
    run.log = std::move(sink.log);
    return run;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t config = data[0];
    const size_t step = 1 + data[1];
    data += 2;
    size -= 2;

    DecoderOptions options;
    options.expectMasked = (config & 0x01) != 0;
    static const size_t kChunks[] = {1, 3, 16, 125, 4096, 256 * 1024};
    options.maxChunk = kChunks[(config >> 1) % 6];
    options.maxMessageSize = (config & 0x10) ? 300 : 0;
    const bool inPlace = (config & 0x20) != 0;
    options.compressed = (config & 0x40) != 0;
    options.inflateNoContextTakeover = (config & 0x80) != 0;

    const Run whole = decode(options, data, size, size ? size : 1, false);
    const Run pieces = decode(options, data, size, step, inPlace);
    // Where inflating fails, and so which error comes first, depends on how
    // much input came at once; uncompressed streams must agree exactly.
    if (!options.compressed) {
        FUZZ_CHECK(whole.log == pieces.log);
        FUZZ_CHECK(whole.consumed == pieces.consumed);
    }
    return 0;
}
