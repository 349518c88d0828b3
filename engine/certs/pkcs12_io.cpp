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

Error checkBags(const STACK_OF(PKCS12_SAFEBAG)* bags)
{
    for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags); ++i) {
        const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, i);
        const int nid = PKCS12_SAFEBAG_get_nid(bag);
        if (nid == NID_pkcs8ShroudedKeyBag) {
            const X509_ALGOR* alg = nullptr;
            if (const X509_SIG* sig = PKCS12_SAFEBAG_get0_pkcs8(bag))
                X509_SIG_get0(sig, &alg, nullptr);
            if (Error e = checkKeyDerivationRounds(alg, kNotAPfx, "the encryption of its key"))
                return e;
        } else if (nid == NID_safeContentsBag) {
            if (Error e = checkBags(PKCS12_SAFEBAG_get0_safes(bag)))
                return e;
        }
    }
    return ok();
}

// The bags of an encrypted safe, with the password as PKCS12_parse would try
// it (an empty one both as none and as empty); nullptr when none decrypts.
STACK_OF(PKCS12_SAFEBAG)* decryptSafe(PKCS7* p7, const char* pass)
{
    const bool empty = pass == nullptr || *pass == '\0';
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (STACK_OF(PKCS12_SAFEBAG)* bags = PKCS12_unpack_p7encdata(p7, pass, -1))
            return bags;
        if (empty) {
            if (STACK_OF(PKCS12_SAFEBAG)* bags = PKCS12_unpack_p7encdata(p7, pass ? nullptr : "", -1))
                return bags;
        }
        clearOpenSslErrors();
        if (attempt == 0 && !loadLegacyProvider())
            break;
    }
    return nullptr;
}

// The file chooses the rounds of every key derivation in it, as it does the
// MAC's: each is checked before any runs. The encryption of a safe is checked
// before the safe is opened, then the keys inside it.
Error checkKeyDerivations(PKCS12* p12, const char* pass)
{
    STACK_OF(PKCS7)* safes = PKCS12_unpack_authsafes(p12);
    Error result;
    for (int i = 0; i < sk_PKCS7_num(safes) && !result; ++i) {
        PKCS7* p7 = sk_PKCS7_value(safes, i);
        STACK_OF(PKCS12_SAFEBAG)* bags = nullptr;
        const int nid = OBJ_obj2nid(p7->type);
        if (nid == NID_pkcs7_data) {
            bags = PKCS12_unpack_p7data(p7);
        } else if (nid == NID_pkcs7_encrypted && p7->d.encrypted != nullptr && p7->d.encrypted->enc_data != nullptr) {
            result = checkKeyDerivationRounds(p7->d.encrypted->enc_data->algorithm, kNotAPfx,
                                              "the encryption of its certificates");
            if (!result)
                bags = decryptSafe(p7, pass);
        }
        if (bags != nullptr && !result)
            result = checkBags(bags);
        sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
    }
    sk_PKCS7_pop_free(safes, PKCS7_free);
    clearOpenSslErrors();
    return result;
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
    if (Error e = checkKeyDerivations(p12.get(), pass))
        return e;
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
