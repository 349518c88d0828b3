// End to end: the tool's own windows, offscreen, against the recorder
// simulator on loopback, through the real WebSocket client and server
// engine objects. Every wait spins the event loop up to a generous limit;
// nothing asserts a timing.
#include "editor_fixture.h"
#include "camera_scene.h"
#include "recorder.h"
#include "sim_process.h"

#include "device/camera_angle_panel.h"
#include "device/device_message.h"
#include "device/bounded_log.h"
#include "device/device_link.h"
#include "device/form_download.h"
#include "device/form_websocket.h"
#include "drv/drv_format.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QStandardPaths>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QDateTime kAt(QDate(2025, 3, 7), QTime(14, 25, 30));

// A client that sends and never reads, on a plain socket with a small receive
// buffer, so that the simulator's replies pile up on its side.
class NonReadingClient {
public:
    explicit NonReadingClient(int port)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        const int small = 4096;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(quint16(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return;
        const QByteArray request = QByteArrayLiteral("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                                                     "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                                     "Sec-WebSocket-Version: 13\r\n\r\n");
        if (::send(fd_, request.constData(), size_t(request.size()), MSG_NOSIGNAL) != request.size()) return;
        QByteArray head;
        char c = 0;
        while (!head.endsWith("\r\n\r\n") && ::recv(fd_, &c, 1, 0) == 1) head.append(c);
        open_ = head.startsWith("HTTP/1.1 101");
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    }
    ~NonReadingClient() { ::close(fd_); }
    bool open() const { return open_; }

    // `message` as masked binary frames (a zero mask leaves the bytes as they
    // are), `count` times, or until the socket has stayed full for two seconds.
    // The bytes that went.
    qint64 send(const QByteArray& message, qint64 count)
    {
        QByteArray one;
        one.append(char(0x82)).append(char(0x80 | message.size())).append(4, '\0').append(message);
        qint64 sent = 0;
        const qint64 total = count * one.size();
        const QByteArray block = one.repeated(int(std::min<qint64>(count, 4096)));
        qint64 offset = 0;
        while (sent < total) {
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, 2000) <= 0) break;
            const qint64 n = ::send(fd_, block.constData() + offset, size_t(std::min(block.size() - offset, total - sent)), MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += n;
            offset = (offset + n) % block.size();
        }
        return sent;
    }

private:
    int fd_ = -1;
    bool open_ = false;
};

class ToolAgainstSim : public EditorTest {
protected:
    void SetUp() override
    {
        EditorTest::SetUp();
        makeWindow();
        link().setDataFolderBase(path(QStringLiteral("data")));
        link().setClock([] { return kAt; });
    }
    void TearDown() override
    {
        if (link().isConnected()) link().disconnectFromRecorder();
        sim.stop();
        EditorTest::TearDown();
    }

    // Starts the simulator and connects the console to it.
    void startAndConnect(const QStringList& options = {})
    {
        ASSERT_TRUE(sim.start(QStringLiteral(RECORDER_SIM_PATH), options)) << sim.errors().toStdString();
        connectConsole();
    }
    void connectConsole()
    {
        console().findChild<QLineEdit*>("txtServer")->setText(sim.url());
        click(console(), "bConnect");
        ASSERT_TRUE(SimProcess::waitFor([&] { return link().isConnected(); }))
            << label(console(), "lblStatus").toStdString();
        EXPECT_TRUE(label(console(), "lblStatus").contains(sim.url())) << label(console(), "lblStatus").toStdString();
    }

    DeviceLink& link() { return *app->deviceLink; }
    CameraAnglePanel& panel() { return window->cameraAnglePanel(); }
    TformDownload& download() { return *app->download; }
    TformWebsocket& console() { return *app->console; }
    // A log as shown once its lines are in.
    QStringList memo(QWidget& w, const char* name) const
    {
        auto* view = w.findChild<QPlainTextEdit*>(QLatin1String(name));
        if (auto* log = view->findChild<BoundedLog*>()) log->flush();
        return view->toPlainText().split(u'\n', Qt::SkipEmptyParts);
    }
    QStringList memo1() const { return memo(*window, "Memo1"); }
    QString label(QWidget& w, const char* name) const { return w.findChild<QLabel*>(QLatin1String(name))->text(); }
    void click(QWidget& w, const char* name) { w.findChild<QPushButton*>(QLatin1String(name))->click(); }
    bool waitForMemo1(const QString& line)
    {
        return SimProcess::waitFor([&] { return memo1().contains(line); });
    }

