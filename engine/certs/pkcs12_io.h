// PFX (PKCS#12) files to and from certificates and keys.
#pragma once

#include "engine/certs/keys.h"
#include "engine/certs/ossl.h"

#include <string>
#include <vector>

namespace corvane::certs {

// PBKDF2 and MAC rounds of the files we write (what the openssl program uses).
constexpr int kPfxIterations = 2048;
// Most rounds of the MAC, and of the encryption of every bag, a file may ask
// for when read.
constexpr long kMaxPfxIterations = kMaxKeyDerivationRounds;

struct PfxContent {
    X509Ptr cert;                  // the certificate of the key, or the first one
    KeyPtr key;                    // may be empty
    std::vector<X509Ptr> others;   // chain and further certificates
};

// Modern: AES-256-CBC with PBKDF2 (HMAC-SHA256) for keys and certificates and
// an HMAC-SHA256 MAC. Legacy, for readers that know nothing newer (Windows 7,
// old Java): 3DES with the PKCS#12 key derivation and an HMAC-SHA1 MAC. Both
// with kPfxIterations rounds; never a MAC iteration count of 1.
Error writePfx(X509* cert, EVP_PKEY* key, const std::vector<X509*>& chain, const std::string& password, bool legacy,
               Bytes& out);

// kNotAPfx for bytes that are not PKCS#12 or that ask for more than
// kMaxPfxIterations rounds anywhere, kWrongPassword when the MAC or the
// decryption fails with this password. Files that use RC2 or other old
// ciphers are read through OpenSSL's legacy provider.
Error readPfx(std::string_view data, const std::string& password, PfxContent& out);

bool looksLikePfx(std::string_view data);

} // namespace corvane::certs
