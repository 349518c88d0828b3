// The openssl program as an independent peer: what we make verifies and reads
// with it, and what it makes reads with us, field by field.
#include "certs_test_support.h"

#include "engine/certs/pkcs12_io.h"

#include <QRegularExpression>
#include <QTemporaryDir>

using namespace certs_test;

namespace {

class OpenSslPeer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_EQ(openssl({"version"}).exitCode, 0) << "openssl is missing: run scripts/install-deps.sh";
    }
    QString path(const QString& name) const { return dir_.path() + '/' + name; }
    QString save(const QString& name, const std::string& data)
    {
        writeFile(path(name), data);
        return path(name);
    }
    // "key=value" lines of an openssl -noout query, value trimmed.
    QString field(const OpenSsl& r, const QString& key)
    {
        for (const QString& line : r.out.split('\n')) {
            if (line.startsWith(key + '='))
                return line.mid(key.size() + 1);
        }
        return QStringLiteral("<missing %1>").arg(key);
    }

    QTemporaryDir dir_;
};

TEST_F(OpenSslPeer, VerifiesOurSelfSignedCaIssuedAndIntermediateChains)
{
    KeyPtr selfKey = makeKey("RSA2048");
    X509Ptr self = makeCert("CN=localhost", selfKey.get());
    const QString selfPem = save("self.pem", certificatePem(self.get()));
    OpenSsl r = openssl({"verify", "-CAfile", selfPem, selfPem});
    EXPECT_OPENSSL_OK(r);
    EXPECT_TRUE(r.out.contains(": OK")) << r.all().toStdString();

    KeyPtr rootKey = makeKey("ECDSA_P384");
    X509Ptr root = makeCert("CN=Peer Root, O=Brindle Test", rootKey.get(), nullptr, nullptr, kCaUsage);
    KeyPtr interKey = makeKey("ECDSA");
    X509Ptr inter = makeCert("CN=Peer Intermediate", interKey.get(), root.get(), rootKey.get(), kCaUsage, 2);
    KeyPtr leafKey = makeKey("RSA2048");
    X509Ptr leaf = makeCert("CN=server.example", leafKey.get(), inter.get(), interKey.get(), 0, 3);
    X509Ptr direct = makeCert("CN=direct.example", makeKey().get(), root.get(), rootKey.get(), 0, 4);
    const QString rootPem = save("root.pem", certificatePem(root.get()));
    r = openssl({"verify", "-CAfile", rootPem, save("direct.pem", certificatePem(direct.get()))});
    EXPECT_OPENSSL_OK(r);
    r = openssl({"verify", "-CAfile", rootPem, "-untrusted", save("inter.pem", certificatePem(inter.get())),
                 "-purpose", "sslserver", save("leaf.pem", certificatePem(leaf.get()))});
    EXPECT_OPENSSL_OK(r);
    EXPECT_TRUE(r.out.contains(": OK")) << r.all().toStdString();
    // Without the intermediate it must not verify: the check is real.
    r = openssl({"verify", "-CAfile", rootPem, path("leaf.pem")});
    EXPECT_NE(r.exitCode, 0);
}

TEST_F(OpenSslPeer, ReadsOurPfxWithoutLegacyAndOurRequests)
{
    KeyPtr caKey = makeKey();
    X509Ptr ca = makeCert("CN=Pfx CA", caKey.get(), nullptr, nullptr, kCaUsage);
    KeyPtr key = makeKey("RSA2048");
    X509Ptr leaf = makeCert("CN=pfx.example", key.get(), ca.get(), caKey.get());
    Bytes pfx;
    ASSERT_FALSE(writePfx(leaf.get(), key.get(), {ca.get()}, "peer pass", false, pfx));
    const QString file = save("modern.pfx", pfx);
    OpenSsl r = openssl({"pkcs12", "-in", file, "-passin", "pass:peer pass", "-info", "-nodes"});
    EXPECT_OPENSSL_OK(r);
    EXPECT_TRUE(r.err.contains("MAC: sha256, Iteration 2048")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("PBES2, PBKDF2, AES-256-CBC, Iteration 2048, PRF hmacWithSHA256")) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("RC2")) << r.err.toStdString();
    EXPECT_EQ(r.out.count("BEGIN CERTIFICATE"), 2);
    EXPECT_EQ(r.out.count("BEGIN PRIVATE KEY"), 1);
    EXPECT_NE(openssl({"pkcs12", "-in", file, "-passin", "pass:wrong", "-nokeys"}).exitCode, 0);

    ASSERT_FALSE(writePfx(leaf.get(), key.get(), {}, "old", true, pfx));
    r = openssl({"pkcs12", "-in", save("legacy.pfx", pfx), "-passin", "pass:old", "-info", "-nodes"});
    EXPECT_OPENSSL_OK(r);
    EXPECT_TRUE(r.err.contains("MAC: sha1, Iteration 2048")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("pbeWithSHA1And3-KeyTripleDES-CBC")) << r.err.toStdString();

    CertProfile p;
    p.subject = "CN=req.example, O=Brindle Test";
    p.subjectAltNames = "DNS:req.example";
    X509ReqPtr req;
    ASSERT_FALSE(buildRequest(p, key.get(), req));
    r = openssl({"req", "-in", save("req.pem", requestPem(req.get())), "-verify", "-noout", "-text"});
    EXPECT_OPENSSL_OK(r);
    EXPECT_TRUE(r.all().contains("verify OK")) << r.all().toStdString();
    EXPECT_TRUE(r.out.contains("DNS:req.example")) << r.out.toStdString();
}