    // The download dialog asks for one kind over the last minute, as the user would.
    void requestDownload(const char* kind)
    {
        download().show();
        download().findChild<QRadioButton*>(kind)->click();
        click(download(), "btnUploadRequest");
    }
    // The files saved in one of the data folders.
    QStringList saved(const QString& folder) const
    {
        return QDir(path(QStringLiteral("data/") + folder)).entryList(QDir::Files, QDir::Name);
    }

    // Downloads an MMV of `size` bytes sent in pieces of `fragment`, then a
    // G-sensor reply in the same pieces, on a simulator of its own.
    void downloadInPieces(const QString& fragment, qint64 size)
    {
        SCOPED_TRACE(fragment.toStdString());
        startAndConnect({QStringLiteral("--fragment"), fragment, QStringLiteral("--mmv-size"), QString::number(size)});
        requestDownload("rbUploadMMV");
        ASSERT_TRUE(sim.waitForCounter("acknowledgements", 1)) << memo(download(), "memoUpload").join('\n').toStdString();
        ASSERT_EQ(saved("MMV").size(), 1);
        const QString file = QStringLiteral("data/MMV/") + saved("MMV")[0];
        EXPECT_EQ(readFile(file), recsim::mmvBytes(size));
        QFile::remove(path(file));
        click(console(), "Button11");
        ASSERT_TRUE(sim.waitForCounter("gSensorInits", 1));
        link().disconnectFromRecorder();
        ASSERT_TRUE(SimProcess::waitFor([&] { return !link().isConnected(); }));
    }

    SimProcess sim;
};

TEST_F(ToolAgainstSim, SessionGSensorAndErrorsShownInTheLog)
{
    startAndConnect();
    click(console(), "btnSessionRequest");
    ASSERT_TRUE(waitForMemo1(QStringLiteral("Session Accepted")));
    EXPECT_EQ(label(console(), "lbDeviceId"), recsim::Recorder::deviceId());
    EXPECT_EQ(label(console(), "lbMainApFileName"), recsim::Recorder::mainFirmwareName());
    EXPECT_EQ(label(console(), "lbMCUFileName"), recsim::Recorder::mcuFirmwareName());

    click(console(), "Button11");  // "G-Sensor Init Request"
    ASSERT_TRUE(waitForMemo1(QStringLiteral("Command Complete")));
    EXPECT_TRUE(sim.waitForCounter("gSensorInits", 1));

    console().findChild<QLineEdit*>("edPassword")->setText(QStringLiteral("9999"));
    click(console(), "btnSessionRequest");
    ASSERT_TRUE(waitForMemo1(QStringLiteral("Error Code = %1").arg(recsim::kErrWrongAccount)));
    EXPECT_TRUE(memo1().contains(QStringLiteral("Wrong ID or password")));
    EXPECT_EQ(sim.counter("sessionsAccepted"), 1);
    EXPECT_GT(label(console(), "lbGetDataLength").toLongLong(), 158);
}

