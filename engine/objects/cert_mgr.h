// The certificate manager object behind CorvaneWS_CertMgr_*: a thin layer
// that maps the numbered properties, methods and events onto the certificate
// code of engine/certs/.
#pragma once

#include "engine/certs/cert_builder.h"
#include "engine/certs/cert_reader.h"
#include "engine/certs/cert_store.h"
#include "engine/include/corvanews20_certmgr.h"
#include "engine/objects/engine_object.h"

#include <QString>

#include <vector>

namespace corvane::engine {

std::span<const PropertyDef> certMgrProperties();
std::span<const ConfigDef> certMgrConfig();

// CertStoreType codes (engine/README.md).
enum CertStoreType : int {
    kStoreUser = 0,      // CertStore names a folder under the store root
    kStoreMachine = 1,   // the system trust folder, read-only
    kStorePfxFile = 2,   // CertStore is the path of a PFX file
    kStorePfxBlob = 3,   // CertStore holds the PFX bytes
    kStorePemFile = 6,   // CertStore is the path of a PEM file
    kStorePemBlob = 7,   // CertStore holds the PEM text
};

// Where the user stores live: Config CertStoreRoot, else the environment
// variable CORVANE_CERTSTORE_ROOT, else <user data>/corvane/certstores.
QString defaultCertStoreRoot();

class CertMgr final : public EngineObject {
public:
    CertMgr(CorvaneWS_EventSink sink, void* user);

protected:
    int indexCount(const PropertyDef& def) const override;
    bool readProperty(const PropertyDef& def, int index, Value& out) override;
    int writeProperty(const PropertyDef& def, int index, Value& in) override;
    int invoke(int method, int argc, void** argv, int* arglen) override;

private:
    // A certificate with what goes with it: its key (as stored, decrypted on
    // first use), the key's password source, and the certificates above it.
    struct Loaded {
        certs::X509Ptr cert;
        std::string keyPem;
        bool keyUsesStorePassword = false;   // else CertKeyPassword
        certs::KeyPtr key;
        std::string container;
        std::vector<certs::X509Ptr> chain;
    };

    int failWith(const certs::Error& e) { return fail(e.code, e.detail); }
    static Loaded loadedFrom(certs::Material&& m);
    void load(Loaded&& loaded);
    void clearCurrent();
    int needCertificate();
    int privateKey(EVP_PKEY*& key);

    // The certificates of the store CertStoreType and CertStore name.
    certs::Error storeCertificates(std::vector<Loaded>& out, std::vector<std::string>* skipped);
    certs::Error userStoreName(std::string& name) const;
    int needUserStore(std::string& name);
    int keepInUserStore(const Loaded& l, const QString& logText);
    certs::FolderStore folderStore() const;
    std::string machineStoreFolder() const;
    int selectBySubject(const QString& subject);
    certs::CertProfile profile(const QString& subject, int64_t serial) const;

    // methods
    int createCertificate(const QString& subject, int64_t serial, bool issue);
    int createKey(const QString& name);
    int deleteCertificate();
    int deleteKey(const QString& name);
    int exportCertificate(const QString& file, const QString& password);
    int generateCsr(const QString& subject, const QString& keyName, QString& result);
    int importCertificate(const QString& file, const QString& password, const QString& subject);
    int importSignedCsr(const QByteArray& data, const QString& keyName);
    int listCertificateStores(QString& result);
    int listKeys(QString& result);
    int listMachineStores(QString& result);
    int listStoreCertificates(QString& result);
    int readCertificate(const QString& file);
    int readCsr(const QString& csr, QString& result);
    int saveCertificate(const QString& file);
    int showCertificateChain(QString& result);
    int signCsr(const QByteArray& data, int64_t serial, QString& result);
    void reset();

    // events
    void raiseCert(int event, X509* cert, intptr_t a, intptr_t b, int argCount);
    void raiseError(int code, const QString& description);
    void log(int level, const QString& message, const QString& type);
    void raiseStore(const QString& name);

    Loaded current_;
    certs::CertFields fields_;
    int extensionCount_ = 0;
    QString selectionNote_;   // why CertSubject selected nothing
    QByteArray exported_;
};

} // namespace corvane::engine
