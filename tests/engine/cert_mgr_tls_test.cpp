// Certificates made by the certificate manager serve TLS: a CA and a server
// certificate made through the C interface, exported as PEM, served by an
// independent peer (python3-websockets), and our client connects with the CA
// trusted (OnSSLServerAuthentication comes with Accept preset and "OK").
#include "engine_test_support.h"

#include "engine/include/corvanews20_certmgr.h"

#include <QTemporaryDir>

namespace {

namespace P = corvanews20::certmgr::prop;
namespace M = corvanews20::certmgr::method;
using namespace engine_test;

// Calls a certificate-manager method with wide-text and integer arguments.
int certCall(void* h, int method, std::vector<void*> argv)
{
    std::vector<int> arglen(argv.size() + 1, 0);
    argv.push_back(nullptr);
    return CorvaneWS_CertMgr_Do(h, corvanews20::kMethodOffset + method, int(argv.size() - 1), argv.data(), arglen.data(),
                                nullptr);
}
void* w(const QString& s) { return const_cast<char16_t*>(reinterpret_cast<const char16_t*>(s.utf16())); }
QString certError(void* h)
{
    const char* t = CorvaneWS_CertMgr_GetLastError(h);
    return t ? QString::fromUtf8(t) : QString();
}

TEST(CertMgrTls, OurServerCertificateIsTrustedThroughOurCa)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    qputenv("CORVANE_CERTSTORE_ROOT", dir.path().toUtf8());
    void* cm = CorvaneWS_CertMgr_Create(nullptr, nullptr, nullptr, 1);
    ASSERT_NE(cm, nullptr);
    const QString days = "CertValidityDays=3650", sans = "CertSubjectAltNames=DNS:localhost, IP:127.0.0.1";
    const QString usageCa = "keyCertSign, cRLSign", caSubject = "CN=Brindle TLS Test CA", leafSubject = "CN=localhost";
    ASSERT_EQ(CorvaneWS_CertMgr_Set(cm, P::CertUsage + corvanews20::kStrOffset, 0, usageCa.utf16(), 0), 0);
    ASSERT_EQ(certCall(cm, M::Config, {w(days)}), 0);
    ASSERT_EQ(certCall(cm, M::CreateCertificate, {w(caSubject), reinterpret_cast<void*>(intptr_t(1))}), 0) << certError(cm).toStdString();
    int n = 0;
    const void* encoded = CorvaneWS_CertMgr_Get(cm, P::CertEncoded, 0, &n, nullptr);
    const QByteArray caPem(static_cast<const char*>(encoded), n);
    ASSERT_TRUE(caPem.startsWith("-----BEGIN CERTIFICATE-----")) << caPem.left(80).toStdString() << " n=" << n;

    const QString serverUsage = "digitalSignature, keyEncipherment", eku = "serverAuth", ninety = "CertValidityDays=90";
    ASSERT_EQ(CorvaneWS_CertMgr_Set(cm, P::CertUsage + corvanews20::kStrOffset, 0, serverUsage.utf16(), 0), 0);
    ASSERT_EQ(CorvaneWS_CertMgr_Set(cm, P::CertExtendedKeyUsage + corvanews20::kStrOffset, 0, eku.utf16(), 0), 0);
    ASSERT_EQ(certCall(cm, M::Config, {w(ninety)}), 0);
    ASSERT_EQ(certCall(cm, M::Config, {w(sans)}), 0);
    ASSERT_EQ(certCall(cm, M::IssueCertificate, {w(leafSubject), reinterpret_cast<void*>(intptr_t(2))}), 0) << certError(cm).toStdString();
    const QString pem = "PEM", file = dir.path() + "/server.pem", noPassword;
    ASSERT_EQ(CorvaneWS_CertMgr_Set(cm, P::ExportFormat + corvanews20::kStrOffset, 0, pem.utf16(), 0), 0);
    ASSERT_EQ(certCall(cm, M::ExportCertificate, {w(file), w(noPassword)}), 0) << certError(cm).toStdString();
    CorvaneWS_CertMgr_Destroy(cm);

    auto peer = pythonServer({"--cert", file, "--key", file});
    ASSERT_PEER(peer);
    Host host;
    host.setInt(kTimeout, 10);
    host.setBytes(kSSLAcceptServerCertEncoded, caPem);
    const QString url = QStringLiteral("wss://127.0.0.1:%1/echo").arg(peer->port());
    ASSERT_EQ(host.call(kConnect, {url}), 0) << host.lastError().toStdString();
    const Recorded* auth = host.last(evSSLServerAuthentication);
    ASSERT_NE(auth, nullptr);
    EXPECT_EQ(auth->ints.at(0), 1);   // Accept preset: the chain verified
    EXPECT_EQ(auth->texts.at(2), QStringLiteral("OK"));
    EXPECT_TRUE(auth->texts.at(0).contains("CN=localhost")) << auth->texts.at(0).toStdString();
    EXPECT_TRUE(auth->texts.at(1).contains("Brindle TLS Test CA")) << auth->texts.at(1).toStdString();
    ASSERT_EQ(host.call(kSendText, {QStringLiteral("through our certificate")}), 0);
    ASSERT_TRUE(host.waitUntil([&] { return !host.messages.empty(); }));
    EXPECT_EQ(host.messages[0], QByteArray("through our certificate"));

    // Without the CA the same server is not trusted.
    Host stranger;
    stranger.setInt(kTimeout, 10);
    EXPECT_EQ(stranger.call(kConnect, {url}), 155);
}

} // namespace
