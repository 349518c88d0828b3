#include "engine/certs/cert_builder.h"

#include "engine/certs/cert_reader.h"
#include "engine/certs/keys.h"
#include "engine/certs/usage.h"

#include <openssl/err.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cctype>

namespace corvane::certs {

namespace {

// Seconds a new certificate is dated back, for peers whose clocks are behind.
constexpr long kBackdateSeconds = 300;

std::string trim(std::string_view s)
{
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a])))
        ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1])))
        --b;
    return std::string(s.substr(a, b - a));
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

struct Attribute {
    std::string type;
    std::string value;
    bool joinPrevious = false;   // '+' before it: same RDN as the previous one
};

Error splitName(std::string_view text, std::vector<Attribute>& out)
{
    Attribute cur;
    std::string* field = &cur.type;
    bool quoted = false, wasQuoted = false, inValue = false;
    auto finish = [&](bool nextJoins) -> Error {
        Attribute a;
        a.type = trim(cur.type);
        a.value = wasQuoted ? cur.value : trim(cur.value);
        a.joinPrevious = cur.joinPrevious;
        if (a.type.empty() && !inValue && a.value.empty())
            return error(kInvalidName, "empty attribute in \"" + std::string(text) + "\"");
        if (!inValue || a.type.empty())
            return error(kInvalidName, "\"" + trim(cur.type) + "\" has no TYPE=value form");
        if (a.value.empty())
            return error(kInvalidName, "empty value for " + a.type);
        out.push_back(std::move(a));
        cur = Attribute{};
        cur.joinPrevious = nextJoins;
        field = &cur.type;
        quoted = wasQuoted = inValue = false;
        return ok();
    };
    for (size_t k = 0; k < text.size(); ++k) {
        const char c = text[k];
        if (quoted) {
            if (c == '"')
                quoted = false;
            else if (c == '\\' && k + 1 < text.size())
                *field += text[++k];
            else
                *field += c;
            continue;
        }
        if (c == '\\') {
            if (k + 2 < text.size() && hexValue(text[k + 1]) >= 0 && hexValue(text[k + 2]) >= 0) {
                *field += char(hexValue(text[k + 1]) * 16 + hexValue(text[k + 2]));
                k += 2;
            } else if (k + 1 < text.size()) {
                *field += text[++k];
            }
            continue;
        }
        if (inValue && c == '"' && trim(cur.value).empty()) {
            cur.value.clear();
            quoted = wasQuoted = true;
            continue;
        }
        if (!inValue && c == '=') {
            inValue = true;
            field = &cur.value;
            continue;
        }
        if (c == ',' || c == ';' || c == '+') {
            if (Error e = finish(c == '+'))
                return e;
            continue;
        }
        if (wasQuoted && !std::isspace(static_cast<unsigned char>(c)))
            return error(kInvalidName, "text after a quoted value in \"" + std::string(text) + "\"");
        *field += c;
    }
    if (quoted)
        return error(kInvalidName, "unterminated quote in \"" + std::string(text) + "\"");
    return finish(false);
}

const EVP_MD* digestFor(EVP_PKEY* key)
{
    if (EVP_PKEY_is_a(key, "ED25519") || EVP_PKEY_is_a(key, "ED448"))
        return nullptr;
    if (EVP_PKEY_is_a(key, "EC") && EVP_PKEY_get_bits(key) >= 384)
        return EVP_sha384();
    return EVP_sha256();
}

X509_EXTENSION* makeExtension(X509V3_CTX* ctx, int nid, const std::string& conf, Error& err)
{
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, ctx, nid, conf.c_str());
    if (ext == nullptr)
        err = error(kInvalidName, std::string(OBJ_nid2ln(nid)) + " \"" + conf + "\": " + takeOpenSslErrors());
    return ext;
}

int64_t randomSerial()
{
    unsigned char b[8] = {0};
    int64_t v = 0;
    while (v == 0) {
        if (RAND_bytes(b, sizeof b) != 1)
            clearOpenSslErrors();
        b[0] &= 0x7F;
        v = 0;
        for (unsigned char c : b)
            v = (v << 8) | c;
    }
    return v;
}

std::string commonName(X509_NAME* name)
{
    const int at = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
    if (at < 0)
        return {};
    unsigned char* utf8 = nullptr;
    const int n = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, at)));
    if (n < 0) {
        clearOpenSslErrors();
        return {};
    }
    std::string cn(reinterpret_cast<char*>(utf8), size_t(n));
    OPENSSL_free(utf8);
    return cn;
}

