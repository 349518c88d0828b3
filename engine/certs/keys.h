// Key pairs: the algorithm names the certificate manager takes, creation,
// and private keys to and from PEM with an optional password.
#pragma once

#include "engine/certs/ossl.h"

#include <string>

namespace corvane::certs {

struct KeyKind {
    bool ec = false;
    int rsaBits = 2048;
    const char* curve = nullptr;   // "P-256", "P-384"
};

// "" and "RSA" give RSA 2048; "RSA2048", "RSA3072", "RSA4096", "ECDSA"
// (P-256), "ECDSA_P256", "ECDSA_P384". Case-insensitive; false when unknown.
bool parseKeyAlgorithm(std::string_view name, KeyKind& kind);

// Name of a key's algorithm in that vocabulary where one fits ("RSA3072",
// "ECDSA_P384"); otherwise "RSA", "ECDSA_<curve>", "ED25519", ...
std::string keyAlgorithmName(EVP_PKEY* key);

Error generateKey(const KeyKind& kind, KeyPtr& out);

// PKCS#8 PEM; encrypted with AES-256-CBC (PBKDF2) when password is not empty.
std::string privateKeyPem(EVP_PKEY* key, const std::string& password);

// Any private-key PEM (PKCS#8, encrypted PKCS#8, traditional RSA/EC with or
// without DEK-Info). Never prompts: a key that needs a password and gets a
// wrong or empty one fails with kWrongPassword; anything else with kNotAKey.
Error readPrivateKey(std::string_view pem, const std::string& password, KeyPtr& out);

// True when a private-key PEM is encrypted (needs a password to be read).
bool privateKeyPemEncrypted(std::string_view pem);

// Most key-derivation rounds (PBKDF2, the PKCS#12 and PKCS#5 v1 derivations,
// scrypt's block mixes, a PFX's MAC) a file may ask for when read: the file
// chooses them, and a hostile one would keep the caller busy for hours.
constexpr long kMaxKeyDerivationRounds = 1'000'000;

// Error `code` when the password-based encryption `alg` asks for more rounds
// than that (checked on its parameters, before any derivation runs); what
// names what is encrypted in the text. Algorithms it does not know pass:
// OpenSSL refuses those itself.
Error checkKeyDerivationRounds(const X509_ALGOR* alg, int code, std::string_view what);

bool keyMatchesCertificate(EVP_PKEY* key, X509* cert);
bool sameKey(EVP_PKEY* a, EVP_PKEY* b);

} // namespace corvane::certs
