// Key usage flags, extended key usage and subject alternative names as text,
// both ways. The flag values are the X.509 KeyUsage bits as OpenSSL numbers
// them (digitalSignature 0x80 ... decipherOnly 0x8000).
#pragma once

#include "engine/certs/ossl.h"

#include <string>

namespace corvane::certs {

constexpr int kAllUsageFlags = 0x80FF;
constexpr int kKeyCertSign = 0x04;

std::string usageText(int flags);
// Names separated by commas or blanks, case-insensitive; kInvalidValue-like
// failure returns false with the offending name in bad.
bool parseUsage(std::string_view text, int& flags, std::string& bad);

// "serverAuth, clientAuth, 1.2.3.4": known short or long names and dotted OIDs.
bool validExtendedUsage(std::string_view text, std::string& bad);
// The same list in the form OpenSSL's extension builder takes.
std::string extendedUsageConf(std::string_view text);

// Subject alternative names: "DNS:host, IP:127.0.0.1, email:a@b, URI:https://x"
// (commas or blanks between entries). Returns the builder form, or an error.
Error subjectAltNameConf(std::string_view text, std::string& conf);
// The names of a certificate's or request's extension, in the same form.
std::string subjectAltNameText(const GENERAL_NAMES* names);

// A host name or IP address a leaf certificate may be made for when no
// alternative names were given ("localhost" -> "DNS:localhost").
std::string altNameForCommonName(std::string_view commonName);

} // namespace corvane::certs
