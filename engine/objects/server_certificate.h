// The server's certificate and key from SSLCertEncoded and the SSLCertStore*
// properties.
#pragma once

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

#include <string>

namespace corvane::engine {

// Store types: the certificate manager's CertStoreType codes (engine/objects/cert_mgr.h).

struct ServerCertificate {
    QSslCertificate certificate;
    QList<QSslCertificate> chain;   // further certificates sent along
    QSslKey key;
};

struct CertificateSource {
    int storeType = 0;
    QByteArray store;
    QString password;
    QString subject;     // empty or "*": the first certificate with its key; else part of the subject
    QString storeRoot;   // folder of the folder stores; empty: the certificate manager's default
    // When set, the certificate to serve: PEM with its key, PFX bytes, or a
    // certificate alone whose key the store holds. The subject is not asked then.
    QByteArray encoded;
};

// 0 and the certificate, or kCertificateStoreError with why in error.
int loadServerCertificate(const CertificateSource& source, ServerCertificate& out, std::string& error);

} // namespace corvane::engine