TEST_F(ToolAgainstSim, ASessionRequiredFirstAndThenImagesSingleAndStreamed)
{
    startAndConnect({QStringLiteral("--require-session")});
    click(panel(), "btnRequestImage");
    ASSERT_TRUE(waitForMemo1(QStringLiteral("Error Code = %1").arg(recsim::kErrNoSession)));
    EXPECT_FALSE(link().gImageReceived);

    click(console(), "btnSessionRequest");
    ASSERT_TRUE(waitForMemo1(QStringLiteral("Session Accepted")));
    click(panel(), "btnRequestImage");
    ASSERT_TRUE(SimProcess::waitFor([&] { return link().gImageReceived; }));
    QImage image(path(QStringLiteral("Image.jpg")));
    EXPECT_EQ(image.size(), QSize(recsim::kCameraWidth, recsim::kCameraHeight));

    // The stream: each arriving image lets the next request go out.
    const qint64 before = sim.counter("imageRequests");
    click(panel(), "btnRepeatRequest");
    EXPECT_TRUE(panel().streaming());
    ASSERT_TRUE(sim.waitForCounter("imageRequests", before + 5));
    // Lines set on the streamed 480-row images: the vanishing line up three pixels, then OK.
    for (int i = 0; i < 3; ++i) click(panel(), "SpeedButton3");
    click(panel(), "Button3");
    EXPECT_FALSE(panel().streaming());
    EXPECT_EQ(ctl<QLineEdit>("maskEdVanishingLine")->text(), QStringLiteral("337")) << "from the default 342";
    EXPECT_EQ(ctl<QLineEdit>("maskEdImageHeight")->text(), QString::number(recsim::kCameraHeight));
    EXPECT_FALSE(panel().findChild<QLabel*>("imageCameraAngle")->pixmap().isNull());
}

TEST_F(ToolAgainstSim, SettingsDownloadedIntoTheEditorAndUploadedBack)
{
    startAndConnect();
    click(console(), "btnDownRequestSetting");
    ASSERT_TRUE(SimProcess::waitFor([&] { return ctl<QLineEdit>("maskEdCameraHeight")->text() == "145"; }));
    EXPECT_TRUE(readFile(QStringLiteral("setting.ini")).contains("SPEEDING_LIMIT=110"));

    ctl<QLineEdit>("maskEdCameraHeight")->setText(QStringLiteral("152"));
    click(console(), "Button1");  // "Upload Setting"
    ASSERT_TRUE(waitForMemo1(QStringLiteral("Command Complete")));
    EXPECT_EQ(sim.counter("settingsUploads"), 1);

    // What the recorder serves now is the uploaded file; it replaces an edit not yet saved when the user says so.
    ctl<QLineEdit>("maskEdCameraHeight")->setText(QStringLiteral("100"));
    dialogs.answerChoice(QStringLiteral("Take the Recorder's Settings"));
    click(console(), "btnDownRequestSetting");
    ASSERT_TRUE(SimProcess::waitFor([&] { return ctl<QLineEdit>("maskEdCameraHeight")->text() == "152"; }));
    EXPECT_TRUE(readFile(QStringLiteral("setting.ini")).contains("ADASLOC_HEIGHT=152"));
}

