#include "engine/objects/server_certificate.h"

#include "engine/certs/cert_reader.h"
#include "engine/certs/cert_store.h"
#include "engine/certs/keys.h"
#include "engine/certs/pkcs12_io.h"
#include "engine/objects/cert_mgr.h"
#include "engine/protocol/errors.h"

#include <QFile>

#include <algorithm>
#include <filesystem>
#include <vector>

namespace corvane::engine {

namespace {

using certs::Error;
using certs::KeyPtr;
using certs::X509Ptr;

// A certificate as a store holds it: its key still as stored (it may need the
// password) or already open (a PFX), and the certificates sent along with it.
struct Candidate {
    X509Ptr cert;
    std::string keyPem;
    KeyPtr key;
    std::vector<X509Ptr> chain;
    bool hasKey() const { return key || !keyPem.empty(); }
};

std::string utf8(const QString& s)
{
    return s.toStdString();
}

std::filesystem::path localPath(const QByteArray& name)
{
    const QByteArray b = QFile::encodeName(QString::fromUtf8(name));
    return std::filesystem::path(std::string(b.constData(), size_t(b.size())));
}

bool subjectMatches(X509* cert, const QString& wanted)
{
    if (wanted.isEmpty() || wanted == QLatin1String("*"))
        return true;
    const QString subject = QString::fromStdString(certs::nameText(X509_get_subject_name(cert)));
    if (subject.contains(wanted, Qt::CaseInsensitive))
        return true;
    for (const QString& part : subject.split(QStringLiteral(", ")))
        if (part.startsWith(QLatin1String("CN=")) && part.mid(3).compare(wanted, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

std::vector<X509Ptr> sharedCopies(const std::vector<X509Ptr>& list, const X509* except)
{
    std::vector<X509Ptr> out;
    for (const X509Ptr& c : list)
        if (c.get() != except)
            out.push_back(certs::upRef(c.get()));
    return out;
}

Error fromPfx(std::string_view bytes, const CertificateSource& source, Candidate& out)
{
    certs::PfxContent pfx;
    if (Error e = certs::readPfx(bytes, utf8(source.password), pfx))
        return e;
    out.cert = std::move(pfx.cert);
    out.key = std::move(pfx.key);
    out.chain = std::move(pfx.others);
    return {};
}

// PEM text: the key goes with the certificate it belongs to, the others are
// its chain. A key that cannot be opened yet stays with the first one, so the
// password error is the one reported.
Error fromPem(std::string_view bytes, const std::string& what, const CertificateSource& source,
              std::vector<Candidate>& out)
{
    certs::Material m;
    if (Error e = certs::readCertificateData(bytes, what, m))
        return e;
    size_t owner = 0;
    KeyPtr key;
    if (!m.keyPem.empty() && !certs::readPrivateKey(m.keyPem, utf8(source.password), key)) {
        for (size_t k = 0; k < m.certs.size(); ++k)
            if (certs::keyMatchesCertificate(key.get(), m.certs[k].get())) {
                owner = k;
                break;
            }
    }
    for (size_t k = 0; k < m.certs.size(); ++k) {
        Candidate c;
        c.cert = certs::upRef(m.certs[k].get());
        if (k == owner) {
            c.keyPem = m.keyPem;
            c.key = std::move(key);
            c.chain = sharedCopies(m.certs, m.certs[k].get());
        }
        out.push_back(std::move(c));
    }
    // The one with the key first: an empty subject takes it.
    std::stable_partition(out.begin(), out.end(), [](const Candidate& c) { return c.hasKey(); });
    return {};
}

Error storeBytes(const CertificateSource& source, bool fromFile, certs::Bytes& out)
{
    if (fromFile)
        return certs::readFileBytes(localPath(source.store), out);
    out = source.store.toStdString();
    return {};
}

Error userStoreName(const CertificateSource& source, std::string& name)
{
    name = source.store.isEmpty() ? std::string("MY") : source.store.toStdString();
    if (!certs::validStoreName(name))
        return certs::error(kStoreError, "\"" + name + "\" is not a valid store name");
    return {};
}

certs::FolderStore folderStore(const CertificateSource& source)
{
    const QString root = source.storeRoot.isEmpty() ? defaultCertStoreRoot() : source.storeRoot;
    return certs::FolderStore(localPath(root.toUtf8()));
}

// Every certificate the store of source holds, with the keys it has for them.
Error storeCandidates(const CertificateSource& source, std::vector<Candidate>& out)
{
    switch (source.storeType) {
    case kStoreUser: {
        std::string name;
        if (Error e = userStoreName(source, name))
            return e;
        std::vector<certs::StoredCert> list;
        if (Error e = folderStore(source).certificates(name, list, nullptr))
            return e;
        for (certs::StoredCert& sc : list) {
            Candidate c;
            c.cert = std::move(sc.cert);
            c.keyPem = std::move(sc.keyPem);
            out.push_back(std::move(c));
        }
        return {};
    }
    case kStorePfxFile:
    case kStorePfxBlob: {
        certs::Bytes data;
        if (Error e = storeBytes(source, source.storeType == kStorePfxFile, data))
            return e;
        Candidate c;
        if (Error e = fromPfx(data, source, c))
            return e;
        out.push_back(std::move(c));
        return {};
    }
    case kStorePemFile:
    case kStorePemBlob: {
        certs::Bytes data;
        if (Error e = storeBytes(source, source.storeType == kStorePemFile, data))
            return e;
        return fromPem(data, source.storeType == kStorePemFile ? "the PEM file" : "SSLCertStore", source, out);
    }
    default:
        return certs::error(kInvalidValue, "store type " + std::to_string(source.storeType) + " holds no server keys");
    }
}

// The key of a certificate given without one: a certificate of the store with
// the same public key and its key, or (in a folder store) a key pair made by name.
Error keyFromStore(const CertificateSource& source, Candidate& leaf)
{
    std::vector<Candidate> list;
    if (Error e = storeCandidates(source, list))
        return e;
    EVP_PKEY* wanted = X509_get0_pubkey(leaf.cert.get());
    for (Candidate& c : list) {
        if (c.hasKey() && certs::sameKey(X509_get0_pubkey(c.cert.get()), wanted)) {
            leaf.keyPem = std::move(c.keyPem);
            leaf.key = std::move(c.key);
            return {};
        }
    }
    if (source.storeType == kStoreUser) {
        std::string name;
        std::vector<certs::StoredKey> keys;
        const certs::FolderStore store = folderStore(source);
        if (!userStoreName(source, name) && !store.keys(name, keys)) {
            for (const certs::StoredKey& k : keys)
                if (certs::sameKey(k.publicKey.get(), wanted))
                    return store.keyPem(name, k.name, leaf.keyPem);
        }
    }
    return certs::error(kNoPrivateKey, "SSLCertEncoded holds no key, and the store has none for it");
}

Error fromEncoded(const CertificateSource& source, Candidate& out)
{
    const std::string bytes = source.encoded.toStdString();
    if (certs::looksLikePfx(bytes)) {
        if (Error e = fromPfx(bytes, source, out))
            return e;
    } else {
        std::vector<Candidate> list;
        if (Error e = fromPem(bytes, "SSLCertEncoded", source, list))
            return e;
        // Without a key, the first certificate is the one to serve and the rest its chain.
        out = std::move(list.front());
        if (!out.hasKey())
            for (size_t k = 1; k < list.size(); ++k)
                out.chain.push_back(std::move(list[k].cert));
    }
    if (!out.hasKey())
        return keyFromStore(source, out);
    return {};
}

Error chosen(const CertificateSource& source, Candidate& out)
{
    if (!source.encoded.isEmpty())
        return fromEncoded(source, out);
    std::vector<Candidate> list;
    if (Error e = storeCandidates(source, list))
        return e;
    for (Candidate& c : list) {
        if (c.hasKey() && subjectMatches(c.cert.get(), source.subject)) {
            out = std::move(c);
            return {};
        }
    }
    std::string why = "no certificate with its private key";
    if (!source.subject.isEmpty())
        why += " matching \"" + utf8(source.subject) + "\"";
    return certs::error(kCertificateNotFound, why);
}

QSslCertificate qtCertificate(X509* cert)
{
    const certs::Bytes der = certs::certificateDer(cert);
    return QSslCertificate(QByteArray(der.data(), qsizetype(der.size())), QSsl::Der);
}

QSslKey qtKey(EVP_PKEY* key)
{
    QSsl::KeyAlgorithm algorithm = QSsl::Opaque;
    switch (EVP_PKEY_get_base_id(key)) {
    case EVP_PKEY_RSA: algorithm = QSsl::Rsa; break;
    case EVP_PKEY_EC: algorithm = QSsl::Ec; break;
    case EVP_PKEY_DSA: algorithm = QSsl::Dsa; break;
    default: break;
    }
    if (algorithm != QSsl::Opaque) {
        const QByteArray pem = QByteArray::fromStdString(certs::privateKeyPem(key, {}));
        return QSslKey(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
    }
    // Keys Qt has no name for (Ed25519, ...) are handed over as OpenSSL's own.
    return QSslKey(reinterpret_cast<Qt::HANDLE>(certs::upRef(key).release()), QSsl::PrivateKey);
}

} // namespace

int loadServerCertificate(const CertificateSource& source, ServerCertificate& out, std::string& error)
{
    out = ServerCertificate();
    Candidate c;
    Error e = chosen(source, c);
    if (!e && !c.key)
        e = certs::readPrivateKey(c.keyPem, utf8(source.password), c.key);
    if (!e && !certs::keyMatchesCertificate(c.key.get(), c.cert.get()))
        e = certs::error(kKeyMismatch, "the private key is not the certificate's");
    if (!e) {
        out.certificate = qtCertificate(c.cert.get());
        out.key = qtKey(c.key.get());
        for (const X509Ptr& x : c.chain)
            out.chain.push_back(qtCertificate(x.get()));
        if (out.certificate.isNull() || out.key.isNull())
            e = certs::error(kCryptoFailed, "the TLS layer refused the certificate or its key");
    }
    if (e) {
        out = ServerCertificate();
        error = errorText(e.code, e.detail);
        if (!error.empty() && error.back() == '.')
            error.pop_back();
        return kCertificateStoreError;
    }
    return 0;
}

} // namespace corvane::engine
