// Helpers of the certificate tests: making keys and certificates in a line,
// files in a temporary folder, and running the openssl program.
#pragma once

#include "engine/certs/cert_builder.h"
#include "engine/certs/cert_reader.h"
#include "engine/certs/keys.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <string>

namespace certs_test {

using namespace corvane::certs;

inline KeyPtr makeKey(const char* algorithm = "ECDSA")
{
    KeyKind kind;
    EXPECT_TRUE(parseKeyAlgorithm(algorithm, kind));
    KeyPtr key;
    EXPECT_FALSE(generateKey(kind, key));
    return key;
}

inline X509Ptr makeCert(const std::string& subject, EVP_PKEY* key, X509* issuer = nullptr, EVP_PKEY* issuerKey = nullptr,
                        int usage = 0, int64_t serial = 1)
{
    CertProfile p;
    p.subject = subject;
    p.serial = serial;
    p.usageFlags = usage;
    X509Ptr cert;
    const Error e = buildCertificate(p, key, issuer, issuerKey, cert);
    EXPECT_FALSE(e) << e.code << " " << e.detail;
    return cert;
}

inline constexpr int kCaUsage = KU_KEY_CERT_SIGN | KU_CRL_SIGN | KU_DIGITAL_SIGNATURE;

inline void writeFile(const QString& path, const std::string& data)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(data.data(), qint64(data.size()));
}

inline std::string readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().toStdString();
}

// One run of the openssl program.
struct OpenSsl {
    int exitCode = -1;
    QString out;
    QString err;
    QString all() const { return out + err; }
};

inline OpenSsl openssl(const QStringList& args, const QByteArray& input = {})
{
    OpenSsl r;
    QProcess p;
    p.start("/usr/bin/openssl", args);
    if (!p.waitForStarted(10000)) {
        r.err = "openssl is missing: run scripts/install-deps.sh";
        return r;
    }
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

#define EXPECT_OPENSSL_OK(r) EXPECT_EQ((r).exitCode, 0) << (r).all().toStdString()

} // namespace certs_test
