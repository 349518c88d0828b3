// Owning handles for OpenSSL objects and the small result type every
// certificate routine returns. No Qt: the certificate code is used by the
// engine object, its unit tests and the fuzzers alike.
#pragma once

#include "engine/protocol/errors.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::certs {

// The engine's stable error codes (errors.h) are the codes of these routines too.
using namespace corvane::engine;

template <auto Free>
struct Deleter {
    template <class T>
    void operator()(T* p) const { Free(p); }
};

using X509Ptr = std::unique_ptr<X509, Deleter<X509_free>>;
using X509ReqPtr = std::unique_ptr<X509_REQ, Deleter<X509_REQ_free>>;
using X509NamePtr = std::unique_ptr<X509_NAME, Deleter<X509_NAME_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free_all>>;
using Pkcs12Ptr = std::unique_ptr<PKCS12, Deleter<PKCS12_free>>;

// A failure: one of the engine's stable codes and the detail for its text.
struct Error {
    int code = 0;
    std::string detail;
    explicit operator bool() const { return code != 0; }
};
inline Error ok() { return {}; }
inline Error error(int code, std::string detail) { return {code, std::move(detail)}; }

// Bytes are kept in std::string: no text meaning implied.
using Bytes = std::string;

// Text of OpenSSL's error queue (most recent reason first), emptied after.
std::string takeOpenSslErrors();
// Drops whatever an expected failure left in the queue.
void clearOpenSslErrors();

BioPtr memoryBio(std::string_view data);
Bytes bioBytes(BIO* bio);

// Certificates are shared between lists without copying their DER.
X509Ptr upRef(X509* cert);
KeyPtr upRef(EVP_PKEY* key);

// Largest certificate, key, request or PFX file read (bigger files are
// refused before parsing).
constexpr size_t kMaxInputBytes = 4u << 20;

} // namespace corvane::certs
