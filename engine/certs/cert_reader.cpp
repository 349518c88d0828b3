#include "engine/certs/cert_reader.h"

#include "engine/certs/keys.h"
#include "engine/certs/usage.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <cctype>
#include <cstring>

namespace corvane::certs {

// ---- shared helpers (ossl.h) ----

std::string takeOpenSslErrors()
{
    std::string text;
    unsigned long e;
    while ((e = ERR_get_error()) != 0) {
        const char* reason = ERR_reason_error_string(e);
        std::string item = reason ? reason : ("error " + std::to_string(ERR_GET_REASON(e)));
        if (text.find(item) != std::string::npos)
            continue;
        if (!text.empty())
            text += "; ";
        text += item;
    }
    return text.empty() ? "unknown OpenSSL failure" : text;
}

void clearOpenSslErrors() { ERR_clear_error(); }

BioPtr memoryBio(std::string_view data)
{
    return BioPtr(BIO_new_mem_buf(data.data(), int(data.size())));
}

Bytes bioBytes(BIO* bio)
{
    BUF_MEM* mem = nullptr;
    BIO_get_mem_ptr(bio, &mem);
    return mem ? Bytes(mem->data, mem->length) : Bytes();
}

X509Ptr upRef(X509* cert)
{
    if (cert)
        X509_up_ref(cert);
    return X509Ptr(cert);
}

KeyPtr upRef(EVP_PKEY* key)
{
    if (key)
        EVP_PKEY_up_ref(key);
    return KeyPtr(key);
}

namespace {

std::string hex(const unsigned char* p, size_t n, const char* sep = "")
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t k = 0; k < n; ++k) {
        if (k > 0)
            out += sep;
        out += kDigits[p[k] >> 4];
        out += kDigits[p[k] & 15];
    }
    return out;
}

std::string digestHex(X509* cert, const EVP_MD* md, const char* sep = "")
{
    unsigned char buf[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (md == nullptr || !X509_digest(cert, md, buf, &len)) {
        clearOpenSslErrors();
        return {};
    }
    return hex(buf, len, sep);
}

std::string timeText(const ASN1_TIME* t)
{
    if (t == nullptr)
        return {};
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!ASN1_TIME_print_ex(bio.get(), t, ASN1_DTFLGS_ISO8601)) {
        clearOpenSslErrors();
        return {};
    }
    return bioBytes(bio.get());
}

std::string objectText(const ASN1_OBJECT* obj, bool numeric)
{
    char buf[256] = {0};
    const int n = OBJ_obj2txt(buf, sizeof buf, obj, numeric ? 1 : 0);
    return n > 0 ? std::string(buf, std::min<size_t>(size_t(n), sizeof buf - 1)) : std::string();
}

std::string publicKeyPemOf(EVP_PKEY* key)
{
    if (key == nullptr)
        return {};
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!PEM_write_bio_PUBKEY(bio.get(), key)) {
        clearOpenSslErrors();
        return {};
    }
    return bioBytes(bio.get());
}

std::string extendedUsageText(const EXTENDED_KEY_USAGE* eku)
{
    std::string text;
    for (int k = 0; k < sk_ASN1_OBJECT_num(eku); ++k) {
        const ASN1_OBJECT* obj = sk_ASN1_OBJECT_value(eku, k);
        const int nid = OBJ_obj2nid(obj);
        const std::string item = nid != NID_undef ? OBJ_nid2sn(nid) : objectText(obj, true);
        if (!text.empty())
            text += ", ";
        text += item;
    }
    return text;
}

int usageBits(const ASN1_BIT_STRING* bits)
{
    int flags = 0;
    const int len = ASN1_STRING_length(bits);
    const unsigned char* p = ASN1_STRING_get0_data(bits);
    if (len > 0)
        flags = p[0];
    if (len > 1)
        flags |= p[1] << 8;
    return flags & kAllUsageFlags;
}

