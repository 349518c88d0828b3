// Certificate stores as folders of PEM files: <root>/<store>/<SHA-1>.pem
// holds a certificate and, when it has one, its private key (encrypted when a
// key password was set); <root>/<store>/keys/<name>.key and <name>.pub hold
// the key pairs made by name. Files are replaced atomically; key files are
// readable by the owner only.
#pragma once

#include "engine/certs/ossl.h"

#include <filesystem>
#include <string>
#include <vector>

namespace corvane::certs {

// kFileError when unreadable, kFileTooLarge past max.
Error readFileBytes(const std::filesystem::path& path, Bytes& out, size_t max = kMaxInputBytes);
// Through a temporary file in the same folder and a rename: a failure leaves
// what was there. secret: mode 0600.
Error writeFileAtomic(const std::filesystem::path& path, std::string_view data, bool secret);

// Store and key names: letters, digits, blank, '_', '-', '.', not starting
// with '.', at most 64 characters (they become folder and file names).
bool validStoreName(std::string_view name);

struct StoredCert {
    X509Ptr cert;
    std::string keyPem;   // empty when the store has no key for it
    std::string file;     // base name, the key container for certificates with a key
};

struct StoredKey {
    std::string name;
    KeyPtr publicKey;
    bool encrypted = false;
};

class FolderStore {
public:
    explicit FolderStore(std::filesystem::path root) : root_(std::move(root)) {}

    const std::filesystem::path& root() const { return root_; }

    // Folders under the root; "MY" always, even before it exists.
    Error listStores(std::vector<std::string>& out) const;
    // Unreadable or damaged files go to skipped (by name) and do not fail the list.
    Error certificates(const std::string& store, std::vector<StoredCert>& out, std::vector<std::string>* skipped) const;
    Error addCertificate(const std::string& store, X509* cert, const std::string& keyPem) const;
    Error removeCertificate(const std::string& store, X509* cert) const;

    Error addKey(const std::string& store, const std::string& name, EVP_PKEY* key, const std::string& password) const;
    Error keys(const std::string& store, std::vector<StoredKey>& out) const;
    Error keyPem(const std::string& store, const std::string& name, std::string& pem) const;
    Error removeKey(const std::string& store, const std::string& name) const;

private:
    Error storeDir(const std::string& store, std::filesystem::path& dir) const;
    std::filesystem::path root_;
};

// Every certificate in the files of a folder (bundles too), once each, in
// file-name order; damaged files are skipped.
void folderCertificates(const std::filesystem::path& dir, std::vector<X509Ptr>& out);

} // namespace corvane::certs
