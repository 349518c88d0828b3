#include "engine/protocol/crypto_util.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <climits>
#include <vector>

namespace corvane::protocol {

std::string base64Encode(const uint8_t* data, size_t n)
{
    std::string out;
    // EVP_EncodeBlock takes an int length: encode in slices that are a
    // multiple of 3 bytes so no padding appears in the middle.
    constexpr size_t kSlice = 3 * 1024 * 1024;
    out.reserve((n + 2) / 3 * 4);
    std::vector<unsigned char> buf;
    for (size_t off = 0; off < n; off += kSlice) {
        const size_t len = std::min(kSlice, n - off);
        buf.resize((len + 2) / 3 * 4 + 1);
        const int written = EVP_EncodeBlock(buf.data(), data + off, static_cast<int>(len));
        out.append(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(written));
    }
    return out;
}

std::string base64Encode(std::string_view bytes)
{
    return base64Encode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::optional<std::string> base64Decode(std::string_view text)
{
    if (text.size() % 4 != 0 || text.size() > static_cast<size_t>(INT_MAX))
        return std::nullopt;
    if (text.empty())
        return std::string();
    auto valid = [](unsigned char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
    };
    size_t pad = 0;
    if (text.back() == '=') pad = text[text.size() - 2] == '=' ? 2 : 1;
    for (size_t i = 0; i < text.size() - pad; ++i)
        if (!valid(static_cast<unsigned char>(text[i])))
            return std::nullopt;
    std::string out(text.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n < 0)
        return std::nullopt;
    out.resize(static_cast<size_t>(n) - pad);   // DecodeBlock keeps the padding's zero bytes
    return out;
}

std::string hashBytes(HashAlgorithm algorithm, std::string_view bytes)
{
    const EVP_MD* md = algorithm == HashAlgorithm::Md5 ? EVP_md5() : algorithm == HashAlgorithm::Sha1 ? EVP_sha1()
                                                                                                      : EVP_sha256();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (!EVP_Digest(bytes.data(), bytes.size(), digest, &len, md, nullptr))
        return {};
    return std::string(reinterpret_cast<const char*>(digest), len);
}

std::string hashHex(HashAlgorithm algorithm, std::string_view bytes)
{
    static const char kHex[] = "0123456789abcdef";
    const std::string raw = hashBytes(algorithm, bytes);
    std::string out;
    out.reserve(raw.size() * 2);
    for (unsigned char c : raw) {
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 15]);
    }
    return out;
}

bool randomBytes(uint8_t* out, size_t n)
{
    while (n > 0) {
        const int len = static_cast<int>(std::min<size_t>(n, INT_MAX));
        if (RAND_bytes(out, len) != 1)
            return false;
        out += len;
        n -= static_cast<size_t>(len);
    }
    return true;
}

} // namespace corvane::protocol
