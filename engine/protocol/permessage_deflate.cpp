#include "engine/protocol/permessage_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace corvane::protocol {

namespace {

constexpr std::string_view kName = "permessage-deflate";
constexpr uint8_t kFlushTail[4] = {0x00, 0x00, 0xff, 0xff};

// ---- Sec-WebSocket-Extensions ------------------------------------------------

struct Param {
    std::string name;
    std::optional<std::string> value;
};
struct Extension {
    std::string name;
    std::vector<Param> params;
};

bool isTokenChar(char c)
{
    if (c <= 0x20 || c >= 0x7f)
        return false;
    return std::string_view("()<>@,;:\\\"/[]?={}").find(c) == std::string_view::npos;
}

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return out;
}

// extension-list = 1#( token *( ";" token [ "=" ( token / quoted-string ) ] ) ).
// Empty list elements are allowed, as in every "#" rule. No value on failure.
std::optional<std::vector<Extension>> parseExtensions(std::string_view text)
{
    std::vector<Extension> list;
    size_t i = 0;
    const auto skipSpace = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
    };
    const auto token = [&]() -> std::string {
        const size_t start = i;
        while (i < text.size() && isTokenChar(text[i]))
            ++i;
        return std::string(text.substr(start, i - start));
    };
    while (true) {
        skipSpace();
        if (i == text.size())
            break;
        if (text[i] == ',') {
            ++i;
            continue;
        }
        Extension e;
        e.name = lower(token());
        if (e.name.empty())
            return std::nullopt;
        skipSpace();
        while (i < text.size() && text[i] == ';') {
            ++i;
            skipSpace();
            Param p;
            p.name = lower(token());
            if (p.name.empty())
                return std::nullopt;
            skipSpace();
            if (i < text.size() && text[i] == '=') {
                ++i;
                skipSpace();
                if (i < text.size() && text[i] == '"') {
                    ++i;
                    std::string v;
                    while (i < text.size() && text[i] != '"') {
                        if (text[i] == '\\' && i + 1 < text.size())
                            ++i;
                        v += text[i++];
                    }
                    if (i == text.size())
                        return std::nullopt;
                    ++i;
                    p.value = v;
                } else {
                    p.value = token();
                    if (p.value->empty())
                        return std::nullopt;
                }
                skipSpace();
            }
            e.params.push_back(std::move(p));
        }
        if (i < text.size() && text[i] != ',')
            return std::nullopt;
        list.push_back(std::move(e));
    }
    return list;
}

// A window size parameter's value: 8 to 15 in plain digits, or -1.
int windowBits(const std::optional<std::string>& value)
{
    if (!value || value->empty() || value->size() > 2)
        return -1;
    for (char c : *value)
        if (c < '0' || c > '9')
            return -1;
    if (value->size() == 2 && (*value)[0] == '0')
        return -1;
    const int n = std::stoi(*value);
    return n >= 8 && n <= 15 ? n : -1;
}

// The four parameters of one offer or answer, each at most once.
struct Params {
    bool serverNoContext = false;
    bool clientNoContext = false;
    bool serverMaxWindow = false;
    int serverMaxWindowBits = 15;
    bool clientMaxWindow = false;
    int clientMaxWindowBits = -1;   // -1: named without a value
};

// false: an unknown or repeated parameter, or a bad value.
bool readParams(const Extension& e, Params& out)
{
    bool seen[4] = {false, false, false, false};
    for (const Param& p : e.params) {
        int which = -1;
        if (p.name == "server_no_context_takeover")
            which = 0;
        else if (p.name == "client_no_context_takeover")
            which = 1;
        else if (p.name == "server_max_window_bits")
            which = 2;
        else if (p.name == "client_max_window_bits")
            which = 3;
        if (which < 0 || seen[which])
            return false;
        seen[which] = true;
        switch (which) {
        case 0:
        case 1:
            if (p.value)
                return false;
            (which == 0 ? out.serverNoContext : out.clientNoContext) = true;
            break;
        case 2:
            out.serverMaxWindow = true;
            out.serverMaxWindowBits = windowBits(p.value);
            if (out.serverMaxWindowBits < 0)
                return false;
            break;
        case 3:
            out.clientMaxWindow = true;
            if (p.value) {
                out.clientMaxWindowBits = windowBits(p.value);
                if (out.clientMaxWindowBits < 0)
                    return false;
            }
            break;
        }
    }
    return true;
}

int clampBits(int bits) { return std::clamp(bits, 8, 15); }

// zlib's raw deflate takes no 8-bit window; 9 with Huffman coding only (no
// back references at all) is valid for any window the peer allows.
int zlibWindow(int bits) { return std::max(bits, 9); }

