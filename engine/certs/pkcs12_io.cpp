#include "engine/certs/pkcs12_io.h"

#include "engine/certs/keys.h"

#include <openssl/err.h>
#include <openssl/provider.h>

namespace corvane::certs {

namespace {

// RC2-40 and friends live in OpenSSL's legacy provider, loaded the first time
// a file needs it and kept (the default provider stays available).
bool loadLegacyProvider()
{
    static OSSL_PROVIDER* legacy = OSSL_PROVIDER_try_load(nullptr, "legacy", 1);
    clearOpenSslErrors();
    return legacy != nullptr;
}

bool macVerifies(PKCS12* p12, const std::string& password)
{
    bool good = PKCS12_verify_mac(p12, password.c_str(), int(password.size())) == 1;
    if (!good && password.empty())
        good = PKCS12_verify_mac(p12, nullptr, 0) == 1;
    clearOpenSslErrors();
    return good;
}

} // namespace

bool looksLikePfx(std::string_view data)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(data.data());
    PKCS12* p12 = d2i_PKCS12(nullptr, &p, long(data.size()));
    const bool yes = p12 != nullptr;
    PKCS12_free(p12);
    clearOpenSslErrors();
    return yes;
}

Error writePfx(X509* cert, EVP_PKEY* key, const std::vector<X509*>& chain, const std::string& password, bool legacy,
               Bytes& out)
{
    out.clear();
    if (cert == nullptr)
        return error(kNoCertificate, "nothing to export");
    if (key != nullptr && !keyMatchesCertificate(key, cert))
        return error(kKeyMismatch, "the private key is not the certificate's");
    STACK_OF(X509)* ca = sk_X509_new_null();
    for (X509* c : chain)
        sk_X509_push(ca, c);
    const int nid = legacy ? NID_pbe_WithSHA1And3_Key_TripleDES_CBC : NID_aes_256_cbc;
    // mac_iter -1: no MAC yet; the MAC with our digest is set below.
    Pkcs12Ptr p12(PKCS12_create(password.c_str(), nullptr, key, cert, ca, nid, nid, kPfxIterations, -1, 0));
    sk_X509_free(ca);
    if (!p12)
        return error(kCryptoFailed, "PKCS#12: " + takeOpenSslErrors());
    if (!PKCS12_set_mac(p12.get(), password.c_str(), int(password.size()), nullptr, 0, kPfxIterations,
                        legacy ? EVP_sha1() : EVP_sha256()))
        return error(kCryptoFailed, "PKCS#12 MAC: " + takeOpenSslErrors());
    unsigned char* der = nullptr;
    const int n = i2d_PKCS12(p12.get(), &der);
    if (n <= 0)
        return error(kCryptoFailed, "PKCS#12 encoding: " + takeOpenSslErrors());
    out.assign(reinterpret_cast<const char*>(der), size_t(n));
    OPENSSL_free(der);
    return ok();
}

Error readPfx(std::string_view data, const std::string& password, PfxContent& out)
{
    out = PfxContent{};
    if (data.size() > kMaxInputBytes)
        return error(kFileTooLarge, "the PFX is larger than " + std::to_string(kMaxInputBytes >> 20) + " MiB");
    const unsigned char* p = reinterpret_cast<const unsigned char*>(data.data());
    Pkcs12Ptr p12(d2i_PKCS12(nullptr, &p, long(data.size())));
    if (!p12) {
        clearOpenSslErrors();
        return error(kNotAPfx, "the bytes do not decode as PKCS#12");
    }
    const bool hasMac = PKCS12_mac_present(p12.get()) == 1;
    if (hasMac) {
        // The file chooses the rounds: a hostile one would keep us busy for hours.
        const ASN1_INTEGER* iter = nullptr;
        PKCS12_get0_mac(nullptr, nullptr, nullptr, &iter, p12.get());
        const long rounds = iter ? ASN1_INTEGER_get(iter) : 1;
        if (rounds < 0 || rounds > kMaxPfxIterations)
            return error(kNotAPfx, "its integrity check asks for " + std::to_string(rounds) + " rounds (at most "
                                       + std::to_string(kMaxPfxIterations) + " are accepted)");
    }
    if (hasMac && !macVerifies(p12.get(), password))
        return error(kWrongPassword, "the PFX's integrity check fails with this password");

    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    STACK_OF(X509)* ca = nullptr;
    const char* pass = password.empty() && hasMac && !macVerifies(p12.get(), "") ? nullptr : password.c_str();
    bool parsed = PKCS12_parse(p12.get(), pass, &key, &cert, &ca) == 1;
    if (!parsed) {
        clearOpenSslErrors();
        if (loadLegacyProvider())
            parsed = PKCS12_parse(p12.get(), pass, &key, &cert, &ca) == 1;
    }
    if (!parsed) {
        const std::string why = takeOpenSslErrors();
        if (!hasMac)
            return error(kWrongPassword, "the PFX does not decrypt with this password");
        return error(kCryptoFailed, "PFX contents: " + why);
    }
    out.key.reset(key);
    out.cert.reset(cert);
    for (int k = 0; k < sk_X509_num(ca); ++k)
        out.others.emplace_back(sk_X509_value(ca, k));
    sk_X509_free(ca);   // the certificates now belong to out.others
    if (!out.cert && !out.others.empty()) {
        out.cert = std::move(out.others.front());
        out.others.erase(out.others.begin());
    }
    clearOpenSslErrors();
    if (!out.cert) {
        out = PfxContent{};
        return error(kNotACertificate, "the PFX holds no certificate");
    }
    return ok();
}

} // namespace corvane::certs
