// Independent clients from Debian (python3-websockets, node-ws) against our
// server, over ws and wss: 16 MiB messages, fragments, pings, close codes,
// sub-protocols and a refused upgrade.
#include "proxy_test_support.h"
#include "server_test_support.h"

#include <QRegularExpression>
#include <QSslCertificate>
#include <QTemporaryDir>

#include <sys/socket.h>

namespace engine_test {
namespace {

using namespace srv;

struct ClientRun {
    QStringList lines;
    bool finished = false;
};

// Runs a client peer to its end while the server's events are pumped.
// The peer's script is ws_client (or `script`) with .py or .js; args follow it.
ClientRun runClient(ServerHost& s, const QString& kind, const QStringList& scriptArgs,
                    const QString& script = QStringLiteral("ws_client"))
{
    QProcess p;
    QStringList args;
    QString program;
    if (kind == "python") {
        program = "/usr/bin/python3";
        args = QStringList{"-u", peersDir() + "/" + script + ".py"} + scriptArgs;
    } else {
        program = "/usr/bin/node";
        args = QStringList{peersDir() + "/" + script + ".js"} + scriptArgs;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("NODE_PATH", "/usr/share/nodejs");
        p.setProcessEnvironment(env);
    }
    ClientRun run;
    if (!QFile::exists(program)) {
        run.lines << program + " is missing: run scripts/install-deps.sh";
        return run;
    }
    p.start(program, args);
    QDeadlineTimer deadline(180000);
    while (p.state() != QProcess::NotRunning && !deadline.hasExpired())
        if (!p.waitForFinished(1))
            s.call(sDoEvents);
    run.finished = p.state() == QProcess::NotRunning;
    if (!run.finished) {
        p.kill();
        p.waitForFinished(5000);
    }
    run.lines = QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    run.lines += QString::fromUtf8(p.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    return run;
}

class ServerInterop : public ::testing::TestWithParam<std::tuple<const char*, bool>> {
protected:
    void SetUp() override
    {
        if (std::get<1>(GetParam())) {
            ASSERT_TRUE(makeTestCertificates(dir_.path()));
            QFile pem(dir_.filePath("server-with-key.pem"));
            ASSERT_TRUE(pem.open(QIODevice::WriteOnly));
            pem.write(filesJoined(dir_.path(), {"server.pem", "ca.pem", "server.key"}));
            pem.close();
            s_.setInt(sUseSSL, 1);
            s_.setInt(sSSLCertStoreType, 6);
            s_.setBytes(sSSLCertStore, pem.fileName().toUtf8());
        }
        port_ = s_.listen();
        ASSERT_GT(port_, 0) << s_.lastError().toStdString();
        s_.echo();
        s_.handlers[seWebSocketOpenRequest] = [](int, void** argv, int*) {
            if (wide(argv[1]) == "/refuse") {
                argv[7] = reinterpret_cast<void*>(intptr_t(403));
            } else if (wide(argv[5]).contains("v2")) {
                setEvtStr(argv[4], "v2");
            }
            return 0;
        };
    }
    QString url(const QString& path) const
    {
        return QStringLiteral("%1://localhost:%2%3").arg(std::get<1>(GetParam()) ? "wss" : "ws").arg(port_).arg(path);
    }
    QString cafile() const { return std::get<1>(GetParam()) ? dir_.filePath("ca.pem") : QString(); }

    QTemporaryDir dir_;
    ServerHost s_;
    int port_ = 0;
};

TEST_P(ServerInterop, EchoesBigFragmentedPingsAndCloses)
{
    const ClientRun run = runClient(s_, std::get<0>(GetParam()), QStringList{url("/echo"), cafile()}.filter(QRegularExpression(".")));
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.lines, QStringList({"subprotocol v2", "text ok", "big ok", "fragments ok", "ping ok", "closed 4000"}))
        << run.lines.join(" | ").toStdString();
    ASSERT_TRUE(s_.waitUntil([&] { return s_.count(seDisconnected) == 1; }));
    EXPECT_EQ(s_.last(seDisconnected)->ints.at(1), 4000);
    EXPECT_EQ(s_.last(seDisconnected)->texts.value(0), "done");
    EXPECT_EQ(s_.count(seError), 0u);
    if (std::get<1>(GetParam())) {
        EXPECT_EQ(s_.count(seSSLStatus), 1u);
        EXPECT_EQ(s_.count(seSSLConnectionRequest), 1u);
    }
}

TEST_P(ServerInterop, RefusedUpgradeGivesTheClientTheStatus)
{
    const ClientRun run = runClient(s_, std::get<0>(GetParam()), QStringList{url("/refuse"), cafile()}.filter(QRegularExpression(".")));
    EXPECT_EQ(run.lines, QStringList({"refused 403"})) << run.lines.join(" | ").toStdString();
    EXPECT_EQ(s_.count(seConnected), 0u);
}

// python3-websockets' and node-ws' own permessage-deflate against our
// server: 16 MiB of text and 10,000 small JSON messages echoed byte for byte,
// with windows and context takeover asked for from either side.
TEST(ServerCompression, PeersSendAndReceiveCompressedMessagesByteExact)
{
    struct Case {
        const char* peer;
        QStringList peerArgs;
        QStringList config;
        const char* inAnswer;
    };
    const Case cases[] = {
        {"python", {}, {}, "ext permessage-deflate"},
        {"python", {"--bits", "9"}, {}, "server_max_window_bits=9"},
        {"python", {"--no-context"}, {"PerMessageDeflateWindowBits=12"}, "server_no_context_takeover"},
        {"node", {}, {"PerMessageDeflateNoContextTakeover=true"}, "server_no_context_takeover"},
        {"node", {"--bits", "10"}, {}, "client_max_window_bits=10"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.peer) + " " + c.peerArgs.join(' ').toStdString() + " "
                     + c.config.join(' ').toStdString());
        ServerHost s;
        s.record = false;
        for (const QString& setting : QStringList{"PerMessageDeflate=true"} + c.config) {
            s.config(setting);
            ASSERT_EQ(s.lastRc, 0) << setting.toStdString();
        }
        const int port = s.listen();
        ASSERT_GT(port, 0);
        s.echo();
        const ClientRun run = runClient(
            s, c.peer, QStringList{"client", QStringLiteral("ws://127.0.0.1:%1/").arg(port)} + c.peerArgs,
            QStringLiteral("deflate_peer"));
        EXPECT_TRUE(run.finished);
        ASSERT_EQ(run.lines.size(), 2) << run.lines.join(" | ").toStdString();
        EXPECT_TRUE(run.lines[0].contains(c.inAnswer)) << run.lines[0].toStdString();
        EXPECT_EQ(run.lines[1], "ok");
    }