// Output room for the inflater, one lease per call that is on the stack, so
// a sink that runs another connection's inflating meanwhile gets its own.
class OutputLease {
public:
    explicit OutputLease(size_t size) : size_(size)
    {
        auto& pool = freeList();
        if (!pool.empty() && pool.back().second == size) {
            buffer_ = std::move(pool.back().first);
            pool.pop_back();
        } else {
            buffer_ = std::make_unique<uint8_t[]>(size);
        }
    }
    ~OutputLease()
    {
        auto& pool = freeList();
        if (pool.size() < 4)
            pool.emplace_back(std::move(buffer_), size_);
    }
    uint8_t* data() const { return buffer_.get(); }

private:
    using Pool = std::vector<std::pair<std::unique_ptr<uint8_t[]>, size_t>>;
    static Pool& freeList()
    {
        thread_local Pool pool;
        return pool;
    }
    std::unique_ptr<uint8_t[]> buffer_;
    size_t size_;
};

} // namespace

// ---- negotiation ---------------------------------------------------------------

std::string deflateClientOffer(const DeflateSettings& settings)
{
    std::string offer(kName);
    offer += "; client_max_window_bits";
    if (settings.maxWindowBits < 15)
        offer += "=" + std::to_string(clampBits(settings.maxWindowBits)) + "; server_max_window_bits="
               + std::to_string(clampBits(settings.maxWindowBits));
    if (settings.noContextTakeover)
        offer += "; client_no_context_takeover; server_no_context_takeover";
    return offer;
}

std::optional<DeflateAgreement> deflateAcceptOffer(std::string_view extensions, const DeflateSettings& settings,
                                                   std::string& answer)
{
    answer.clear();
    if (!settings.enabled)
        return std::nullopt;
    const auto list = parseExtensions(extensions);
    if (!list)
        return std::nullopt;
    for (const Extension& e : *list) {
        Params p;
        if (e.name != kName || !readParams(e, p))
            continue;   // declined: the next offer may do
        DeflateAgreement a;
        const int ours = clampBits(settings.maxWindowBits);
        a.ownWindowBits = p.serverMaxWindow ? std::min(ours, p.serverMaxWindowBits) : ours;
        a.ownNoContextTakeover = p.serverNoContext || settings.noContextTakeover;
        // Asking the client to drop its context is left to clients that offer
        // it: some refuse an answer with parameters they did not name.
        a.peerNoContextTakeover = p.clientNoContext;
        a.peerWindowBits = p.clientMaxWindow && p.clientMaxWindowBits > 0 ? p.clientMaxWindowBits : 15;
        answer = std::string(kName);
        if (a.ownNoContextTakeover)
            answer += "; server_no_context_takeover";
        if (a.peerNoContextTakeover)
            answer += "; client_no_context_takeover";
        if (p.serverMaxWindow || a.ownWindowBits < 15)
            answer += "; server_max_window_bits=" + std::to_string(a.ownWindowBits);
        // The client's window bounds what inflating it costs us: held to ours
        // when the client said it can take a limit.
        if (p.clientMaxWindow && a.peerWindowBits > ours) {
            a.peerWindowBits = ours;
            answer += "; client_max_window_bits=" + std::to_string(ours);
        } else if (p.clientMaxWindow && p.clientMaxWindowBits > 0) {
            answer += "; client_max_window_bits=" + std::to_string(a.peerWindowBits);
        }
        return a;
    }
    return std::nullopt;
}

std::optional<DeflateAgreement> deflateCheckAnswer(std::string_view extensions, const DeflateSettings& offered,
                                                   std::string& error)
{
    error.clear();
    const auto list = parseExtensions(extensions);
    if (!list) {
        error = "malformed Sec-WebSocket-Extensions in the answer";
        return std::nullopt;
    }
    if (list->empty())
        return std::nullopt;
    if (!offered.enabled || list->size() != 1 || list->front().name != kName) {
        error = "the server answered with an extension the client did not offer";
        return std::nullopt;
    }
    Params p;
    if (!readParams(list->front(), p)) {
        error = "the server's permessage-deflate answer has an unknown, repeated or invalid parameter";
        return std::nullopt;
    }
    const int ours = clampBits(offered.maxWindowBits);
    if (p.clientMaxWindow && p.clientMaxWindowBits < 0) {
        error = "client_max_window_bits without a value in the answer";
        return std::nullopt;
    }
    if (ours < 15 && (!p.serverMaxWindow || p.serverMaxWindowBits > ours)) {
        error = "the server did not keep to the window it was offered";
        return std::nullopt;
    }
    if (offered.noContextTakeover && !p.serverNoContext) {
        error = "the server did not accept server_no_context_takeover";
        return std::nullopt;
    }
    DeflateAgreement a;
    a.ownNoContextTakeover = p.clientNoContext || offered.noContextTakeover;
    a.peerNoContextTakeover = p.serverNoContext;
    a.ownWindowBits = p.clientMaxWindow ? std::min(ours, p.clientMaxWindowBits) : ours;
    a.peerWindowBits = p.serverMaxWindow ? p.serverMaxWindowBits : 15;
    return a;
}

// ---- compressing -----------------------------------------------------------------

struct MessageDeflater::Stream {
    z_stream z{};
    ~Stream() { deflateEnd(&z); }
};

