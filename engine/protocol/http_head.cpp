#include "engine/protocol/http_head.h"

#include <cstring>

namespace corvane::protocol {

bool isTokenChar(unsigned char c)
{
    if (c >= '0' && c <= '9') return true;
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
    return c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool isToken(std::string_view s)
{
    if (s.empty())
        return false;
    for (unsigned char c : s)
        if (!isTokenChar(c))
            return false;
    return true;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x |= 0x20;
        if (y >= 'A' && y <= 'Z') y |= 0x20;
        if (x != y)
            return false;
    }
    return true;
}

std::string_view trimOws(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool listHasToken(std::string_view value, std::string_view token)
{
    while (!value.empty()) {
        const size_t comma = value.find(',');
        if (equalsIgnoreCase(trimOws(value.substr(0, comma)), token))
            return true;
        if (comma == std::string_view::npos)
            break;
        value.remove_prefix(comma + 1);
    }
    return false;
}

std::optional<std::string_view> HttpHead::find(std::string_view field) const
{
    for (const HttpHeader& h : headers)
        if (equalsIgnoreCase(h.field, field))
            return std::string_view(h.value);
    return std::nullopt;
}

std::vector<std::string_view> HttpHead::findAll(std::string_view field) const
{
    std::vector<std::string_view> out;
    for (const HttpHeader& h : headers)
        if (equalsIgnoreCase(h.field, field))
            out.emplace_back(h.value);
    return out;
}

HttpHeadParser::HttpHeadParser(Kind kind, size_t maxHeadSize)
    : kind_(kind), maxHeadSize_(maxHeadSize)
{
}

void HttpHeadParser::reset()
{
    state_ = State::NeedMore;
    total_ = 0;
    firstLine_ = true;
    line_.clear();
    head_ = HttpHead{};
    error_.clear();
}

HttpHeadParser::State HttpHeadParser::failWith(std::string why)
{
    error_ = std::move(why);
    state_ = State::Error;
    return state_;
}

HttpHeadParser::State HttpHeadParser::feed(const uint8_t* data, size_t n, size_t& consumed)
{
    consumed = 0;
    if (state_ != State::NeedMore)
        return state_;
    while (consumed < n) {
        const size_t room = maxHeadSize_ - total_;
        const size_t window = std::min(n - consumed, room);
        const void* lf = window ? std::memchr(data + consumed, '\n', window) : nullptr;
        const size_t take = lf ? static_cast<size_t>(static_cast<const uint8_t*>(lf) - (data + consumed)) + 1 : window;
        line_.append(reinterpret_cast<const char*>(data + consumed), take);
        consumed += take;
        total_ += take;
        if (!lf) {
            if (total_ >= maxHeadSize_)
                return failWith("HTTP head larger than " + std::to_string(maxHeadSize_) + " bytes");
            return state_;
        }
        if (line_.size() < 2 || line_[line_.size() - 2] != '\r')
            return failWith("HTTP line not ended by CRLF");
        std::string_view line(line_.data(), line_.size() - 2);
        if (line.find('\r') != std::string_view::npos)
            return failWith("stray CR in an HTTP line");
        if (line.empty()) {
            if (firstLine_)
                return failWith("HTTP head starts with an empty line");
            state_ = State::Done;
            line_.clear();
            return state_;
        }
        if (!parseLine(line))
            return state_;
        line_.clear();
    }
    return state_;
}

bool HttpHeadParser::parseLine(std::string_view line)
{
    if (firstLine_) {
        firstLine_ = false;
        return kind_ == Kind::Response ? parseStatusLine(line) : parseRequestLine(line);
    }
    return parseHeaderLine(line);
}

namespace {

bool isHttpVersion(std::string_view v)
{
    return v.size() == 8 && v.substr(0, 5) == "HTTP/" && v[5] >= '0' && v[5] <= '9' && v[6] == '.' && v[7] >= '0'
        && v[7] <= '9';
}

// VCHAR, SP, HTAB and obs-text: what a field value or a reason may contain.
bool isFieldText(std::string_view s)
{
    for (unsigned char c : s)
        if (c != '\t' && (c < 0x20 || c == 0x7F))
            return false;
    return true;
}

} // namespace

bool HttpHeadParser::parseStatusLine(std::string_view line)
{
    // HTTP-version SP 3DIGIT [SP reason]
    if (line.size() < 12 || !isHttpVersion(line.substr(0, 8)) || line[8] != ' ') {
        failWith("malformed HTTP status line");
        return false;
    }
    int status = 0;
    for (size_t i = 9; i < 12; ++i) {
        if (line[i] < '0' || line[i] > '9') {
            failWith("malformed HTTP status code");
            return false;
        }
        status = status * 10 + (line[i] - '0');
    }
    if (line.size() > 12 && line[12] != ' ') {
        failWith("malformed HTTP status line");
        return false;
    }
    std::string_view reason = line.size() > 13 ? line.substr(13) : std::string_view{};
    if (!isFieldText(reason)) {
        failWith("control character in the HTTP reason phrase");
        return false;
    }
    head_.version = std::string(line.substr(0, 8));
    head_.status = status;
    head_.reason = std::string(reason);
    return true;
}

bool HttpHeadParser::parseRequestLine(std::string_view line)
{
    // method SP request-target SP HTTP-version, single blanks only
    const size_t sp1 = line.find(' ');
    const size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
    if (sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos) {
        failWith("malformed HTTP request line");
        return false;
    }
    std::string_view method = line.substr(0, sp1);
    std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    std::string_view version = line.substr(sp2 + 1);
    if (!isToken(method) || target.empty() || !isHttpVersion(version)) {
        failWith("malformed HTTP request line");
        return false;
    }
    for (unsigned char c : target)
        if (c <= 0x20 || c == 0x7F) {
            failWith("malformed HTTP request target");
            return false;
        }
    head_.method = std::string(method);
    head_.target = std::string(target);
    head_.version = std::string(version);
    return true;
}

bool HttpHeadParser::parseHeaderLine(std::string_view line)
{
    if (line.front() == ' ' || line.front() == '\t') {
        failWith("folded HTTP header line");
        return false;
    }
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
        failWith("HTTP header line without a colon");
        return false;
    }
    std::string_view name = line.substr(0, colon);
    if (!isToken(name)) {
        failWith("invalid HTTP header name");
        return false;
    }
    std::string_view value = trimOws(line.substr(colon + 1));
    if (!isFieldText(value)) {
        failWith("control character in an HTTP header value");
        return false;
    }
    head_.headers.push_back({std::string(name), std::string(value)});
    return true;
}

} // namespace corvane::protocol