// Certificates made by openssl, read by us: every field against openssl's own view.
TEST_F(OpenSslPeer, ItsCertificatesReadFieldByField)
{
    struct Case {
        const char* name;
        QStringList keyArgs;
        const char* algorithm;
        int bits;
    };
    const Case cases[] = {
        {"rsa", {"-newkey", "rsa:3072"}, "RSA3072", 3072},
        {"ec", {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-384"}, "ECDSA_P384", 384},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString crt = path(QString(c.name) + ".crt"), key = path(QString(c.name) + ".key");
        OpenSsl r = openssl(QStringList{"req", "-x509"} + c.keyArgs
                            + QStringList{"-nodes", "-keyout", key, "-out", crt, "-days", "40", "-set_serial", "0x1f2e3d",
                                          "-subj", "/C=DE/O=Peer Org, Ltd./OU=Unit/CN=peer.example",
                                          "-addext", "subjectAltName=DNS:peer.example,IP:10.1.2.3,email:ops@peer.example",
                                          "-addext", "keyUsage=critical,digitalSignature,keyAgreement",
                                          "-addext", "extendedKeyUsage=serverAuth,1.3.6.1.4.1.99.1"});
        ASSERT_EQ(r.exitCode, 0) << r.all().toStdString();
        Material m;
        ASSERT_FALSE(readCertificateData(readFile(crt), "crt", m));
        const CertFields f = describeCertificate(m.certs[0].get());

        r = openssl({"x509", "-in", crt, "-noout", "-nameopt", "sep_comma_plus_space,sname,esc_2253,esc_ctrl,utf8,dump_unknown,dump_der",
                     "-subject", "-issuer", "-serial", "-dateopt", "iso_8601", "-startdate", "-enddate"});
        ASSERT_EQ(r.exitCode, 0) << r.all().toStdString();
        EXPECT_EQ(QString::fromStdString(f.subject), field(r, "subject"));
        EXPECT_EQ(QString::fromStdString(f.issuer), field(r, "issuer"));
        EXPECT_EQ(QString::fromStdString(f.serialNumber), field(r, "serial"));
        EXPECT_EQ(QString::fromStdString(f.effectiveDate), field(r, "notBefore"));
        EXPECT_EQ(QString::fromStdString(f.expirationDate), field(r, "notAfter"));
        EXPECT_EQ(f.serialNumber, "1F2E3D");
        EXPECT_EQ(f.subject, "C=DE, O=Peer Org\\, Ltd., OU=Unit, CN=peer.example");
        for (const auto& [alg, ours] : {std::pair{"-md5", f.thumbprintMD5}, {"-sha1", f.thumbprintSHA1}, {"-sha256", f.thumbprintSHA256}}) {
            r = openssl({"x509", "-in", crt, "-noout", "-fingerprint", alg});
            EXPECT_EQ(QString(r.out).section('=', 1).trimmed().remove(':'), QString::fromStdString(ours)) << alg;
            if (std::string(alg) == "-sha256") {
                EXPECT_EQ(QString(r.out).section('=', 1).trimmed(), QString::fromStdString(f.fingerprint));
            }
        }
        r = openssl({"x509", "-in", crt, "-noout", "-pubkey"});
        EXPECT_EQ(r.out.trimmed(), QString::fromStdString(f.publicKey).trimmed());

        r = openssl({"x509", "-in", crt, "-noout", "-text"});
        const QString text = r.out;
        EXPECT_TRUE(text.contains("Version: " + QString::fromStdString(f.version) + " ")) << text.toStdString();
        EXPECT_TRUE(text.contains("Signature Algorithm: " + QString::fromStdString(f.signatureAlgorithm))) << f.signatureAlgorithm;
        EXPECT_TRUE(text.contains(QStringLiteral("Public-Key: (%1 bit)").arg(f.publicKeyLength)));
        EXPECT_EQ(f.publicKeyAlgorithm, c.algorithm);
        EXPECT_EQ(f.publicKeyLength, c.bits);
        EXPECT_EQ(f.subjectAltNames, "DNS:peer.example, IP:10.1.2.3, email:ops@peer.example");
        EXPECT_TRUE(text.contains("DNS:peer.example, IP Address:10.1.2.3, email:ops@peer.example"));
        EXPECT_EQ(f.usage, "digitalSignature, keyAgreement");
        EXPECT_TRUE(text.contains("Digital Signature, Key Agreement"));
        EXPECT_EQ(f.extendedUsage, "serverAuth, 1.3.6.1.4.1.99.1");
        // Extensions by OID, each as openssl lists it, with its critical flag.
        int listed = 0;
        for (const Extension& e : f.extensions) {
            const int nid = OBJ_txt2nid(e.oid.c_str());
            const QString shown = QString::fromLatin1(OBJ_nid2ln(nid));
            EXPECT_TRUE(text.contains(shown + (e.critical ? ": critical" : ":"))) << e.oid;
            ++listed;
        }
        EXPECT_EQ(listed, text.count(QRegularExpression("\\n {12}X509v3 ")));

        // Its key reads too and belongs to the certificate.
        KeyPtr k;
        ASSERT_FALSE(readPrivateKey(readFile(key), "", k));
        EXPECT_TRUE(keyMatchesCertificate(k.get(), m.certs[0].get()));
    }
}

TEST_F(OpenSslPeer, ItsKeysRequestsAndPfxFilesReadWithUs)
{
    // An encrypted key: right password, wrong password.
    const QString key = path("enc.key");
    OpenSsl r = openssl({"genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-aes256", "-pass",
                         "pass:kpw", "-out", key});
    ASSERT_EQ(r.exitCode, 0) << r.all().toStdString();
    KeyPtr k;
    EXPECT_FALSE(readPrivateKey(readFile(key), "kpw", k));
    EXPECT_EQ(keyAlgorithmName(k.get()), "RSA2048");
    EXPECT_EQ(readPrivateKey(readFile(key), "nope", k).code, kWrongPassword);

    // A request made by openssl, read and signed by us, verified by openssl.
    r = openssl({"req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout",
                 path("r.key"), "-out", path("r.csr"), "-subj", "/CN=client.example/O=Peer",
                 "-addext", "subjectAltName=DNS:client.example"});
    ASSERT_EQ(r.exitCode, 0) << r.all().toStdString();
    X509ReqPtr req;
    ASSERT_FALSE(readRequest(readFile(path("r.csr")), req));
    const CertFields rf = describeRequest(req.get());
    EXPECT_EQ(rf.subject, "CN=client.example, O=Peer");
    EXPECT_EQ(rf.subjectAltNames, "DNS:client.example");
    EXPECT_EQ(rf.publicKeyAlgorithm, "ECDSA_P256");
    KeyPtr caKey = makeKey();
    X509Ptr ca = makeCert("CN=Signing CA", caKey.get(), nullptr, nullptr, kCaUsage);
    CertProfile p;
    p.extendedUsage = "clientAuth";
    X509Ptr signedCert;
    ASSERT_FALSE(signRequest(req.get(), p, ca.get(), caKey.get(), signedCert));
    r = openssl({"verify", "-CAfile", save("ca.pem", certificatePem(ca.get())), "-purpose", "sslclient",
                 save("signed.pem", certificatePem(signedCert.get()))});
    EXPECT_OPENSSL_OK(r);

    // PFX files made by openssl: today's default and the old RC2 kind.
    for (bool legacy : {false, true}) {
        SCOPED_TRACE(legacy ? "legacy" : "default");
        const QString pfx = path(legacy ? "legacy.pfx" : "modern.pfx");
        QStringList args{"pkcs12", "-export", "-in", path("signed.pem"), "-inkey", path("r.key"), "-certfile",
                         path("ca.pem"), "-passout", "pass:pfxpw", "-out", pfx};
        if (legacy)
            args << "-legacy";
        r = openssl(args);
        ASSERT_EQ(r.exitCode, 0) << r.all().toStdString();
        PfxContent c;
        const Error e = readPfx(readFile(pfx), "pfxpw", c);
        ASSERT_FALSE(e) << e.detail;
        EXPECT_EQ(sha1Hex(c.cert.get()), sha1Hex(signedCert.get()));
        EXPECT_TRUE(keyMatchesCertificate(c.key.get(), c.cert.get()));
        ASSERT_EQ(c.others.size(), 1u);
        EXPECT_EQ(readPfx(readFile(pfx), "bad", c).code, kWrongPassword);
    }
}

} // namespace