void describeExtensions(const STACK_OF(X509_EXTENSION)* exts, CertFields& f)
{
    for (int k = 0; k < sk_X509_EXTENSION_num(exts); ++k) {
        X509_EXTENSION* ext = sk_X509_EXTENSION_value(exts, k);
        Extension e;
        e.oid = objectText(X509_EXTENSION_get_object(ext), true);
        e.critical = X509_EXTENSION_get_critical(ext) != 0;
        const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(ext);
        e.value.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(data)), size_t(ASN1_STRING_length(data)));
        f.extensions.push_back(std::move(e));

        // The decoded views of the extensions the fields show.
        const int nid = OBJ_obj2nid(X509_EXTENSION_get_object(ext));
        void* decoded = nullptr;
        if (nid == NID_subject_alt_name || nid == NID_key_usage || nid == NID_ext_key_usage)
            decoded = X509V3_EXT_d2i(ext);
        if (decoded == nullptr) {
            clearOpenSslErrors();
            continue;
        }
        if (nid == NID_subject_alt_name) {
            f.subjectAltNames = subjectAltNameText(static_cast<GENERAL_NAMES*>(decoded));
            GENERAL_NAMES_free(static_cast<GENERAL_NAMES*>(decoded));
        } else if (nid == NID_key_usage) {
            f.usageFlags = usageBits(static_cast<ASN1_BIT_STRING*>(decoded));
            f.usage = usageText(f.usageFlags);
            ASN1_BIT_STRING_free(static_cast<ASN1_BIT_STRING*>(decoded));
        } else {
            f.extendedUsage = extendedUsageText(static_cast<EXTENDED_KEY_USAGE*>(decoded));
            EXTENDED_KEY_USAGE_free(static_cast<EXTENDED_KEY_USAGE*>(decoded));
        }
    }
}

void describeKey(EVP_PKEY* key, CertFields& f)
{
    if (key == nullptr)
        return;
    f.publicKey = publicKeyPemOf(key);
    f.publicKeyAlgorithm = keyAlgorithmName(key);
    f.publicKeyLength = EVP_PKEY_get_bits(key);
}

bool isPrivateKeyBlock(const char* name)
{
    return std::strcmp(name, "PRIVATE KEY") == 0 || std::strcmp(name, "ENCRYPTED PRIVATE KEY") == 0
        || std::strcmp(name, "RSA PRIVATE KEY") == 0 || std::strcmp(name, "EC PRIVATE KEY") == 0;
}

bool isCertificateBlock(const char* name)
{
    return std::strcmp(name, "CERTIFICATE") == 0 || std::strcmp(name, "X509 CERTIFICATE") == 0
        || std::strcmp(name, "TRUSTED CERTIFICATE") == 0;
}

bool looksLikePem(std::string_view data) { return data.find("-----BEGIN ") != std::string_view::npos; }

// Walks the PEM blocks of data; f(name, header, der) for each. false when a
// block is damaged (bad base64, missing end line).
template <class F>
bool forEachPemBlock(std::string_view data, F&& f)
{
    BioPtr bio = memoryBio(data);
    for (;;) {
        char* name = nullptr;
        char* header = nullptr;
        unsigned char* der = nullptr;
        long len = 0;
        if (!PEM_read_bio(bio.get(), &name, &header, &der, &len)) {
            const unsigned long e = ERR_peek_last_error();
            const bool clean = ERR_GET_LIB(e) == ERR_LIB_PEM && ERR_GET_REASON(e) == PEM_R_NO_START_LINE;
            clearOpenSslErrors();
            return clean;
        }
        f(name, header, der, len);
        OPENSSL_free(name);
        OPENSSL_free(header);
        OPENSSL_free(der);
    }
}

std::string pemBlock(const char* name, const char* header, const unsigned char* der, long len)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    PEM_write_bio(bio.get(), name, header, der, len);
    return bioBytes(bio.get());
}

} // namespace

std::string nameText(const X509_NAME* name)
{
    if (name == nullptr)
        return {};
    BioPtr bio(BIO_new(BIO_s_mem()));
    const unsigned long flags = XN_FLAG_SEP_CPLUS_SPC | XN_FLAG_FN_SN | ASN1_STRFLGS_ESC_2253 | ASN1_STRFLGS_ESC_CTRL
                              | ASN1_STRFLGS_UTF8_CONVERT | ASN1_STRFLGS_DUMP_UNKNOWN | ASN1_STRFLGS_DUMP_DER;
    if (X509_NAME_print_ex(bio.get(), name, 0, flags) < 0) {
        clearOpenSslErrors();
        return {};
    }
    return bioBytes(bio.get());
}