// The extension lines of a new certificate or request, as (nid, conf).
Error extensionConf(const CertProfile& p, bool ca, X509_NAME* subject, std::vector<std::pair<int, std::string>>& out)
{
    if (p.usageFlags & ~kAllUsageFlags)
        return error(kInvalidValue, "CertUsageFlags");
    if (p.usageFlags != 0)
        out.emplace_back(NID_key_usage, "critical," + [&] {
            std::string s = usageText(p.usageFlags);
            std::string conf;
            for (char c : s)
                if (c != ' ')
                    conf += c;
            return conf;
        }());
    std::string bad;
    if (!p.extendedUsage.empty()) {
        if (!validExtendedUsage(p.extendedUsage, bad))
            return error(kInvalidValue, "CertExtendedKeyUsage (\"" + bad + "\")");
        out.emplace_back(NID_ext_key_usage, extendedUsageConf(p.extendedUsage));
    }
    std::string san;
    if (Error e = subjectAltNameConf(p.subjectAltNames, san))
        return e;
    if (san.empty() && !ca)
        san = altNameForCommonName(commonName(subject));
    if (!san.empty())
        out.emplace_back(NID_subject_alt_name, san);
    return ok();
}

Error finishCertificate(X509* x, const CertProfile& p, bool ca, X509* issuer, EVP_PKEY* issuerKey,
                        const std::vector<std::pair<int, std::string>>& extra,
                        const STACK_OF(X509_EXTENSION)* copied)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer ? issuer : x, x, nullptr, nullptr, 0);
    Error err;
    std::vector<std::pair<int, std::string>> lines;
    lines.emplace_back(NID_basic_constraints, ca ? "critical,CA:TRUE" : "critical,CA:FALSE");
    lines.insert(lines.end(), extra.begin(), extra.end());
    lines.emplace_back(NID_subject_key_identifier, "hash");
    for (const auto& [nid, conf] : lines) {
        X509_EXTENSION* ext = makeExtension(&ctx, nid, conf, err);
        if (ext == nullptr)
            return err;
        X509_add_ext(x, ext, -1);
        X509_EXTENSION_free(ext);
    }
    for (int k = 0; k < sk_X509_EXTENSION_num(copied); ++k)
        X509_add_ext(x, sk_X509_EXTENSION_value(copied, k), -1);
    // Issuers without a key identifier of their own get none referenced.
    if (X509_EXTENSION* akid = X509V3_EXT_conf_nid(nullptr, &ctx, NID_authority_key_identifier, "keyid")) {
        X509_add_ext(x, akid, -1);
        X509_EXTENSION_free(akid);
    }
    clearOpenSslErrors();
    if (X509_sign(x, issuerKey, digestFor(issuerKey)) <= 0)
        return error(kCryptoFailed, "signing: " + takeOpenSslErrors());
    (void)p;
    return ok();
}

Error startCertificate(const CertProfile& p, X509_NAME* subject, EVP_PKEY* publicKey, X509* issuer, EVP_PKEY* issuerKey,
                       bool ca, X509Ptr& x)
{
    if (p.validityDays < 1)
        return error(kInvalidValue, "CertValidityDays");
    if (!ca && p.validityDays > kMaxLeafValidityDays)
        return error(kValidityTooLong, std::to_string(p.validityDays) + " days; a leaf certificate may last at most "
                                           + std::to_string(kMaxLeafValidityDays) + " days");
    if (p.serial < 0)
        return error(kInvalidArgument, "the serial number must not be negative");
    if (issuerKey == nullptr)
        return error(kNoPrivateKey, "the issuer's private key is needed to sign");
    if (issuer != nullptr) {
        if (!canIssue(issuer))
            return error(kNotACA, nameText(X509_get_subject_name(issuer)));
        if (!keyMatchesCertificate(issuerKey, issuer))
            return error(kKeyMismatch, nameText(X509_get_subject_name(issuer)));
    }
    x.reset(X509_new());
    if (!x || !X509_set_version(x.get(), X509_VERSION_3)
        || !ASN1_INTEGER_set_int64(X509_get_serialNumber(x.get()), p.serial ? p.serial : randomSerial())
        || !X509_set_subject_name(x.get(), subject)
        || !X509_set_issuer_name(x.get(), issuer ? X509_get_subject_name(issuer) : subject)
        || !X509_gmtime_adj(X509_getm_notBefore(x.get()), -kBackdateSeconds)
        || !X509_gmtime_adj(X509_getm_notAfter(x.get()), long(p.validityDays) * 86400L)
        || !X509_set_pubkey(x.get(), publicKey))
        return error(kCryptoFailed, takeOpenSslErrors());
    return ok();
}

} // namespace

