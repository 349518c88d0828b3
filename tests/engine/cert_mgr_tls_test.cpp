// Certificates made by the certificate manager serve TLS: a CA and a server
// certificate made through the C interface serve wss from an independent peer
// (python3-websockets, with the exported PEM) and from our own server (from
// the user store the certificate manager wrote), and our client connects with
// the CA trusted (OnSSLServerAuthentication comes with Accept preset and "OK").
#include "engine_test_support.h"
#include "server_test_support.h"

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

// A CA and a "CN=localhost" server certificate issued by it, both with their
// keys in the user store MY under root; returns the CA's PEM.
QByteArray makeCaAndServerCertificate(const QString& root, const QString& exportPem = {})
{
    qputenv("CORVANE_CERTSTORE_ROOT", root.toUtf8());
    void* cm = CorvaneWS_CertMgr_Create(nullptr, nullptr, nullptr, 1);
    EXPECT_NE(cm, nullptr);
    const QString days = "CertValidityDays=3650", sans = "CertSubjectAltNames=DNS:localhost, IP:127.0.0.1";
    const QString usageCa = "keyCertSign, cRLSign", caSubject = "CN=Brindle TLS Test CA", leafSubject = "CN=localhost";
    EXPECT_EQ(CorvaneWS_CertMgr_Set(cm, P::CertUsage + corvanews20::kStrOffset, 0, usageCa.utf16(), 0), 0);
    EXPECT_EQ(certCall(cm, M::Config, {w(days)}), 0);
    EXPECT_EQ(certCall(cm, M::CreateCertificate, {w(caSubject), reinterpret_cast<void*>(intptr_t(1))}), 0) << certError(cm).toStdString();
    int n = 0;
    const void* encoded = CorvaneWS_CertMgr_Get(cm, P::CertEncoded, 0, &n, nullptr);
    const QByteArray caPem(static_cast<const char*>(encoded), n);
    EXPECT_TRUE(caPem.startsWith("-----BEGIN CERTIFICATE-----"));

    const QString serverUsage = "digitalSignature, keyEncipherment", eku = "serverAuth", ninety = "CertValidityDays=90";
    EXPECT_EQ(CorvaneWS_CertMgr_Set(cm, P::CertUsage + corvanews20::kStrOffset, 0, serverUsage.utf16(), 0), 0);
    EXPECT_EQ(CorvaneWS_CertMgr_Set(cm, P::CertExtendedKeyUsage + corvanews20::kStrOffset, 0, eku.utf16(), 0), 0);
    EXPECT_EQ(certCall(cm, M::Config, {w(ninety)}), 0);
    EXPECT_EQ(certCall(cm, M::Config, {w(sans)}), 0);
    EXPECT_EQ(certCall(cm, M::IssueCertificate, {w(leafSubject), reinterpret_cast<void*>(intptr_t(2))}), 0) << certError(cm).toStdString();
    if (!exportPem.isEmpty()) {
        const QString pem = "PEM", noPassword;
        EXPECT_EQ(CorvaneWS_CertMgr_Set(cm, P::ExportFormat + corvanews20::kStrOffset, 0, pem.utf16(), 0), 0);
        EXPECT_EQ(certCall(cm, M::ExportCertificate, {w(exportPem), w(noPassword)}), 0) << certError(cm).toStdString();
    }
    CorvaneWS_CertMgr_Destroy(cm);
    return caPem;
}

void expectTrusted(const Host& host)
{
    const Recorded* auth = host.last(evSSLServerAuthentication);
    ASSERT_NE(auth, nullptr);
    EXPECT_EQ(auth->ints.at(0), 1);   // Accept preset: the chain verified
    EXPECT_EQ(auth->texts.at(2), QStringLiteral("OK"));
    EXPECT_TRUE(auth->texts.at(0).contains("CN=localhost")) << auth->texts.at(0).toStdString();
    EXPECT_TRUE(auth->texts.at(1).contains("Brindle TLS Test CA")) << auth->texts.at(1).toStdString();
}

TEST(CertMgrTls, OurServerCertificateIsTrustedThroughOurCa)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.path() + "/server.pem";
    const QByteArray caPem = makeCaAndServerCertificate(dir.path(), file);
    ASSERT_TRUE(QFile::exists(file));

    auto peer = pythonServer({"--cert", file, "--key", file});
    ASSERT_PEER(peer);
    Host host;
    host.setInt(kTimeout, 10);
    host.setBytes(kSSLAcceptServerCertEncoded, caPem);
    const QString url = QStringLiteral("wss://127.0.0.1:%1/echo").arg(peer->port());
    ASSERT_EQ(host.call(kConnect, {url}), 0) << host.lastError().toStdString();
    expectTrusted(host);
    ASSERT_EQ(host.call(kSendText, {QStringLiteral("through our certificate")}), 0);
    // Pumped here rather than through the client's DoEvents: the test is about
    // the certificate, not about that method's waiting.
    QDeadlineTimer deadline(15000);
    while (host.messages.empty() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_FALSE(host.messages.empty());
    EXPECT_EQ(host.messages[0], QByteArray("through our certificate"));

    // Without the CA the same server is not trusted.
    Host stranger;
    stranger.setInt(kTimeout, 10);
    EXPECT_EQ(stranger.call(kConnect, {url}), 155);
}

// Our server takes the certificate from the user store the certificate
// manager wrote (store type 0, "MY", by subject).
TEST(CertMgrTls, OurServerServesItFromTheUserStore)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray caPem = makeCaAndServerCertificate(dir.path());
    ServerHost server;
    ASSERT_EQ(server.config("CertStoreRoot=" + dir.path()), dir.path());
    ASSERT_EQ(server.setInt(srv::sUseSSL, 1), 0);
    ASSERT_EQ(server.setInt(srv::sSSLCertStoreType, 0), 0);
    ASSERT_EQ(server.setBytes(srv::sSSLCertStore, "MY"), 0);
    ASSERT_EQ(server.setText(srv::sSSLCertSubject, "CN=localhost"), 0);
    const int port = server.listen();
    ASSERT_GT(port, 0) << server.lastError().toStdString();

    Host host;
    host.setInt(kTimeout, 10);
    host.setBytes(kSSLAcceptServerCertEncoded, caPem);
    const QString url = QStringLiteral("wss://localhost:%1/").arg(port);
    ASSERT_EQ(host.call(kConnect, {url}), 0) << host.lastError().toStdString();
    expectTrusted(host);
    EXPECT_TRUE(host.getBytes(kSSLServerCertEncoded).startsWith("-----BEGIN CERTIFICATE-----"));

    Host stranger;
    stranger.setInt(kTimeout, 10);
    EXPECT_EQ(stranger.call(kConnect, {url}), 155);
}

} // namespace
