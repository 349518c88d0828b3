#include "engine/objects/cert_mgr.h"

#include "engine/certs/cert_builder.h"
#include "engine/certs/cert_chain.h"
#include "engine/certs/keys.h"
#include "engine/certs/pkcs12_io.h"
#include "engine/certs/usage.h"

#include <QFile>
#include <QStandardPaths>

#include <openssl/x509.h>

#include <limits>

namespace corvane::engine {

namespace P = corvanews20::certmgr::prop;
namespace M = corvanews20::certmgr::method;
namespace E = corvanews20::certmgr::event;
using certs::Error;

namespace {

const PropertyLimits kLimits[] = {
    {P::CertUsageFlags, 0, certs::kAllUsageFlags, 0, ""},
    {P::CertExtensionCount, 0, std::numeric_limits<int>::max(), 0, ""},
    {P::CertStore, 0, -1, 0, "MY"},
    {P::CertStoreType, 0, 99, 0, ""},
    {P::ExportFormat, 0, -1, 0, "PFX"},
    {P::ExportPrivateKey, 0, 1, 1, ""},
};

// Config settings of the certificate manager (engine/README.md documents each).
const ConfigDef kConfig[] = {
    CORVANE_COMMON_CONFIG,
    {"CertStoreRoot", ConfigType::String, 0, 0, 0, ""},
    {"MachineStoreFolder", ConfigType::String, 0, 0, 0, ""},
    {"CertValidityDays", ConfigType::Int, 1, 36500, certs::kDefaultValidityDays, ""},
    {"CertSubjectAltNames", ConfigType::String, 0, 0, 0, ""},
    {"PFXLegacy", ConfigType::Bool, 0, 1, 0, ""},
};

const char* const kMachineStore = "ROOT";

std::string utf8(const QString& s) { return s.toStdString(); }
QString qs(const std::string& s) { return QString::fromStdString(s); }
std::filesystem::path localPath(const QString& s)
{
    const QByteArray b = QFile::encodeName(s);
    return std::filesystem::path(std::string(b.constData(), size_t(b.size())));
}

struct Wide {
    explicit Wide(const QString& s) : text(s) {}
    void* ptr() const { return const_cast<char16_t*>(reinterpret_cast<const char16_t*>(text.utf16())); }
    QString text;
};

void* iv(intptr_t v) { return reinterpret_cast<void*>(v); }

bool validStoreType(int64_t t)
{
    return t == kStoreUser || t == kStoreMachine || t == kStorePfxFile || t == kStorePfxBlob || t == kStorePemFile
        || t == kStorePemBlob;
}

// How well a certificate's subject matches what was asked: exact name, common
// name, or a part of the name (0: no match). "*" matches everything.
int subjectMatch(X509* cert, const QString& wanted)
{
    if (wanted == QLatin1String("*"))
        return 1;
    const QString subject = qs(certs::nameText(X509_get_subject_name(cert)));
    if (subject.compare(wanted, Qt::CaseInsensitive) == 0)
        return 4;
    const QString cnPrefix = QStringLiteral("CN=");
    for (const QString& part : subject.split(QStringLiteral(", "))) {
        if (part.startsWith(cnPrefix) && part.mid(3).compare(wanted, Qt::CaseInsensitive) == 0)
            return 3;
        if (part.compare(wanted, Qt::CaseInsensitive) == 0)
            return 3;
    }
    return subject.contains(wanted, Qt::CaseInsensitive) ? 2 : 0;
}

} // namespace

std::span<const PropertyDef> certMgrProperties()
{
    static const std::vector<PropertyDef> defs = buildPropertyDefs(corvanews20::certmgr::kTables, kLimits);
    return defs;
}
std::span<const ConfigDef> certMgrConfig() { return kConfig; }

QString defaultCertStoreRoot()
{
    const QString env = qEnvironmentVariable("CORVANE_CERTSTORE_ROOT");
    if (!env.isEmpty())
        return env;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/corvane/certstores");
}

CertMgr::CertMgr(CorvaneWS_EventSink sink, void* user) : EngineObject(sink, user, certMgrProperties(), kConfig) {}

// ---- properties ----

int CertMgr::indexCount(const PropertyDef& def) const
{
    if (def.id == P::CertExtensionCritical || def.id == P::CertExtensionOID || def.id == P::CertExtensionValue)
        return extensionCount_;
    return 0;
}

bool CertMgr::readProperty(const PropertyDef& def, int index, Value& out)
{
    const certs::CertFields& f = fields_;
    switch (def.id) {
    case P::CertEffectiveDate: out.text = qs(f.effectiveDate); return true;
    case P::CertEncoded:
        if (!current_.cert)
            return false;
        out.bytes = QByteArray::fromStdString(certs::certificatePem(current_.cert.get()));
        return true;
    case P::CertExpirationDate: out.text = qs(f.expirationDate); return true;
    case P::CertFingerprint: out.text = qs(f.fingerprint); return true;
    case P::CertIssuer: out.text = qs(f.issuer); return true;
    case P::CertPrivateKey: {
        EVP_PKEY* key = nullptr;
        if (current_.keyPem.empty() && !current_.key)
            return true;
        // A key that does not decrypt is shown as stored.
        if (privateKey(key) != 0) {
            clearError();
            out.text = qs(current_.keyPem);
            return true;
        }
        out.text = qs(certs::privateKeyPem(key, utf8(textProp(P::CertKeyPassword))));
        return true;
    }
    case P::CertPrivateKeyAvailable: out.i = !current_.keyPem.empty() || current_.key; return true;
    case P::CertPrivateKeyContainer: out.text = qs(current_.container); return true;
    case P::CertPublicKey: out.text = qs(f.publicKey); return true;
    case P::CertPublicKeyLength: out.i = f.publicKeyLength; return true;
    case P::CertSerialNumber: out.text = qs(f.serialNumber); return true;
    case P::CertSignatureAlgorithm: out.text = qs(f.signatureAlgorithm); return true;
    case P::CertSubjectAltNames: out.text = qs(f.subjectAltNames); return true;
    case P::CertThumbprintMD5: out.text = qs(f.thumbprintMD5); return true;
    case P::CertThumbprintSHA1: out.text = qs(f.thumbprintSHA1); return true;
    case P::CertThumbprintSHA256: out.text = qs(f.thumbprintSHA256); return true;
    case P::CertVersion: out.text = qs(f.version); return true;
    case P::CertExtensionCount: out.i = extensionCount_; return true;
    case P::CertExtensionCritical: out.i = f.extensions[size_t(index)].critical; return true;
    case P::CertExtensionOID: out.text = qs(f.extensions[size_t(index)].oid); return true;
    case P::CertExtensionValue: out.bytes = QByteArray::fromStdString(f.extensions[size_t(index)].value); return true;
    case P::ExportedCert: out.bytes = exported_; return true;
    default: return false;
    }
}

// The first certificate read, the rest as its chain, and the key read with them.
CertMgr::Loaded CertMgr::loadedFrom(certs::Material&& m)
{
    Loaded l;
    l.cert = std::move(m.certs.front());
    for (size_t k = 1; k < m.certs.size(); ++k)
        l.chain.push_back(std::move(m.certs[k]));
    l.keyPem = std::move(m.keyPem);
    return l;
}

int CertMgr::writeProperty(const PropertyDef& def, int /*index*/, Value& in)
{
    clearError();
    switch (def.id) {
    case P::CertEncoded: {
        if (in.bytes.isEmpty()) {
            clearCurrent();
            return 0;
        }
        certs::Material m;
        if (Error e = certs::readCertificateData(in.bytes.toStdString(), "CertEncoded", m))
            return failWith(e);
        load(loadedFrom(std::move(m)));
        return 0;
    }
    case P::CertSubject:
        if (in.text.isEmpty()) {
            clearCurrent();
            return 0;
        }
        return selectBySubject(in.text);
    case P::CertUsage: {
        int flags = 0;
        std::string bad;
        if (!certs::parseUsage(utf8(in.text), flags, bad))
            return fail(kInvalidValue, "CertUsage (\"" + bad + "\")");
        stored(P::CertUsageFlags).i = flags;
        stored(P::CertUsage).text = qs(certs::usageText(flags));
        return 0;
    }
    case P::CertUsageFlags:
        if (in.i & ~int64_t(certs::kAllUsageFlags))
            return fail(kInvalidValue, "CertUsageFlags (bits outside the key usage bits)");
        stored(P::CertUsageFlags).i = in.i;
        stored(P::CertUsage).text = qs(certs::usageText(int(in.i)));
        return 0;
    case P::CertExtendedKeyUsage: {
        std::string bad;
        if (!certs::validExtendedUsage(utf8(in.text), bad))
            return fail(kInvalidValue, "CertExtendedKeyUsage (\"" + bad + "\")");
        return -1;
    }
    case P::CertPublicKeyAlgorithm: {
        certs::KeyKind kind;
        if (!certs::parseKeyAlgorithm(utf8(in.text), kind))
            return fail(kInvalidValue, "CertPublicKeyAlgorithm (\"" + utf8(in.text) + "\")");
        return -1;
    }
    case P::CertExtensionCount:
        if (in.i > int64_t(fields_.extensions.size()))
            return fail(kInvalidValue, "CertExtensionCount");
        extensionCount_ = int(in.i);
        return 0;
    case P::CertStoreType:
        if (!validStoreType(in.i))
            return fail(kInvalidValue, "CertStoreType");
        return -1;
    case P::ExportFormat: {
        const QString f = in.text.trimmed().toUpper();
        if (f != QLatin1String("PFX") && f != QLatin1String("PEM") && f != QLatin1String("DER"))
            return fail(kInvalidValue, "ExportFormat (\"" + utf8(in.text) + "\"; PFX, PEM or DER)");
        in.text = f;
        return -1;
    }
    default:
        return -1;
    }
}

void CertMgr::load(Loaded&& loaded)
{
    current_ = std::move(loaded);
    if (current_.container.empty() && !current_.keyPem.empty())
        current_.container = certs::sha1Hex(current_.cert.get());
    fields_ = certs::describeCertificate(current_.cert.get());
    extensionCount_ = int(fields_.extensions.size());
    selectionNote_.clear();
    stored(P::CertSubject).text = qs(fields_.subject);
    stored(P::CertUsageFlags).i = fields_.usageFlags;
    stored(P::CertUsage).text = qs(fields_.usage);
    stored(P::CertExtendedKeyUsage).text = qs(fields_.extendedUsage);
    stored(P::CertPublicKeyAlgorithm).text = qs(fields_.publicKeyAlgorithm);
}

void CertMgr::clearCurrent()
{
    current_ = Loaded{};
    fields_ = certs::CertFields{};
    extensionCount_ = 0;
    selectionNote_.clear();
    stored(P::CertSubject).text.clear();
}

int CertMgr::needCertificate()
{
    if (current_.cert)
        return 0;
    return fail(kNoCertificate, selectionNote_.isEmpty() ? std::string("read, select or create one first") : utf8(selectionNote_));
}

int CertMgr::privateKey(EVP_PKEY*& key)
{
    key = nullptr;
    if (int rc = needCertificate())
        return rc;
    if (!current_.key) {
        if (current_.keyPem.empty())
            return fail(kNoPrivateKey, fields_.subject);
        const QString& password = current_.keyUsesStorePassword ? textProp(P::CertStorePassword) : textProp(P::CertKeyPassword);
        certs::KeyPtr k;
        if (Error e = certs::readPrivateKey(current_.keyPem, utf8(password), k))
            return failWith(e);
        if (!certs::keyMatchesCertificate(k.get(), current_.cert.get()))
            return fail(kKeyMismatch, fields_.subject);
        current_.key = std::move(k);
    }
    key = current_.key.get();
    return 0;
}

// ---- stores ----

certs::FolderStore CertMgr::folderStore() const
{
    const QString configured = configText("CertStoreRoot");
    return certs::FolderStore(localPath(configured.isEmpty() ? defaultCertStoreRoot() : configured));
}

std::string CertMgr::machineStoreFolder() const
{
    const QString configured = configText("MachineStoreFolder");
    return configured.isEmpty() ? std::string(X509_get_default_cert_dir()) : utf8(configured);
}

Error CertMgr::userStoreName(std::string& name) const
{
    name = bytesProp(P::CertStore).toStdString();
    if (!certs::validStoreName(name))
        return certs::error(kStoreError, "\"" + name + "\" is not a valid store name");
    return {};
}

int CertMgr::needUserStore(std::string& name)
{
    if (intProp(P::CertStoreType) != kStoreUser)
        return fail(kStoreReadOnly, "keys and changes need a user store (CertStoreType 0)");
    if (Error e = userStoreName(name))
        return failWith(e);
    return 0;
}

Error CertMgr::storeCertificates(std::vector<Loaded>& out, std::vector<std::string>* skipped)
{
    out.clear();
    const int type = int(intProp(P::CertStoreType));
    const QByteArray store = bytesProp(P::CertStore);
    const std::string password = utf8(textProp(P::CertStorePassword));
    // File store types name a path in CertStore, blob types hold the bytes.
    auto storeBytes = [&](bool fromFile, certs::Bytes& data) -> Error {
        if (fromFile)
            return certs::readFileBytes(localPath(QString::fromUtf8(store)), data);
        data = store.toStdString();
        return {};
    };
    auto appendWithoutKeys = [&](std::vector<certs::X509Ptr>& certificates) {
        for (certs::X509Ptr& c : certificates) {
            Loaded l;
            l.cert = std::move(c);
            out.push_back(std::move(l));
        }
    };
    switch (type) {
    case kStoreUser: {
        std::string name;
        if (Error e = userStoreName(name))
            return e;
        std::vector<certs::StoredCert> list;
        if (Error e = folderStore().certificates(name, list, skipped))
            return e;
        for (certs::StoredCert& sc : list) {
            Loaded l;
            l.cert = std::move(sc.cert);
            l.keyPem = std::move(sc.keyPem);
            if (!l.keyPem.empty())
                l.container = sc.file;
            out.push_back(std::move(l));
        }
        return {};
    }
    case kStoreMachine: {
        if (store.toStdString() != kMachineStore)
            return certs::error(kStoreError, "the machine store is named " + std::string(kMachineStore));
        std::vector<certs::X509Ptr> list;
        certs::folderCertificates(machineStoreFolder(), list);
        appendWithoutKeys(list);
        return {};
    }
    case kStorePfxFile:
    case kStorePfxBlob: {
        certs::Bytes data;
        if (Error e = storeBytes(type == kStorePfxFile, data))
            return e;
        certs::PfxContent pfx;
        if (Error e = certs::readPfx(data, password, pfx))
            return e;
        Loaded first;
        first.cert = std::move(pfx.cert);
        if (pfx.key) {
            first.key = std::move(pfx.key);
            first.keyPem = certs::privateKeyPem(first.key.get(), {});
            first.keyUsesStorePassword = true;
        }
        for (certs::X509Ptr& c : pfx.others)
            first.chain.push_back(certs::upRef(c.get()));
        out.push_back(std::move(first));
        appendWithoutKeys(pfx.others);
        return {};
    }
    case kStorePemFile:
    case kStorePemBlob: {
        certs::Bytes data;
        if (Error e = storeBytes(type == kStorePemFile, data))
            return e;
        certs::Material m;
        if (Error e = certs::readCertificateData(data, type == kStorePemFile ? "the PEM file" : "CertStore", m))
            return e;
        // The key goes with the certificate it belongs to (the first when it
        // cannot be read yet).
        size_t owner = 0;
        certs::KeyPtr key;
        if (!m.keyPem.empty() && !certs::readPrivateKey(m.keyPem, password, key)) {
            for (size_t k = 0; k < m.certs.size(); ++k)
                if (certs::keyMatchesCertificate(key.get(), m.certs[k].get()))
                    owner = k;
        }
        for (size_t k = 0; k < m.certs.size(); ++k) {
            Loaded l;
            l.cert = certs::upRef(m.certs[k].get());
            if (k == owner && !m.keyPem.empty()) {
                l.keyPem = m.keyPem;
                l.keyUsesStorePassword = true;
                for (size_t j = 0; j < m.certs.size(); ++j)
                    if (j != k)
                        l.chain.push_back(certs::upRef(m.certs[j].get()));
            }
            out.push_back(std::move(l));
        }
        return {};
    }
    default:
        return certs::error(kInvalidValue, "CertStoreType");
    }
}

int CertMgr::selectBySubject(const QString& subject)
{
    std::vector<Loaded> list;
    const QString where = intProp(P::CertStoreType) == kStoreUser || intProp(P::CertStoreType) == kStoreMachine
                              ? QStringLiteral("store ") + QString::fromUtf8(bytesProp(P::CertStore))
                              : QStringLiteral("the store");
    if (Error e = storeCertificates(list, nullptr)) {
        // A store that cannot be read selects nothing: a form that sets the
        // subject before the store must still load. The reason is kept for
        // the first method that needs the certificate.
        clearCurrent();
        stored(P::CertSubject).text = subject;
        selectionNote_ = QStringLiteral("no certificate for \"%1\": %2").arg(subject, qs(errorText(e.code, e.detail)));
        return 0;
    }
    int best = 0;
    size_t bestAt = 0;
    for (size_t k = 0; k < list.size(); ++k) {
        int score = subjectMatch(list[k].cert.get(), subject);
        if (score > 0 && !list[k].keyPem.empty())
            score += 10;   // with equal names, the one that can sign wins
        if (score > best) {
            best = score;
            bestAt = k;
        }
    }
    if (best == 0) {
        clearCurrent();
        stored(P::CertSubject).text = subject;
        selectionNote_ = QStringLiteral("no certificate in %1 matches \"%2\"").arg(where, subject);
        log(1, selectionNote_, QStringLiteral("Store"));
        return 0;
    }
    load(std::move(list[bestAt]));
    return 0;
}

certs::CertProfile CertMgr::profile(const QString& subject, int64_t serial) const
{
    certs::CertProfile p;
    p.subject = utf8(subject);
    p.serial = serial;
    p.validityDays = int(configInt("CertValidityDays"));
    p.usageFlags = int(intProp(P::CertUsageFlags));
    p.extendedUsage = utf8(textProp(P::CertExtendedKeyUsage));
    p.subjectAltNames = utf8(configText("CertSubjectAltNames"));
    return p;
}

// ---- methods ----

int CertMgr::invoke(int method, int argc, void** argv, int* arglen)
{
    clearError();
    auto wide = [&](int k) { return k < argc ? wideArg(argv[k], arglen ? arglen[k] : 0) : QString(); };
    auto integer = [&](int k) { return k < argc ? int64_t(reinterpret_cast<intptr_t>(argv[k])) : int64_t(0); };
    auto bytes = [&](int k) { return k < argc ? bytesArg(argv[k], arglen ? arglen[k] : 0) : QByteArray(); };
    QString result;
    int rc = 0;
    bool returnsText = true;
    switch (method) {
    case M::Config: rc = configure(wide(0), result); break;
    case M::CreateCertificate: rc = createCertificate(wide(0), integer(1), false); returnsText = false; break;
    case M::CreateKey: rc = createKey(wide(0)); returnsText = false; break;
    case M::DeleteCertificate: rc = deleteCertificate(); returnsText = false; break;
    case M::DeleteKey: rc = deleteKey(wide(0)); returnsText = false; break;
    case M::ExportCertificate: rc = exportCertificate(wide(0), wide(1)); returnsText = false; break;
    case M::GenerateCSR: rc = generateCsr(wide(0), wide(1), result); break;
    case M::ImportCertificate: rc = importCertificate(wide(0), wide(1), wide(2)); returnsText = false; break;
    case M::ImportSignedCSR: rc = importSignedCsr(bytes(0), wide(1)); returnsText = false; break;
    case M::IssueCertificate: rc = createCertificate(wide(0), integer(1), true); returnsText = false; break;
    case M::ListCertificateStores: rc = listCertificateStores(result); break;
    case M::ListKeys: rc = listKeys(result); break;
    case M::ListMachineStores: rc = listMachineStores(result); break;
    case M::ListStoreCertificates: rc = listStoreCertificates(result); break;
    case M::ReadCertificate: rc = readCertificate(wide(0)); returnsText = false; break;
    case M::ReadCSR: rc = readCsr(wide(0), result); break;
    case M::Reset: reset(); returnsText = false; break;
    case M::SaveCertificate: rc = saveCertificate(wide(0)); returnsText = false; break;
    case M::ShowCertificateChain: rc = showCertificateChain(result); break;
    case M::SignCSR: rc = signCsr(bytes(0), integer(1), result); break;
    default: return fail(kUnknownMethod, std::to_string(kMethodOffset + method));
    }
    if (returnsText && argv != nullptr && !destroyed())
        setWideResult(argv, arglen, std::max(argc, 0), result);
    return rc;
}

int CertMgr::createCertificate(const QString& subject, int64_t serial, bool issue)
{
    EVP_PKEY* issuerKey = nullptr;
    if (issue) {
        if (int rc = privateKey(issuerKey))
            return rc;
        if (!certs::canIssue(current_.cert.get()))
            return fail(kNotACA, fields_.subject);
    }
    certs::KeyKind kind;
    if (!certs::parseKeyAlgorithm(utf8(textProp(P::CertPublicKeyAlgorithm)), kind))
        return fail(kInvalidValue, "CertPublicKeyAlgorithm (\"" + utf8(textProp(P::CertPublicKeyAlgorithm)) + "\")");
    certs::KeyPtr key;
    if (Error e = certs::generateKey(kind, key))
        return failWith(e);
    certs::X509Ptr cert;
    if (Error e = certs::buildCertificate(profile(subject, serial), key.get(), issue ? current_.cert.get() : nullptr,
                                          issuerKey, cert))
        return failWith(e);
    Loaded l;
    l.cert = std::move(cert);
    l.keyPem = certs::privateKeyPem(key.get(), utf8(textProp(P::CertKeyPassword)));
    l.key = std::move(key);
    if (issue) {
        l.chain.push_back(certs::upRef(current_.cert.get()));
        for (const certs::X509Ptr& c : current_.chain)
            l.chain.push_back(certs::upRef(c.get()));
    }
    if (int r = keepInUserStore(l, QStringLiteral("Added \"%1\" to store %2")))
        return r;
    load(std::move(l));
    return 0;
}

// With the user store selected, a new or imported certificate is kept there
// too; logText gets the subject and the store's name.
int CertMgr::keepInUserStore(const Loaded& l, const QString& logText)
{
    if (intProp(P::CertStoreType) != kStoreUser)
        return 0;
    std::string store;
    if (Error e = userStoreName(store))
        return failWith(e);
    if (Error e = folderStore().addCertificate(store, l.cert.get(), l.keyPem))
        return failWith(e);
    log(1, logText.arg(qs(certs::nameText(X509_get_subject_name(l.cert.get()))), qs(store)), QStringLiteral("Store"));
    return 0;
}

int CertMgr::createKey(const QString& name)
{
    std::string store;
    if (int rc = needUserStore(store))
        return rc;
    if (name.isEmpty())
        return fail(kInvalidArgument, "the key needs a name");
    certs::KeyKind kind;
    if (!certs::parseKeyAlgorithm(utf8(textProp(P::CertPublicKeyAlgorithm)), kind))
        return fail(kInvalidValue, "CertPublicKeyAlgorithm (\"" + utf8(textProp(P::CertPublicKeyAlgorithm)) + "\")");
    certs::KeyPtr key;
    if (Error e = certs::generateKey(kind, key))
        return failWith(e);
    if (Error e = folderStore().addKey(store, utf8(name), key.get(), utf8(textProp(P::CertKeyPassword))))
        return failWith(e);
    log(1, QStringLiteral("Created key %1 (%2) in store %3").arg(name, qs(certs::keyAlgorithmName(key.get())), qs(store)),
        QStringLiteral("Key"));
    return 0;
}

int CertMgr::deleteCertificate()
{
    if (int rc = needCertificate())
        return rc;
    std::string store;
    if (int rc = needUserStore(store))
        return rc;
    if (Error e = folderStore().removeCertificate(store, current_.cert.get()))
        return failWith(e);
    log(1, QStringLiteral("Deleted \"%1\" from store %2").arg(qs(fields_.subject), qs(store)), QStringLiteral("Store"));
    clearCurrent();
    return 0;
}

int CertMgr::deleteKey(const QString& name)
{
    std::string store;
    if (int rc = needUserStore(store))
        return rc;
    if (Error e = folderStore().removeKey(store, utf8(name)))
        return failWith(e);
    return 0;
}

int CertMgr::exportCertificate(const QString& file, const QString& password)
{
    if (int rc = needCertificate())
        return rc;
    const QString format = textProp(P::ExportFormat);
    const bool withKey = boolProp(P::ExportPrivateKey) && format != QLatin1String("DER");
    EVP_PKEY* key = nullptr;
    if (withKey) {
        if (current_.keyPem.empty() && !current_.key)
            return fail(kNoPrivateKey, fields_.subject + "; set ExportPrivateKey to false to export the certificate alone");
        if (int rc = privateKey(key))
            return rc;
    }
    certs::Bytes out;
    if (format == QLatin1String("PFX")) {
        std::vector<X509*> chain;
        for (const certs::X509Ptr& c : current_.chain)
            chain.push_back(c.get());
        if (Error e = certs::writePfx(current_.cert.get(), key, chain, utf8(password), configInt("PFXLegacy") != 0, out))
            return failWith(e);
    } else if (format == QLatin1String("PEM")) {
        out = certs::certificatePem(current_.cert.get());
        for (const certs::X509Ptr& c : current_.chain)
            out += certs::certificatePem(c.get());
        if (key)
            out += certs::privateKeyPem(key, utf8(password));
    } else {
        out = certs::certificateDer(current_.cert.get());
    }
    if (!file.isEmpty()) {
        if (Error e = certs::writeFileAtomic(localPath(file), out, key != nullptr))
            return failWith(e);
    }
    exported_ = QByteArray::fromStdString(out);
    return 0;
}

int CertMgr::generateCsr(const QString& subject, const QString& keyName, QString& result)
{
    std::string store;
    if (int rc = needUserStore(store))
        return rc;
    if (keyName.isEmpty())
        return fail(kInvalidArgument, "the request needs a key name");
    const certs::FolderStore folder = folderStore();
    const std::string password = utf8(textProp(P::CertKeyPassword));
    certs::KeyPtr key;
    std::string pem;
    bool fresh = false;
    if (Error e = folder.keyPem(store, utf8(keyName), pem)) {
        if (e.code != kKeyNotFound)
            return failWith(e);
        certs::KeyKind kind;
        if (!certs::parseKeyAlgorithm(utf8(textProp(P::CertPublicKeyAlgorithm)), kind))
            return fail(kInvalidValue, "CertPublicKeyAlgorithm");
        if (Error g = certs::generateKey(kind, key))
            return failWith(g);
        fresh = true;
    } else if (Error r = certs::readPrivateKey(pem, password, key)) {
        return failWith(r);
    }
    certs::X509ReqPtr req;
    if (Error e = certs::buildRequest(profile(subject, 0), key.get(), req))
        return failWith(e);
    // The key is kept only once the request stands.
    if (fresh) {
        if (Error e = folder.addKey(store, utf8(keyName), key.get(), password))
            return failWith(e);
    }
    result = qs(certs::requestPem(req.get()));
    return 0;
}

int CertMgr::importCertificate(const QString& file, const QString& password, const QString& subject)
{
    certs::Bytes data;
    if (Error e = certs::readFileBytes(localPath(file), data))
        return failWith(e);
    std::vector<Loaded> found;
    if (certs::looksLikePfx(data)) {
        certs::PfxContent pfx;
        if (Error e = certs::readPfx(data, utf8(password), pfx))
            return failWith(e);
        Loaded first;
        first.cert = std::move(pfx.cert);
        first.key = std::move(pfx.key);
        for (certs::X509Ptr& c : pfx.others)
            first.chain.push_back(certs::upRef(c.get()));
        found.push_back(std::move(first));
        for (certs::X509Ptr& c : pfx.others) {
            Loaded l;
            l.cert = std::move(c);
            found.push_back(std::move(l));
        }
    } else {
        certs::Material m;
        if (Error e = certs::readCertificateData(data, utf8(file), m))
            return failWith(e);
        certs::KeyPtr key;
        if (!m.keyPem.empty()) {
            if (Error e = certs::readPrivateKey(m.keyPem, utf8(password), key))
                return failWith(e);
        }
        for (size_t k = 0; k < m.certs.size(); ++k) {
            Loaded l;
            l.cert = certs::upRef(m.certs[k].get());
            if (key && certs::keyMatchesCertificate(key.get(), l.cert.get())) {
                l.key = certs::upRef(key.get());
                for (size_t j = 0; j < m.certs.size(); ++j)
                    if (j != k)
                        l.chain.push_back(certs::upRef(m.certs[j].get()));
            }
            found.push_back(std::move(l));
        }
    }
    // Which one: the subject asked for, else the one with the key, else the first.
    size_t at = 0;
    int best = -1;
    for (size_t k = 0; k < found.size(); ++k) {
        int score = subject.isEmpty() ? 1 : subjectMatch(found[k].cert.get(), subject);
        if (score > 0 && found[k].key)
            score += 10;
        if (score > best && (score > 0 || subject.isEmpty())) {
            best = score;
            at = k;
        }
    }
    if (best <= 0)
        return fail(kCertificateNotFound, "no certificate in " + utf8(file) + " matches \"" + utf8(subject) + "\"");
    Loaded chosen = std::move(found[at]);
    if (chosen.key)
        chosen.keyPem = certs::privateKeyPem(chosen.key.get(), utf8(textProp(P::CertKeyPassword)));
    if (int r = keepInUserStore(chosen, QStringLiteral("Imported \"%1\" into store %2")))
        return r;
    load(std::move(chosen));
    return 0;
}

int CertMgr::importSignedCsr(const QByteArray& data, const QString& keyName)
{
    std::string store;
    if (int rc = needUserStore(store))
        return rc;
    certs::Material m;
    if (Error e = certs::readCertificateData(data.toStdString(), "the signed certificate", m))
        return failWith(e);
    const certs::FolderStore folder = folderStore();
    std::vector<certs::StoredKey> keys;
    folder.keys(store, keys);
    const certs::StoredKey* match = nullptr;
    for (const certs::StoredKey& k : keys)
        if (QString::fromStdString(k.name) == keyName)
            match = &k;
    if (match == nullptr)
        return fail(kKeyNotFound, utf8(keyName) + " in store " + store);
    if (!certs::sameKey(match->publicKey.get(), X509_get0_pubkey(m.certs.front().get())))
        return fail(kKeyMismatch, "key " + utf8(keyName));
    std::string pem;
    if (Error e = folder.keyPem(store, utf8(keyName), pem))
        return failWith(e);
    Loaded l = loadedFrom(std::move(m));
    l.keyPem = pem;
    l.container = utf8(keyName);
    if (Error e = folder.addCertificate(store, l.cert.get(), l.keyPem))
        return failWith(e);
    load(std::move(l));
    return 0;
}

int CertMgr::listCertificateStores(QString& result)
{
    std::vector<std::string> names;
    if (Error e = folderStore().listStores(names))
        return failWith(e);
    QStringList lines;
    for (const std::string& n : names) {
        lines << qs(n);
        raiseStore(qs(n));
    }
    result = lines.join('\n');
    return 0;
}

int CertMgr::listKeys(QString& result)
{
    std::string store;
    if (int rc = needUserStore(store))
        return rc;
    std::vector<certs::StoredKey> keys;
    if (Error e = folderStore().keys(store, keys))
        return failWith(e);
    QStringList lines;
    for (const certs::StoredKey& k : keys) {
        lines << qs(k.name);
        if (!hasSink())
            continue;
        Wide name(qs(k.name)), alg(qs(certs::keyAlgorithmName(k.publicKey.get())));
        void* argv[5] = {name.ptr(), iv(k.encrypted ? 2 : 1), alg.ptr(),
                         iv(k.publicKey ? EVP_PKEY_get_bits(k.publicKey.get()) : 0), nullptr};
        int arglen[5] = {0, 0, 0, 0, 0};
        raise(E::KeyList, 4, argv, arglen);
    }
    result = lines.join('\n');
    return 0;
}

int CertMgr::listMachineStores(QString& result)
{
    result = QString::fromLatin1(kMachineStore);
    raiseStore(result);
    return 0;
}

int CertMgr::listStoreCertificates(QString& result)
{
    std::vector<Loaded> list;
    std::vector<std::string> skipped;
    if (Error e = storeCertificates(list, &skipped))
        return failWith(e);
    for (const std::string& s : skipped)
        raiseError(kNotACertificate, qs(errorText(kNotACertificate, s + " in the store is skipped")));
    QStringList lines;
    for (const Loaded& l : list) {
        lines << qs(certs::nameText(X509_get_subject_name(l.cert.get())));
        raiseCert(E::CertList, l.cert.get(), !l.keyPem.empty() || l.key, 0, 5);
    }
    result = lines.join('\n');
    return 0;
}

int CertMgr::readCertificate(const QString& file)
{
    certs::Bytes data;
    if (Error e = certs::readFileBytes(localPath(file), data))
        return failWith(e);
    certs::Material m;
    if (Error e = certs::readCertificateData(data, utf8(file), m)) {
        if (certs::looksLikePfx(data))
            return fail(kNotACertificate, utf8(file) + " is a PFX file; use ImportCertificate or CertStoreType 2");
        return failWith(e);
    }
    load(loadedFrom(std::move(m)));
    return 0;
}

int CertMgr::readCsr(const QString& csr, QString& result)
{
    std::string data = utf8(csr);
    if (!csr.contains(QLatin1String("-----BEGIN")) && !csr.isEmpty() && QFile::exists(csr)) {
        if (Error e = certs::readFileBytes(localPath(csr), data))
            return failWith(e);
    }
    certs::X509ReqPtr req;
    if (Error e = certs::readRequest(data, req))
        return failWith(e);
    const certs::CertFields f = certs::describeRequest(req.get());
    QStringList lines;
    lines << QStringLiteral("Subject: ") + qs(f.subject)
          << QStringLiteral("PublicKeyAlgorithm: ") + qs(f.publicKeyAlgorithm)
          << QStringLiteral("PublicKeyLength: ") + QString::number(f.publicKeyLength)
          << QStringLiteral("SignatureAlgorithm: ") + qs(f.signatureAlgorithm)
          << QStringLiteral("SubjectAltNames: ") + qs(f.subjectAltNames)
          << QStringLiteral("Usage: ") + qs(f.usage)
          << QStringLiteral("ExtendedKeyUsage: ") + qs(f.extendedUsage)
          << QStringLiteral("PublicKey: ") + qs(f.publicKey).trimmed();
    result = lines.join('\n');
    return 0;
}

int CertMgr::saveCertificate(const QString& file)
{
    if (int rc = needCertificate())
        return rc;
    if (file.isEmpty())
        return fail(kInvalidArgument, "no file name");
    const bool der = file.endsWith(QLatin1String(".der"), Qt::CaseInsensitive);
    const certs::Bytes out = der ? certs::certificateDer(current_.cert.get()) : certs::certificatePem(current_.cert.get());
    if (Error e = certs::writeFileAtomic(localPath(file), out, false))
        return failWith(e);
    return 0;
}

int CertMgr::showCertificateChain(QString& result)
{
    if (int rc = needCertificate())
        return rc;
    std::vector<certs::X509Ptr> trustedOwned;
    certs::folderCertificates(machineStoreFolder(), trustedOwned);
    std::vector<certs::StoredCert> userRoots;
    folderStore().certificates("ROOT", userRoots, nullptr);
    for (certs::StoredCert& sc : userRoots)
        trustedOwned.push_back(std::move(sc.cert));
    std::vector<Loaded> storeList;
    if (intProp(P::CertStoreType) != kStoreMachine)
        storeCertificates(storeList, nullptr);
    clearError();
    std::vector<X509*> trusted, untrusted;
    for (const certs::X509Ptr& c : trustedOwned)
        trusted.push_back(c.get());
    for (const certs::X509Ptr& c : current_.chain)
        untrusted.push_back(c.get());
    for (const Loaded& l : storeList)
        untrusted.push_back(l.cert.get());
    std::vector<certs::ChainElement> chain;
    result = qs(certs::buildChain(current_.cert.get(), untrusted, trusted, chain));
    for (const certs::ChainElement& e : chain) {
        if (destroyed())
            break;
        raiseCert(E::CertChain, e.cert.get(), e.status, e.info, 6);
    }
    return 0;
}

int CertMgr::signCsr(const QByteArray& data, int64_t serial, QString& result)
{
    EVP_PKEY* caKey = nullptr;
    if (int rc = privateKey(caKey))
        return rc;
    if (!certs::canIssue(current_.cert.get()))
        return fail(kNotACA, fields_.subject);
    certs::X509ReqPtr req;
    if (Error e = certs::readRequest(data.toStdString(), req))
        return failWith(e);
    certs::CertProfile p = profile(QString(), serial);
    // The request brings its own names and usage; the properties add to it
    // only where they say something.
    certs::X509Ptr cert;
    if (Error e = certs::signRequest(req.get(), p, current_.cert.get(), caKey, cert))
        return failWith(e);
    result = qs(certs::certificatePem(cert.get()));
    return 0;
}

void CertMgr::reset()
{
    resetStoredProperties();
    clearCurrent();
    exported_.clear();
}

// ---- events ----

void CertMgr::raiseCert(int event, X509* cert, intptr_t a, intptr_t b, int argCount)
{
    if (!hasSink())
        return;
    const QByteArray pem = QByteArray::fromStdString(certs::certificatePem(cert));
    const certs::CertFields f = certs::describeCertificate(cert);
    Wide subject(qs(f.subject)), issuer(qs(f.issuer)), serial(qs(f.serialNumber));
    void* argv[7] = {const_cast<char*>(pem.constData()), subject.ptr(), issuer.ptr(), serial.ptr(), iv(a), iv(b), nullptr};
    int arglen[7] = {int(pem.size()), 0, 0, 0, 0, 0, 0};
    raise(event, argCount, argv, arglen);
}

void CertMgr::raiseError(int code, const QString& description)
{
    if (!hasSink())
        return;
    Wide text(description);
    void* argv[3] = {iv(code), text.ptr(), nullptr};
    int arglen[3] = {0, 0, 0};
    raise(E::Error, 2, argv, arglen);
}

void CertMgr::log(int level, const QString& message, const QString& type)
{
    if (!hasSink() || level > configInt("LogLevel"))
        return;
    Wide m(message), t(type);
    void* argv[4] = {iv(level), m.ptr(), t.ptr(), nullptr};
    int arglen[4] = {0, 0, 0, 0};
    raise(E::Log, 3, argv, arglen);
}

void CertMgr::raiseStore(const QString& name)
{
    if (!hasSink())
        return;
    Wide n(name);
    void* argv[2] = {n.ptr(), nullptr};
    int arglen[2] = {0, 0};
    raise(E::StoreList, 1, argv, arglen);
}

} // namespace corvane::engine
