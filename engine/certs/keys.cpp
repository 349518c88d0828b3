#include "engine/certs/keys.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <cctype>
#include <cstring>

namespace corvane::certs {

namespace {

std::string upper(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

struct PasswordSource {
    const std::string* password;
    bool asked = false;
};

// Hands over the password, or refuses (never a terminal prompt).
int passwordCallback(char* buf, int size, int /*rwflag*/, void* u)
{
    auto* src = static_cast<PasswordSource*>(u);
    src->asked = true;
    if (src->password == nullptr || src->password->empty() || int(src->password->size()) > size)
        return -1;
    std::memcpy(buf, src->password->data(), src->password->size());
    return int(src->password->size());
}

// Rounds of the key derivation behind a password-based encryption: the
// iteration count of PKCS#5 v1, PKCS#12 and PBKDF2, N x r x p of scrypt.
// -1 when a count is negative or beyond any range; 0 when alg is no
// password-based encryption this code knows (or its parameters do not decode).
long derivationRounds(const X509_ALGOR* alg)
{
    if (alg == nullptr)
        return 0;
    const int nid = OBJ_obj2nid(alg->algorithm);
    if (nid == NID_pbes2) {
        auto* pbe2 = static_cast<PBE2PARAM*>(ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBE2PARAM), alg->parameter));
        if (pbe2 == nullptr)
            return 0;
        long rounds = 0;
        const X509_ALGOR* kdf = pbe2->keyfunc;
        const int kdfNid = kdf != nullptr ? OBJ_obj2nid(kdf->algorithm) : NID_undef;
        if (kdfNid == NID_id_pbkdf2) {
            auto* p = static_cast<PBKDF2PARAM*>(ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBKDF2PARAM), kdf->parameter));
            if (p != nullptr)
                rounds = p->iter != nullptr ? ASN1_INTEGER_get(p->iter) : 0;
            PBKDF2PARAM_free(p);
        } else if (kdfNid == NID_id_scrypt) {
            auto* p = static_cast<SCRYPT_PARAMS*>(ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(SCRYPT_PARAMS), kdf->parameter));
            uint64_t n = 0, r = 0, par = 0;
            if (p != nullptr && ASN1_INTEGER_get_uint64(&n, p->costParameter) && ASN1_INTEGER_get_uint64(&r, p->blockSize)
                && ASN1_INTEGER_get_uint64(&par, p->parallelizationParameter)) {
                const uint64_t limit = uint64_t(kMaxKeyDerivationRounds);
                const bool over = n > limit || r > limit || par > limit || n * r > limit || n * r * par > limit;
                rounds = over ? -1 : long(n * r * par);
            }
            SCRYPT_PARAMS_free(p);
        }
        PBE2PARAM_free(pbe2);
        return rounds;
    }
    if (EVP_PBE_find(EVP_PBE_TYPE_OUTER, nid, nullptr, nullptr, nullptr) == 1) {
        auto* p = static_cast<PBEPARAM*>(ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBEPARAM), alg->parameter));
        const long rounds = p != nullptr && p->iter != nullptr ? ASN1_INTEGER_get(p->iter) : 0;
        PBEPARAM_free(p);
        return rounds;
    }
    return 0;
}

// Every encrypted PKCS#8 block of the text, before OpenSSL decrypts one.
Error checkEncryptedKeyBlocks(std::string_view pem)
{
    if (pem.find(PEM_STRING_PKCS8) == std::string_view::npos)
        return ok();
    BioPtr bio = memoryBio(pem);
    Error result;
    while (!result) {
        char* name = nullptr;
        char* header = nullptr;
        unsigned char* der = nullptr;
        long len = 0;
        if (!PEM_read_bio(bio.get(), &name, &header, &der, &len))
            break;
        if (std::strcmp(name, PEM_STRING_PKCS8) == 0) {
            const unsigned char* p = der;
            if (X509_SIG* sig = d2i_X509_SIG(nullptr, &p, len)) {
                const X509_ALGOR* alg = nullptr;
                X509_SIG_get0(sig, &alg, nullptr);
                result = checkKeyDerivationRounds(alg, kNotAKey, "the key's encryption");
                X509_SIG_free(sig);
            }
        }
        OPENSSL_free(name);
        OPENSSL_free(header);
        OPENSSL_free(der);
    }
    clearOpenSslErrors();
    return result;
}

} // namespace

