// A strict parser for the head of an HTTP/1.x message: the status or request
// line and the header fields, up to the empty line. The body (if any) is not
// its business, so Content-Length is never needed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::protocol {

struct HttpHeader { std::string field, value; };

struct HttpHead {                          // a response (status line) or a request (request line)
    std::string method, target;            // request only
    int status = 0; std::string reason;    // response only
    std::string version;                   // "HTTP/1.1"
    std::vector<HttpHeader> headers;       // in order, values trimmed, folded lines rejected
    std::optional<std::string_view> find(std::string_view field) const;   // case-insensitive, first match
    std::vector<std::string_view> findAll(std::string_view field) const;
};

// Rules (RFC 9112): every line ends with CRLF (a bare LF or CR is an error,
// since lenient line endings are what request-smuggling tricks rely on);
// header names are tokens with the colon right after them; obsolete line
// folding is rejected; values may hold VCHAR, SP, HTAB and obs-text only. A
// status line may omit the blank before an empty reason phrase.
class HttpHeadParser {
public:
    enum class Kind { Response, Request };
    enum class State { NeedMore, Done, Error };
    explicit HttpHeadParser(Kind kind = Kind::Response, size_t maxHeadSize = 16 * 1024);
    // Consumes up to and including the empty line that ends the head, never beyond it.
    State feed(const uint8_t* data, size_t n, size_t& consumed);
    State state() const { return state_; }
    const HttpHead& head() const { return head_; }
    const std::string& error() const { return error_; }      // why State::Error (malformed, too large, ...)
    void reset();

private:
    State failWith(std::string why);
    bool parseLine(std::string_view line);
    bool parseStatusLine(std::string_view line);
    bool parseRequestLine(std::string_view line);
    bool parseHeaderLine(std::string_view line);

    Kind kind_;
    size_t maxHeadSize_;
    State state_ = State::NeedMore;
    size_t total_ = 0;
    bool firstLine_ = true;
    std::string line_;
    HttpHead head_;
    std::string error_;
};

// Helpers shared by the handshake, cookie and authentication code.
bool isTokenChar(unsigned char c);
bool isToken(std::string_view s);
bool equalsIgnoreCase(std::string_view a, std::string_view b);
std::string_view trimOws(std::string_view s);
// Whether a comma-separated header value lists `token` (case-insensitive).
bool listHasToken(std::string_view value, std::string_view token);

} // namespace corvane::protocol
