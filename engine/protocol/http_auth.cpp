#include "engine/protocol/http_auth.h"

#include <cstdio>

#include "engine/protocol/crypto_util.h"
#include "engine/protocol/http_head.h"

namespace corvane::protocol {
namespace {

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c | 0x20);
    return out;
}

bool isToken68Char(unsigned char c)
{
    return isTokenChar(c) || c == '/';
}

class Lexer {
public:
    explicit Lexer(std::string_view s) : s_(s) {}
    bool atEnd() const { return pos_ >= s_.size(); }
    char peek() const { return atEnd() ? '\0' : s_[pos_]; }
    void skipWhitespace()
    {
        while (!atEnd() && (s_[pos_] == ' ' || s_[pos_] == '\t'))
            ++pos_;
    }
    void skipWhitespaceAndCommas()
    {
        while (!atEnd() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == ','))
            ++pos_;
    }
    std::string_view word(bool (*accept)(unsigned char))
    {
        const size_t start = pos_;
        while (!atEnd() && accept(static_cast<unsigned char>(s_[pos_])))
            ++pos_;
        return s_.substr(start, pos_ - start);
    }
    size_t countEquals() const
    {
        size_t k = pos_;
        while (k < s_.size() && s_[k] == '=')
            ++k;
        return k - pos_;
    }
    // After `skip` characters, is there only whitespace before a comma or the end?
    bool endsItemAfter(size_t skip) const
    {
        size_t k = pos_ + skip;
        while (k < s_.size() && (s_[k] == ' ' || s_[k] == '\t'))
            ++k;
        return k >= s_.size() || s_[k] == ',';
    }
    void advance(size_t k) { pos_ += k; }
    size_t position() const { return pos_; }
    void rewind(size_t p) { pos_ = p; }
    bool quoted(std::string& out)
    {
        ++pos_;   // opening quote
        while (!atEnd()) {
            char c = s_[pos_++];
            if (c == '"')
                return true;
            if (c == '\\') {
                if (atEnd())
                    return false;
                c = s_[pos_++];
            }
            out.push_back(c);
        }
        return false;
    }

private:
    std::string_view s_;
    size_t pos_ = 0;
};

std::string quote(std::string_view s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out.push_back('\\');
        if (c != '\r' && c != '\n')
            out.push_back(c);
    }
    out.push_back('"');
    return out;
}

} // namespace

std::string basicAuthorization(std::string_view user, std::string_view password)
{
    std::string credentials(user);
    credentials.push_back(':');
    credentials.append(password);
    return "Basic " + base64Encode(credentials);
}

std::vector<AuthChallenge> parseAuthChallenges(std::string_view headerValue)
{
    std::vector<AuthChallenge> out;
    Lexer lx(headerValue);
    for (;;) {
        lx.skipWhitespaceAndCommas();
        if (lx.atEnd())
            break;
        const std::string_view scheme = lx.word(isTokenChar);
        if (scheme.empty())
            break;
        AuthChallenge challenge;
        challenge.scheme = std::string(scheme);
        // A token68 credential may only follow the scheme directly.
        bool first = true;
        bool broken = false;
        for (;;) {
            lx.skipWhitespace();
            if (lx.atEnd())
                break;
            if (lx.peek() == ',') {
                first = false;
                lx.advance(1);
                lx.skipWhitespace();
                if (lx.atEnd())
                    break;
            }
            const size_t itemStart = lx.position();
            const std::string_view name = lx.word(first ? isToken68Char : isTokenChar);
            if (name.empty()) {
                if (lx.peek() != ',')
                    broken = true;
                break;
            }
            const size_t equals = lx.countEquals();
            if (first && lx.endsItemAfter(equals)) {
                challenge.params["token68"] = std::string(name) + std::string(equals, '=');
                lx.advance(equals);
                first = false;
                continue;
            }
            first = false;
            lx.skipWhitespace();
            if (lx.peek() != '=') {
                lx.rewind(itemStart);   // a bare token starts the next challenge
                break;
            }
            lx.advance(1);
            lx.skipWhitespace();
            std::string value;
            if (lx.peek() == '"') {
                if (!lx.quoted(value)) {
                    broken = true;
                    break;
                }
            } else {
                value = std::string(lx.word(isToken68Char));
                value.append(lx.countEquals(), '=');
                lx.advance(lx.countEquals());
            }
            challenge.params[lower(name)] = std::move(value);
            first = false;
        }
        out.push_back(std::move(challenge));
        if (broken)
            break;
    }
    return out;
}

const AuthChallenge* findChallenge(const std::vector<AuthChallenge>& challenges, std::string_view scheme)
{
    for (const AuthChallenge& c : challenges)
        if (equalsIgnoreCase(c.scheme, scheme))
            return &c;
    return nullptr;
}

std::string digestAuthorization(const AuthChallenge& challenge, std::string_view user, std::string_view password,
                                std::string_view method, std::string_view uri, std::string_view cnonce,
                                unsigned nonceCount)
{
    auto param = [&](const char* key) -> std::string {
        const auto it = challenge.params.find(key);
        return it == challenge.params.end() ? std::string() : it->second;
    };
    const std::string algorithm = param("algorithm");
    HashAlgorithm hash;
    bool session = false;
    if (algorithm.empty() || equalsIgnoreCase(algorithm, "MD5")) {
        hash = HashAlgorithm::Md5;
    } else if (equalsIgnoreCase(algorithm, "MD5-sess")) {
        hash = HashAlgorithm::Md5;
        session = true;
    } else if (equalsIgnoreCase(algorithm, "SHA-256")) {
        hash = HashAlgorithm::Sha256;
    } else if (equalsIgnoreCase(algorithm, "SHA-256-sess")) {
        hash = HashAlgorithm::Sha256;
        session = true;
    } else {
        return {};
    }
    const auto qopParam = challenge.params.find("qop");
    const bool withQop = qopParam != challenge.params.end();
    if (withQop && !listHasToken(qopParam->second, "auth"))
        return {};

    const std::string realm = param("realm");
    const std::string nonce = param("nonce");
    char nc[9];
    std::snprintf(nc, sizeof nc, "%08x", nonceCount);
    auto H = [hash](const std::string& s) { return hashHex(hash, s); };
    const std::string u(user), p(password), m(method), r(uri), cn(cnonce);

    std::string ha1 = H(u + ":" + realm + ":" + p);
    if (session)
        ha1 = H(ha1 + ":" + nonce + ":" + cn);
    const std::string ha2 = H(m + ":" + r);
    const std::string response
        = withQop ? H(ha1 + ":" + nonce + ":" + nc + ":" + cn + ":auth:" + ha2) : H(ha1 + ":" + nonce + ":" + ha2);

    std::string out = "Digest username=" + quote(user) + ", realm=" + quote(realm) + ", nonce=" + quote(nonce)
        + ", uri=" + quote(uri);
    if (!algorithm.empty())
        out += ", algorithm=" + algorithm;
    out += ", response=" + quote(response);
    if (withQop)
        out += ", qop=auth, nc=" + std::string(nc) + ", cnonce=" + quote(cnonce);
    if (challenge.params.count("opaque"))
        out += ", opaque=" + quote(param("opaque"));
    return out;
}

} // namespace corvane::protocol
