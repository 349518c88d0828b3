// Helpers that build event arguments: wide texts that live for the call, and
// pointer-sized integers.
#pragma once

#include <QSslCertificate>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace corvane::engine {

// A wide text argument that lives as long as this object.
struct Wide {
    explicit Wide(const QString& s) : text(s) {}
    void* ptr() const { return const_cast<char16_t*>(reinterpret_cast<const char16_t*>(text.utf16())); }
    QString text;
};

inline void* iv(intptr_t v) { return reinterpret_cast<void*>(v); }

// "CN=..., O=..." of a certificate's subject or issuer.
inline QString dnText(const QSslCertificate& cert, bool subject)
{
    QStringList parts;
    const QList<QByteArray> attrs = subject ? cert.subjectInfoAttributes() : cert.issuerInfoAttributes();
    for (const QByteArray& a : attrs) {
        const QStringList values = subject ? cert.subjectInfo(a) : cert.issuerInfo(a);
        for (const QString& v : values)
            parts << QString::fromLatin1(a) + '=' + v;
    }
    return parts.join(QStringLiteral(", "));
}

} // namespace corvane::engine
