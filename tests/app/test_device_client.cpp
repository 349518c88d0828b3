// The program's own client, WebSocketClient1 over the protocol engine, on
// loopback against an echo peer: what the tool sends comes back as if the
// recorder had sent it, so the whole road from button to file is exercised.
#include "editor_fixture.h"
#include "support/echo_peer_process.h"

#include "device/bounded_log.h"
#include "device/device_link.h"
#include "device/device_message.h"
#include "device/form_websocket.h"

#include <QCryptographicHash>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSslCertificate>
#include <QStandardPaths>
#include <QtTest/QTest>

#if defined(WS_ECHO_SERVER)

namespace {

// The recorder's side: an echo peer sends back what the tool sends.
class EchoPeer : public EchoPeerProcess {
public:
    explicit EchoPeer(const QStringList& tls = {}) : EchoPeerProcess(QStringLiteral(WS_ECHO_SERVER), tls) {}
};

}  // namespace

class DeviceClientTest : public EditorTest {
protected:
    void SetUp() override
    {
        EditorTest::SetUp();
        makeWindow();
        link().setDataFolderBase(path(QStringLiteral("data")));
    }
    DeviceLink& link() { return *app->deviceLink; }
    TformWebsocket& console() { return *app->console; }
    // A log as shown once its lines are in.
    QStringList memo(QWidget& w, const char* name) const
    {
        auto* view = w.findChild<QPlainTextEdit*>(QLatin1String(name));
        if (auto* log = view->findChild<BoundedLog*>()) log->flush();
        return view->toPlainText().split(u'\n', Qt::SkipEmptyParts);
    }
    QString status() { return console().findChild<QLabel*>("lblStatus")->text(); }
    void connectTo(const QString& url)
    {
        console().findChild<QLineEdit*>("txtServer")->setText(url);
        console().findChild<QPushButton*>("bConnect")->click();
    }
};

TEST_F(DeviceClientTest, ConnectExchangeAndDisconnectOverLoopback)
{
    EchoPeer peer;
    ASSERT_GT(peer.port(), 0) << "python3 with python3-websockets is needed";
    connectTo(peer.url());
    ASSERT_TRUE(link().isConnected()) << status().toStdString();
    EXPECT_EQ(status(), QStringLiteral("Connected to %1").arg(peer.url()));

    link().sendIfConnected(device::commandComplete());
    QTRY_VERIFY_WITH_TIMEOUT(memo(*window, "Memo1").contains(QStringLiteral("Command Complete")), 20000);

    // A file of several engine chunks comes back in pieces, is put together,
    // saved and acknowledged; the acknowledgement echoes back as code 0 too.
    const QByteArray data(3 * 1024 * 1024 + 17, 'r');
    link().sendIfConnected(device::uploadResponse(device::kDataMmv, device::recordedFileHeader(QStringLiteral("clip"), 0, 90), data));
    QTRY_COMPARE_WITH_TIMEOUT(memo(*window, "Memo1").count(QStringLiteral("Command Complete")), 2, 30000);
    const QStringList saved = QDir(path(QStringLiteral("data/MMV"))).entryList(QDir::Files);
    ASSERT_EQ(saved.size(), 1);
    EXPECT_TRUE(saved[0].startsWith(QStringLiteral("clip_")));
    EXPECT_EQ(QFileInfo(QDir(path(QStringLiteral("data/MMV"))).filePath(saved[0])).size(), data.size());

    console().findChild<QPushButton*>("bDisconnect")->click();
    QTRY_VERIFY_WITH_TIMEOUT(status().startsWith(QStringLiteral("Not Connected")), 20000);
    EXPECT_FALSE(link().isConnected());
    // The client was reset and connects again.
    connectTo(peer.url());
    EXPECT_TRUE(link().isConnected()) << status().toStdString();
}

TEST_F(DeviceClientTest, AFailedConnectTellsWhy)
{
    connectTo(QStringLiteral("ws://127.0.0.1:1"));
    EXPECT_FALSE(link().isConnected());
    EXPECT_TRUE(status().startsWith(QStringLiteral("151: "))) << status().toStdString();
    EXPECT_TRUE(console().findChild<QPushButton*>("bConnect")->isEnabled());
}

TEST_F(DeviceClientTest, AnUnverifiableCertificateIsAcceptedAndItsFingerprintShown)
{
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty()) GTEST_SKIP() << "openssl is needed";
    const QString cert = path(QStringLiteral("cert.pem"));
    const QString key = path(QStringLiteral("key.pem"));
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Self-signed and without the address in it: it verifies on no count.
    openssl.start(QStringLiteral("openssl"), {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                                              "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=brindle-recorder"});
    ASSERT_TRUE(openssl.waitForFinished(60000) && openssl.exitCode() == 0);
    EchoPeer peer({QStringLiteral("--tls"), cert, key});
    ASSERT_GT(peer.port(), 0);

    connectTo(peer.url());
    ASSERT_TRUE(link().isConnected()) << status().toStdString();
    QFile pem(cert);
    ASSERT_TRUE(pem.open(QIODevice::ReadOnly));
    const QByteArray digest = QSslCertificate(pem.readAll()).digest(QCryptographicHash::Sha256).toHex(':').toUpper();
    const QStringList lines = memo(console(), "memoMessage");
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.first().startsWith(QStringLiteral("Server certificate accepted: "))) << lines.first().toStdString();
    EXPECT_TRUE(lines.first().contains(QString::fromLatin1(digest)));

    link().sendIfConnected(device::commandComplete());
    QTRY_VERIFY_WITH_TIMEOUT(memo(*window, "Memo1").contains(QStringLiteral("Command Complete")), 20000);
}

#endif