    // Every window a client may ask for, on the small messages; python's
    // zlib takes no 8-bit window, so 8 is node's alone.
    for (int bits = 8; bits <= 15; ++bits) {
        for (const char* peer : {"python", "node"}) {
            if (bits == 8 && std::string(peer) == "python")
                continue;
            SCOPED_TRACE(std::string(peer) + " window " + std::to_string(bits));
            ServerHost s;
            s.record = false;
            s.config("PerMessageDeflate=true");
            const int port = s.listen();
            ASSERT_GT(port, 0);
            s.echo();
            const ClientRun run = runClient(s, peer,
                                            {"client", QStringLiteral("ws://127.0.0.1:%1/").arg(port), "--small",
                                             "--bits", QString::number(bits)},
                                            QStringLiteral("deflate_peer"));
            ASSERT_EQ(run.lines.size(), 2) << run.lines.join(" | ").toStdString();
            EXPECT_TRUE(run.lines[0].contains(QStringLiteral("server_max_window_bits=%1").arg(bits)))
                << run.lines[0].toStdString();
            EXPECT_EQ(run.lines[1], "ok");
        }
    }
}

// Our own client against our own server over TLS, with a client certificate
// that does not verify: the handler's answer decides.
TEST(ServerTls, ClientCertificatesGoThroughTheHandler)
{
    QTemporaryDir dir;
    ASSERT_TRUE(makeTestCertificates(dir.path()));
    const auto joined = [&](std::initializer_list<const char*> parts) { return filesJoined(dir.path(), parts); };
    ServerHost s;
    s.setInt(sUseSSL, 1);
    s.setInt(sSSLCertStoreType, 7);
    s.setBytes(sSSLCertStore, joined({"server.pem", "server.key"}));
    s.setInt(sSSLAuthenticateClients, 1);
    const int port = s.listen();
    ASSERT_GT(port, 0) << s.lastError().toStdString();
    bool accept = true;
    s.handlers[seSSLClientAuthentication] = [&](int, void** argv, int*) {
        argv[5] = reinterpret_cast<void*>(intptr_t(accept));
        return 0;
    };
    for (bool answer : {true, false}) {
        SCOPED_TRACE(answer);
        accept = answer;
        Host c;
        c.setInt(kTimeout, 10);
        c.setBytes(kSSLAcceptServerCertEncoded, joined({"ca.pem"}));
        c.setInt(kSSLCertStoreType, 7);
        c.setBytes(kSSLCertStore, joined({"self.pem", "self.key"}));
        const int rc = c.call(kConnect, {QStringLiteral("wss://localhost:%1/").arg(port)});
        if (answer) {
            EXPECT_EQ(rc, 0) << c.lastError().toStdString();
        } else {
            EXPECT_NE(rc, 0);
        }
        const Recorded* auth = s.last(seSSLClientAuthentication);
        ASSERT_NE(auth, nullptr);
        EXPECT_EQ(auth->ints.back(), 0);   // preset: the self-signed certificate does not verify
        EXPECT_TRUE(auth->texts.value(0).contains("Self Signed")) << auth->texts.join('|').toStdString();
        EXPECT_TRUE(auth->bytes.startsWith("-----BEGIN CERTIFICATE-----"));
    }
}

// A client that opens TLS with half a hello and then closes its side is let
// go at once, not when the (long) handshake timeout fires.
TEST(ServerTls, PeerEndDuringTheTlsHandshakeIsSeenAtOnce)
{
    QTemporaryDir dir;
    ASSERT_TRUE(makeTestCertificates(dir.path()));
    const QByteArray pem = filesJoined(dir.path(), {"server.pem", "server.key"});
    ServerHost s;
    s.setInt(sUseSSL, 1);
    s.setInt(sSSLCertStoreType, 7);
    s.setBytes(sSSLCertStore, pem);
    s.config("HandshakeTimeout=3600");
    const int port = s.listen();
    ASSERT_GT(port, 0) << s.lastError().toStdString();
    expectPeerEndSeenAtOnce(s, port, QByteArray("\x16\x03\x01\x02\x00\x01", 6));   // the start of a ClientHello
}

// SSLCertEncoded names the certificate served: PEM with its (encrypted) key
// and chain in any order, PFX bytes, or a certificate alone whose key is a
// key pair of the folder store. Reading it gives the certificate in use, also
// one chosen by store and subject. The proxy passes it to its listener; the
// openssl program checks what it serves.
TEST(ServerTls, EncodedCertificateIsServedAndReadBack)
{
    QTemporaryDir dir;
    const auto openssl = [&](const QStringList& args) {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start("openssl", args);
        return p.waitForFinished(60000) && p.exitCode() == 0;
    };
    if (!QFile::exists("/usr/bin/openssl"))
        GTEST_SKIP() << "the openssl program is missing";
    ASSERT_TRUE(makeTestCertificates(dir.path()));
    ASSERT_TRUE(openssl({"pkcs12", "-export", "-in", "server.pem", "-inkey", "server.key", "-certfile", "ca.pem",
                         "-passout", "pass:pfx-pw", "-out", "server.pfx"}));
    ASSERT_TRUE(openssl({"pkey", "-in", "server.key", "-aes256", "-passout", "pass:key-pw", "-out", "server-enc.key"}));
    QDir(dir.path()).mkpath("store/MY/keys");
    ASSERT_TRUE(openssl({"pkey", "-in", "server.key", "-out", "store/MY/keys/server.key"}));
    ASSERT_TRUE(openssl({"pkey", "-in", "server.key", "-pubout", "-out", "store/MY/keys/server.pub"}));
    const auto read = [&](std::initializer_list<const char*> parts) { return filesJoined(dir.path(), parts); };
    {
        QFile self(dir.filePath("store/MY/self.pem"));
        ASSERT_TRUE(self.open(QIODevice::WriteOnly));
        self.write(read({"self.pem", "self.key"}));
    }
    const QByteArray serverPem = read({"server.pem"}), selfPem = read({"self.pem"});
    const QString storeRoot = "CertStoreRoot=" + dir.filePath("store");

    struct Case {
        const char* name;
        QByteArray encoded;
        const char* password;
        const char* subject;
        bool proxy;             // through the proxy, checked by openssl s_client; else the server and our client
        QByteArray served;      // empty: listening fails with 166
        const char* why;
    };
    const Case cases[] = {
        {"PEM with chain first and encrypted key", read({"ca.pem", "server.pem", "server-enc.key"}), "key-pw", "",
         false, serverPem, ""},
        {"PFX with its password", read({"server.pfx"}), "pfx-pw", "", false, serverPem, ""},
        {"PFX with a wrong password", read({"server.pfx"}), "nope", "", false, {}, "password"},
        {"certificate alone, key in the folder store", serverPem, "", "", false, serverPem, ""},
        {"chosen by store and subject", {}, "", "Self Signed", false, selfPem, ""},
        {"PEM with key through the proxy", read({"server.pem", "server.key"}), "", "", true, serverPem, ""},
    };
    const auto same = [](const QByteArray& a, const QByteArray& b) {
        return QSslCertificate(a, QSsl::Pem) == QSslCertificate(b, QSsl::Pem);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.proxy) {
            namespace px = proxy_test;
            px::ProxyHost p;
            p.config(storeRoot);
            p.setInt(px::kUseSSL, 1);
            p.setBytes(px::kSSLCertEncoded, c.encoded);
            p.setText(px::kSSLCertStorePassword, c.password);
            EXPECT_TRUE(same(p.getBytes(px::kSSLCertEncoded), c.served));
            const int port = p.listen();
            ASSERT_GT(port, 0) << p.lastError().toStdString();
            EXPECT_TRUE(same(p.getBytes(px::kSSLCertEncoded), c.served));
            QProcess client;
            client.setWorkingDirectory(dir.path());
            client.start("openssl", {"s_client", "-connect", QStringLiteral("127.0.0.1:%1").arg(port), "-CAfile",
                                     "ca.pem", "-verify_return_error", "-brief"});
            client.closeWriteChannel();
            EXPECT_TRUE(p.waitUntil([&] { return client.state() == QProcess::NotRunning; }));
            const QString out = QString::fromUtf8(client.readAllStandardOutput() + client.readAllStandardError());
            EXPECT_EQ(client.exitCode(), 0) << out.toStdString();
            EXPECT_TRUE(out.contains("Peer certificate: CN = localhost, O = Brindle")) << out.toStdString();
            EXPECT_TRUE(out.contains("Verification: OK")) << out.toStdString();
            continue;
        }
        ServerHost s;
        s.config(storeRoot);
        s.setInt(sUseSSL, 1);
        s.setBytes(sSSLCertEncoded, c.encoded);
        s.setText(sSSLCertStorePassword, c.password);
        s.setText(sSSLCertSubject, c.subject);
        EXPECT_TRUE(c.served.isEmpty() ? s.getBytes(sSSLCertEncoded).isEmpty()
                                       : same(s.getBytes(sSSLCertEncoded), c.served));
        const int port = s.listen();
        if (c.served.isEmpty()) {
            EXPECT_EQ(port, 0);
            EXPECT_EQ(CorvaneWS_WebSocketServer_GetLastErrorCode(s.handle()), 166);
            EXPECT_TRUE(s.lastError().contains(c.why)) << s.lastError().toStdString();
            continue;
        }
        ASSERT_GT(port, 0) << s.lastError().toStdString();
        EXPECT_TRUE(same(s.getBytes(sSSLCertEncoded), c.served));
        Host client;
        client.setInt(kTimeout, 10);
        client.setBytes(kSSLAcceptServerCertEncoded, read({"ca.pem", "self.pem"}));
        ASSERT_EQ(client.call(kConnect, {QStringLiteral("wss://localhost:%1/").arg(port)}), 0)
            << client.lastError().toStdString();
        EXPECT_TRUE(same(client.getBytes(kSSLServerCertEncoded), c.served));
        client.call(kDisconnect);
    }
}

INSTANTIATE_TEST_SUITE_P(Peers, ServerInterop,
                         ::testing::Combine(::testing::Values("python", "node"), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param)) + (std::get<1>(info.param) ? "_wss" : "_ws");
                         });

} // namespace
} // namespace engine_test