Error checkKeyDerivationRounds(const X509_ALGOR* alg, int code, std::string_view what)
{
    const long rounds = derivationRounds(alg);
    clearOpenSslErrors();
    if (rounds >= 0 && rounds <= kMaxKeyDerivationRounds)
        return ok();
    const std::string asked = rounds < 0 ? "an out-of-range number of" : std::to_string(rounds);
    return error(code, std::string(what) + " asks for " + asked + " rounds (at most "
                           + std::to_string(kMaxKeyDerivationRounds) + " are accepted)");
}

bool parseKeyAlgorithm(std::string_view name, KeyKind& kind)
{
    const std::string n = upper(name);
    KeyKind s;
    if (n.empty() || n == "RSA" || n == "RSA2048")
        s.rsaBits = 2048;
    else if (n == "RSA3072")
        s.rsaBits = 3072;
    else if (n == "RSA4096")
        s.rsaBits = 4096;
    else if (n == "ECDSA" || n == "ECDSA_P256") {
        s.ec = true;
        s.curve = "P-256";
    } else if (n == "ECDSA_P384") {
        s.ec = true;
        s.curve = "P-384";
    } else
        return false;
    kind = s;
    return true;
}

std::string keyAlgorithmName(EVP_PKEY* key)
{
    if (key == nullptr)
        return {};
    const int bits = EVP_PKEY_get_bits(key);
    if (EVP_PKEY_is_a(key, "RSA")) {
        if (bits == 2048 || bits == 3072 || bits == 4096)
            return "RSA" + std::to_string(bits);
        return "RSA";
    }
    if (EVP_PKEY_is_a(key, "EC")) {
        char curve[80] = {0};
        size_t len = 0;
        if (!EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, curve, sizeof curve, &len)) {
            clearOpenSslErrors();
            return "ECDSA";
        }
        const std::string c(curve);
        if (c == "prime256v1" || c == "P-256")
            return "ECDSA_P256";
        if (c == "secp384r1" || c == "P-384")
            return "ECDSA_P384";
        return "ECDSA_" + c;
    }
    const char* type = EVP_PKEY_get0_type_name(key);
    return type ? upper(type) : std::string("UNKNOWN");
}

Error generateKey(const KeyKind& kind, KeyPtr& out)
{
    EVP_PKEY* key = kind.ec ? EVP_EC_gen(kind.curve) : EVP_RSA_gen(static_cast<unsigned int>(kind.rsaBits));
    if (key == nullptr)
        return error(kCryptoFailed, "key generation: " + takeOpenSslErrors());
    out.reset(key);
    return ok();
}

std::string privateKeyPem(EVP_PKEY* key, const std::string& password)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    const bool encrypt = !password.empty();
    const int rc = PEM_write_bio_PKCS8PrivateKey(bio.get(), key, encrypt ? EVP_aes_256_cbc() : nullptr,
                                                 encrypt ? const_cast<char*>(password.data()) : nullptr,
                                                 encrypt ? int(password.size()) : 0, nullptr, nullptr);
    if (!rc) {
        clearOpenSslErrors();
        return {};
    }
    return bioBytes(bio.get());
}

bool privateKeyPemEncrypted(std::string_view pem)
{
    return pem.find("ENCRYPTED PRIVATE KEY") != std::string_view::npos || pem.find("Proc-Type: 4,ENCRYPTED") != std::string_view::npos;
}

Error readPrivateKey(std::string_view pem, const std::string& password, KeyPtr& out)
{
    out.reset();
    if (pem.size() > kMaxInputBytes)
        return error(kFileTooLarge, "the key is larger than " + std::to_string(kMaxInputBytes >> 20) + " MiB");
    if (Error e = checkEncryptedKeyBlocks(pem))
        return e;
    BioPtr bio = memoryBio(pem);
    PasswordSource src{&password};
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio.get(), nullptr, passwordCallback, &src);
    if (key == nullptr) {
        const std::string why = takeOpenSslErrors();
        if (src.asked || privateKeyPemEncrypted(pem))
            return error(kWrongPassword, password.empty() ? "the private key is encrypted and no password was given"
                                                          : "the private key does not decrypt with this password");
        return error(kNotAKey, why);
    }
    out.reset(key);
    return ok();
}

bool keyMatchesCertificate(EVP_PKEY* key, X509* cert)
{
    if (key == nullptr || cert == nullptr)
        return false;
    const bool match = X509_check_private_key(cert, key) == 1;
    clearOpenSslErrors();
    return match;
}

bool sameKey(EVP_PKEY* a, EVP_PKEY* b)
{
    if (a == nullptr || b == nullptr)
        return false;
    const bool match = EVP_PKEY_eq(a, b) == 1;
    clearOpenSslErrors();
    return match;
}

} // namespace corvane::certs
