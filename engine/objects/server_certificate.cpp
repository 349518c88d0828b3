#include "engine/objects/server_certificate.h"

#include "engine/objects/cert_mgr.h"
#include "engine/protocol/errors.h"
#include "engine/objects/event_args.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace corvane::engine {

namespace {

bool subjectMatches(const QSslCertificate& cert, const QString& wanted)
{
    if (wanted.isEmpty() || wanted == QLatin1String("*"))
        return true;
    if (dnText(cert, true).contains(wanted, Qt::CaseInsensitive))
        return true;
    for (const QString& cn : cert.subjectInfo(QSslCertificate::CommonName))
        if (cn.compare(wanted, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QSslKey readKey(const QByteArray& pem, const QString& password)
{
    const QByteArray pass = password.toUtf8();
    for (QSsl::KeyAlgorithm alg : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        QSslKey key(pem, alg, QSsl::Pem, QSsl::PrivateKey, pass);
        if (!key.isNull())
            return key;
    }
    return {};
}

// The first certificate of the PEM text that matches the subject, with the
// key the same text holds.
bool fromPem(const QByteArray& pem, const CertificateSource& source, ServerCertificate& out)
{
    const QList<QSslCertificate> certs = QSslCertificate::fromData(pem, QSsl::Pem);
    const QSslKey key = readKey(pem, source.password);
    if (key.isNull())
        return false;
    for (qsizetype k = 0; k < certs.size(); ++k) {
        // The leaf comes first in a PEM file; later ones are its chain.
        if (!subjectMatches(certs[k], source.subject))
            continue;
        out.certificate = certs[k];
        out.key = key;
        out.chain = certs;
        out.chain.removeAt(k);
        return true;
    }
    return false;
}

bool fromPfx(const QByteArray& bytes, const CertificateSource& source, ServerCertificate& out)
{
    QByteArray data = bytes;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QSslKey key;
    QSslCertificate cert;
    QList<QSslCertificate> chain;
    if (!QSslCertificate::importPkcs12(&buffer, &key, &cert, &chain, source.password.toUtf8()))
        return false;
    if (!subjectMatches(cert, source.subject))
        return false;
    out.certificate = cert;
    out.key = key;
    out.chain = chain;
    return true;
}

} // namespace

QString defaultStoreRoot()
{
    const QString env = qEnvironmentVariable("CORVANE_CERTSTORE_ROOT");
    if (!env.isEmpty())
        return env;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/corvane/certstores");
}

int loadServerCertificate(const CertificateSource& source, ServerCertificate& out, std::string& error)
{
    out = ServerCertificate();
    const QString storeText = QString::fromUtf8(source.store);
    bool found = false;
    switch (source.storeType) {
    case kStorePemFile:
    case kStorePfxFile: {
        QFile f(storeText);
        if (!f.open(QIODevice::ReadOnly)) {
            error = "cannot open " + storeText.toStdString();
            return kCertificateStoreError;
        }
        const QByteArray bytes = f.readAll();
        found = source.storeType == kStorePemFile ? fromPem(bytes, source, out) : fromPfx(bytes, source, out);
        break;
    }
    case kStorePemBlob:
        found = fromPem(source.store, source, out);
        break;
    case kStorePfxBlob:
        found = fromPfx(source.store, source, out);
        break;
    case kStoreUser: {
        const QString name = storeText.isEmpty() ? QStringLiteral("MY") : storeText;
        if (name.contains('/') || name == QLatin1String("..")) {
            error = "bad store name " + name.toStdString();
            return kCertificateStoreError;
        }
        const QDir dir((source.storeRoot.isEmpty() ? defaultStoreRoot() : source.storeRoot) + '/' + name);
        const QStringList files = dir.entryList({QStringLiteral("*.pem")}, QDir::Files, QDir::Name);
        for (const QString& file : files) {
            QFile f(dir.filePath(file));
            if (f.open(QIODevice::ReadOnly) && fromPem(f.readAll(), source, out)) {
                found = true;
                break;
            }
        }
        break;
    }
    default:
        error = "store type " + std::to_string(source.storeType) + " is not supported";
        return kCertificateStoreError;
    }
    if (!found) {
        error = "no certificate with its private key"
              + (source.subject.isEmpty() ? std::string() : " matching \"" + source.subject.toStdString() + "\"");
        return kCertificateStoreError;
    }
    return 0;
}

} // namespace corvane::engine