Error readCertificateData(std::string_view data, const std::string& what, Material& out)
{
    out = Material{};
    if (data.size() > kMaxInputBytes)
        return error(kFileTooLarge, what + " is larger than " + std::to_string(kMaxInputBytes >> 20) + " MiB");
    if (data.empty())
        return error(kNotACertificate, what + " is empty");
    if (looksLikePem(data)) {
        bool damaged = false;
        int keys = 0;
        const bool clean = forEachPemBlock(data, [&](const char* name, const char* header, const unsigned char* der, long len) {
            if (isCertificateBlock(name)) {
                const unsigned char* p = der;
                // A "TRUSTED CERTIFICATE" carries trust settings after the certificate.
                X509* cert = std::strcmp(name, "TRUSTED CERTIFICATE") == 0 ? d2i_X509_AUX(nullptr, &p, len)
                                                                           : d2i_X509(nullptr, &p, len);
                if (cert == nullptr || (std::strcmp(name, "TRUSTED CERTIFICATE") != 0 && p != der + len)) {
                    X509_free(cert);
                    damaged = true;
                    return;
                }
                out.certs.emplace_back(cert);
            } else if (isPrivateKeyBlock(name)) {
                if (keys++ == 0)
                    out.keyPem = pemBlock(name, header, der, len);
            }
        });
        clearOpenSslErrors();
        if (!clean || damaged) {
            out = Material{};
            return error(kNotACertificate, what + " holds a damaged PEM block");
        }
        if (out.certs.empty()) {
            out = Material{};
            return error(kNotACertificate, what + " holds no certificate");
        }
        return ok();
    }
    const unsigned char* p = reinterpret_cast<const unsigned char*>(data.data());
    X509* cert = d2i_X509(nullptr, &p, long(data.size()));
    if (cert == nullptr || p != reinterpret_cast<const unsigned char*>(data.data()) + data.size()) {
        X509_free(cert);
        clearOpenSslErrors();
        return error(kNotACertificate, what + " is neither PEM nor a DER certificate");
    }
    out.certs.emplace_back(cert);
    return ok();
}

CertFields describeCertificate(X509* cert)
{
    CertFields f;
    if (cert == nullptr)
        return f;
    f.subject = nameText(X509_get_subject_name(cert));
    f.issuer = nameText(X509_get_issuer_name(cert));
    const ASN1_INTEGER* serial = X509_get0_serialNumber(cert);
    if (serial) {
        f.serialNumber = hex(ASN1_STRING_get0_data(serial), size_t(ASN1_STRING_length(serial)));
        if (f.serialNumber.empty())
            f.serialNumber = "00";
        if (ASN1_STRING_type(serial) == V_ASN1_NEG_INTEGER)
            f.serialNumber.insert(0, "-");
    }
    f.effectiveDate = timeText(X509_get0_notBefore(cert));
    f.expirationDate = timeText(X509_get0_notAfter(cert));
    f.fingerprint = digestHex(cert, EVP_sha256(), ":");
    f.thumbprintMD5 = digestHex(cert, EVP_md5());
    f.thumbprintSHA1 = digestHex(cert, EVP_sha1());
    f.thumbprintSHA256 = digestHex(cert, EVP_sha256());
    describeKey(X509_get0_pubkey(cert), f);
    f.signatureAlgorithm = objectText(OBJ_nid2obj(X509_get_signature_nid(cert)), false);
    if (f.signatureAlgorithm.empty() || X509_get_signature_nid(cert) == NID_undef) {
        const X509_ALGOR* alg = nullptr;
        X509_get0_signature(nullptr, &alg, cert);
        const ASN1_OBJECT* obj = nullptr;
        if (alg)
            X509_ALGOR_get0(&obj, nullptr, nullptr, alg);
        f.signatureAlgorithm = obj ? objectText(obj, false) : std::string();
    }
    f.version = std::to_string(X509_get_version(cert) + 1);
    describeExtensions(X509_get0_extensions(cert), f);
    clearOpenSslErrors();
    return f;
}