TEST_F(ToolAgainstSim, DrvMmvAndLogsSavedUnderTheirNamesAndAcknowledged)
{
    startAndConnect({QStringLiteral("--mmv-size"), QStringLiteral("3M")});
    const QRegularExpression drvName(QStringLiteral(R"(^DRV_\d{8}_\d{6}__2025-03-07 142530\.drv$)"));

    requestDownload("rbUploadDrv");
    ASSERT_TRUE(sim.waitForCounter("acknowledgements", 1)) << memo(download(), "memoUpload").join('\n').toStdString();
    ASSERT_EQ(saved("DRV").size(), 1);
    EXPECT_TRUE(drvName.match(saved("DRV")[0]).hasMatch()) << saved("DRV")[0].toStdString();
    const qint64 frames = label(download(), "lbUploadFrameCount").toLongLong();
    EXPECT_GE(frames, 60);  // the dialog asks for the last minute, both ends included
    const QString drvPath = path(QStringLiteral("data/DRV/") + saved("DRV")[0]);
    EXPECT_EQ(QFileInfo(drvPath).size(), 58 + 22 + 120 * frames);
    const auto drvFile = drv::DrvFile::read(drv::DrvBytes::readFile(drvPath), drv::ReadOptions{0, true});
    EXPECT_EQ(drvFile.count(), frames);
    EXPECT_TRUE(label(download(), "lbUploadStatus").startsWith(QStringLiteral("DRV File: DRV_")));

    requestDownload("rbUploadMMV");
    ASSERT_TRUE(sim.waitForCounter("acknowledgements", 2));
    ASSERT_EQ(saved("MMV").size(), 1);
    EXPECT_TRUE(saved("MMV")[0].endsWith(QStringLiteral("_2025-03-07_142530.MMV")));
    EXPECT_EQ(readFile(QStringLiteral("data/MMV/") + saved("MMV")[0]), recsim::mmvBytes(3 << 20));
    EXPECT_TRUE(memo(download(), "memoUpload").contains(QStringLiteral("UploadResponce MMV.. Size = %1").arg(3 << 20)));

    requestDownload("rbUploadSystemLog");
    ASSERT_TRUE(sim.waitForCounter("acknowledgements", 3));
    ASSERT_EQ(saved("SystemLog").size(), 1);
    const QString log = path(QStringLiteral("data/SystemLog/") + saved("SystemLog")[0]);
    EXPECT_TRUE(log.endsWith(QStringLiteral("__2025-03-07 142530.tgz")));
    if (!QStandardPaths::findExecutable(QStringLiteral("tar")).isEmpty()) {
        QProcess tar;
        tar.start(QStringLiteral("tar"), {QStringLiteral("-tzf"), log});
        ASSERT_TRUE(tar.waitForFinished(20000));
        EXPECT_TRUE(tar.readAllStandardOutput().contains("log/system.log"));
    }
    EXPECT_EQ(sim.counter("ackTimeouts"), 0);
}

TEST_F(ToolAgainstSim, FragmentSizesFromAHeaderToOneMebibyte)
{
    const std::pair<const char*, qint64> cases[] = {{"10", 5000}, {"4096", 300000}, {"65536", 1500000}, {"1M", 3 << 20}};
    for (const auto& [fragment, size] : cases) {
        downloadInPieces(QLatin1String(fragment), size);
        if (HasFatalFailure()) return;
    }
}

// Pieces shorter than the 10-byte header, each a WebSocket message of its
// own: a message starts at the start of a WebSocket message and one that ends
// before a header is complete is dropped, so nothing of such a reply is taken
// (not misread, not saved, not acknowledged) and the link stays idle.
TEST_F(ToolAgainstSim, WebSocketMessagesShorterThanTheHeaderAreDropped)
{
    startAndConnect({QStringLiteral("--fragment"), QStringLiteral("7"), QStringLiteral("--mmv-size"), QStringLiteral("3000")});
    requestDownload("rbUploadMMV");
    ASSERT_TRUE(sim.waitForCounter("bytesSent", 3000 + device::kUploadOverhead));
    ASSERT_TRUE(SimProcess::waitFor([&] { return link().bytesReceived() == 3000 + device::kUploadOverhead; }));
    EXPECT_TRUE(saved("MMV").isEmpty());
    EXPECT_EQ(sim.counter("acknowledgements"), 0);
    EXPECT_EQ(link().reassembly().gReceiveState(), device::ReceiveState::Idle);
    EXPECT_TRUE(link().reassembly().pendingHeader().isEmpty());
    EXPECT_TRUE(link().isConnected());
}

TEST_F(ToolAgainstSim, ASlowLinkWithLatencyStillDeliversWhole)
{
    startAndConnect({QStringLiteral("--latency"), QStringLiteral("50"), QStringLiteral("--bandwidth"),
                     QStringLiteral("2M"), QStringLiteral("--mmv-size"), QStringLiteral("400000")});
    requestDownload("rbUploadMMV");
    ASSERT_TRUE(sim.waitForCounter("acknowledgements", 1));
    ASSERT_EQ(saved("MMV").size(), 1);
    EXPECT_EQ(readFile(QStringLiteral("data/MMV/") + saved("MMV")[0]), recsim::mmvBytes(400000));
    // Several pieces, so the download dialog's memo got the reassembly's size line.
    const QStringList lines = memo(download(), "memoUpload");
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const QString& l) {
        return l.startsWith(QStringLiteral("Meassage Size = 400076 "));
    })) << lines.join('\n').toStdString();
}

