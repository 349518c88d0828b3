// Making certificates and certificate requests: self-signed, issued by a CA
// certificate with its key, requests, and certificates from requests.
#pragma once

#include "engine/certs/ossl.h"

#include <cstdint>
#include <string>

namespace corvane::certs {

// Longest validity of a leaf (non-CA) certificate, in days.
constexpr int kMaxLeafValidityDays = 825;
constexpr int kDefaultValidityDays = 365;

// "CN=host, O=Org, C=DE" (commas or semicolons between attributes, "+" for a
// multi-valued part, quoted values and backslash escapes as RFC 4514; E and S
// accepted for emailAddress and ST; dotted OIDs as names). A text without any
// "=" is taken as the common name.
Error parseDistinguishedName(std::string_view text, X509NamePtr& out);

// What a new certificate or request carries besides its key.
struct CertProfile {
    std::string subject;
    int64_t serial = 0;            // 0: a random positive 63-bit number
    int validityDays = kDefaultValidityDays;
    int usageFlags = 0;            // key usage bits; keyCertSign makes a CA
    std::string extendedUsage;     // usage.h list
    std::string subjectAltNames;   // usage.h list; empty: derived from a host-like CN for a leaf
};

// Signed by issuerKey; issuer == nullptr makes it self-signed (issuerKey is
// then the subject's own key). The issuer must be able to sign certificates.
Error buildCertificate(const CertProfile& profile, EVP_PKEY* subjectKey, X509* issuer, EVP_PKEY* issuerKey,
                       X509Ptr& out);

Error buildRequest(const CertProfile& profile, EVP_PKEY* key, X509ReqPtr& out);

// A certificate for the request's subject and public key. The request's
// extensions (alternative names, usage) are taken unless profile sets them.
Error signRequest(X509_REQ* req, const CertProfile& profile, X509* issuer, EVP_PKEY* issuerKey, X509Ptr& out);

// True when cert may sign other certificates (CA, or a version 1 self-signed root).
bool canIssue(X509* cert);

} // namespace corvane::certs
