#include "engine/certs/cert_store.h"

#include "engine/certs/cert_reader.h"
#include "engine/certs/keys.h"

#include <openssl/pem.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>

namespace fs = std::filesystem;

namespace corvane::certs {

namespace {

std::string lastErrno() { return std::strerror(errno); }

std::vector<fs::path> filesIn(const fs::path& dir, const std::string& suffix)
{
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ec2;
        if (!it->is_regular_file(ec2))   // follows links, as the system trust folder needs
            continue;
        const std::string name = it->path().filename().string();
        if (suffix.empty() || (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0))
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string publicKeyPem(EVP_PKEY* key)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!PEM_write_bio_PUBKEY(bio.get(), key)) {
        clearOpenSslErrors();
        return {};
    }
    return bioBytes(bio.get());
}

} // namespace

Error readFileBytes(const fs::path& path, Bytes& out, size_t max)
{
    out.clear();
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        return error(kFileError, path.string());
    const auto size = fs::file_size(path, ec);
    if (ec)
        return error(kFileError, path.string());
    if (size > max)
        return error(kFileTooLarge, path.string() + " is larger than " + std::to_string(max >> 20) + " MiB");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return error(kFileError, path.string());
    out.resize(size_t(size));
    in.read(out.data(), std::streamsize(size));
    if (size_t(in.gcount()) != size_t(size))
        return error(kFileError, path.string());
    return ok();
}

Error writeFileAtomic(const fs::path& path, std::string_view data, bool secret)
{
    const fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::string tmpl = (dir / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(tmpl.data());
    if (fd < 0)
        return error(kCannotWrite, path.string() + " (" + lastErrno() + ")");
    fchmod(fd, secret ? 0600 : 0644);
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const std::string why = lastErrno();
            ::close(fd);
            ::unlink(tmpl.c_str());
            return error(kCannotWrite, path.string() + " (" + why + ")");
        }
        done += size_t(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0 || std::rename(tmpl.c_str(), path.c_str()) != 0) {
        const std::string why = lastErrno();
        ::unlink(tmpl.c_str());
        return error(kCannotWrite, path.string() + " (" + why + ")");
    }
    return ok();
}

bool validStoreName(std::string_view name)
{
    if (name.empty() || name.size() > 64 || name.front() == '.' || name.front() == ' ' || name.back() == ' ')
        return false;
    for (char c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == ' ' || c == '_' || c == '-' || c == '.'))
            return false;
    return true;
}

Error FolderStore::storeDir(const std::string& store, fs::path& dir) const
{
    if (!validStoreName(store))
        return error(kStoreError, "\"" + store + "\" is not a valid store name");
    if (root_.empty())
        return error(kStoreError, "no store folder");
    dir = root_ / store;
    return ok();
}

Error FolderStore::listStores(std::vector<std::string>& out) const
{
    out.clear();
    std::set<std::string> names{"MY"};
    std::error_code ec;
    for (fs::directory_iterator it(root_, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ec2;
        const std::string name = it->path().filename().string();
        if (it->is_directory(ec2) && validStoreName(name))
            names.insert(name);
    }
    out.assign(names.begin(), names.end());
    return ok();
}

Error FolderStore::certificates(const std::string& store, std::vector<StoredCert>& out, std::vector<std::string>* skipped) const
{
    out.clear();
    fs::path dir;
    if (Error e = storeDir(store, dir))
        return e;
    for (const fs::path& file : filesIn(dir, ".pem")) {
        Bytes data;
        Material m;
        if (readFileBytes(file, data) || readCertificateData(data, file.filename().string(), m)) {
            if (skipped)
                skipped->push_back(file.filename().string());
            continue;
        }
        StoredCert sc;
        sc.cert = std::move(m.certs.front());
        sc.keyPem = std::move(m.keyPem);
        sc.file = file.stem().string();
        out.push_back(std::move(sc));
    }
    return ok();
}

Error FolderStore::addCertificate(const std::string& store, X509* cert, const std::string& keyPem) const
{
    fs::path dir;
    if (Error e = storeDir(store, dir))
        return e;
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec)
        return error(kCannotWrite, dir.string() + " (" + ec.message() + ")");
    const std::string pem = certificatePem(cert);
    if (pem.empty())
        return error(kCryptoFailed, "certificate encoding");
    return writeFileAtomic(dir / (sha1Hex(cert) + ".pem"), pem + keyPem, !keyPem.empty());
}

