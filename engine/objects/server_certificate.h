// The server's certificate and key from the SSLCertStore* properties.
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
    QString storeRoot;   // folder of the folder stores
};

// 0 and the certificate, or kCertificateStoreError with why in error.
int loadServerCertificate(const CertificateSource& source, ServerCertificate& out, std::string& error);

// The default folder of the folder stores (the certificate manager uses the same):
// $CORVANE_CERTSTORE_ROOT, else <user data>/corvane/certstores.
QString defaultStoreRoot();

} // namespace corvane::engine
