// The few primitives the handshake and HTTP authentication need, over OpenSSL.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::protocol {

std::string base64Encode(const uint8_t* data, size_t n);
std::string base64Encode(std::string_view bytes);
// Strict: standard alphabet, padded; nullopt on anything else.
std::optional<std::string> base64Decode(std::string_view text);

enum class HashAlgorithm { Md5, Sha1, Sha256 };
std::string hashBytes(HashAlgorithm algorithm, std::string_view bytes);   // raw digest
std::string hashHex(HashAlgorithm algorithm, std::string_view bytes);     // lower-case hex

// Cryptographically strong random bytes (WebSocket keys, masks, client nonces).
// False only if the system's random source failed.
bool randomBytes(uint8_t* out, size_t n);

} // namespace corvane::protocol