Error FolderStore::removeCertificate(const std::string& store, X509* cert) const
{
    fs::path dir;
    if (Error e = storeDir(store, dir))
        return e;
    const fs::path file = dir / (sha1Hex(cert) + ".pem");
    std::error_code ec;
    if (!fs::exists(file, ec))
        return error(kCertificateNotFound, "not in store " + store);
    if (!fs::remove(file, ec))
        return error(kCannotWrite, file.string() + " (" + ec.message() + ")");
    return ok();
}

Error FolderStore::addKey(const std::string& store, const std::string& name, EVP_PKEY* key, const std::string& password) const
{
    fs::path dir;
    if (Error e = storeDir(store, dir))
        return e;
    if (!validStoreName(name))
        return error(kInvalidArgument, "\"" + name + "\" is not a valid key name");
    const fs::path keys = dir / "keys";
    std::error_code ec;
    if (fs::exists(keys / (name + ".key"), ec))
        return error(kKeyExists, name);
    fs::create_directories(keys, ec);
    if (ec)
        return error(kCannotWrite, keys.string() + " (" + ec.message() + ")");
    const std::string priv = privateKeyPem(key, password);
    const std::string pub = publicKeyPem(key);
    if (priv.empty() || pub.empty())
        return error(kCryptoFailed, "key encoding");
    // The public half first: a key file never exists without it.
    if (Error e = writeFileAtomic(keys / (name + ".pub"), pub, false))
        return e;
    if (Error e = writeFileAtomic(keys / (name + ".key"), priv, true)) {
        fs::remove(keys / (name + ".pub"), ec);
        return e;
    }
    return ok();
}

Error FolderStore::keys(const std::string& store, std::vector<StoredKey>& out) const
{
    out.clear();
    fs::path dir;
    if (Error e = storeDir(store, dir))
        return e;
    for (const fs::path& file : filesIn(dir / "keys", ".key")) {
        StoredKey k;
        k.name = file.stem().string();
        Bytes priv, pub;
        if (readFileBytes(file, priv))
            continue;
        k.encrypted = privateKeyPemEncrypted(priv);
        fs::path pubFile = file;
        pubFile.replace_extension(".pub");
        if (!readFileBytes(pubFile, pub)) {
            BioPtr bio = memoryBio(pub);
            k.publicKey.reset(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
            clearOpenSslErrors();
        }
        out.push_back(std::move(k));
    }
    return ok();
}

Error FolderStore::keyPem(const std::string& store, const std::string& name, std::string& pem) const
{
    fs::path dir;
    if (Error e = storeDir(store, dir))
        return e;
    if (!validStoreName(name))
        return error(kKeyNotFound, name);
    const fs::path file = dir / "keys" / (name + ".key");
    std::error_code ec;
    if (!fs::exists(file, ec))
        return error(kKeyNotFound, name + " in store " + store);
    return readFileBytes(file, pem);
}

Error FolderStore::removeKey(const std::string& store, const std::string& name) const
{
    fs::path dir;
    if (Error e = storeDir(store, dir))
        return e;
    const fs::path file = dir / "keys" / (name + ".key");
    std::error_code ec;
    if (!validStoreName(name) || !fs::exists(file, ec))
        return error(kKeyNotFound, name + " in store " + store);
    if (!fs::remove(file, ec))
        return error(kCannotWrite, file.string() + " (" + ec.message() + ")");
    fs::remove(dir / "keys" / (name + ".pub"), ec);
    return ok();
}

void folderCertificates(const fs::path& dir, std::vector<X509Ptr>& out)
{
    std::set<std::string> seen;
    for (const fs::path& file : filesIn(dir, "")) {
        Bytes data;
        Material m;
        if (readFileBytes(file, data) || readCertificateData(data, file.string(), m))
            continue;
        for (X509Ptr& c : m.certs)
            if (seen.insert(sha1Hex(c.get())).second)
                out.push_back(std::move(c));
    }
}

} // namespace corvane::certs
