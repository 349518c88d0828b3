// Reading certificates and certificate requests from bytes into the fields the
// certificate manager shows. Input is untrusted: anything may come in, and
// the answer is fields or an error, never a crash.
#pragma once

#include "engine/certs/ossl.h"

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::certs {

struct Extension {
    std::string oid;       // dotted
    bool critical = false;
    Bytes value;           // DER of the extension value (the OCTET STRING's content)
};

// Every shown field of a certificate (or, for a request, those it has).
struct CertFields {
    std::string subject;            // distinguished name, encoded order, "CN=a, O=b"
    std::string issuer;
    std::string serialNumber;       // upper-case hex, two digits a byte
    std::string effectiveDate;      // "YYYY-MM-DD HH:MM:SSZ"
    std::string expirationDate;
    std::string fingerprint;        // SHA-256, "AB:CD:..."
    std::string thumbprintMD5;      // upper-case hex
    std::string thumbprintSHA1;
    std::string thumbprintSHA256;
    std::string publicKey;          // SubjectPublicKeyInfo PEM
    std::string publicKeyAlgorithm; // "RSA2048", "ECDSA_P256", ... (keys.h)
    int publicKeyLength = 0;        // bits
    std::string signatureAlgorithm; // "sha256WithRSAEncryption", "ecdsa-with-SHA256", ...
    std::string version;            // "3"
    std::string subjectAltNames;    // "DNS:a, IP:127.0.0.1, email:x@y, URI:..."
    int usageFlags = 0;             // key usage bits (usage.h)
    std::string usage;              // their names
    std::string extendedUsage;      // "serverAuth, clientAuth, 1.2.3.4"
    std::vector<Extension> extensions;
};

// What one file or byte block held: certificates and at most one private key
// (kept as its PEM block, still encrypted if it was).
struct Material {
    std::vector<X509Ptr> certs;
    std::string keyPem;
};

// PEM (any number of certificates and one private key, text around the blocks
// ignored) or a single DER certificate. kNotACertificate when no certificate
// is found or a block is damaged; `what` names the source in the error.
Error readCertificateData(std::string_view data, const std::string& what, Material& out);

CertFields describeCertificate(X509* cert);

// A certificate request, PEM, DER or bare base64. The request's signature is
// checked: kBadRequestSignature when it does not verify.
Error readRequest(std::string_view data, X509ReqPtr& out);
CertFields describeRequest(X509_REQ* req);

// Distinguished-name text in the form the fields use.
std::string nameText(const X509_NAME* name);

Bytes certificateDer(X509* cert);
std::string certificatePem(X509* cert);
std::string requestPem(X509_REQ* req);
std::string sha1Hex(X509* cert);

} // namespace corvane::certs