Error parseDistinguishedName(std::string_view text, X509NamePtr& out)
{
    out.reset();
    std::vector<Attribute> attrs;
    if (trim(text).empty())
        return error(kInvalidName, "the subject is empty");
    if (text.find('=') == std::string_view::npos) {
        attrs.push_back({"CN", trim(text), false});
    } else if (Error e = splitName(text, attrs)) {
        return e;
    }
    X509NamePtr name(X509_NAME_new());
    for (const Attribute& a : attrs) {
        std::string type = a.type;
        if (type == "E" || type == "e")
            type = "emailAddress";
        else if (type == "S" || type == "s")
            type = "ST";
        ASN1_OBJECT* obj = OBJ_txt2obj(type.c_str(), 0);
        if (obj == nullptr) {
            clearOpenSslErrors();
            return error(kInvalidName, "unknown attribute type \"" + a.type + "\"");
        }
        const int rc = X509_NAME_add_entry_by_OBJ(name.get(), obj, MBSTRING_UTF8,
                                                  reinterpret_cast<const unsigned char*>(a.value.data()),
                                                  int(a.value.size()), -1, a.joinPrevious ? -1 : 0);
        ASN1_OBJECT_free(obj);
        if (!rc)
            return error(kInvalidName, a.type + "=" + a.value + " (" + takeOpenSslErrors() + ")");
    }
    out = std::move(name);
    return ok();
}

bool canIssue(X509* cert)
{
    const bool ca = cert != nullptr && X509_check_ca(cert) != 0;
    clearOpenSslErrors();
    return ca;
}

Error buildCertificate(const CertProfile& profile, EVP_PKEY* subjectKey, X509* issuer, EVP_PKEY* issuerKey,
                       X509Ptr& out)
{
    out.reset();
    if (subjectKey == nullptr)
        return error(kNoPrivateKey, "no key for the new certificate");
    X509NamePtr subject;
    if (Error e = parseDistinguishedName(profile.subject, subject))
        return e;
    const bool ca = (profile.usageFlags & kKeyCertSign) != 0;
    std::vector<std::pair<int, std::string>> extra;
    if (Error e = extensionConf(profile, ca, subject.get(), extra))
        return e;
    X509Ptr x;
    if (Error e = startCertificate(profile, subject.get(), subjectKey, issuer, issuer ? issuerKey : subjectKey, ca, x))
        return e;
    if (Error e = finishCertificate(x.get(), profile, ca, issuer, issuer ? issuerKey : subjectKey, extra, nullptr))
        return e;
    out = std::move(x);
    return ok();
}

Error buildRequest(const CertProfile& profile, EVP_PKEY* key, X509ReqPtr& out)
{
    out.reset();
    if (key == nullptr)
        return error(kNoPrivateKey, "no key for the request");
    X509NamePtr subject;
    if (Error e = parseDistinguishedName(profile.subject, subject))
        return e;
    const bool ca = (profile.usageFlags & kKeyCertSign) != 0;
    std::vector<std::pair<int, std::string>> lines;
    if (Error e = extensionConf(profile, ca, subject.get(), lines))
        return e;
    X509ReqPtr req(X509_REQ_new());
    if (!req || !X509_REQ_set_version(req.get(), X509_REQ_VERSION_1) || !X509_REQ_set_subject_name(req.get(), subject.get())
        || !X509_REQ_set_pubkey(req.get(), key))
        return error(kCryptoFailed, takeOpenSslErrors());
    if (!lines.empty()) {
        X509V3_CTX ctx;
        X509V3_set_ctx_nodb(&ctx);
        X509V3_set_ctx(&ctx, nullptr, nullptr, req.get(), nullptr, 0);
        STACK_OF(X509_EXTENSION)* exts = sk_X509_EXTENSION_new_null();
        Error err;
        for (const auto& [nid, conf] : lines) {
            X509_EXTENSION* ext = makeExtension(&ctx, nid, conf, err);
            if (ext == nullptr) {
                sk_X509_EXTENSION_pop_free(exts, X509_EXTENSION_free);
                return err;
            }
            sk_X509_EXTENSION_push(exts, ext);
        }
        const int rc = X509_REQ_add_extensions(req.get(), exts);
        sk_X509_EXTENSION_pop_free(exts, X509_EXTENSION_free);
        if (!rc)
            return error(kCryptoFailed, takeOpenSslErrors());
    }
    if (X509_REQ_sign(req.get(), key, digestFor(key)) <= 0)
        return error(kCryptoFailed, "signing the request: " + takeOpenSslErrors());
    out = std::move(req);
    return ok();
}

