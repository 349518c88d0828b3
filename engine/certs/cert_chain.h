// The chain of a certificate up to a trusted root, with the verification
// result of each element.
#pragma once

#include "engine/certs/ossl.h"

#include <string>
#include <vector>

namespace corvane::certs {

enum ChainInfo : int {
    kChainSelfSigned = 1,   // the element is self-signed
    kChainTrusted = 2,      // the element came from the trusted certificates
};

struct ChainElement {
    X509Ptr cert;
    int status = 0;   // 0, or OpenSSL's verification error at this element
    int info = 0;     // ChainInfo bits
};

// From cert (first) upwards as far as issuers are found among untrusted and
// trusted. Returns "OK" or the first verification error's text.
std::string buildChain(X509* cert, const std::vector<X509*>& untrusted, const std::vector<X509*>& trusted,
                       std::vector<ChainElement>& out);

} // namespace corvane::certs