// The download dialog's status and bar after a link lost in the middle (the
// simulator's cut, then the simulator stopped), and that a new connection
// downloads whole.
TEST_F(ToolAgainstSim, ADisconnectInTheMiddleOfADownloadThenAGoodOneOnANewConnection)
{
    const QString lost = QStringLiteral("Download not finished: the connection was lost");
    auto* bar = download().findChild<QProgressBar*>("progressBarDownload");
    startAndConnect({QStringLiteral("--mmv-size"), QStringLiteral("1M"), QStringLiteral("--cut-after"),
                     QStringLiteral("300000"), QStringLiteral("--fragment"), QStringLiteral("65536")});
    requestDownload("rbUploadMMV");
    ASSERT_TRUE(SimProcess::waitFor([&] { return !link().isConnected(); }));
    EXPECT_TRUE(sim.waitForCounter("cuts", 1));
    EXPECT_TRUE(saved("MMV").isEmpty());
    EXPECT_EQ(sim.counter("acknowledgements"), 0);
    EXPECT_TRUE(label(download(), "lbUploadStatus").startsWith(lost)) << label(download(), "lbUploadStatus").toStdString();
    EXPECT_EQ(bar->value(), 0);

    connectConsole();
    requestDownload("rbUploadMMV");
    ASSERT_TRUE(sim.waitForCounter("acknowledgements", 1));
    ASSERT_EQ(saved("MMV").size(), 1);
    EXPECT_EQ(readFile(QStringLiteral("data/MMV/") + saved("MMV")[0]), recsim::mmvBytes(1 << 20));
    EXPECT_EQ(sim.counter("connections"), 2);
    EXPECT_TRUE(label(download(), "lbUploadStatus").startsWith(QStringLiteral("MMV File: ")));
    EXPECT_TRUE(label(download(), "lbUploadStatus").endsWith(QStringLiteral(" is saved.")));

    // A slow download, and the simulator stopped while it runs.
    link().disconnectFromRecorder();
    ASSERT_TRUE(SimProcess::waitFor([&] { return !link().isConnected(); }));
    startAndConnect({QStringLiteral("--mmv-size"), QStringLiteral("4M"), QStringLiteral("--bandwidth"), QStringLiteral("1M")});
    requestDownload("rbUploadMMV");
    ASSERT_TRUE(SimProcess::waitFor([&] { return bar->value() > 0; }));
    sim.stop();
    ASSERT_TRUE(SimProcess::waitFor([&] { return !link().isConnected(); }));
    EXPECT_TRUE(label(download(), "lbUploadStatus").startsWith(lost)) << label(download(), "lbUploadStatus").toStdString();
    EXPECT_EQ(bar->value(), 0);
}

// A length that does not add up: a longer declaration keeps the file and
// shows the mismatch as the status; a shorter one cuts the file, which fails.
// Neither is acknowledged.
TEST_F(ToolAgainstSim, AWrongDeclaredLengthIsReportedAndNotAcknowledged)
{
    const struct {
        const char* wrongLength;
        QString status;
        qsizetype files, errorBoxes;
    } cases[] = {
        {"500", QStringLiteral(" UploadResponce Size has to be 1576 byte. but this Size = 1076byte."), 1, 0},
        {"-500", QStringLiteral("Download failed: "), 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wrongLength);
        startAndConnect({QStringLiteral("--wrong-length"), QLatin1String(c.wrongLength), QStringLiteral("--mmv-size"),
                         QStringLiteral("1000"), QStringLiteral("--ack-timeout"), QStringLiteral("100")});
        dialogs.clear();
        requestDownload("rbUploadMMV");
        ASSERT_TRUE(SimProcess::waitFor([&] { return label(download(), "lbUploadStatus").startsWith(c.status); }))
            << label(download(), "lbUploadStatus").toStdString();
        ASSERT_TRUE(sim.waitForCounter("ackTimeouts", 1));
        EXPECT_EQ(sim.counter("acknowledgements"), 0);
        EXPECT_EQ(saved("MMV").size(), c.files);
        EXPECT_TRUE(SimProcess::waitFor([&] { return dialogs.errors().size() >= c.errorBoxes; }));
        EXPECT_EQ(dialogs.errors().size(), c.errorBoxes);
        if (c.files) {
            EXPECT_TRUE(memo(download(), "memoUpload").contains(c.status));
        }
        link().disconnectFromRecorder();
        ASSERT_TRUE(SimProcess::waitFor([&] { return !link().isConnected(); }));
        for (const QString& f : saved("MMV")) QFile::remove(path(QStringLiteral("data/MMV/") + f));
    }
}