Error signRequest(X509_REQ* req, const CertProfile& p, X509* issuer, EVP_PKEY* issuerKey, X509Ptr& out)
{
    out.reset();
    if (req == nullptr)
        return error(kNotARequest, "no request");
    if (issuer == nullptr)
        return error(kNoCertificate, "a CA certificate with its private key signs the request");
    EVP_PKEY* key = X509_REQ_get0_pubkey(req);
    if (key == nullptr || X509_REQ_verify(req, key) != 1) {
        clearOpenSslErrors();
        return error(kBadRequestSignature, nameText(X509_REQ_get_subject_name(req)));
    }
    X509_NAME* subject = X509_REQ_get_subject_name(req);
    if (subject == nullptr || X509_NAME_entry_count(subject) == 0)
        return error(kInvalidName, "the request has no subject");
    const bool ca = (p.usageFlags & kKeyCertSign) != 0;
    std::vector<std::pair<int, std::string>> extra;
    if (Error e = extensionConf(p, ca, subject, extra))
        return e;

    // What the request asks for, where the profile does not decide.
    STACK_OF(X509_EXTENSION)* requested = X509_REQ_get_extensions(req);
    STACK_OF(X509_EXTENSION)* copied = sk_X509_EXTENSION_new_null();
    auto decided = [&](int nid) {
        if (nid == NID_subject_alt_name && p.subjectAltNames.empty())
            return false;   // a name derived from the CN gives way to the request's own
        for (const auto& line : extra)
            if (line.first == nid)
                return true;
        return false;
    };
    for (int k = 0; k < sk_X509_EXTENSION_num(requested); ++k) {
        X509_EXTENSION* ext = sk_X509_EXTENSION_value(requested, k);
        const int nid = OBJ_obj2nid(X509_EXTENSION_get_object(ext));
        if ((nid != NID_subject_alt_name && nid != NID_key_usage && nid != NID_ext_key_usage) || decided(nid))
            continue;
        if (nid == NID_subject_alt_name) {
            extra.erase(std::remove_if(extra.begin(), extra.end(), [](const auto& l) { return l.first == NID_subject_alt_name; }),
                        extra.end());
        }
        if (nid == NID_key_usage && !ca) {
            // Only the CA decides that a certificate may sign others.
            auto* bits = static_cast<ASN1_BIT_STRING*>(X509V3_EXT_d2i(ext));
            if (bits) {
                const bool signsCerts = ASN1_BIT_STRING_get_bit(bits, 5) || ASN1_BIT_STRING_get_bit(bits, 6);
                ASN1_BIT_STRING_set_bit(bits, 5, 0);
                ASN1_BIT_STRING_set_bit(bits, 6, 0);
                if (signsCerts) {
                    X509_EXTENSION* fixed = X509V3_EXT_i2d(NID_key_usage, 1, bits);
                    ASN1_BIT_STRING_free(bits);
                    if (fixed)
                        sk_X509_EXTENSION_push(copied, fixed);
                    continue;
                }
                ASN1_BIT_STRING_free(bits);
            }
        }
        sk_X509_EXTENSION_push(copied, X509_EXTENSION_dup(ext));
    }
    sk_X509_EXTENSION_pop_free(requested, X509_EXTENSION_free);
    clearOpenSslErrors();

    X509Ptr x;
    Error e = startCertificate(p, subject, key, issuer, issuerKey, ca, x);
    if (!e)
        e = finishCertificate(x.get(), p, ca, issuer, issuerKey, extra, copied);
    sk_X509_EXTENSION_pop_free(copied, X509_EXTENSION_free);
    if (e)
        return e;
    out = std::move(x);
    return ok();
}

} // namespace corvane::certs