MessageDeflater::MessageDeflater(int windowBits, int memLevel, bool noContextTakeover)
    : windowBits_(clampBits(windowBits)), memLevel_(std::clamp(memLevel, 1, 9)),
      noContextTakeover_(noContextTakeover)
{
}

MessageDeflater::~MessageDeflater() = default;

bool MessageDeflater::compress(const uint8_t* data, size_t n, bool last, std::string& out)
{
    if (!stream_) {
        auto s = std::make_unique<Stream>();
        const int strategy = windowBits_ == 8 ? Z_HUFFMAN_ONLY : Z_DEFAULT_STRATEGY;
        if (deflateInit2(&s->z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -zlibWindow(windowBits_), memLevel_, strategy)
            != Z_OK) {
            s->z.state = nullptr;   // nothing for deflateEnd to free
            return false;
        }
        stream_ = std::move(s);
    }
    z_stream& z = stream_->z;
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = uInt(n);
    const size_t before = out.size();
    const int flush = last ? Z_SYNC_FLUSH : Z_NO_FLUSH;
    uint8_t room[16 * 1024];
    do {
        z.next_out = room;
        z.avail_out = sizeof(room);
        const int rc = deflate(&z, flush);
        if (rc != Z_OK && rc != Z_BUF_ERROR)
            return false;
        out.append(reinterpret_cast<const char*>(room), sizeof(room) - z.avail_out);
    } while (z.avail_out == 0 || z.avail_in > 0);
    if (!last)
        messageBytes_ += out.size() - before;
    if (last) {
        // A sync flush always ends in the empty stored block's 00 00 ff ff.
        if (out.size() >= 4 && std::memcmp(out.data() + out.size() - 4, kFlushTail, 4) == 0)
            out.resize(out.size() - 4);
        messageBytes_ += out.size() - std::min(out.size(), before);
        // A message with nothing to say right after a flush made no bytes;
        // it is sent as one empty stored block's first byte.
        if (messageBytes_ == 0)
            out += '\0';
        messageBytes_ = 0;
        if (noContextTakeover_)
            stream_.reset();
    }
    return true;
}

// ---- inflating ---------------------------------------------------------------------

struct MessageInflater::Stream {
    z_stream z{};
    ~Stream() { inflateEnd(&z); }
};

MessageInflater::MessageInflater(int windowBits, bool noContextTakeover, size_t chunk)
    : windowBits_(clampBits(windowBits)), noContextTakeover_(noContextTakeover), chunk_(std::max<size_t>(chunk, 1))
{
}

MessageInflater::~MessageInflater() = default;

MessageInflater::Result MessageInflater::inflate(const uint8_t* data, size_t n, bool last, uint64_t limit,
                                                 const Sink& sink)
{
    if (!inMessage_) {
        inMessage_ = true;
        produced_ = 0;
        streamEnded_ = false;
    }
    if (!stream_) {
        auto s = std::make_unique<Stream>();
        if (inflateInit2(&s->z, -zlibWindow(windowBits_)) != Z_OK) {
            s->z.state = nullptr;
            return Result::NoMemory;
        }
        stream_ = std::move(s);
    }
    Result r = run(data, n, limit, sink);
    if (r == Result::Ok && last)
        r = run(kFlushTail, sizeof(kFlushTail), limit, sink);
    if (r != Result::Ok) {
        stream_.reset();
        inMessage_ = false;
        return r;
    }
    if (last) {
        inMessage_ = false;
        if (noContextTakeover_ || streamEnded_)
            stream_.reset();
    }
    return Result::Ok;
}

MessageInflater::Result MessageInflater::run(const uint8_t* data, size_t n, uint64_t limit, const Sink& sink)
{
    // Input after the peer closed its deflate stream (a final block) has
    // nothing more to say for this message.
    if (streamEnded_ || n == 0)
        return Result::Ok;
    OutputLease out(chunk_);
    z_stream& z = stream_->z;
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = uInt(n);
    while (true) {
        // Never more than one byte past the limit is inflated.
        size_t room = chunk_;
        if (limit > 0)
            room = size_t(std::min<uint64_t>(room, limit - std::min(limit, produced_) + 1));
        z.next_out = out.data();
        z.avail_out = uInt(room);
        const int rc = ::inflate(&z, Z_SYNC_FLUSH);
        const size_t made = room - z.avail_out;
        produced_ += made;
        if (limit > 0 && produced_ > limit)
            return Result::TooBig;
        if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT || rc == Z_STREAM_ERROR)
            return Result::Corrupt;
        if (rc == Z_MEM_ERROR)
            return Result::NoMemory;
        if (made > 0)
            sink(out.data(), made);
        if (rc == Z_STREAM_END) {
            streamEnded_ = true;
            return Result::Ok;
        }
        // Z_BUF_ERROR: no progress was possible, all input is taken.
        if ((z.avail_in == 0 && z.avail_out > 0) || (rc == Z_BUF_ERROR && made == 0))
            return Result::Ok;
    }
}

} // namespace corvane::protocol