// One client that asks without end and takes none of its replies: the
// simulator stops reading from it, holds a bounded amount, and goes on
// answering the tool.
TEST_F(ToolAgainstSim, AClientThatNeverReadsCannotTakeTheSimulatorDown)
{
    ASSERT_TRUE(sim.start(QStringLiteral(RECORDER_SIM_PATH), {QStringLiteral("--mmv-size"), QStringLiteral("4M")}))
        << sim.errors().toStdString();
    const struct {
        const char* what;
        QByteArray first;
        QByteArray repeated;
    } cases[] = {
        {"camera images never taken", {}, device::cameraImageRequest()},
        {"requests behind an upload never acknowledged", device::uploadRequest(device::kDataMmv, 1, 2),
         device::gSensorInitRequest()},
    };
    qint64 pauses = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        NonReadingClient hostile(sim.port());
        ASSERT_TRUE(hostile.open());
        if (!c.first.isEmpty()) hostile.send(c.first, 1);
        // 64 MB of requests, as far as they go.
        hostile.send(c.repeated, (qint64(64) << 20) / c.repeated.size());
        EXPECT_TRUE(sim.waitForCounter("readPauses", pauses + 1));
        pauses = sim.counter("readPauses");

        connectConsole();
        click(console(), "btnSessionRequest");
        EXPECT_TRUE(waitForMemo1(QStringLiteral("Session Accepted")));
        EXPECT_LT(sim.residentMiB(), 256.0);
        link().disconnectFromRecorder();
        ASSERT_TRUE(SimProcess::waitFor([&] { return !link().isConnected(); }));
    }
    EXPECT_LE(sim.counter("waitingBytesPeak"), 2 << 20) << "the request limit and one read";
}

TEST_F(ToolAgainstSim, ACertificateIsAcceptedOverWss)
{
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty()) GTEST_SKIP() << "no openssl";
    const QString key = path(QStringLiteral("key.pem")), cert = path(QStringLiteral("cert.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=recorder-sim", "-days", "2",
                   "-keyout", key, "-out", cert});
    ASSERT_TRUE(openssl.waitForFinished(60000));
    ASSERT_EQ(openssl.exitCode(), 0) << openssl.readAllStandardError().toStdString();
    writeFile(QStringLiteral("both.pem"), readFile(QStringLiteral("cert.pem")) + readFile(QStringLiteral("key.pem")));

    startAndConnect({QStringLiteral("--tls"), path(QStringLiteral("both.pem"))});
    EXPECT_TRUE(sim.url().startsWith(QStringLiteral("wss://")));
    const QList<QSslCertificate> certs = QSslCertificate::fromPath(cert);
    ASSERT_EQ(certs.size(), 1);
    const QString fingerprint = QString::fromLatin1(certs[0].digest(QCryptographicHash::Sha256).toHex(':')).toUpper();
    const QStringList shown = memo(console(), "memoMessage");
    EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [&](const QString& l) {
        return l.contains(fingerprint, Qt::CaseInsensitive) ||
               l.contains(QString(fingerprint).remove(u':'), Qt::CaseInsensitive);
    })) << shown.join('\n').toStdString();

    click(console(), "btnSessionRequest");
    ASSERT_TRUE(waitForMemo1(QStringLiteral("Session Accepted")));
}

}  // namespace