Error readRequest(std::string_view data, X509ReqPtr& out)
{
    out.reset();
    if (data.size() > kMaxInputBytes)
        return error(kFileTooLarge, "the request is larger than " + std::to_string(kMaxInputBytes >> 20) + " MiB");
    Bytes der;
    if (looksLikePem(data)) {
        bool found = false;
        const bool clean = forEachPemBlock(data, [&](const char* name, const char*, const unsigned char* p, long len) {
            if (!found && (std::strcmp(name, "CERTIFICATE REQUEST") == 0 || std::strcmp(name, "NEW CERTIFICATE REQUEST") == 0)) {
                der.assign(reinterpret_cast<const char*>(p), size_t(len));
                found = true;
            }
        });
        if (!clean || !found)
            return error(kNotARequest, clean ? "no CERTIFICATE REQUEST block" : "damaged PEM block");
    } else if (!data.empty() && static_cast<unsigned char>(data.front()) == 0x30) {
        der.assign(data);
    } else {
        // Bare base64, as some tools print it.
        std::string b64;
        for (char c : data)
            if (!std::isspace(static_cast<unsigned char>(c)))
                b64 += c;
        if (b64.empty() || b64.size() % 4 != 0)
            return error(kNotARequest, "neither PEM, DER nor base64");
        der.resize(b64.size() / 4 * 3);
        const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(der.data()),
                                      reinterpret_cast<const unsigned char*>(b64.data()), int(b64.size()));
        if (n < 0) {
            clearOpenSslErrors();
            return error(kNotARequest, "neither PEM, DER nor base64");
        }
        der.resize(size_t(n) - (b64.size() >= 2 && b64[b64.size() - 1] == '=' ? (b64[b64.size() - 2] == '=' ? 2 : 1) : 0));
    }
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    X509ReqPtr req(d2i_X509_REQ(nullptr, &p, long(der.size())));
    if (!req || p != reinterpret_cast<const unsigned char*>(der.data()) + der.size()) {
        clearOpenSslErrors();
        return error(kNotARequest, "the DER does not decode as a request");
    }
    EVP_PKEY* key = X509_REQ_get0_pubkey(req.get());
    if (key == nullptr) {
        clearOpenSslErrors();
        return error(kNotARequest, "the request's public key cannot be read");
    }
    if (X509_REQ_verify(req.get(), key) != 1) {
        clearOpenSslErrors();
        return error(kBadRequestSignature, nameText(X509_REQ_get_subject_name(req.get())));
    }
    out = std::move(req);
    return ok();
}

CertFields describeRequest(X509_REQ* req)
{
    CertFields f;
    if (req == nullptr)
        return f;
    f.subject = nameText(X509_REQ_get_subject_name(req));
    describeKey(X509_REQ_get0_pubkey(req), f);
    const X509_ALGOR* alg = nullptr;
    X509_REQ_get0_signature(req, nullptr, &alg);
    const ASN1_OBJECT* obj = nullptr;
    if (alg)
        X509_ALGOR_get0(&obj, nullptr, nullptr, alg);
    f.signatureAlgorithm = obj ? objectText(obj, false) : std::string();
    f.version = std::to_string(X509_REQ_get_version(req) + 1);
    STACK_OF(X509_EXTENSION)* exts = X509_REQ_get_extensions(req);
    describeExtensions(exts, f);
    sk_X509_EXTENSION_pop_free(exts, X509_EXTENSION_free);
    clearOpenSslErrors();
    return f;
}

Bytes certificateDer(X509* cert)
{
    unsigned char* der = nullptr;
    const int n = i2d_X509(cert, &der);
    if (n <= 0) {
        clearOpenSslErrors();
        return {};
    }
    Bytes out(reinterpret_cast<const char*>(der), size_t(n));
    OPENSSL_free(der);
    return out;
}

std::string certificatePem(X509* cert)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!PEM_write_bio_X509(bio.get(), cert)) {
        clearOpenSslErrors();
        return {};
    }
    return bioBytes(bio.get());
}

std::string requestPem(X509_REQ* req)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!PEM_write_bio_X509_REQ(bio.get(), req)) {
        clearOpenSslErrors();
        return {};
    }
    return bioBytes(bio.get());
}

std::string sha1Hex(X509* cert) { return digestHex(cert, EVP_sha1()); }

} // namespace corvane::certs
